#include "core/AlarmViews.h"

#include <QJsonArray>

#include "common/Clock.h"
#include "core/Silences.h"

namespace AlarmViews {

QString View::State() const {
    if (record.end.isValid()) return QStringLiteral("closed");
    return ack ? QStringLiteral("acknowledged") : QStringLiteral("open");
}

QJsonValue IsoOrNull(const QDateTime& when) {
    return when.isValid() ? QJsonValue(AlarmHandling::IsoText(when)) : QJsonValue();
}

QJsonValue TextOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

bool Attach(View& view, QString* error) {
    if (!AlarmHandling::CurrentAcknowledgement(view.record.id, Clock::Now(), view.ack, error)) {
        return false;
    }
    if (view.record.end.isValid()) return true;
    QList<ServerDatabase::ServerRow> servers;
    ServerDatabase::ListServers(servers);
    for (const auto& server : servers) {
        if (server.name.trimmed() != view.record.server.trimmed()) continue;
        view.silenced = Silences::Covers(
            server.id, Silences::PortOf(server.id, view.record.sensorId), Clock::Now());
    }
    return true;
}

bool List(QList<View>& views, bool openOnly, const QDateTime& since, QString* error) {
    QList<ServerDatabase::AlarmRecord> records;
    QString reason;
    if (!ServerDatabase::ListAlarmRecords(records, openOnly, since, &reason)) {
        if (error)
            *error = QStringLiteral("the alarms cannot be read from the database: ") + reason;
        return false;
    }
    views.clear();
    for (const auto& record : records) {
        View view{record, std::nullopt, false};
        if (!Attach(view, &reason)) {
            if (error)
                *error = QStringLiteral("the alarm handling store cannot be read: ") + reason;
            return false;
        }
        views << view;
    }
    return true;
}

bool Read(qint64 alarmId, View& view, QList<AlarmTimeline::Event>& events, QString* error) {
    if (!ServerDatabase::ReadAlarmRecord(alarmId, view.record, error)) return false;
    QString reason;
    QList<AlarmHandling::AuditRow> trail;
    if (!Attach(view, &reason) || !AlarmHandling::ListAudit(trail, QDateTime(), alarmId, &reason)) {
        if (error) *error = QStringLiteral("the alarm handling store cannot be read: ") + reason;
        return false;
    }
    events = AlarmTimeline::Of(view.record, trail);
    return true;
}

QJsonObject Json(const View& view) {
    const auto& record = view.record;
    return QJsonObject{{"id", record.id},
                       {"device", record.server},
                       {"sensor", record.sensor},
                       {"sensorId", record.sensorId},
                       {"start", IsoOrNull(record.start)},
                       {"end", IsoOrNull(record.end)},
                       {"state", view.State()},
                       {"acknowledgedBy", view.ack ? QJsonValue(view.ack->by) : QJsonValue()},
                       {"acknowledgedAt", view.ack ? IsoOrNull(view.ack->at) : QJsonValue()},
                       {"silenced", view.silenced},
                       {"resolution", TextOrNull(record.resolution)}};
}

QJsonObject DetailJson(const View& view, const QList<AlarmTimeline::Event>& events) {
    QJsonObject object = Json(view);
    object.insert("cause", view.record.cause);
    object.insert("reading", view.record.currentData);
    object.insert("emailSent", view.record.emailSent);
    QJsonArray list;
    for (const AlarmTimeline::Event& e : events) {
        QJsonObject item{
            {"at", IsoOrNull(e.at)}, {"kind", e.kind}, {"by", TextOrNull(e.by)}, {"text", e.text}};
        if (!e.channel.isEmpty()) {
            item.insert("channel", e.channel);
            item.insert("to", e.to);
            item.insert("result", e.result);
        }
        list.append(item);
    }
    object.insert("events", list);
    return object;
}

}  // namespace AlarmViews
