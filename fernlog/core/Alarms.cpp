#include "core/Alarms.h"

#include <QHash>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/Decoding.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/ServiceLog.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace Alarms {
namespace {
const QString kCR = QStringLiteral("\r");
// The outbox's names for this module's messages: an alarm whose record is
// booked (by row), and one not booked yet (by sensor).
const QString kAlarmReceipt = QStringLiteral("alarm");
const QString kDeferredReceipt = QStringLiteral("deferred-alarm");

// An alarm that started while the database could not be read: mailed at
// once, booked with its real start when the database answers again.
struct Deferred {
    SensorReading r;
    QDateTime start;
    QDateTime end;  // valid when it ended before it could be booked
    QString cause;
    bool mailPending = false;
    QString emailSent;
};
QHash<qint64, Deferred>& DeferredAlarms() {  // by sensor
    static QHash<qint64, Deferred> alarms;
    return alarms;
}
// Booked alarm records whose e-mail is still on its way, by sensor.
QHash<qint64, qint64>& AwaitingMail() {
    static QHash<qint64, qint64> rows;
    return rows;
}
// Sensors with an open alarm record when the database last answered.
QHash<qint64, bool>& KnownOpen() {
    static QHash<qint64, bool> open;
    return open;
}

QString Who(const SensorReading& r) {
    return QStringLiteral("device ") + r.deviceName + QStringLiteral(", sensor ") + r.sensorName +
           QStringLiteral(", reading ") + ServiceLog::ReadingWithUnit(r.readingText, r.units);
}

// Adds the sensor's alarm record starting at `start` and opens it in `open`.
bool AddAndOpen(const SensorReading& r, const QDateTime& start, ServerDatabase::Recordset& open) {
    if (!ServerDatabase::AddAlarmRecord(r.sensorId, start, r.deviceName, r.sensorName,
                                        r.readingText, r.minutes, -1)) {
        return false;
    }
    int count = 0;
    return ServerDatabase::RecordOpenAlarms(QStringLiteral("tblAlarms"),
                                            QStringLiteral("SensorIDNum"), r.sensorId,
                                            QStringLiteral("AlarmEnd"), open, count) &&
           count > 0;
}

void OpenAlarm(const SensorReading& r) {
    const QDateTime now = Clock::Now();
    ServerDatabase::Recordset open;
    if (!AddAndOpen(r, now, open)) return;
    QString cause;
    SensorState::ComposeCause(cause, r.minutes, r.deviceName, r.sensorName, r.sensorType,
                              r.readingText, r.units, r.notes);
    EventLog::Warning(QStringLiteral("Alarm started: ") + Who(r) + QStringLiteral(": ") +
                      QString(cause).replace(kCR, QStringLiteral(" ")).simplified());
    // With an e-mail on its way, EmailSent is written when its delivery ends.
    QString emailSent;
    bool posted = false;
    if (r.emailList.trimmed().isEmpty()) {
        emailSent = QStringLiteral("An attempt to send an alarm email was made at: ") +
                    Clock::GeneralDateText() + kCR +
                    QStringLiteral(
                        "The email could not be sent as no email addresses have been "
                        "programmed for this device.");
    } else {
        QString errorText;
        posted = EmailNotification::PostAlarmEmail(r.emailList, r.sensorName, r.deviceName, cause,
                                                   open.Value(QStringLiteral("IDNum")).toLongLong(),
                                                   errorText, kAlarmReceipt);
        if (!posted) {
            emailSent = EmailNotification::MailErrorText(errorText);
            EmailNotification::ShowMailError(false, QStringLiteral("See Alarm Tab for details"));
        }
    }
    if (!posted) open.SetValue(QStringLiteral("EmailSent"), emailSent);
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
// The database cannot say whether the sensor's alarm is open: what it said
// last, and the alarms started since, decide. A new alarm is told and
// mailed now and booked later.
SensorState::RowStatus DeferAlarm(const SensorReading& r) {
    const bool known = KnownOpen().value(r.sensorId, false);
    auto deferred = DeferredAlarms().find(r.sensorId);
    const bool pending = deferred != DeferredAlarms().end() && !deferred->end.isValid();
    if (r.value == Decoding::kNoData) {
        return SensorState::GridStatus(r.value, known || pending ? 1 : 0);
    }
    const bool alarm = IsAlarmCondition(r.value, r.status);
    if (alarm && !known && deferred == DeferredAlarms().end()) {
        Deferred d;
        d.r = r;
        d.start = Clock::Now();
        SensorState::ComposeCause(d.cause, r.minutes, r.deviceName, r.sensorName, r.sensorType,
                                  r.readingText, r.units, r.notes);
        EventLog::Warning(QStringLiteral("Alarm started: ") + Who(r) + QStringLiteral(": ") +
                          QString(d.cause).replace(kCR, QStringLiteral(" ")).simplified());
        QString errorText;
        if (r.emailList.trimmed().isEmpty()) {
            d.emailSent = QStringLiteral("An attempt to send an alarm email was made at: ") +
                          Clock::GeneralDateText() + kCR +
                          QStringLiteral(
                              "The email could not be sent as no email addresses have been "
                              "programmed for this device.");
        } else if (EmailNotification::PostAlarmEmail(r.emailList, r.sensorName, r.deviceName,
                                                     d.cause, r.sensorId, errorText,
                                                     kDeferredReceipt)) {
            d.mailPending = true;
        } else {
            d.emailSent = EmailNotification::MailErrorText(errorText);
            EmailNotification::ShowMailError(false, QStringLiteral("See Alarm Tab for details"));
        }
        DeferredAlarms().insert(r.sensorId, d);
        return SensorState::GridStatus(r.value, 1);
    }
    if (!alarm && pending) deferred->end = Clock::Now();
    return SensorState::GridStatus(r.value, alarm && (known || pending) ? 1 : 0);
}

// The database answers again: the alarm record, with its real start (and
// end, when it ended meanwhile) and what became of its e-mail.
void BookDeferred(const Deferred& d) {
    const SensorReading& r = d.r;
    ServerDatabase::Recordset open;
    if (!AddAndOpen(r, d.start, open)) return;
    open.SetValue(QStringLiteral("CauseOfAlarm"), d.cause);
    if (d.mailPending) {
        AwaitingMail().insert(r.sensorId, open.Value(QStringLiteral("IDNum")).toLongLong());
    } else {
        open.SetValue(QStringLiteral("EmailSent"), d.emailSent);
    }
    if (d.end.isValid()) {
        open.SetValue(QStringLiteral("AlarmEnd"), Clock::DbStamp(d.end));
        open.SetValue(QStringLiteral("AlarmActive"), 0);
    }
    if (!open.Update()) {
        ErrorLog::RecordError(QStringLiteral("Error updating alarm record in tblAlarms"),
                              open.Error());
    }
}
// The e-mail of an alarm that started while the database could not be read
// has been delivered (EmailSent: the send time or the error sentence).
void DeferredAlarmMailed(qint64 sensorId, const QString& emailSent) {
    if (DeferredAlarms().contains(sensorId)) {
        Deferred& d = DeferredAlarms()[sensorId];
        d.mailPending = false;
        d.emailSent = emailSent;
        return;
    }
    const qint64 row = AwaitingMail().take(sensorId);
    QString error;
    if (row > 0 &&
        !ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::Alarm, row, emailSent, &error)) {
        ErrorLog::RecordError(QStringLiteral("Error updating alarm record in tblAlarms"), error);
    }
}

QString EmailSentText(bool sent, const QString& reason) {
    return sent ? Clock::DbStamp() : EmailNotification::MailErrorText(reason);
}

// Registered as the program loads: an alarm e-mail read back from the
// outbox at the start is recorded like one posted in this run.
[[maybe_unused]] const bool kReceiptsKnown =
    Outbox::SetReceiptHandler(
        kAlarmReceipt,
        [](qint64 row, bool sent, const QString& reason) {
            QString error;
            if (!ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::Alarm, row,
                                              EmailSentText(sent, reason), &error)) {
                ErrorLog::RecordError(QStringLiteral("Outbox"), error);
            }
            EmailNotification::ShowMailError(sent, QStringLiteral("See Alarm Tab for details"));
        }) &&
    Outbox::SetReceiptHandler(
        kDeferredReceipt, [](qint64 sensor, bool sent, const QString& reason) {
            DeferredAlarmMailed(sensor, EmailSentText(sent, reason));
            EmailNotification::ShowMailError(sent, QStringLiteral("See Alarm Tab for details"));
        });

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
    bool counted = ServerDatabase::SensorAlarmCounts(r.sensorId, open, active);
    if (counted && DeferredAlarms().contains(r.sensorId)) {
        BookDeferred(DeferredAlarms().take(r.sensorId));
        counted = ServerDatabase::SensorAlarmCounts(r.sensorId, open, active);
    }
    if (!counted) return DeferAlarm(r);
    if (r.value != Decoding::kNoData) {
        const bool alarm = IsAlarmCondition(r.value, r.status);
        if (!alarm && open > 0) {
            CloseAlarm(r);
            ServerDatabase::RecordActiveAlarms(r.sensorId, active);
            open = 0;
        } else if (alarm && open == 0) {
            OpenAlarm(r);
            ServerDatabase::RecordActiveAlarms(r.sensorId, active);
            open = 1;
        }
    }
    KnownOpen().insert(r.sensorId, open > 0);
    return SensorState::GridStatus(r.value, active);
}

void Reset() {
    DeferredAlarms().clear();
    AwaitingMail().clear();
    KnownOpen().clear();
}

}  // namespace Alarms
