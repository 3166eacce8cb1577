#include "core/Channels.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>

#include "core/HandlingStore.h"
#include "core/WebRequest.h"

namespace Channels {
namespace {

const QString kTable = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS channels (name TEXT PRIMARY KEY, kind TEXT NOT NULL,"
    " url TEXT NOT NULL DEFAULT '', events TEXT NOT NULL DEFAULT '',"
    " devices TEXT NOT NULL DEFAULT '', command TEXT NOT NULL DEFAULT '',"
    " everyMinutes INTEGER NOT NULL DEFAULT 0, fallback INTEGER NOT NULL DEFAULT 0,"
    " secret TEXT NOT NULL DEFAULT '')");

// SQLite takes a null text as NULL, which the columns refuse.
QString NotNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// The command's words are kept one per line: a word holds no line break
// (Check refuses one).
QString Words(const QStringList& words) {
    return NotNull(words.join(u'\n'));
}
QStringList FromWords(const QString& text) {
    return text.isEmpty() ? QStringList() : text.split(u'\n');
}

std::optional<QSqlDatabase> Store(QString& error) {
    auto db = AlarmHandling::Connection(&error);
    if (!db) return std::nullopt;
    QSqlQuery query(*db);
    if (!AlarmHandling::Run(query, kTable, {}, error)) return std::nullopt;
    return db;
}

Channel Of(const QSqlQuery& q) {
    Channel c;
    c.name = q.value(0).toString();
    c.kind = q.value(1).toString();
    c.url = q.value(2).toString();
    c.events = FromWords(q.value(3).toString());
    c.devices = FromWords(q.value(4).toString());
    c.command = FromWords(q.value(5).toString());
    c.everyMinutes = q.value(6).toInt();
    c.fallback = q.value(7).toInt() != 0;
    return c;
}

const QString kSelect = QStringLiteral(
    "SELECT name, kind, url, events, devices, command, everyMinutes, fallback FROM channels");

QString Describe(const Channel& c) {
    QString text =
        c.kind + u' ' + (c.kind == QLatin1String("command") ? c.command.join(u' ') : c.url);
    if (!c.events.isEmpty()) text += QStringLiteral(" events ") + c.events.join(u',');
    if (!c.devices.isEmpty()) text += QStringLiteral(" devices ") + c.devices.join(u',');
    if (c.everyMinutes > 0) text += QStringLiteral(" every %1 min").arg(c.everyMinutes);
    if (c.fallback) text += QStringLiteral(" fallback");
    return text;
}

}  // namespace

const QStringList& EventNames() {
    static const QStringList names{
        QStringLiteral("alarm.opened"),    QStringLiteral("alarm.reminder"),
        QStringLiteral("alarm.escalated"), QStringLiteral("alarm.acknowledged"),
        QStringLiteral("alarm.closed"),    QStringLiteral("device.down"),
        QStringLiteral("device.up"),       QStringLiteral("test")};
    return names;
}

QStringList Kinds() {
    return {QStringLiteral("webhook"), QStringLiteral("alertmanager"), QStringLiteral("command"),
            QStringLiteral("heartbeat")};
}

bool Check(const Channel& c, QString* error) {
    const auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    static const QRegularExpression namePattern(QStringLiteral("^[A-Za-z0-9._-]{1,40}$"));
    if (!namePattern.match(c.name).hasMatch()) {
        return fail(
            QStringLiteral("'%1' is not a channel name (1-40 letters, digits, '.', '_', '-')")
                .arg(c.name));
    }
    if (!Kinds().contains(c.kind))
        return fail(QStringLiteral("'%1' is not a channel kind").arg(c.kind));
    for (const QString& event : c.events) {
        if (!EventNames().contains(event)) {
            return fail(QStringLiteral("'%1' is not an event; the events are: %2")
                            .arg(event, EventNames().join(QStringLiteral(", "))));
        }
    }
    if (c.kind == QLatin1String("command")) {
        if (c.command.isEmpty())
            return fail(QStringLiteral("a command channel needs -- PROGRAM [ARG...]"));
        for (const QString& word : c.command) {
            if (word.contains(u'\n') || word.contains(QChar(0))) {
                return fail(QStringLiteral("a word of the command holds a line break"));
            }
        }
        const QFileInfo program(c.command.first());
        if (!program.isAbsolute() || !program.isFile() || !program.isExecutable()) {
            return fail(QStringLiteral("'%1' is not an executable file (give its full path)")
                            .arg(c.command.first()));
        }
        return true;
    }
    if (!WebRequest::CheckUrl(c.url, nullptr, error)) return false;
    if (c.kind == QLatin1String("heartbeat") && (c.everyMinutes < 1 || c.everyMinutes > 10080)) {
        return fail(QStringLiteral("a heartbeat needs --every MINUTES, 1-10080"));
    }
    return true;
}

bool List(QList<Channel>& channels, QString* error) {
    channels.clear();
    // No store yet: no channel was ever added, and none is made for asking.
    if (!QFileInfo::exists(AlarmHandling::Path())) return true;
    QString reason;
    const auto db = Store(reason);
    QSqlQuery query(db ? *db : QSqlDatabase());
    if (!db || !AlarmHandling::Run(query, kSelect + QStringLiteral(" ORDER BY name"), {}, reason)) {
        if (error) *error = reason;
        return false;
    }
    while (query.next()) channels.append(Of(query));
    return true;
}

bool Find(const QString& name, Channel& channel, QString* error) {
    QList<Channel> channels;
    if (!List(channels, error)) return false;
    for (const Channel& c : channels) {
        if (c.name == name) {
            channel = c;
            return true;
        }
    }
    if (error) *error = QStringLiteral("there is no channel '%1'").arg(name);
    return false;
}

QString Secret(const QString& name) {
    QString reason;
    const auto db = Store(reason);
    if (!db) return {};
    QSqlQuery query(*db);
    if (!AlarmHandling::Run(query, QStringLiteral("SELECT secret FROM channels WHERE name = ?"),
                            {name}, reason) ||
        !query.next()) {
        return {};
    }
    return query.value(0).toString();
}

bool Add(const Channel& c, const QString& secret, const AlarmHandling::Actor& actor,
         QString* error) {
    if (!Check(c, error)) return false;
    QString reason;
    if (!Store(reason)) {
        if (error) *error = reason;
        return false;
    }
    return AlarmHandling::WriteAudited(
        actor, QStringLiteral("channel added"),
        [&](QSqlDatabase db, AlarmHandling::AuditEntry& entry, QString& why, QString& refusal) {
            QSqlQuery query(db);
            if (!AlarmHandling::Run(query, QStringLiteral("SELECT 1 FROM channels WHERE name = ?"),
                                    {c.name}, why)) {
                return false;
            }
            if (query.next()) {
                refusal = QStringLiteral("the channel name '%1' is taken").arg(c.name);
                return false;
            }
            entry.device = c.devices.join(u',');
            // The secret itself stays out of the trail.
            entry.newValue = c.name + QStringLiteral(": ") + Describe(c) +
                             (secret.isEmpty() ? QString() : QStringLiteral(" signed"));
            return AlarmHandling::Run(
                query,
                QStringLiteral(
                    "INSERT INTO channels (name, kind, url, events, devices, command,"
                    " everyMinutes, fallback, secret) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                {c.name, c.kind, NotNull(c.url), Words(c.events), Words(c.devices),
                 Words(c.command), c.everyMinutes, c.fallback ? 1 : 0, NotNull(secret)},
                why);
        },
        error);
}

bool Remove(const QString& name, const AlarmHandling::Actor& actor, QString* error) {
    QString reason;
    if (!Store(reason)) {
        if (error) *error = reason;
        return false;
    }
    return AlarmHandling::WriteAudited(
        actor, QStringLiteral("channel removed"),
        [&](QSqlDatabase db, AlarmHandling::AuditEntry& entry, QString& why, QString& refusal) {
            QSqlQuery query(db);
            if (!AlarmHandling::Run(query, kSelect + QStringLiteral(" WHERE name = ?"), {name},
                                    why)) {
                return false;
            }
            if (!query.next()) {
                refusal = QStringLiteral("there is no channel '%1'").arg(name);
                return false;
            }
            entry.oldValue = name + QStringLiteral(": ") + Describe(Of(query));
            return AlarmHandling::Run(query, QStringLiteral("DELETE FROM channels WHERE name = ?"),
                                      {name}, why);
        },
        error);
}

}  // namespace Channels
