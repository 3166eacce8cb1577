// What tarnset reads from the configuration port and from its user: the
// discovery answer (its MAC address and the reset datagram made from it),
// the setup record it patches and writes back, and typed MAC and IPv4
// addresses. The first byte chooses which; the rest is the message or text.
#include <QStringList>

#include "FuzzSupport.h"
#include "protocol/Address.h"
#include "tarnset/Procedures.h"
#include "tarnset/Wire.h"

namespace {

void DiscoveryAnswer(const QByteArray& answer) {
    const QString mac = Wire::FormatMac(answer);
    const qsizetype bytes = answer.size() - Wire::DiscoveryAnswer::kMac;
    FUZZ_CHECK(mac.size() == (bytes > 0 ? 3 * bytes - 1 : 0));
    if (bytes == 6) {
        const auto parsed = Wire::ParseMac(mac);
        FUZZ_CHECK(parsed);
        FUZZ_CHECK(QByteArray(reinterpret_cast<const char*>(parsed->data()), 6) == answer.right(6));
    }
    const auto datagram = Wire::BuildResetDatagram(answer);
    FUZZ_CHECK(bool(datagram) == (bytes >= 2));
    if (datagram) {
        FUZZ_CHECK(datagram->size() == Wire::ResetDatagram::kLength);
        FUZZ_CHECK(datagram->mid(Wire::ResetDatagram::kMacTail, 2) == answer.right(2));
    }
}

// Only the address, the header bytes and the fixed bytes change.
void SetupRecord(const QByteArray& input) {
    if (input.size() < 4) return;
    const std::array<quint8, 4> address{quint8(input[0]), quint8(input[1]), quint8(input[2]),
                                        quint8(input[3])};
    const QByteArray original = input.mid(4);
    QByteArray record = original;
    QString error;
    const bool ok = Wire::PatchSetupRecord(record, address, &error);
    FUZZ_CHECK(ok == (original.size() >= Wire::SetupRecord::kMinLength));
    if (!ok) {
        FUZZ_CHECK(record == original && !error.isEmpty());
        return;
    }
    FUZZ_CHECK(record.size() == original.size());
    using namespace Wire::SetupRecord;
    for (qsizetype i = 0; i < record.size(); ++i) {
        const bool patched = i == kHeader1 || i == kHeader3 ||
                             (i >= kAddress && i < kAddress + 4) || i == kFixed20 ||
                             i == kFixed21 || i == kFixed68 || i == kFixed69;
        if (!patched) FUZZ_CHECK(record[i] == original[i]);
    }
    FUZZ_CHECK(record.mid(kAddress, 4) == input.left(4));
}

void TypedMac(const QString& text) {
    const auto mac = Wire::ParseMac(text);
    if (!mac) return;
    const QString forIp = Wire::MacForIp(*mac);
    FUZZ_CHECK(forIp.size() == 17);
    FUZZ_CHECK(Wire::ParseMac(forIp) == mac);
}

// An accepted address is already in its plain form: the rebuilt text is the
// text, so nothing another reader would take in another sense gets through.
void TypedAddress(const QString& text) {
    QString error;
    const auto address = Protocol::ParseIPv4(text, &error);
    if (!address) {
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    FUZZ_CHECK(address->Text() == text);
    FUZZ_CHECK(Protocol::IPv4FromValue(address->Value()) == *address);
    Procedures::TestMessage(text, address->octets[0], address->octets[1], address->octets[2]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    Fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const QByteArray input = Fuzz::Bytes(data + 1, size - 1);
    switch (data[0] % 4) {
        case 0:
            DiscoveryAnswer(input);
            break;
        case 1:
            SetupRecord(input);
            break;
        case 2:
            TypedMac(QString::fromUtf8(input));
            break;
        case 3:
            TypedAddress(QString::fromUtf8(input));
            break;
    }
    return 0;
}
