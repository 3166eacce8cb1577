#include "core/AlarmHandling.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include "common/Clock.h"
#include "common/ProgramDir.h"
#include "core/HandlingStore.h"
#include "db/ServerDatabase.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <functional>
#endif

namespace AlarmHandling {
namespace {

const QString kConnection = QStringLiteral("fernlog-handling");

// Another fernlog process (the service, a command) may be writing.
constexpr int kBusyWaitMs = 3000;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS acknowledgements ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, alarm INTEGER NOT NULL, by TEXT NOT NULL,"
    " at TEXT NOT NULL, comment TEXT NOT NULL DEFAULT '', expires TEXT,"
    " ended TEXT, endedBy TEXT)",
    "CREATE INDEX IF NOT EXISTS idxAcknowledgementsAlarm ON acknowledgements (alarm)",
    "CREATE TABLE IF NOT EXISTS audit ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL, by TEXT NOT NULL,"
    " user TEXT NOT NULL, origin TEXT NOT NULL, action TEXT NOT NULL, alarm INTEGER,"
    " device TEXT NOT NULL DEFAULT '', old TEXT NOT NULL DEFAULT '',"
    " new TEXT NOT NULL DEFAULT '', prev TEXT NOT NULL, hash TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS idxAuditAlarm ON audit (alarm)",
    "CREATE TRIGGER IF NOT EXISTS auditNoUpdate BEFORE UPDATE ON audit"
    " BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END",
    "CREATE TRIGGER IF NOT EXISTS auditNoDelete BEFORE DELETE ON audit"
    " BEGIN SELECT RAISE(ABORT, 'the audit trail is append-only'); END",
    "CREATE TABLE IF NOT EXISTS notices ("
    " alarm INTEGER PRIMARY KEY, lastNotice TEXT NOT NULL, reminders INTEGER NOT NULL DEFAULT 0,"
    " escalated TEXT)",
    "CREATE TABLE IF NOT EXISTS escalationLists (device INTEGER PRIMARY KEY, list TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS sentNotices ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, alarm INTEGER NOT NULL, at TEXT NOT NULL,"
    " kind TEXT NOT NULL, recipients TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS idxSentNoticesAlarm ON sentNotices (alarm)",
    // Silences and maintenance windows (core/Silences): `ended` is when the
    // end was handled (its notices told), so a restart tells none twice.
    "CREATE TABLE IF NOT EXISTS silences ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, device INTEGER NOT NULL, name TEXT NOT NULL,"
    " port INTEGER NOT NULL, fromAt TEXT NOT NULL, untilAt TEXT NOT NULL, by TEXT NOT NULL,"
    " comment TEXT NOT NULL DEFAULT '', removed TEXT, removedBy TEXT, ended TEXT)",
    "CREATE TABLE IF NOT EXISTS maintenance ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, device INTEGER NOT NULL, name TEXT NOT NULL,"
    " fromAt TEXT NOT NULL,"
    " toAt TEXT, weekly TEXT, by TEXT NOT NULL, comment TEXT NOT NULL DEFAULT '',"
    " removed TEXT, removedBy TEXT, ended TEXT, toldEnd TEXT)",
};

struct Store {
    QString path;  // of the open connection; empty while closed
};

Store& TheStore() {
    static Store store;
    return store;
}

void Close() {
    TheStore().path.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(kConnection, false);
        if (db.isValid()) db.close();
    }
    if (QSqlDatabase::contains(kConnection)) QSqlDatabase::removeDatabase(kConnection);
}

// A new store is made readable by fernlog's user only: it will hold the
// secrets of notification channels too.
void CreatePrivate(const QString& path) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) ::close(fd);
#else
    Q_UNUSED(path);
#endif
}

std::optional<QSqlDatabase> Open(QString& error) {
    Store& store = TheStore();
    const QString path = Path();
    if (store.path == path && QFile::exists(path)) {
        return QSqlDatabase::database(kConnection, false);
    }
    Close();
    if (!QFile::exists(path)) CreatePrivate(path);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyWaitMs));
    if (!db.open()) {
        error = QStringLiteral("%1 cannot be opened: %2").arg(path, db.lastError().text());
        db = QSqlDatabase();
        Close();
        return std::nullopt;
    }
    for (const char* statement : kSchema) {
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(statement))) {
            error = QStringLiteral("%1 cannot be used: %2").arg(path, query.lastError().text());
            query = QSqlQuery();
            db = QSqlDatabase();
            Close();
            return std::nullopt;
        }
    }
    store.path = path;
    return db;
}

