#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include "core/AlarmHandling.h"
#include "db/ServerDatabase.h"

// An alarm's timeline as `fernlog alarm show` and the main window's alarm
// view show it: opened, the e-mail it sent, what people did, reminders and
// escalation, closed.
namespace AlarmTimeline {

struct Event {
    QDateTime at;
    QString kind, by = {}, text = {}, channel = {}, to = {}, result = {};
};

// The record's events with the trail's rows about it, in time order.
QList<Event> Of(const ServerDatabase::AlarmRecord& record,
                const QList<AlarmHandling::AuditRow>& trail);
// "12/8/2026 3:12:41 AM  notified (email to chef@example.com): sent".
QString Line(const Event& event);
// A time as the lines show it (local general date text; "-" when invalid).
QString Local(const QDateTime& when);

}  // namespace AlarmTimeline
