#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

#include "core/AlarmHandling.h"
#include "core/AlarmTimeline.h"
#include "db/ServerDatabase.h"

// An alarm record with what people did about it, as `fernlog alarms`,
// `fernlog alarm show` and the web pages list and show it, and its JSON
// object, so every client reads one shape.
namespace AlarmViews {

struct View {
    ServerDatabase::AlarmRecord record;
    std::optional<AlarmHandling::Acknowledgement> ack;
    bool silenced = false;  // open, and a silence or maintenance covers its sensor now

    QString State() const;  // "open", "acknowledged", "closed"
};

// The handling state of `view.record` now; false when the store cannot be read.
bool Attach(View& view, QString* error = nullptr);
// The alarm records (as ServerDatabase::ListAlarmRecords) with their state.
bool List(QList<View>& views, bool openOnly, const QDateTime& since, QString* error = nullptr);
// One alarm with its timeline; false with the reason ("there is no alarm 7"
// for an unknown one).
bool Read(qint64 alarmId, View& view, QList<AlarmTimeline::Event>& events,
          QString* error = nullptr);

// The object of `fernlog alarms --json`.
QJsonObject Json(const View& view);
// The object of `fernlog alarm show --json`: Json() with the cause, the
// reading, the e-mail state and the events.
QJsonObject DetailJson(const View& view, const QList<AlarmTimeline::Event>& events);

QJsonValue IsoOrNull(const QDateTime& when);
QJsonValue TextOrNull(const QString& text);

}  // namespace AlarmViews