bool Fail(QString* error, const QString& reason) {
    if (error) *error = reason;
    return false;
}

// What the database refused, told apart from what the rules refused.
bool StoreFail(QString* error, const QString& reason) {
    return Fail(error, StoreRefusal() + reason);
}

// Runs `sql` with `values`; false with the database's reason.
bool Exec(QSqlQuery& query, const QString& sql, const QVariantList& values, QString& error) {
    if (!query.prepare(sql)) {
        error = query.lastError().text();
        return false;
    }
    for (const QVariant& value : values) query.addBindValue(value);
    if (!query.exec()) {
        error = query.lastError().text();
        return false;
    }
    return true;
}

// A read of the store: `sql` with `values`, each row handed to `row`; false
// with the store's refusal.
bool Select(const QString& sql, const QVariantList& values,
            const std::function<void(const QSqlQuery&)>& row, QString* error) {
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    QSqlQuery query(*db);
    if (!Exec(query, sql, values, reason)) return StoreFail(error, reason);
    while (query.next()) row(query);
    return true;
}

// One write: BEGIN IMMEDIATE takes the write lock first, so the last hash
// read and the row appended after it cannot interleave with another
// process's append.
class Transaction {
  public:
    explicit Transaction(QSqlDatabase db) : db_(db) {}
    ~Transaction() {
        if (open_) QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
    }
    bool Begin(QString& error) {
        QSqlQuery query(db_);
        if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            error = query.lastError().text();
            return false;
        }
        open_ = true;
        return true;
    }
    bool Commit(QString& error) {
        QSqlQuery query(db_);
        if (!query.exec(QStringLiteral("COMMIT"))) {
            error = query.lastError().text();
            return false;
        }
        open_ = false;
        return true;
    }

  private:
    QSqlDatabase db_;
    bool open_ = false;
};

