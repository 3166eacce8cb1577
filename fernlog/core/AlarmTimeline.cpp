#include "core/AlarmTimeline.h"

#include <algorithm>
#include <optional>

#include "common/Clock.h"
#include "core/EmailNotification.h"

namespace AlarmTimeline {
namespace {

QString EventKind(const QString& action) {
    if (action == QLatin1String("acknowledge")) return QStringLiteral("acknowledged");
    if (action == QLatin1String("unacknowledge")) return QStringLiteral("unacknowledged");
    if (action == QLatin1String("comment")) return QStringLiteral("commented");
    if (action == QLatin1String("resolve")) return QStringLiteral("resolved");
    return action;
}

// What the alarm's e-mail did, as EmailSent keeps it: a stamp when it went
// out, otherwise the reason it did not.
std::optional<Event> Notice(const ServerDatabase::AlarmRecord& record) {
    const QString sent = record.emailSent;
    if (sent.isEmpty() || sent == QLatin1String("False")) return std::nullopt;
    Event event;
    event.kind = QStringLiteral("notified");
    event.channel = QStringLiteral("email");
    const QDateTime at = Clock::FromDbStamp(sent);
    event.at = at.isValid() ? at : record.start;
    event.result = at.isValid() ? QStringLiteral("sent") : sent;
    QList<ServerDatabase::ServerRow> servers;
    if (ServerDatabase::ListServers(servers)) {
        for (const auto& server : servers) {
            if (server.name.trimmed() == record.server) {
                QString list;
                EmailNotification::ParseEmailAddress(server.emailList, list);
                QStringList addresses;
                for (const QString& a : list.split(u',', Qt::SkipEmptyParts)) {
                    if (!a.trimmed().isEmpty()) addresses << a.trimmed();
                }
                event.to = addresses.join(QStringLiteral(", "));
            }
        }
    }
    return event;
}

}  // namespace

QList<Event> Of(const ServerDatabase::AlarmRecord& record,
                const QList<AlarmHandling::AuditRow>& trail) {
    QList<Event> events;
    events << Event{record.start, QStringLiteral("opened"), QString(), record.cause};
    if (const auto notice = Notice(record)) events << *notice;
    for (const auto& row : trail) {
        events << Event{row.at, EventKind(row.action), row.by, row.newValue};
    }
    // Reminders and escalations: handed to the outbox, or why not.
    QList<AlarmHandling::SentNotice> sent;
    AlarmHandling::ListSentNotices(record.id, sent);
    for (const auto& notice : sent) {
        const bool escalation = notice.kind.startsWith(QLatin1String("escalation"));
        const qsizetype why = notice.kind.indexOf(QLatin1String(" not sent: "));
        events << Event{
            notice.at,
            notice.kind.startsWith(QLatin1String("after silence")) ? QStringLiteral("notified")
            : escalation                                           ? QStringLiteral("escalated")
                                                                   : QStringLiteral("reminded"),
            QString(),
            QString(),
            QStringLiteral("email"),
            notice.recipients,
            why < 0 ? QStringLiteral("handed to the outbox") : notice.kind.mid(why + 11)};
    }
    if (record.end.isValid()) events << Event{record.end, QStringLiteral("closed")};
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.at < b.at; });
    return events;
}

QString Local(const QDateTime& when) {
    return when.isValid() ? Clock::GeneralDateText(when.toLocalTime()) : QStringLiteral("-");
}

QString Line(const Event& e) {
    QString line = QStringLiteral("%1  %2").arg(Local(e.at), e.kind);
    if (!e.by.isEmpty()) line += QStringLiteral(" by ") + e.by;
    if (!e.channel.isEmpty()) {
        line += e.to.isEmpty() ? QStringLiteral(" (%1): %2").arg(e.channel, e.result)
                               : QStringLiteral(" (%1 to %2): %3").arg(e.channel, e.to, e.result);
    } else if (!e.text.isEmpty()) {
        line += QStringLiteral(": ") +
                QString(e.text).replace(u'\r', u' ').replace(u'\n', u' ').simplified();
    }
    return line;
}

}  // namespace AlarmTimeline
