#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include "protocol/Address.h"
#include "tarnset/View.h"

// The tool's one socket (UDP for discovery and the reset, TCP for the setup
// record and the communication test), the answer table it fills, and the
// timed waits with their progress. Program-wide, like the window that owns
// them; everything runs on the UI thread and every wait pumps events.
namespace Link {

// One data event: the bytes as received and the sender's address.
struct Answer {
    QByteArray data;
    QString sender;
    bool discovery = false;  // a datagram, not a setup record
};
constexpr int kAnswerSlots = 101;

// How long each wait lasts, in milliseconds. Tests shorten them.
struct Timing {
    int discoveryMs = 2000;    // the collection window
    int rebootMs = 8000;       // a device restarting with its new address
    int setupRecordMs = 3000;  // collecting the setup record
    int connectMs = 5000;
    int exchangeMs = 6000;  // the communication test's reply
    int knockMs = 1000;     // the TCP knock after an ARP entry
};
Timing& Timings();
// For tests only: the waits of a tarnset they start, as
// "discovery=600,reboot=700,setup=400,connect=1500,exchange=1000,knock=200"
// in milliseconds, each key optional and at most once.
inline constexpr char kTestTimingsVariable[] = "TARNSET_TEST_TIMINGS";
// Takes kTestTimingsVariable when it is set and not empty; false with the
// reason (nothing changed) when it does not parse.
bool UseTestTimings(QString* error = nullptr);

// Where discovery and the reset datagram go: 255.255.255.255 unless set.
// False (nothing changed) for a text the address rule refuses.
Protocol::IPv4 BroadcastAddress();
bool SetBroadcastAddress(const QString& address, QString* error = nullptr);

// Cleared when the window closes: every wait ends at once.
bool Running();
void SetRunning(bool running);

// True while a procedure uses the socket; a second one must not start.
bool Busy();
class BusyScope {
  public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

void SetView(Tarnset::ToolView* view);  // nullptr removes it
Tarnset::ToolView* View();

// The answer table. A data event beyond the 101st slot is not stored; it is
// counted, and discovery reports it in the debug list.
void ClearAnswers();
const QList<Answer>& Answers();
int AnswerCount();  // the index of the last filled slot; -1 when empty
int IgnoredAnswers();

// UDP to the broadcast address, port 30718.
bool OpenBroadcastSocket(QString* error = nullptr);
bool SendBroadcast(const QByteArray& datagram, QString* error = nullptr);

// TCP. While a record is collected (expected length 0) every byte that
// arrives on the connection goes into one answer-table entry, up to
// Wire::SetupRecord::kMaxLength + 1 bytes; the rest is only counted
// (RecordBytes). While a reply of fixed length is awaited
// (SetExpectedLength(60)) it stays in the socket until that many bytes are
// there.
void SetExpectedLength(int length);
bool ReplyComplete();
bool ConnectTcp(const Protocol::IPv4& address, quint16 port, QString* error = nullptr);
qint64 RecordBytes();  // received on this connection while collecting a record
// When, in milliseconds into the last wait, record bytes last arrived; -1
// when none did during it.
qint64 LastRecordDataMs();
bool Connected();
bool SendBytes(const QByteArray& data, QString* error = nullptr);
QByteArray ReadReply();
void CloseSocket();

// The address this computer uses to reach `target` (no packet is sent);
// empty when there is no route.
QString LocalAddressTowards(const Protocol::IPv4& target);

// Waits `milliseconds` with the progress bar running (maximum ms / 100),
// pumping events; ends early when the tool closes or `done` holds.
void WaitWithProgress(int milliseconds, bool (*done)() = nullptr);

// Back to the state of a fresh start (timings, broadcast address, table,
// flags; the view stays registered).
void Reset();

}  // namespace Link