// Bound as text, never as NULL: the columns take no NULL.
QString Text(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

QString ChainHash(const QString& prev, const AuditRow& row, const QString& at) {
    const QChar sep(0x1f);
    const QString text = prev + u'\n' + QString::number(row.id) + sep + at + sep + row.by + sep +
                         row.user + sep + row.origin + sep + row.action + sep +
                         QString::number(row.alarm) + sep + row.device + sep + row.oldValue + sep +
                         row.newValue;
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

// Appends one row inside an open transaction.
bool Append(QSqlDatabase db, AuditRow row, QString& error) {
    QSqlQuery last(db);
    if (!Exec(last, QStringLiteral("SELECT id, hash FROM audit ORDER BY id DESC LIMIT 1"), {},
              error)) {
        return false;
    }
    const QString prev = last.next() ? last.value(1).toString() : QString();
    QSqlQuery seq(db);
    // The id the row will get, so the hash covers it: a removed row then
    // breaks the chain even where the rows around it are intact.
    if (!Exec(seq, QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = 'audit'"), {},
              error)) {
        return false;
    }
    row.id = seq.next() ? seq.value(0).toLongLong() + 1 : 1;
    const QString at = IsoText(row.at);
    QSqlQuery insert(db);
    return Exec(insert,
                QStringLiteral("INSERT INTO audit (id, at, by, user, origin, action, alarm, "
                               "device, old, new, prev, hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
                               "?, ?, ?)"),
                {row.id, at, Text(row.by), Text(row.user), row.origin, row.action,
                 row.alarm ? QVariant(row.alarm) : QVariant(), Text(row.device), Text(row.oldValue),
                 Text(row.newValue), Text(prev), ChainHash(prev, row, at)},
                error);
}

AuditRow RowFor(const Actor& actor, const QString& action, qint64 alarmId, const QString& device,
                const QString& oldValue, const QString& newValue) {
    AuditRow row;
    row.at = Clock::Now();
    row.by = actor.by.trimmed();
    row.user = actor.user.isEmpty() ? SystemUser() : actor.user;
    row.origin = OriginText(actor.origin);
    row.action = action;
    row.alarm = alarmId;
    row.device = device;
    row.oldValue = oldValue;
    row.newValue = newValue;
    return row;
}

QString AckText(const QString& comment, const QDateTime& expires) {
    return expires.isValid() ? comment + QStringLiteral(" [until %1]").arg(IsoText(expires))
                             : comment;
}

QDateTime FromIso(const QVariant& value) {
    if (value.isNull()) return {};
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

// The row of the acknowledgement in force, or 0.
bool CurrentRow(QSqlDatabase db, qint64 alarmId, const QDateTime& now, qint64& rowId,
                Acknowledgement& ack, QString& error) {
    QSqlQuery query(db);
    if (!Exec(query,
              QStringLiteral("SELECT id, by, at, comment, expires FROM acknowledgements "
                             "WHERE alarm = ? AND ended IS NULL ORDER BY id DESC LIMIT 1"),
              {alarmId}, error)) {
        return false;
    }
    rowId = 0;
    if (!query.next()) return true;
    ack.by = query.value(1).toString();
    ack.at = FromIso(query.value(2));
    ack.comment = query.value(3).toString();
    ack.expires = FromIso(query.value(4));
    if (ack.expires.isValid() && ack.expires <= now) return true;
    rowId = query.value(0).toLongLong();
    return true;
}

bool CheckActor(const Actor& actor, QString* error) {
    if (actor.by.trimmed().isEmpty()) {
        return Fail(error, QStringLiteral("the name of who acts (--by) is empty"));
    }
    return true;
}

}  // namespace

QString StoreRefusal() {
    return QStringLiteral("the alarm handling store refused: ");
}

QString FileName() {
    return QStringLiteral("FernlogHandling.db");
}

QString Path() {
    return ProgramDir::File(FileName());
}

QString OriginText(Origin origin) {
    switch (origin) {
        case Origin::Command:
            return QStringLiteral("command");
        case Origin::Window:
            return QStringLiteral("window");
        case Origin::Web:
            return QStringLiteral("web");
        case Origin::Program:
            return QStringLiteral("program");
    }
    return {};
}

QString SystemUser() {
#ifdef Q_OS_UNIX
    const struct passwd* entry = ::getpwuid(::geteuid());
    QString name = entry ? QString::fromLocal8Bit(entry->pw_name)
                         : QString::number(static_cast<qulonglong>(::geteuid()));
    const QByteArray sudoUser = qgetenv("SUDO_USER");
    if (::geteuid() == 0 && !sudoUser.isEmpty()) {
        name += QStringLiteral(" (sudo: %1)").arg(QString::fromLocal8Bit(sudoUser));
    }
    return name;
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

bool LookUp(qint64 alarmId, AlarmRef& alarm, QString* error) {
    ServerDatabase::AlarmRecord record;
    if (!ServerDatabase::ReadAlarmRecord(alarmId, record, error)) return false;
    alarm.id = record.id;
    alarm.device = record.server;
    alarm.open = !record.end.isValid();
    return true;
}

bool Resolve(const AlarmRef& alarm, const Actor& actor, const QString& text, QString* error) {
    if (!CheckActor(actor, error)) return false;
    ServerDatabase::AlarmRecord before;
    if (!ServerDatabase::ReadAlarmRecord(alarm.id, before, error)) return false;
    QString reason;
    if (!ServerDatabase::SaveResolution(alarm.id, text, &reason)) {
        return Fail(error, QStringLiteral("zolo.mdb refused the resolution: ") + reason);
    }
    ServerDatabase::AlarmRecord after;
    if (!ServerDatabase::ReadAlarmRecord(alarm.id, after, &reason)) after.resolution = text;
    if (!Record(actor, QStringLiteral("resolve"), alarm.id, alarm.device, before.resolution,
                after.resolution, &reason)) {
        return Fail(error, QStringLiteral("the resolution was stored, but ") + reason);
    }
    return true;
}

bool CurrentAcknowledgement(qint64 alarmId, const QDateTime& now,
                            std::optional<Acknowledgement>& ack, QString* error) {
    ack.reset();
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    qint64 rowId = 0;
    Acknowledgement found;
    if (!CurrentRow(*db, alarmId, now, rowId, found, reason)) return StoreFail(error, reason);
    if (rowId != 0) ack = found;
    return true;
}

bool Acknowledge(const AlarmRef& alarm, const Actor& actor, const QString& comment,
                 const QDateTime& expires, QString* error) {
    if (!CheckActor(actor, error)) return false;
    if (!alarm.open) {
        return Fail(error,
                    QStringLiteral("alarm %1 has ended: only an open alarm can be acknowledged")
                        .arg(alarm.id));
    }
    const QDateTime now = Clock::Now();
    if (expires.isValid() && expires <= now) {
        return Fail(error, QStringLiteral("the acknowledgement would end before it begins"));
    }
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    Transaction transaction(*db);
    if (!transaction.Begin(reason)) return StoreFail(error, reason);
    qint64 previous = 0;
    Acknowledgement before;
    if (!CurrentRow(*db, alarm.id, now, previous, before, reason)) return StoreFail(error, reason);
    QSqlQuery query(*db);
    if (previous != 0 &&
        !Exec(query,
              QStringLiteral("UPDATE acknowledgements SET ended = ?, endedBy = ? WHERE id = ?"),
              {IsoText(now), actor.by.trimmed(), previous}, reason)) {
        return StoreFail(error, reason);
    }
    if (!Exec(query,
              QStringLiteral("INSERT INTO acknowledgements (alarm, by, at, comment, expires) "
                             "VALUES (?, ?, ?, ?, ?)"),
              {alarm.id, actor.by.trimmed(), IsoText(now), Text(comment),
               expires.isValid() ? QVariant(IsoText(expires)) : QVariant()},
              reason) ||
        !Append(*db,
                RowFor(actor, QStringLiteral("acknowledge"), alarm.id, alarm.device,
                       previous ? AckText(before.comment, before.expires) : QString(),
                       AckText(comment, expires)),
                reason) ||
        !transaction.Commit(reason)) {
        return StoreFail(error, reason);
    }
    return true;
}

bool Unacknowledge(const AlarmRef& alarm, const Actor& actor, QString* error, const QString& why) {
    if (!CheckActor(actor, error)) return false;
    const QDateTime now = Clock::Now();
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    Transaction transaction(*db);
    if (!transaction.Begin(reason)) return StoreFail(error, reason);
    qint64 current = 0;
    Acknowledgement ack;
    if (!CurrentRow(*db, alarm.id, now, current, ack, reason)) return StoreFail(error, reason);
    if (current == 0) {
        return Fail(error, QStringLiteral("alarm %1 is not acknowledged").arg(alarm.id));
    }
    QSqlQuery query(*db);
    if (!Exec(query,
              QStringLiteral("UPDATE acknowledgements SET ended = ?, endedBy = ? WHERE id = ?"),
              {IsoText(now), actor.by.trimmed(), current}, reason) ||
        !Append(*db,
                RowFor(actor, QStringLiteral("unacknowledge"), alarm.id, alarm.device,
                       AckText(ack.comment, ack.expires), why),
                reason) ||
        !transaction.Commit(reason)) {
        return StoreFail(error, reason);
    }
    return true;
}

bool Comment(const AlarmRef& alarm, const Actor& actor, const QString& text, QString* error) {
    if (!CheckActor(actor, error)) return false;
    if (text.trimmed().isEmpty()) return Fail(error, QStringLiteral("the comment is empty"));
    return Record(actor, QStringLiteral("comment"), alarm.id, alarm.device, QString(), text, error);
}

bool Record(const Actor& actor, const QString& action, qint64 alarmId, const QString& device,
            const QString& oldValue, const QString& newValue, QString* error) {
    if (!CheckActor(actor, error)) return false;
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    Transaction transaction(*db);
    if (!transaction.Begin(reason) ||
        !Append(*db, RowFor(actor, action, alarmId, device, oldValue, newValue), reason) ||
        !transaction.Commit(reason)) {
        return StoreFail(error, reason);
    }
    return true;
}

namespace {
bool ReadRows(QSqlDatabase db, const QString& where, const QVariantList& values,
              QList<AuditRow>& rows, QList<QStringList>* chain, QString& error) {
    QSqlQuery query(db);
    if (!Exec(query,
              QStringLiteral("SELECT id, at, by, user, origin, action, alarm, device, old, new, "
                             "prev, hash FROM audit") +
                  where + QStringLiteral(" ORDER BY id"),
              values, error)) {
        return false;
    }
    while (query.next()) {
        AuditRow row;
        row.id = query.value(0).toLongLong();
        row.at = FromIso(query.value(1));
        row.by = query.value(2).toString();
        row.user = query.value(3).toString();
        row.origin = query.value(4).toString();
        row.action = query.value(5).toString();
        row.alarm = query.value(6).toLongLong();
        row.device = query.value(7).toString();
        row.oldValue = query.value(8).toString();
        row.newValue = query.value(9).toString();
        rows << row;
        if (chain) {
            *chain << QStringList{query.value(1).toString(), query.value(10).toString(),
                                  query.value(11).toString()};
        }
    }
    return true;
}
}  // namespace

bool ListAudit(QList<AuditRow>& rows, const QDateTime& since, qint64 alarmId, QString* error) {
    rows.clear();
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    QString where = QStringLiteral(" WHERE 1 = 1");
    QVariantList values;
    if (since.isValid()) {
        where += QStringLiteral(" AND at >= ?");
        values << IsoText(since);
    }
    if (alarmId != 0) {
        where += QStringLiteral(" AND alarm = ?");
        values << alarmId;
    }
    if (!ReadRows(*db, where, values, rows, nullptr, reason)) return StoreFail(error, reason);
    return true;
}

bool ListAuditAfter(qint64 afterId, QList<AuditRow>& rows, QString* error) {
    rows.clear();
    if (!QFile::exists(Path())) return true;
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    if (!ReadRows(*db, QStringLiteral(" WHERE id > ?"), {afterId}, rows, nullptr, reason)) {
        return StoreFail(error, reason);
    }
    return true;
}

bool VerifyAudit(qint64& firstBad, int& count, QString* error) {
    firstBad = 0;
    count = 0;
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    QList<AuditRow> rows;
    QList<QStringList> chain;
    if (!ReadRows(*db, QString(), {}, rows, &chain, reason)) return StoreFail(error, reason);
    count = static_cast<int>(rows.size());
    QString prev;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString& at = chain[i][0];
        const QString& storedPrev = chain[i][1];
        const QString& storedHash = chain[i][2];
        if (storedPrev != prev || ChainHash(prev, rows[i], at) != storedHash) {
            firstBad = rows[i].id;
            return true;
        }
        prev = storedHash;
    }
    return true;
}

std::optional<qint64> ParseDuration(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,6})\\s*([smhdw])\\s*$"));
    const auto match = pattern.match(text.toLower());
    if (!match.hasMatch()) return std::nullopt;
    const qint64 amount = match.captured(1).toLongLong();
    if (amount <= 0) return std::nullopt;
    const QChar unit = match.captured(2).at(0);
    const qint64 factor = unit == u's'   ? 1
                          : unit == u'm' ? 60
                          : unit == u'h' ? 3600
                          : unit == u'd' ? 86400
                                         : 7 * 86400;
    return amount * factor;
}

