#include "core/Reminders.h"

#include <QHash>
#include <QList>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/AlarmHandling.h"
#include "core/EmailNotification.h"
#include "core/Notices.h"
#include "core/Options.h"
#include "core/ServiceLog.h"
#include "core/Silences.h"
#include "core/StatusGrid.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace Reminders {
namespace {
// More open alarms than this are not looked at in one cycle.
constexpr int kMaxAlarms = 1000;

QString Addresses(const QString& list) {
    QString addresses;
    EmailNotification::ParseEmailAddress(list, addresses);
    return addresses;
}

QString Joined(const QString& a, const QString& b) {
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    return a.endsWith(u',') ? a + b : a + u',' + b;
}

// The sensor's reading as the grid shows it now.
QString LatestReading(qint64 sensorId, const QString& fallback) {
    for (const GridRow& row : StatusGrid::Model().Rows()) {
        if (row.sensorId == sensorId) return ServiceLog::ReadingWithUnit(row.reading, row.units);
    }
    return fallback;
}
}  // namespace

void AfterCycle() {
    const Options::Values options = Options::Load();
    if (options.remindMinutes <= 0 && options.escalateMinutes <= 0) return;
    QList<ServerDatabase::OpenAlarm> open;
    if (!ServerDatabase::ListOpenAlarms(open, kMaxAlarms) || open.isEmpty()) return;
    QList<ServerDatabase::ServerRow> servers;
    QHash<qint64, QString> lists;
    QString error;
    if (!ServerDatabase::ListServers(servers) || !AlarmHandling::EscalationLists(lists, &error)) {
        if (!error.isEmpty()) ErrorLog::RecordError(QStringLiteral("Reminders"), error);
        return;
    }
    const QDateTime now = Clock::Now();
    for (const ServerDatabase::OpenAlarm& alarm : open) {
        const auto server = std::find_if(servers.begin(), servers.end(), [&](const auto& s) {
            return s.name.trimmed() == alarm.server.trimmed();
        });
        if (server == servers.end()) continue;
        std::optional<AlarmHandling::Acknowledgement> ack;
        std::optional<AlarmHandling::NoticeSchedule> stored;
        if (!AlarmHandling::CurrentAcknowledgement(alarm.id, now, ack, &error) ||
            !AlarmHandling::ReadNoticeSchedule(alarm.id, stored, &error)) {
            ErrorLog::RecordError(QStringLiteral("Reminders"), error);
            return;
        }
        if (ack ||
            Silences::Covers(server->id, Silences::PortOf(server->id, alarm.sensorId), now)) {
            continue;
        }
        AlarmHandling::NoticeSchedule schedule =
            stored.value_or(AlarmHandling::NoticeSchedule{alarm.start, 0, QDateTime()});
        const QString alarmList = Addresses(server->emailList);
        const QString escalationList = Addresses(lists.value(server->id));
        const QString reading = LatestReading(alarm.sensorId, alarm.currentData);
        const QString who =
            QStringLiteral("device ") + alarm.server + QStringLiteral(", sensor ") + alarm.sensor;
        const auto post = [&](EmailNotification::AlarmNotice kind, const QString& to,
                              const QString& what) {
            QString errorText;
            bool mailed = false;
            if (!to.isEmpty()) {
                mailed = EmailNotification::PostAlarmNotice(kind, to, alarm.sensor, alarm.server,
                                                            alarm.start, reading,
                                                            schedule.reminders, errorText);
                if (!mailed) ErrorLog::RecordError(QStringLiteral("Reminders"), errorText);
            }
            // The channels choose by their own events, with or without
            // e-mail addresses for the alarm.
            Notices::Event told;
            told.name = kind == EmailNotification::AlarmNotice::Escalation
                            ? QStringLiteral("alarm.escalated")
                            : QStringLiteral("alarm.reminder");
            told.alarmId = alarm.id;
            told.start = alarm.start;
            told.state = QStringLiteral("open");
            told.reading = reading;
            told.value = Notices::ValueOf(reading);
            told.deviceId = server->id;
            told.deviceName = alarm.server.trimmed();
            told.deviceAddress = server->ip.trimmed();
            told.sensorId = alarm.sensorId;
            told.sensorName = alarm.sensor.trimmed();
            told.port = Silences::PortOf(server->id, alarm.sensorId);
            QStringList reached;
            if (mailed) reached << to;
            for (const QString& channel : Notices::Tell(told))
                reached << QStringLiteral("channel ") + channel;
            // Nobody to tell: nothing is booked, and a list or channel added
            // later is told at once.
            if (to.isEmpty() && reached.isEmpty()) return;
            // The schedule moves on even when the notice cannot be made
            // (no valid address): it is tried again a period later, not
            // every cycle.
            if (!AlarmHandling::SaveNoticeSchedule(
                    alarm.id, schedule,
                    to.isEmpty() || mailed ? what
                                           : what + QStringLiteral(" not sent: ") + errorText,
                    reached.isEmpty() ? to : reached.join(QStringLiteral(", ")), &errorText)) {
                ErrorLog::RecordError(QStringLiteral("Reminders"), errorText);
                return;
            }
            if (reached.isEmpty()) return;
            EventLog::Warning(QStringLiteral("Alarm ") + what + QStringLiteral(" to ") +
                              reached.join(QStringLiteral(", ")) + QStringLiteral(": ") + who +
                              QStringLiteral(" (alarm since ") +
                              Clock::GeneralDateText(alarm.start) + u')');
        };
        if (options.escalateMinutes > 0 && !schedule.escalated.isValid() &&
            alarm.start.addSecs(qint64{options.escalateMinutes} * 60) <= now) {
            schedule.escalated = now;
            post(EmailNotification::AlarmNotice::Escalation, escalationList,
                 QStringLiteral("escalation"));
        }
        const QString remindTo =
            schedule.escalated.isValid() ? Joined(alarmList, escalationList) : alarmList;
        if (options.remindMinutes > 0 &&
            schedule.lastNotice.addSecs(qint64{options.remindMinutes} * 60) <= now) {
            schedule.lastNotice = now;
            ++schedule.reminders;
            post(EmailNotification::AlarmNotice::Reminder, remindTo, QStringLiteral("reminder"));
        }
    }
}

QString EscalatedTo(qint64 alarmId, qint64 deviceId) {
    std::optional<AlarmHandling::NoticeSchedule> schedule;
    QHash<qint64, QString> lists;
    if (alarmId <= 0 || !AlarmHandling::ReadNoticeSchedule(alarmId, schedule) || !schedule ||
        !schedule->escalated.isValid() || !AlarmHandling::EscalationLists(lists)) {
        return {};
    }
    return Addresses(lists.value(deviceId));
}

}  // namespace Reminders
