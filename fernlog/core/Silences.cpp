#include "core/Silences.h"

#include <QFile>
#include <QHash>
#include <QJsonValue>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <tuple>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/Alarms.h"
#include "core/EmailNotification.h"
#include "core/HandlingStore.h"
#include "core/Notices.h"
#include "core/Outbox.h"
#include "db/ErrorLog.h"
#include "db/SensorDatabase.h"
#include "db/ServerDatabase.h"

namespace Silences {
namespace {

const QString kCR = QStringLiteral("\r");
// More open alarms than this are not looked at when an end is told.
constexpr int kMaxAlarms = 1000;

bool Fail(QString* error, const QString& reason) {
    if (error) *error = reason;
    return false;
}

QDateTime FromIso(const QVariant& value) {
    if (value.isNull()) return {};
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

// Bound as text, never as NULL: the columns take no NULL.
QString NotNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

QVariant IsoOrNull(const QDateTime& when) {
    return when.isValid() ? QVariant(AlarmHandling::IsoText(when)) : QVariant();
}

QString Local(const QDateTime& when) {
    return Clock::GeneralDateText(when.toLocalTime());
}

// The occurrence of a weekly window that begins on `date`, if it is its day.
std::optional<std::pair<QDateTime, QDateTime>> OccurrenceOn(const Weekly& w, const QDate& date) {
    if (date.dayOfWeek() != w.day) return std::nullopt;
    const QDateTime start(date, w.start);
    const QDateTime end(w.end > w.start ? date : date.addDays(1), w.end);
    return std::make_pair(start, end);
}

// The occurrence that holds `when`.
std::optional<std::pair<QDateTime, QDateTime>> OccurrenceAt(const Weekly& w,
                                                            const QDateTime& when) {
    const QDateTime local = when.toLocalTime();
    for (int back = 0; back <= 1; ++back) {
        const auto o = OccurrenceOn(w, local.date().addDays(-back));
        if (o && o->first <= local && local < o->second) return o;
    }
    return std::nullopt;
}

// The last occurrence that ended at or before `when`.
std::optional<std::pair<QDateTime, QDateTime>> LastEnded(const Weekly& w, const QDateTime& when) {
    const QDateTime local = when.toLocalTime();
    for (int back = 0; back <= 8; ++back) {
        const auto o = OccurrenceOn(w, local.date().addDays(-back));
        if (o && o->second <= local) return o;
    }
    return std::nullopt;
}

QString Who(const QString& by, const QString& comment) {
    return comment.trimmed().isEmpty() ? QStringLiteral("(by %1)").arg(by)
                                       : QStringLiteral("(by %1: %2)").arg(by, comment.trimmed());
}

QString PortText(const QString& device, int port) {
    return port == kDevice ? device : QStringLiteral("%1 port %2").arg(device).arg(port);
}

// What covers, as the why sentences and the end notices name it.
QString SilenceName(const Silence& s) {
    return QStringLiteral("the silence of ") + PortText(s.device, s.port) + u' ' +
           Who(s.by, s.comment);
}
QString WindowName(const Window& w) {
    return (w.weekly ? QStringLiteral("the weekly maintenance (%1) of ").arg(w.weekly->Text())
                     : QStringLiteral("the maintenance of ")) +
           w.device + u' ' + Who(w.by, w.comment);
}

Silence SilenceFrom(const QSqlQuery& q) {
    Silence s;
    s.id = q.value(0).toLongLong();
    s.deviceId = q.value(1).toLongLong();
    s.device = q.value(2).toString();
    s.port = q.value(3).toInt();
    s.from = FromIso(q.value(4));
    s.until = FromIso(q.value(5));
    s.by = q.value(6).toString();
    s.comment = q.value(7).toString();
    return s;
}
const QString kSilenceColumns =
    QStringLiteral("id, device, name, port, fromAt, untilAt, by, comment, removed, ended");

Window WindowFrom(const QSqlQuery& q) {
    Window w;
    w.id = q.value(0).toLongLong();
    w.deviceId = q.value(1).toLongLong();
    w.device = q.value(2).toString();
    w.from = FromIso(q.value(3));
    w.to = FromIso(q.value(4));
    if (!q.value(5).isNull()) w.weekly = ParseWeekly(q.value(5).toString());
    w.by = q.value(6).toString();
    w.comment = q.value(7).toString();
    return w;
}
const QString kWindowColumns =
    QStringLiteral("id, device, name, fromAt, toAt, weekly, by, comment, removed, ended, toldEnd");

QString SilenceText(const Silence& s) {
    return QStringLiteral("silence %1 of %2 from %3 until %4 %5")
        .arg(s.id)
        .arg(PortText(s.device, s.port), AlarmHandling::IsoText(s.from),
             AlarmHandling::IsoText(s.until), Who(s.by, s.comment));
}
QString WindowText(const Window& w) {
    const QString when =
        w.weekly ? QStringLiteral("weekly ") + w.weekly->Text()
                 : QStringLiteral("from %1 to %2")
                       .arg(AlarmHandling::IsoText(w.from), AlarmHandling::IsoText(w.to));
    return QStringLiteral("maintenance %1 of %2 %3 %4")
        .arg(w.id)
        .arg(w.device, when, Who(w.by, w.comment));
}

// An end to tell: what covered the device's port, from when to when.
struct Ending {
    qint64 deviceId = 0;
    int port = kDevice;
    QDateTime start, end;
    QString what;
};

// Marks a silence or window removed, with its audit row; its end is told
// by the next cycle when it covered something then.
bool Removal(bool silence, qint64 id, const AlarmHandling::Actor& actor, QString* error) {
    const QString table = silence ? QStringLiteral("silences") : QStringLiteral("maintenance");
    const QString kind = silence ? QStringLiteral("silence") : QStringLiteral("maintenance window");
    const QDateTime now = Clock::Now();
    return AlarmHandling::WriteAudited(
        actor, QStringLiteral("remove ") + kind,
        [&](QSqlDatabase db, AlarmHandling::AuditEntry& entry, QString& reason, QString& refusal) {
            QSqlQuery query(db);
            if (!AlarmHandling::Run(query,
                                    QStringLiteral("SELECT %1 FROM %2 WHERE id = ?")
                                        .arg(silence ? kSilenceColumns : kWindowColumns, table),
                                    {id}, reason)) {
                return false;
            }
            if (!query.next() || !query.value(8).isNull()) {
                refusal = QStringLiteral("there is no %1 %2").arg(kind).arg(id);
                return false;
            }
            if (silence) {
                const Silence s = SilenceFrom(query);
                entry.device = s.device;
                entry.oldValue = SilenceText(s);
            } else {
                const Window w = WindowFrom(query);
                entry.device = w.device;
                entry.oldValue = WindowText(w);
            }
            entry.newValue =
                QStringLiteral("%1 %2 ended %3")
                    .arg(silence ? QStringLiteral("silence") : QStringLiteral("maintenance"))
                    .arg(id)
                    .arg(AlarmHandling::IsoText(now));
            QSqlQuery update(db);
            return AlarmHandling::Run(
                update,
                QStringLiteral("UPDATE %1 SET removed = ?, removedBy = ? WHERE id = ?").arg(table),
                {AlarmHandling::IsoText(now), actor.by.trimmed(), id}, reason);
        },
        error);
}

bool Select(QSqlQuery& query, const QString& sql, const QVariantList& values, QString* error) {
    QString reason;
    const auto db = AlarmHandling::Connection(error);
    if (!db) return false;
    query = QSqlQuery(*db);
    if (!AlarmHandling::Run(query, sql, values, reason)) {
        return Fail(error, AlarmHandling::StoreRefusal() + reason);
    }
    return true;
}

// Without the store nothing was ever silenced; reading does not make it.
bool NoStore() {
    return !QFile::exists(AlarmHandling::Path());
}

bool Mark(const QString& sql, const QVariantList& values) {
    QSqlQuery query;
    QString error;
    if (Select(query, sql, values, &error)) return true;
    ErrorLog::RecordError(QStringLiteral("Silences"), error);
    return false;
}

// The ends due at `now`, each noted in the store as it is collected; one
// that cannot be noted is left for the next cycle.
QList<Ending> CollectEndings(const QDateTime& now) {
    QList<Ending> endings;
    const QString nowText = AlarmHandling::IsoText(now);
    QSqlQuery query;
    QString error;
    if (!Select(query,
                QStringLiteral("SELECT %1 FROM silences WHERE ended IS NULL AND "
                               "(untilAt <= ? OR removed IS NOT NULL)")
                    .arg(kSilenceColumns),
                {nowText}, &error)) {
        ErrorLog::RecordError(QStringLiteral("Silences"), error);
        return endings;
    }
    QList<std::pair<Silence, QDateTime>> silences;
    while (query.next()) silences.append({SilenceFrom(query), FromIso(query.value(8))});
    for (const auto& [s, removed] : silences) {
        const QDateTime end = removed.isValid() && removed < s.until ? removed : s.until;
        if (!Mark(QStringLiteral("UPDATE silences SET ended = ? WHERE id = ?"), {nowText, s.id})) {
            continue;
        }
        if (s.from < end) endings.append({s.deviceId, s.port, s.from, end, SilenceName(s)});
    }
    if (!Select(
            query,
            QStringLiteral("SELECT %1 FROM maintenance WHERE ended IS NULL").arg(kWindowColumns),
            {}, &error)) {
        ErrorLog::RecordError(QStringLiteral("Silences"), error);
        return endings;
    }
    struct Row {
        Window w;
        QDateTime removed, toldEnd;
    };
    QList<Row> rows;
    while (query.next()) {
        rows.append({WindowFrom(query), FromIso(query.value(8)), FromIso(query.value(10))});
    }
    for (const Row& row : rows) {
        const Window& w = row.w;
        if (!w.weekly) {
            if (!row.removed.isValid() && w.to > now) continue;
            const QDateTime end = row.removed.isValid() && row.removed < w.to ? row.removed : w.to;
            if (!Mark(QStringLiteral("UPDATE maintenance SET ended = ? WHERE id = ?"),
                      {nowText, w.id})) {
                continue;
            }
            if (w.from < end) endings.append({w.deviceId, kDevice, w.from, end, WindowName(w)});
            continue;
        }
        // A weekly window: the last occurrence ended since the last one told
        // (or since it was made); a removal ends the one going on.
        const QDateTime upTo = row.removed.isValid() ? row.removed : now;
        const QDateTime toldUpTo = row.toldEnd.isValid() ? row.toldEnd : w.from;
        const auto last = LastEnded(*w.weekly, upTo);
        const bool lastDue = last && last->second > toldUpTo;
        const auto cut =
            row.removed.isValid() ? OccurrenceAt(*w.weekly, row.removed) : std::nullopt;
        if (!lastDue && !row.removed.isValid()) continue;
        if (!Mark(QStringLiteral("UPDATE maintenance SET toldEnd = ?, ended = ? WHERE id = ?"),
                  {lastDue ? IsoOrNull(last->second) : IsoOrNull(row.toldEnd),
                   row.removed.isValid() ? QVariant(nowText) : QVariant(), w.id})) {
            continue;
        }
        if (lastDue && last->first < toldUpTo) {
            endings.append({w.deviceId, kDevice, toldUpTo, last->second, WindowName(w)});
        } else if (lastDue) {
            endings.append({w.deviceId, kDevice, last->first, last->second, WindowName(w)});
        }
        if (cut) endings.append({w.deviceId, kDevice, cut->first, row.removed, WindowName(w)});
    }
    return endings;
}

QString During(const QDateTime& began, const Ending& e) {
    return (began >= e.start ? QStringLiteral("began during ")
                             : QStringLiteral("went on through ")) +
           e.what + QStringLiteral(", which ended ") + Local(e.end);
}

// The device's open alarms of the ended cover's ports, still unacknowledged
// and covered by nothing else, to its alarm list.
void TellAlarms(const Ending& e, const ServerDatabase::ServerRow& server,
                const QList<ServerDatabase::OpenAlarm>& open, const QDateTime& now) {
    if (server.emailList.trimmed().isEmpty()) return;
    QList<ServerDatabase::SensorListing> sensors;
    if (!ServerDatabase::ListSensors(server.id, sensors)) return;
    for (const ServerDatabase::OpenAlarm& alarm : open) {
        const auto sensor = std::find_if(sensors.begin(), sensors.end(),
                                         [&](const auto& s) { return s.id == alarm.sensorId; });
        if (sensor == sensors.end() || alarm.start >= e.end) continue;
        if (e.port != kDevice && sensor->port != e.port) continue;
        if (Covers(server.id, sensor->port, now)) continue;
        std::optional<AlarmHandling::Acknowledgement> ack;
        QString error;
        if (!AlarmHandling::CurrentAcknowledgement(alarm.id, now, ack, &error)) {
            ErrorLog::RecordError(QStringLiteral("Silences"), error);
            continue;
        }
        if (ack) continue;
        ServerDatabase::AlarmRecord record;
        if (!ServerDatabase::ReadAlarmRecord(alarm.id, record, &error)) continue;
        const QString cause = record.cause + kCR + kCR + QStringLiteral("This alarm ") +
                              During(alarm.start, e) +
                              QStringLiteral("; it is still open and nobody has acknowledged it.");
        // An alarm e-mail held back is now sent: its record says so when the
        // delivery ends. One that went out before keeps its time.
        const bool heldBack = !Clock::FromDbStamp(record.emailSent).isValid();
        QString errorText;
        if (!EmailNotification::PostAlarmEmail(
                server.emailList, alarm.sensor, alarm.server, cause, heldBack ? alarm.id : 0,
                errorText,
                heldBack ? Alarms::MailReceipt() : QString::fromLatin1(Outbox::kNoReceipt))) {
            ErrorLog::RecordError(QStringLiteral("Silences"), errorText);
            continue;
        }
        Notices::Event told;
        told.name = heldBack ? QStringLiteral("alarm.opened") : QStringLiteral("alarm.reminder");
        told.alarmId = alarm.id;
        told.start = alarm.start;
        told.state = QStringLiteral("open");
        told.cause = QString(cause).replace(kCR, QStringLiteral("\n"));
        told.reading = alarm.currentData;
        told.value = Notices::ValueOf(alarm.currentData);
        told.deviceId = server.id;
        told.deviceName = server.name.trimmed();
        told.deviceAddress = server.ip.trimmed();
        told.sensorId = alarm.sensorId;
        told.sensorName = alarm.sensor.trimmed();
        told.port = sensor->port;
        Notices::Tell(told);
        // The reminders count from this notice.
        std::optional<AlarmHandling::NoticeSchedule> schedule;
        AlarmHandling::ReadNoticeSchedule(alarm.id, schedule);
        AlarmHandling::NoticeSchedule next = schedule.value_or(AlarmHandling::NoticeSchedule{});
        next.lastNotice = now;
        QString addresses;
        EmailNotification::ParseEmailAddress(server.emailList, addresses);
        if (!AlarmHandling::SaveNoticeSchedule(alarm.id, next, QStringLiteral("after silence"),
                                               addresses, &errorText)) {
            ErrorLog::RecordError(QStringLiteral("Silences"), errorText);
        }
        EventLog::Warning(QStringLiteral("Alarm told after its silence: device ") + alarm.server +
                          QStringLiteral(", sensor ") + alarm.sensor + QStringLiteral(": it ") +
                          During(alarm.start, e));
    }
}

// A device still failing when its silence or maintenance ends, to the
// failure address.
void TellFailure(const Ending& e, const ServerDatabase::ServerRow& server, const QDateTime& now) {
    if (e.port != kDevice || Covers(server.id, kDevice, now)) return;
    ServerDatabase::OpenRecord failure;
    if (!ServerDatabase::ReadOpenFailure(server.id, failure) || failure.id == 0) return;
    // Not mailed yet (its first failed cycle): the failure rule mails it.
    if (failure.emailSent == QLatin1String("False")) return;
    const QDateTime offLine = Clock::FromDbStamp(failure.start);
    if (!offLine.isValid() || offLine >= e.end) return;
    const bool heldBack = !Clock::FromDbStamp(failure.emailSent).isValid();
    const QString text = QStringLiteral("The device: ") + server.name +
                         QStringLiteral(
                             ", still does not respond to requests for data.  It "
                             "stopped answering ") +
                         Clock::GeneralDateText(offLine) + QStringLiteral("; the failure ") +
                         During(offLine, e) + QStringLiteral(".  The servers's IP address is: ") +
                         server.ip;
    QString errorText;
    if (!EmailNotification::PostTextEmail(text, errorText,
                                          heldBack ? EmailNotification::FailureMailReceipt()
                                                   : QString::fromLatin1(Outbox::kNoReceipt),
                                          heldBack ? failure.id : 0)) {
        ErrorLog::RecordError(QStringLiteral("Silences"), errorText);
        return;
    }
    Notices::Tell(Notices::DeviceEvent(QStringLiteral("device.down"), server.id, server.name,
                                       server.ip, text));
    EventLog::Warning(QStringLiteral("Device failure told after its maintenance: ") + server.name +
                      QStringLiteral(" at ") + server.ip + QStringLiteral(": it ") +
                      During(offLine, e));
}

}  // namespace

QString Weekly::Text() const {
    return QLocale::c().dayName(day, QLocale::ShortFormat) + u' ' +
           start.toString(QStringLiteral("HH:mm")) + u'-' + end.toString(QStringLiteral("HH:mm"));
}

std::optional<Weekly> ParseWeekly(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*([A-Za-z]+)\\s+(\\d{1,2}:\\d{2})\\s*-\\s*(\\d{1,2}:\\d{2})\\s*$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QString day = match.captured(1).toLower();
    Weekly w;
    w.day = 0;
    for (int d = 1; d <= 7; ++d) {
        const QString full = QLocale::c().dayName(d, QLocale::LongFormat).toLower();
        if (day == full || day == full.left(3)) w.day = d;
    }
    const auto time = [](const QString& t) {
        return QTime::fromString(t.size() == 4 ? u'0' + t : t, QStringLiteral("HH:mm"));
    };
    w.start = time(match.captured(2));
    w.end = time(match.captured(3));
    if (w.day == 0 || !w.start.isValid() || !w.end.isValid() || w.start == w.end) {
        return std::nullopt;
    }
    return w;
}

bool State::Silenced(qint64 deviceId, int port) const {
    return covered.contains({deviceId, kDevice}) || covered.contains({deviceId, port});
}

bool AddSilence(qint64 deviceId, const QString& device, int port, const QDateTime& until,
                const AlarmHandling::Actor& actor, const QString& comment, qint64& id,
                QString* error) {
    const QDateTime now = Clock::Now();
    if (!until.isValid() || until <= now) {
        return Fail(error, QStringLiteral("the silence would end before it begins"));
    }
    Silence s{0, deviceId, device.trimmed(), port, now, until, actor.by.trimmed(), comment};
    return AlarmHandling::WriteAudited(
        actor, QStringLiteral("silence"),
        [&](QSqlDatabase db, AlarmHandling::AuditEntry& entry, QString& reason, QString&) {
            QSqlQuery query(db);
            if (!AlarmHandling::Run(
                    query,
                    QStringLiteral("INSERT INTO silences (device, name, port, "
                                   "fromAt, untilAt, by, comment) VALUES (?, ?, "
                                   "?, ?, ?, ?, ?)"),
                    {deviceId, s.device, port, AlarmHandling::IsoText(now),
                     AlarmHandling::IsoText(until), s.by, NotNull(comment.trimmed())},
                    reason)) {
                return false;
            }
            id = s.id = query.lastInsertId().toLongLong();
            entry.device = s.device;
            entry.newValue = SilenceText(s);
            return true;
        },
        error);
}

bool RemoveSilence(qint64 id, const AlarmHandling::Actor& actor, QString* error) {
    return Removal(true, id, actor, error);
}

namespace {
QJsonValue JsonTime(const QDateTime& when) {
    return when.isValid() ? QJsonValue(AlarmHandling::IsoText(when)) : QJsonValue();
}
}  // namespace

QJsonObject Json(const Silence& s) {
    return QJsonObject{{"id", s.id},
                       {"device", s.device},
                       {"port", s.port == kDevice ? QJsonValue() : QJsonValue(s.port)},
                       {"from", JsonTime(s.from)},
                       {"until", JsonTime(s.until)},
                       {"by", s.by},
                       {"comment", s.comment}};
}

QJsonObject Json(const Window& w) {
    return QJsonObject{{"id", w.id},
                       {"device", w.device},
                       {"from", w.weekly ? QJsonValue() : JsonTime(w.from)},
                       {"to", w.weekly ? QJsonValue() : JsonTime(w.to)},
                       {"weekly", w.weekly ? QJsonValue(w.weekly->Text()) : QJsonValue()},
                       {"by", w.by},
                       {"comment", w.comment}};
}

bool ListSilences(QList<Silence>& silences, QString* error) {
    silences.clear();
    if (NoStore()) return true;
    QSqlQuery query;
    if (!Select(query,
                QStringLiteral("SELECT %1 FROM silences WHERE removed IS NULL AND untilAt > ? "
                               "ORDER BY id")
                    .arg(kSilenceColumns),
                {AlarmHandling::IsoText(Clock::Now())}, error)) {
        return false;
    }
    while (query.next()) silences.append(SilenceFrom(query));
    return true;
}

bool ParseSchedule(const QString& from, const QString& to, const QString& weekly,
                   const QString& prefix, Window& window, QString* error) {
    const bool oneOff = !from.trimmed().isEmpty() || !to.trimmed().isEmpty();
    if (oneOff == !weekly.trimmed().isEmpty() ||
        (oneOff && (from.trimmed().isEmpty() || to.trimmed().isEmpty()))) {
        return Fail(error, QStringLiteral("a maintenance window takes %1from TIME and %1to TIME, "
                                          "or %1weekly \"DAY HH:MM-HH:MM\"")
                               .arg(prefix));
    }
    if (!oneOff) {
        window.weekly = ParseWeekly(weekly);
        if (!window.weekly) {
            return Fail(error, QStringLiteral("%1weekly takes a day and a period such as \"Sun "
                                              "02:00-04:00\", not '%2'")
                                   .arg(prefix, weekly));
        }
        window.from = window.to = QDateTime();
        return true;
    }
    window.weekly.reset();
    for (const auto& [name, text, when] :
         {std::tuple{"from", from, &window.from}, std::tuple{"to", to, &window.to}}) {
        const auto parsed = AlarmHandling::ParseTime(text.trimmed());
        if (!parsed) {
            return Fail(error, QStringLiteral("%1%2 takes a time such as 2026-12-09T02:00, not "
                                              "'%3'")
                                   .arg(prefix, QLatin1String(name), text));
        }
        *when = *parsed;
    }
    if (window.to <= window.from) {
        return Fail(error,
                    QStringLiteral("the window ends (%1) before it starts (%2)").arg(to, from));
    }
    return true;
}

bool AddWindow(const Window& window, const AlarmHandling::Actor& actor, qint64& id,
               QString* error) {
    const QDateTime now = Clock::Now();
    Window w = window;
    w.device = w.device.trimmed();
    w.by = actor.by.trimmed();
    w.comment = w.comment.trimmed();
    if (!w.weekly) {
        if (!w.from.isValid() || !w.to.isValid() || w.to <= w.from) {
            return Fail(error, QStringLiteral("the maintenance window would end before it begins"));
        }
        if (w.to <= now) return Fail(error, QStringLiteral("the maintenance window is over"));
    } else {
        // Occurrences before it was made are not its own.
        w.from = now;
        w.to = QDateTime();
    }
    return AlarmHandling::WriteAudited(
        actor, QStringLiteral("maintenance"),
        [&](QSqlDatabase db, AlarmHandling::AuditEntry& entry, QString& reason, QString&) {
            QSqlQuery query(db);
            if (!AlarmHandling::Run(
                    query,
                    QStringLiteral("INSERT INTO maintenance (device, name, fromAt, toAt, weekly, "
                                   "by, comment) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                    {w.deviceId, w.device, AlarmHandling::IsoText(w.from), IsoOrNull(w.to),
                     w.weekly ? QVariant(w.weekly->Text()) : QVariant(), w.by, NotNull(w.comment)},
                    reason)) {
                return false;
            }
            id = w.id = query.lastInsertId().toLongLong();
            entry.device = w.device;
            entry.newValue = WindowText(w);
            return true;
        },
        error);
}

bool RemoveWindow(qint64 id, const AlarmHandling::Actor& actor, QString* error) {
    return Removal(false, id, actor, error);
}

bool ListWindows(QList<Window>& windows, QString* error) {
    windows.clear();
    if (NoStore()) return true;
    QSqlQuery query;
    if (!Select(query,
                QStringLiteral("SELECT %1 FROM maintenance WHERE removed IS NULL AND "
                               "(weekly IS NOT NULL OR toAt > ?) ORDER BY id")
                    .arg(kWindowColumns),
                {AlarmHandling::IsoText(Clock::Now())}, error)) {
        return false;
    }
    while (query.next()) windows.append(WindowFrom(query));
    return true;
}

bool Covers(qint64 deviceId, int port, const QDateTime& now, QString* why) {
    if (NoStore()) return false;
    const QString nowText = AlarmHandling::IsoText(now);
    QSqlQuery query;
    QString error;
    QDateTime until;
    QString sentence;
    const auto consider = [&](const QDateTime& end, const QString& text) {
        if (until.isValid() && end <= until) return;
        until = end;
        sentence = text;
    };
    if (!Select(query,
                QStringLiteral("SELECT %1 FROM silences WHERE device = ? AND removed IS NULL AND "
                               "fromAt <= ? AND untilAt > ? AND (port = ? OR port = ?)")
                    .arg(kSilenceColumns),
                {deviceId, nowText, nowText, kDevice, port}, &error)) {
        ErrorLog::RecordError(QStringLiteral("Silences"), error);
        return false;
    }
    while (query.next()) {
        const Silence s = SilenceFrom(query);
        consider(s.until, PortText(s.device, s.port) + QStringLiteral(" is silenced until ") +
                              Local(s.until) + u' ' + Who(s.by, s.comment));
    }
    if (!Select(query,
                QStringLiteral("SELECT %1 FROM maintenance WHERE device = ? AND removed IS NULL "
                               "AND (weekly IS NOT NULL OR (fromAt <= ? AND toAt > ?))")
                    .arg(kWindowColumns),
                {deviceId, nowText, nowText}, &error)) {
        ErrorLog::RecordError(QStringLiteral("Silences"), error);
        return false;
    }
    while (query.next()) {
        const Window w = WindowFrom(query);
        if (w.weekly) {
            const auto o = OccurrenceAt(*w.weekly, now);
            if (!o || o->second <= w.from) continue;
            consider(o->second, w.device + QStringLiteral(" is in its weekly maintenance (") +
                                    w.weekly->Text() + QStringLiteral(") until ") +
                                    Local(o->second) + u' ' + Who(w.by, w.comment));
        } else {
            consider(w.to, w.device + QStringLiteral(" is in maintenance until ") + Local(w.to) +
                               u' ' + Who(w.by, w.comment));
        }
    }
    if (why) *why = sentence;
    return until.isValid();
}

int PortOf(qint64 deviceId, qint64 sensorId) {
    QList<ServerDatabase::SensorListing> sensors;
    if (!ServerDatabase::ListSensors(deviceId, sensors)) return kDevice;
    for (const auto& s : sensors) {
        if (s.id == sensorId) return s.port;
    }
    return kDevice;
}

bool ReadState(const QDateTime& now, State& state, QString* error) {
    state = State();
    if (NoStore()) return true;
    const QString nowText = AlarmHandling::IsoText(now);
    QSqlQuery query;
    // One query for the whole snapshot, however many sensors it shows.
    if (!Select(query,
                QStringLiteral(
                    "SELECT 'a', alarm, 0, expires, NULL, id FROM acknowledgements"
                    " WHERE ended IS NULL"
                    " UNION ALL SELECT 's', device, port, NULL, NULL, id FROM silences"
                    " WHERE removed IS NULL AND fromAt <= ? AND untilAt > ?"
                    " UNION ALL SELECT 'm', device, -1, fromAt, weekly, id FROM maintenance"
                    " WHERE removed IS NULL AND (weekly IS NOT NULL OR (fromAt <= ? AND toAt > ?))"
                    " ORDER BY 1, 6"),
                {nowText, nowText, nowText, nowText}, error)) {
        return false;
    }
    // The last acknowledgement of an alarm is the one that counts, as
    // AlarmHandling::CurrentAcknowledgement has it.
    QHash<qint64, bool> acknowledged;
    while (query.next()) {
        const QString kind = query.value(0).toString();
        const qint64 id = query.value(1).toLongLong();
        if (kind == QLatin1String("a")) {
            const QDateTime expires = FromIso(query.value(3));
            acknowledged[id] = !expires.isValid() || expires > now;
        } else if (kind == QLatin1String("s")) {
            state.covered.insert({id, query.value(2).toInt()});
        } else if (query.value(4).isNull()) {
            state.covered.insert({id, kDevice});
            state.maintenance.insert(id);
        } else if (const auto weekly = ParseWeekly(query.value(4).toString())) {
            const auto o = OccurrenceAt(*weekly, now);
            if (o && o->second > FromIso(query.value(3))) {
                state.covered.insert({id, kDevice});
                state.maintenance.insert(id);
            }
        }
    }
    for (auto it = acknowledged.cbegin(); it != acknowledged.cend(); ++it) {
        if (it.value()) state.acknowledged.insert(it.key());
    }
    return true;
}

void AfterCycle() {
    if (NoStore()) return;
    const QDateTime now = Clock::Now();
    const QList<Ending> endings = CollectEndings(now);
    if (endings.isEmpty()) return;
    QList<ServerDatabase::OpenAlarm> open;
    ServerDatabase::ListOpenAlarms(open, kMaxAlarms);
    for (const Ending& e : endings) {
        ServerDatabase::ServerRow server;
        if (!ServerDatabase::ReadServer(e.deviceId, server)) continue;
        EventLog::Info(QStringLiteral("Ended: ") + e.what);
        TellAlarms(e, server, open, now);
        TellFailure(e, server, now);
    }
}

}  // namespace Silences