std::optional<QDateTime> ParseTime(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4}-\\d{2}-\\d{2})[T ](\\d{2}:\\d{2}(?::\\d{2})?)(Z|[+-]\\d{2}:?\\d{2})?$"));
    const auto match = pattern.match(text.trimmed());
    if (!match.hasMatch()) return std::nullopt;
    const QDate date = QDate::fromString(match.captured(1), Qt::ISODate);
    const QString clock = match.captured(2);
    const QTime time = QTime::fromString(
        clock, clock.size() > 5 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    const QString zone = match.captured(3);
    if (zone.isEmpty()) {
        const QDateTime local(date, time);
        if (!local.isValid()) return std::nullopt;  // a time a clock change skips
        return local;
    }
    if (zone == QLatin1String("Z")) return QDateTime(date, time, Qt::UTC);
    QString digits = zone.mid(1);
    digits.remove(u':');
    const int hours = digits.left(2).toInt(), minutes = digits.mid(2).toInt();
    if (hours > 14 || minutes > 59) return std::nullopt;
    const int offset = (hours * 3600 + minutes * 60) * (zone.at(0) == u'-' ? -1 : 1);
    return QDateTime(date, time, QTimeZone(offset));
}

QString IsoText(const QDateTime& when) {
    return when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

void Reset() {
    Close();
}

bool ReadNoticeSchedule(qint64 alarmId, std::optional<NoticeSchedule>& schedule, QString* error) {
    schedule.reset();
    return Select(
        QStringLiteral("SELECT lastNotice, reminders, escalated FROM notices WHERE alarm = ?"),
        {alarmId},
        [&](const QSqlQuery& q) {
            schedule = NoticeSchedule{QDateTime::fromString(q.value(0).toString(), Qt::ISODate),
                                      q.value(1).toInt(),
                                      QDateTime::fromString(q.value(2).toString(), Qt::ISODate)};
        },
        error);
}

bool SaveNoticeSchedule(qint64 alarmId, const NoticeSchedule& schedule, const QString& kind,
                        const QString& recipients, QString* error) {
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    Transaction transaction(*db);
    if (!transaction.Begin(reason)) return StoreFail(error, reason);
    QSqlQuery query(*db);
    if (!Exec(query,
              QStringLiteral("INSERT OR REPLACE INTO notices (alarm, lastNotice, reminders,"
                             " escalated) VALUES (?, ?, ?, ?)"),
              {alarmId, IsoText(schedule.lastNotice), schedule.reminders,
               schedule.escalated.isValid() ? QVariant(IsoText(schedule.escalated)) : QVariant()},
              reason) ||
        !Exec(query,
              QStringLiteral(
                  "INSERT INTO sentNotices (alarm, at, kind, recipients) VALUES (?, ?, ?, ?)"),
              {alarmId, IsoText(Clock::Now()), kind, recipients}, reason) ||
        !transaction.Commit(reason)) {
        return StoreFail(error, reason);
    }
    return true;
}

bool ListSentNotices(qint64 alarmId, QList<SentNotice>& notices, QString* error) {
    notices.clear();
    return Select(
        QStringLiteral("SELECT at, kind, recipients FROM sentNotices WHERE alarm = ? ORDER BY id"),
        {alarmId},
        [&](const QSqlQuery& q) {
            notices << SentNotice{QDateTime::fromString(q.value(0).toString(), Qt::ISODate),
                                  q.value(1).toString(), q.value(2).toString()};
        },
        error);
}

bool EscalationLists(QHash<qint64, QString>& lists, QString* error) {
    lists.clear();
    return Select(
        QStringLiteral("SELECT device, list FROM escalationLists"), {},
        [&](const QSqlQuery& q) { lists.insert(q.value(0).toLongLong(), q.value(1).toString()); },
        error);
}

bool SetEscalationList(qint64 deviceId, const QString& device, const QString& list,
                       const Actor& actor, QString* error) {
    if (!CheckActor(actor, error)) return false;
    QHash<qint64, QString> lists;
    if (!EscalationLists(lists, error)) return false;
    const QString old = lists.value(deviceId);
    if (old == list) return true;
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    Transaction transaction(*db);
    if (!transaction.Begin(reason)) return StoreFail(error, reason);
    QSqlQuery query(*db);
    const bool written =
        list.isEmpty() ? Exec(query, QStringLiteral("DELETE FROM escalationLists WHERE device = ?"),
                              {deviceId}, reason)
                       : Exec(query,
                              QStringLiteral("INSERT OR REPLACE INTO escalationLists (device, list)"
                                             " VALUES (?, ?)"),
                              {deviceId, list}, reason);
    if (!written ||
        !Append(*db, RowFor(actor, QStringLiteral("escalation list"), 0, device, old, list),
                reason) ||
        !transaction.Commit(reason)) {
        return StoreFail(error, reason);
    }
    return true;
}

}  // namespace AlarmHandling

