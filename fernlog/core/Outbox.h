#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

#include "core/Mailer.h"

// The e-mail outbox: a message handed over is written to disk and the
// caller goes on; the messages are delivered one at a time, in order, by a
// worker beside the polling, so a mail server that does not answer delays
// no reading. What the caller would have recorded after sending (the
// EmailSent column of its row, the error log) is written when the delivery
// ends, by a receipt handler that the module owning the row registers for
// its kind of message. Messages still waiting when the program ends, or is
// killed, are delivered after the next start: at least once, and exactly
// once unless the program is killed between the server's acceptance and
// the mark that follows it at once.
//
// A failed delivery is final, unless RetryMinutes in FernlogOptions.ini
// says otherwise: then the message is tried again after growing pauses
// (1, 2, 4 ... minutes, at most an hour) while a retry still starts within
// that many minutes of its first attempt, and the messages behind it are
// delivered meanwhile.
namespace Outbox {

QString FileName();  // "FernlogOutbox.dat", beside zolo.mdb

// What is written when a delivery of a kind ends: `rowId` is the poster's,
// `sent` the outcome, `reason` the failure (with the attempts when there
// were several). A kind is a plain lower-case name ("alarm"); "none" has no
// handler: a failure goes to the error log under the entry's errorFunction.
using ReceiptHandler = std::function<void(qint64 rowId, bool sent, const QString& reason)>;
inline constexpr char kNoReceipt[] = "none";
// Registers the handler of a kind. The modules that post call it as the
// program loads, so that messages read back at the start find theirs;
// handlers are code, not state, and stay through Reset. Returns true.
bool SetReceiptHandler(const QString& kind, ReceiptHandler handler);

// The time of the next attempt after `attempts` failed ones, the first at
// `firstAttempt`: growing pauses within RetryMinutes; invalid when the
// failure is final. The channel outbox follows the same rule.
QDateTime NextAttempt(int attempts, const QDateTime& firstAttempt, const QDateTime& now);

// Told when a message has failed for good (after its receipt handler), with
// its subject and the reason; one handler, set as the program loads.
using FailureHandler =
    std::function<void(const QString& receipt, const QString& subject, const QString& reason)>;
bool SetFailureHandler(FailureHandler handler);

// The mail server and the mail log every delivery uses; the settings are
// handed in whenever they are applied.
void SetMailer(const Mail::MailerSettings& settings, const QString& logFile);

struct Entry {
    qint64 number = 0;   // order of hand-over
    QString reportFile;  // the report of the exchange, in the program directory
    QString receipt = QString::fromLatin1(kNoReceipt);
    qint64 rowId = 0;
    QString errorFunction;
    std::vector<Mail::Recipient> recipients;
    QString subject;
    QString fromName;
    QString fromAddress;
    QString body;
    // Failed attempts so far, the start of the first and the earliest time
    // of the next (invalid: at once). Kept in the file, so that a restart
    // keeps the schedule.
    int attempts = 0;
    QDateTime firstAttempt;
    QDateTime nextAttempt;
};

// The file: a JSON document {"count": n, "messages": [...]} with one object
// per entry, fields named as in Entry (the times as UTC ISO 8601 text, whole
// seconds); the count comes first, so that a file cut short still says how
// many it held (files of earlier versions have none). Decode is false (with
// the reason) for a file that is not one; entries it cannot use are skipped
// and named in *error. A schedule it cannot read counts as none: the
// message is tried at once.
QByteArray Encode(const std::vector<Entry>& entries);
bool Decode(const QByteArray& bytes, std::vector<Entry>& entries, QString* error = nullptr);
// What can be read of a file that Decode refuses: every message object that
// is whole; `lost` is how many the file held beyond them (-1: at least one,
// as a file without a count cut inside a message says no more).
std::vector<Entry> Salvage(const QByteArray& bytes, int& lost);

// Hands a message over: on disk before this returns (where the disk takes
// it), delivered beside the caller.
void Post(const Mail::Message& message, const QString& reportFile,
          const QString& receipt = QString::fromLatin1(kNoReceipt), qint64 rowId = 0,
          const QString& errorFunction = QString());

// A message for this row is waiting or being delivered.
bool Pending(const QString& receipt, qint64 rowId);
// The messages posted for one row now belong to another (a record that was
// named provisionally has been written): their receipts go there. Saved.
void Rebind(const QString& receipt, qint64 rowId, const QString& newReceipt, qint64 newRowId);

// Reads the messages left in the file by an earlier run and starts
// delivering; the start-up calls it once the mailer is set up. Called
// again, it delivers what has come due (a timer does that by itself).
void Resume();
// Stops delivering: the exchange in progress is cancelled and ends as
// unanswered, and what is still waiting stays in the file for the next start
// (the service log says how many). Waits (serving events) for that exchange
// to end, a few seconds at most whatever the server does.
void Stop();

// Nothing waiting and nothing being delivered.
bool Idle();
// Lets the event loop run until no message is being sent or due (one
// pausing before its next attempt is not waited for) or `timeoutMs` has
// passed; true when the outbox is empty and idle.
bool Drain(int timeoutMs);
// A delivery is in progress (also one cut short by Stop, until it has ended).
bool Delivering();

// Messages delivered and failed since the start.
struct Figures {
    qint64 sent = 0;
    qint64 failed = 0;
    int waiting = 0;
};
Figures Counts();

// Back to the state of a fresh start (a delivery in progress is cancelled,
// waited for as by Stop, and a result after that ignored).
void Reset();

}  // namespace Outbox
