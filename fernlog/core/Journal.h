#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

// The record journal: every write of an alarm or device-failure record that
// the database does not take when it is made (locked for writing by another
// program, unreadable, missing) is kept, in order, in FernlogJournal.dat
// beside zolo.mdb, and made with the times things really happened once the
// database takes writes again. While anything waits, later writes wait
// behind it, so the records change in the order the program saw things. The
// file is written before Write returns, so the changes survive a stop and a
// kill; the start applies it before the first cycle.
namespace Journal {

QString FileName();  // "FernlogJournal.dat"

enum class Kind {
    AlarmOpen,      // a new alarm record, with its cause and, when known, EmailSent
    AlarmUpdate,    // CauseOfAlarm and/or EmailSent of an alarm record
    AlarmClose,     // AlarmEnd := time, AlarmActive := False
    FailureOpen,    // a new outage row of a device
    FailureUpdate,  // ServerName and/or EmailSent of an outage row
    FailureBack,    // BackOnLine := time
};
bool IsAlarm(Kind kind);
bool IsOpening(Kind kind);

// One write. A record not written yet is named by the `ref` its opening was
// given (NewRef); the changes after it name that ref until the opening is
// written, and its row from then on.
struct Change {
    Kind kind = Kind::AlarmOpen;
    qint64 owner = 0;  // the sensor (alarm changes) or the device (failure changes)
    qint64 row = 0;
    qint64 ref = 0;
    QString time;                         // database stamp: start, end, off line or back online
    QString server, sensor, currentData;  // an alarm's opening; server also a failure's
    qint64 tol = 0;
    std::optional<QString> cause, emailSent, serverName;
    bool operator==(const Change&) const = default;
};
// The change is about the record with this row or ref (a zero matches nothing).
bool Targets(const Change& change, qint64 row, qint64 ref);

// One owner's open record (a sensor's alarm, a device's outage) as far as
// the program knows it.
struct Known {
    bool open = false;
    qint64 row = 0;     // its record, once written
    qint64 ref = 0;     // its name in the journal until then
    QString start;      // database stamp: the alarm's start, the outage's off line
    QString emailSent;  // an alarm's: empty while its e-mail is on its way; an
                        // outage's: "False" until its e-mail was attempted
};
// Whether changes of `owner`'s alarms (`alarm`) or outages wait.
bool ChangesWaitFor(qint64 owner, bool alarm);
// `base` with the waiting changes of `owner`'s alarms or outages applied:
// the record as it will be once the database takes them. An e-mail's
// outcome is noted by record, whoever noted it.
Known WithWaiting(Known base, qint64 owner, bool alarm);

// The file: JSON lines. The first is {"journal": 1, "nextRef": "...",
// "since": "..."}; each after it one change, its kind as "change"
// ("alarm-open", ...), keys as in Change, ids as decimal text. A change kept
// is a line added at the end. Decode is false (with the reason) for a file
// that is not a journal; a line it cannot use (one cut short) is left out
// and named.
QByteArray Encode(const std::vector<Change>& changes, qint64 nextRef, const QString& since);
bool Decode(const QByteArray& bytes, std::vector<Change>& changes, qint64& nextRef, QString& since,
            QString* error = nullptr);

// A name for a record about to be opened, unique across runs.
qint64 NewRef();
// Makes the change at once when nothing waits and the database takes it;
// keeps it otherwise (the first kept change tells that the records wait).
// Returns the row the change wrote or targeted; 0 when it was kept.
qint64 Write(const Change& change);
// The changes waiting, in order.
const std::vector<Change>& Waiting();
bool Empty();
// Makes the waiting changes in order, up to the first the database does not
// take; the end of the wait is told. True when nothing waits any more.
bool Apply();

// Told of every waiting change that Apply wrote, with the row it wrote or
// targeted, so that what the program knows of the record follows. The
// modules that keep such records register as the program loads.
using WrittenHandler = std::function<void(const Change& change, qint64 row)>;
bool SetWrittenHandler(Kind kind, WrittenHandler handler);

// Back to the state of a fresh start: the file is read again when next used.
void Reset();

}  // namespace Journal