// The store as core/HandlingStore.h offers it to the modules sharing it.
namespace AlarmHandling {

std::optional<QSqlDatabase> Connection(QString* error) {
    QString reason;
    auto db = Open(reason);
    if (!db) StoreFail(error, reason);
    return db;
}

bool Run(QSqlQuery& query, const QString& sql, const QVariantList& values, QString& error) {
    return Exec(query, sql, values, error);
}

QJsonObject Json(const AuditRow& row) {
    const auto textOrNull = [](const QString& t) {
        return t.isEmpty() ? QJsonValue() : QJsonValue(t);
    };
    return QJsonObject{{"at", row.at.isValid() ? QJsonValue(IsoText(row.at)) : QJsonValue()},
                       {"by", row.by},
                       {"user", row.user},
                       {"origin", row.origin},
                       {"action", row.action},
                       {"alarm", row.alarm ? QJsonValue(row.alarm) : QJsonValue()},
                       {"device", textOrNull(row.device)},
                       {"old", row.oldValue},
                       {"new", row.newValue}};
}

bool WriteAudited(const Actor& actor, const QString& action, const StoreChange& change,
                  QString* error) {
    if (!CheckActor(actor, error)) return false;
    QString reason;
    const auto db = Open(reason);
    if (!db) return StoreFail(error, reason);
    Transaction transaction(*db);
    if (!transaction.Begin(reason)) return StoreFail(error, reason);
    AuditEntry entry;
    QString refusal;
    if (!change(*db, entry, reason, refusal)) {
        return refusal.isEmpty() ? StoreFail(error, reason) : Fail(error, refusal);
    }
    if (!Append(*db, RowFor(actor, action, 0, entry.device, entry.oldValue, entry.newValue),
                reason) ||
        !transaction.Commit(reason)) {
        return StoreFail(error, reason);
    }
    return true;
}

}  // namespace AlarmHandling
