#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

// The messages of a device's configuration port (UDP and TCP 30718): the
// discovery request and answer, the setup record with its write-back, and the
// reset-to-DHCP datagram. Offsets count from 0, as the device sends them.
namespace Wire {

constexpr quint16 kConfigPort = 0x77FE;  // 30718
inline const QString kDefaultBroadcast = QStringLiteral("255.255.255.255");

// Discovery request, broadcast: 00 00 00 F6.
namespace DiscoveryRequest {
constexpr int kLength = 4;
constexpr int kQuery = 3;
constexpr quint8 kQueryValue = 0xF6;
}  // namespace DiscoveryRequest
QByteArray BuildDiscoveryRequest();

// Discovery answer: only the MAC address is read, from here to the end.
namespace DiscoveryAnswer {
constexpr int kMac = 24;
}

// Setup record request over TCP: 00 01 00 E0.
QByteArray BuildSetupRecordRequest();

// What the write-back changes in the device's setup record; every other byte
// goes back as the device sent it.
namespace SetupRecord {
constexpr int kHeader1 = 1;  // 00
constexpr int kHeader3 = 3;  // C0: this is a write-back
constexpr int kAddress = 4;  // four octets, first octet first
constexpr int kFixed20 = 20;
constexpr int kFixed21 = 21;
constexpr int kFixed68 = 68;
constexpr int kFixed69 = 69;
constexpr quint8 kHeader1Value = 0x00;
constexpr quint8 kHeader3Value = 0xC0;
constexpr quint8 kFixedLowValue = 0x4C;   // offsets 20 and 68
constexpr quint8 kFixedHighValue = 0x02;  // offsets 21 and 69
constexpr int kMinLength = 70;
// Far above any real record (128 bytes): a longer one is refused, and what
// arrives beyond it is counted, not kept.
constexpr int kMaxLength = 4096;
}  // namespace SetupRecord

// Writes the new address and the fixed bytes into a setup record. False (the
// record untouched) when it is too short to hold them.
bool PatchSetupRecord(QByteArray& record, const std::array<quint8, 4>& address,
                      QString* error = nullptr);

// Reset-to-DHCP datagram, broadcast, 20 bytes.
namespace ResetDatagram {
constexpr int kLength = 20;
constexpr int kCommand = 3;  // FC
constexpr quint8 kCommandValue = 0xFC;
constexpr int kTag = 4;  // "TARN-SET"
inline constexpr char kTagText[] = "TARN-SET";
constexpr int kTagLength = 8;
constexpr int kMacTail = 14;  // the last two bytes of the device's MAC address
}  // namespace ResetDatagram

// The reset datagram for the device that sent `discoveryAnswer`. nullopt when
// the answer carries fewer than two MAC bytes: its last two bytes would not
// name the device.
std::optional<QByteArray> BuildResetDatagram(const QByteArray& discoveryAnswer);

// Each byte from offset 24 on as two upper-case hex digits, joined by "-";
// empty for an answer of 24 bytes or fewer.
QString FormatMac(const QByteArray& answer);

// A typed MAC address: six pairs of hex digits separated by "-" or ":".
std::optional<std::array<quint8, 6>> ParseMac(const QString& text);
// The form `ip neigh` takes: aa:bb:cc:dd:ee:ff.
QString MacForIp(const std::array<quint8, 6>& mac);

}  // namespace Wire
