#include "core/Alarms.h"

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/Decoding.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/ServiceLog.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace Alarms {
namespace {
const QString kCR = QStringLiteral("\r");
const QString kMailErrorKey = QStringLiteral("Error sending Alarm Email");

QString Who(const SensorReading& r) {
    return QStringLiteral("device ") + r.deviceName + QStringLiteral(", sensor ") + r.sensorName +
           QStringLiteral(", reading ") + ServiceLog::ReadingWithUnit(r.readingText, r.units);
}

void OpenAlarm(const SensorReading& r) {
    const QDateTime now = Clock::Now();
    if (!ServerDatabase::AddAlarmRecord(r.sensorId, now, r.deviceName, r.sensorName, r.readingText,
                                        r.minutes, -1)) {
        return;
    }
    ServerDatabase::Recordset open;
    int count = 0;
    if (!ServerDatabase::RecordOpenAlarms(QStringLiteral("tblAlarms"),
                                          QStringLiteral("SensorIDNum"), r.sensorId,
                                          QStringLiteral("AlarmEnd"), open, count) ||
        count == 0) {
        return;
    }
    QString cause;
    SensorState::ComposeCause(cause, r.minutes, r.deviceName, r.sensorName, r.sensorType,
                              r.readingText, r.units, r.notes);
    EventLog::Warning(QStringLiteral("Alarm started: ") + Who(r) + QStringLiteral(": ") +
                      QString(cause).replace(kCR, QStringLiteral(" ")).simplified());
    QString emailSent;
    if (r.emailList.trimmed().isEmpty()) {
        emailSent = QStringLiteral("An attempt to send an alarm email was made at: ") +
                    Clock::GeneralDateText() + kCR +
                    QStringLiteral(
                        "The email could not be sent as no email addresses have been "
                        "programmed for this device.");
    } else {
        QString errorText;
        if (EmailNotification::SendAlarmEmail(r.emailList, r.sensorName, r.deviceName, cause,
                                              errorText)) {
            emailSent = Clock::DbStamp();
            StatusList::ShowStatus(kMailErrorKey, QStringLiteral("delete"));
        } else {
            emailSent = QStringLiteral("There was an error sending an alarm email ") +
                        Clock::GeneralDateText() + kCR + QStringLiteral("The email error is:") +
                        kCR + errorText;
            StatusList::ShowStatus(kMailErrorKey, QStringLiteral("See Alarm Tab for details"));
        }
    }
    open.SetValue(QStringLiteral("EmailSent"), emailSent);
    open.SetValue(QStringLiteral("CauseOfAlarm"), cause);
    if (!open.Update()) {
        ErrorLog::RecordError(QStringLiteral("Error updating alarm record in tblAlarms"),
                              open.Error());
    }
}

// The owner who asked for recovery notices hears that the alarm is over, at
// the addresses that heard of its start.
void SendAlarmEnd(const SensorReading& r, const QString& start, const QString& end) {
    if (!Options::Load().recoveryNotices || r.emailList.trimmed().isEmpty()) return;
    QString errorText;
    if (!EmailNotification::SendAlarmEndEmail(r.emailList, r.sensorName, r.deviceName,
                                              Clock::FromDbStamp(start), Clock::FromDbStamp(end),
                                              r.readingText, errorText)) {
        ErrorLog::RecordError(QStringLiteral("SendAlarmEndEmail"), errorText);
    }
}

void CloseAlarm(const SensorReading& r) {
    ServerDatabase::Recordset open;
    int count = 0;
    if (!ServerDatabase::RecordOpenAlarms(QStringLiteral("tblAlarms"),
                                          QStringLiteral("SensorIDNum"), r.sensorId,
                                          QStringLiteral("AlarmEnd"), open, count) ||
        count == 0) {
        return;
    }
    const QString start = open.Text(QStringLiteral("AlarmStart"));
    const QString end = Clock::DbStamp();
    open.SetValue(QStringLiteral("AlarmEnd"), end);
    open.SetValue(QStringLiteral("AlarmActive"), 0);
    if (!open.Update()) {
        ErrorLog::RecordError(QStringLiteral("Error updating alarm record in tblAlarms"),
                              open.Error());
        return;
    }
    open.Release();
    EventLog::Info(QStringLiteral("Alarm ended: ") + Who(r) + QStringLiteral(" (alarm since ") +
                   start + QStringLiteral(")"));
    SendAlarmEnd(r, start, end);
}
}  // namespace

bool IsAlarmCondition(float value, int status) {
    return value == Decoding::kSensorOpen || value == Decoding::kSensorShorted ||
           value == Decoding::kNotConnected || status >= 1;
}

SensorState::RowStatus ProcessAlarm(const SensorReading& r) {
    // One query answers the common cases (nothing open and normal, or an
    // alarm still going on); the counts are read again only after a change.
    int open = 0;
    int active = 0;
    const bool counted = ServerDatabase::SensorAlarmCounts(r.sensorId, open, active);
    if (counted && r.value != Decoding::kNoData) {
        const bool alarm = IsAlarmCondition(r.value, r.status);
        if (!alarm && open > 0) {
            CloseAlarm(r);
            ServerDatabase::RecordActiveAlarms(r.sensorId, active);
        } else if (alarm && open == 0) {
            OpenAlarm(r);
            ServerDatabase::RecordActiveAlarms(r.sensorId, active);
        }
    }
    return SensorState::GridStatus(r.value, active);
}

}  // namespace Alarms
