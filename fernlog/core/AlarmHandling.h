#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// What people do about alarms, kept beside zolo.mdb in a database of its own
// (FernlogHandling.db), so zolo.mdb keeps the tables other tools expect:
// acknowledgements and comments, and the audit trail of every such action.
// The trail is append-only (the database refuses updates and deletions)
// and each row carries a hash chained from the one before, so a row changed
// or removed behind the program's back is found by VerifyAudit. Every write
// is one committed transaction: the action and its audit row together.
// Times are UTC.
namespace AlarmHandling {

QString FileName();  // "FernlogHandling.db"
// The beginning of every reason that is the database's refusal rather than
// the rules' (a closed alarm, an empty name).
QString StoreRefusal();
QString Path();  // in the program directory

// Program: what fernlog itself did (an acknowledgement dropped because the
// alarm worsened).
enum class Origin { Command, Window, Web, Program };
QString OriginText(Origin origin);  // "command", "window", "web", "program"

// Who acts: the name given, the operating-system user running the program,
// and from where.
struct Actor {
    QString by;
    QString user;
    Origin origin = Origin::Command;
};
// The name of the operating-system user of this process ("root (sudo: ann)"
// under sudo).
QString SystemUser();

// An alarm as the actions need it: its record id, the device's name (for
// the trail) and whether it is still open.
struct AlarmRef {
    qint64 id = 0;
    QString device;
    bool open = true;
};

// The open or closed alarm of this tblAlarms.IDNum; false with the reason
// ("there is no alarm 7") when there is none or zolo.mdb cannot be read.
bool LookUp(qint64 alarmId, AlarmRef& alarm, QString* error = nullptr);

struct Acknowledgement {
    QString by, comment;
    QDateTime at;
    QDateTime expires;  // invalid: until the alarm closes
};
// The acknowledgement in force at `now`, if any (a withdrawn or expired one
// is not). False when the store cannot be read.
bool CurrentAcknowledgement(qint64 alarmId, const QDateTime& now,
                            std::optional<Acknowledgement>& ack, QString* error = nullptr);

// Each false with the reason when the action is refused (a closed alarm,
// one not acknowledged, an empty name) or the store refused it; nothing is
// written then.
bool Acknowledge(const AlarmRef& alarm, const Actor& actor, const QString& comment,
                 const QDateTime& expires, QString* error = nullptr);
// `why`, when given, is kept in the trail as the new value.
bool Unacknowledge(const AlarmRef& alarm, const Actor& actor, QString* error = nullptr,
                   const QString& why = QString());
bool Comment(const AlarmRef& alarm, const Actor& actor, const QString& text,
             QString* error = nullptr);

// Writes the alarm's resolution into zolo.mdb as the main window's Save
// does ("Resolution Entered " + date-time + the text) and records it in the
// trail with the old and new text.
bool Resolve(const AlarmRef& alarm, const Actor& actor, const QString& text,
             QString* error = nullptr);

// One row of the trail. `alarm` is 0 when the action was about no alarm.
struct AuditRow {
    qint64 id = 0;
    QDateTime at;
    QString by, user, origin, action;
    qint64 alarm = 0;
    QString device, oldValue, newValue;
};
// Appends a row for an action recorded elsewhere (a resolution written into
// zolo.mdb, a settings change).
bool Record(const Actor& actor, const QString& action, qint64 alarmId, const QString& device,
            const QString& oldValue, const QString& newValue, QString* error = nullptr);
// As `fernlog audit --json` and the web's JSON show a row.
QJsonObject Json(const AuditRow& row);
// Rows in the order they were written, from `since` (when valid), only of
// one alarm when `alarmId` is not 0.
bool ListAudit(QList<AuditRow>& rows, const QDateTime& since, qint64 alarmId = 0,
               QString* error = nullptr);
// Rows written after the row `afterId`, in order; none (and no store made)
// when the store does not exist yet.
bool ListAuditAfter(qint64 afterId, QList<AuditRow>& rows, QString* error = nullptr);
// Recomputes the chain: `firstBad` is the id of the first row that does
// not match it (a changed row, or the one after a removed row), 0 when
// every row does. False when the store cannot be read.
bool VerifyAudit(qint64& firstBad, int& rows, QString* error = nullptr);

// "90m", "4h", "2d" (also "30s", "1w") as seconds; nullopt otherwise.
std::optional<qint64> ParseDuration(const QString& text);
// ISO 8601 ("2026-12-09T02:00", seconds optional, a space for the T), in
// local time unless it carries an offset or Z; nullopt otherwise.
std::optional<QDateTime> ParseTime(const QString& text);
// UTC ISO 8601 with seconds and "Z", as the trail and the JSON write times.
QString IsoText(const QDateTime& when);

// The reminders and escalation of an open alarm, kept so that a restart
// keeps their schedule: when it was last notified (its start, then each
// reminder), how many reminders went out, when it was escalated (invalid:
// not yet). None is stored before its first reminder or escalation.
struct NoticeSchedule {
    QDateTime lastNotice;
    int reminders = 0;
    QDateTime escalated;
};
bool ReadNoticeSchedule(qint64 alarmId, std::optional<NoticeSchedule>& schedule,
                        QString* error = nullptr);
// Stores the schedule after a notice of `kind` ("reminder", "escalation")
// was handed to the outbox for `recipients`, and notes that notice.
bool SaveNoticeSchedule(qint64 alarmId, const NoticeSchedule& schedule, const QString& kind,
                        const QString& recipients, QString* error = nullptr);
struct SentNotice {
    QDateTime at;
    QString kind, recipients;
};
bool ListSentNotices(qint64 alarmId, QList<SentNotice>& notices, QString* error = nullptr);

// The second address list of each device (by tblServers.IDNum): who is told
// when an alarm stays unacknowledged. Setting one is a row of the trail
// ("escalation list", old and new list); an empty list removes it.
bool EscalationLists(QHash<qint64, QString>& lists, QString* error = nullptr);
bool SetEscalationList(qint64 deviceId, const QString& device, const QString& list,
                       const Actor& actor, QString* error = nullptr);

// Closes the store's connection (the next use reopens it).
void Reset();

}  // namespace AlarmHandling
