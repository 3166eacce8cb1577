#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <functional>
#include <vector>

#include "core/Channels.h"

// The outbox of the notification channels: each notice is written to disk
// before Post returns and delivered in order per channel, every channel in
// a lane of its own, so that one that fails or hangs delays no other and no
// reading. A failed delivery is tried again as e-mail is (RetryMinutes,
// growing pauses); the lane waits for it, so the channel still sees its
// notices in order. Every attempt of one notice carries the same delivery
// id, across a restart too.
namespace ChannelOutbox {

QString FileName();  // "FernlogChannelOutbox.dat", beside zolo.mdb

struct Entry {
    qint64 number = 0;  // order of hand-over
    QString channel, event, delivery;
    QByteArray body;  // the JSON document
    int attempts = 0;
    QDateTime firstAttempt, nextAttempt;
};
QByteArray Encode(const std::vector<Entry>& entries);
bool Decode(const QByteArray& bytes, std::vector<Entry>& entries, QString* error = nullptr);

void Post(const QString& channel, const QString& event, const QByteArray& body);

// One delivery to a channel, on the main thread's event loop, bounded by
// the channel time-out: a webhook's POST (2xx: delivered), a command run
// without a shell with the document on standard input (exit 0), a
// heartbeat's GET. `answer` is what came back, cut to a few KiB.
struct Result {
    bool delivered = false;
    QString answer, reason;
};
void Deliver(const Channels::Channel& channel, const QString& event, const QString& delivery,
             const QByteArray& body, QObject* context, std::function<void(const Result&)> done);
// The same, waited for in a local event loop (for `channel test`).
Result DeliverAndWait(const Channels::Channel& channel, const QString& event,
                      const QByteArray& body);

// Reads what an earlier run left and starts delivering (the start-up); a
// timer delivers what comes due.
void Resume();
// Stops delivering; what is waiting stays in the file.
void Stop();
// Lets the event loop run until nothing is due or `timeoutMs` has passed.
bool Drain(int timeoutMs);

// After a healthy polling cycle: each heartbeat channel whose period has
// passed since its last request gets one (not kept on disk; a lost one is
// what the outside service is there to notice).
void AfterHealthyCycle();

struct Figures {
    qint64 delivered = 0, retried = 0, failed = 0;
    int waiting = 0;
};
QMap<QString, Figures> Counts();  // by channel

// A channel that keeps its receiver up to date each cycle instead of
// queueing notices (Alertmanager): one cycle's exchange with it, counted
// with the notices. Failures in a row are retried by the next cycles while
// the e-mail retry period lasts; past it, the first is a failure for good
// (told as a failed notice is), and the next ones are retries again.
void CountSync(const QString& channel, bool delivered, const QString& reason);

void Reset();

}  // namespace ChannelOutbox
