#include "core/Alarms.h"

#include <QHash>
#include <algorithm>
#include <optional>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/AlarmHandling.h"
#include "core/Decoding.h"
#include "core/EmailNotification.h"
#include "core/Journal.h"
#include "core/Notices.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/Reminders.h"
#include "core/ServiceLog.h"
#include "core/Silences.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace Alarms {
namespace {
const QString kCR = QStringLiteral("\r");
// The outbox's names for this module's messages: an alarm whose record is
// written (by row), one whose record waits in the journal (by its ref), and
// one of an earlier version that booked such alarms only in memory.
const QString kAlarmReceipt = QStringLiteral("alarm");
const QString kWaitingReceipt = QStringLiteral("alarm-ref");
const QString kOldDeferredReceipt = QStringLiteral("deferred-alarm");

// What the program knows of a sensor's open alarm, database or not.
using Journal::Known;
// Per sensor: what the database said last, with what was written to it
// since; it stands in while the database cannot be read.
QHash<qint64, Known>& LastRead() {
    static QHash<qint64, Known> known;
    return known;
}

QString Who(const SensorReading& r);

// Per sensor: whether its last reading was a probe fault (open, short, not
// connected); unknown after a start.
QHash<qint64, bool>& LastFault() {
    static QHash<qint64, bool> faults;
    return faults;
}

bool IsProbeFault(float value) {
    return value == Decoding::kSensorOpen || value == Decoding::kSensorShorted ||
           value == Decoding::kNotConnected;
}

// The cycle's acknowledgements and silences (CycleHandling); none outside one.
std::optional<Silences::State>& CycleState() {
    static std::optional<Silences::State> state;
    return state;
}

// How a sensor's grid cell tells whether somebody is on it: "acknowledged"
// (its open alarm `alarmRow`), "silenced", or empty.
QString HandlingOf(qint64 alarmRow, qint64 deviceId, int port) {
    if (const std::optional<Silences::State>& state = CycleState()) {
        if (alarmRow > 0 && state->acknowledged.contains(alarmRow)) {
            return QStringLiteral("acknowledged");
        }
        if (port >= 0 && state->Silenced(deviceId, port)) return QStringLiteral("silenced");
        return {};
    }
    const QDateTime now = Clock::Now();
    std::optional<AlarmHandling::Acknowledgement> ack;
    if (alarmRow > 0 && AlarmHandling::CurrentAcknowledgement(alarmRow, now, ack) && ack) {
        return QStringLiteral("acknowledged");
    }
    if (port >= 0 && Silences::Covers(deviceId, port, now)) return QStringLiteral("silenced");
    return {};
}

// An alarm acknowledged while out of limits whose probe then fails is a new
// situation: the acknowledgement no longer holds, and the trail says why.
void DropAcknowledgementOnWorsening(const SensorReading& r, const Known& k) {
    if (r.value == Decoding::kNoData) return;
    const bool fault = IsProbeFault(r.value);
    const bool wasFault = LastFault().value(r.sensorId, true);
    LastFault().insert(r.sensorId, fault);
    if (!fault || wasFault || !k.open || k.row == 0) return;
    std::optional<AlarmHandling::Acknowledgement> ack;
    if (!AlarmHandling::CurrentAcknowledgement(k.row, Clock::Now(), ack) || !ack) return;
    QString error;
    const AlarmHandling::Actor fernlog{QStringLiteral("fernlog"), AlarmHandling::SystemUser(),
                                       AlarmHandling::Origin::Program};
    if (AlarmHandling::Unacknowledge(
            {k.row, r.deviceName, true}, fernlog, &error,
            QStringLiteral("the reading turned into a probe fault: ") + r.readingText)) {
        if (CycleState()) CycleState()->acknowledged.remove(k.row);
        EventLog::Warning(QStringLiteral("Acknowledgement by ") + ack->by +
                          QStringLiteral(" dropped: ") + Who(r) +
                          QStringLiteral(" turned into a probe fault"));
    } else {
        ErrorLog::RecordError(QStringLiteral("ProcessAlarm"), error);
    }
}

QString Who(const SensorReading& r) {
    return QStringLiteral("device ") + r.deviceName + QStringLiteral(", sensor ") + r.sensorName +
           QStringLiteral(", reading ") + ServiceLog::ReadingWithUnit(r.readingText, r.units);
}

bool ChangesWaitFor(qint64 sensorId) {
    return Journal::ChangesWaitFor(sensorId, true);
}

Known WithWaiting(const Known& k, qint64 sensorId) {
    return Journal::WithWaiting(k, sensorId, true);
}

Known ReadKnown(qint64 sensorId, bool& read) {
    ServerDatabase::OpenRecord open;
    read = ServerDatabase::ReadOpenAlarm(sensorId, open);
    if (!read || open.id == 0) return {};
    return Known{true, open.id, 0, open.start, open.emailSent};
}

// The recipients heard of the alarm: its e-mail went out or is on its way.
bool Told(const Known& k) {
    return Clock::FromDbStamp(k.emailSent).isValid() ||
           (k.row > 0 && Outbox::Pending(kAlarmReceipt, k.row)) ||
           (k.ref > 0 && Outbox::Pending(kWaitingReceipt, k.ref));
}

// A change of the sensor's record, named by row when it has one.
Journal::Change ChangeOf(Journal::Kind kind, qint64 sensorId, const Known& k) {
    Journal::Change c;
    c.kind = kind;
    c.owner = sensorId;
    c.row = k.row;
    c.ref = k.row > 0 ? 0 : k.ref;
    return c;
}

Notices::Event NoticeOf(const QString& name, const SensorReading& r, qint64 alarmId) {
    Notices::Event e;
    e.name = name;
    e.alarmId = alarmId;
    e.reading = r.readingText;
    e.value = Notices::ValueOf(r.readingText);
    e.unit = r.units;
    e.deviceId = r.deviceId;
    e.deviceName = r.deviceName;
    e.sensorId = r.sensorId;
    e.sensorName = r.sensorName;
    e.port = r.port;
    return e;
}

// The alarm's record (at once, or through the journal) and its e-mail.
Known OpenAlarm(const SensorReading& r) {
    Known k;
    k.open = true;
    k.start = Clock::DbStamp();
    QString cause;
    SensorState::ComposeCause(cause, r.minutes, r.deviceName, r.sensorName, r.sensorType,
                              r.readingText, r.units, r.notes);
    EventLog::Warning(QStringLiteral("Alarm started: ") + Who(r) + QStringLiteral(": ") +
                      QString(cause).replace(kCR, QStringLiteral(" ")).simplified());
    const bool addressed = !r.emailList.trimmed().isEmpty();
    // Nobody is told while a silence or maintenance covers the sensor; its
    // end tells the alarm if it is still open then.
    QString silence;
    const bool covered = Silences::Covers(r.deviceId, r.port, Clock::Now(), &silence);
    const bool silenced = addressed && covered;
    Journal::Change open;
    open.kind = Journal::Kind::AlarmOpen;
    open.owner = r.sensorId;
    open.ref = Journal::NewRef();
    open.time = k.start;
    open.server = r.deviceName;
    open.sensor = r.sensorName;
    open.currentData = r.readingText;
    open.tol = r.minutes;
    open.cause = cause;
    if (!addressed) {
        open.emailSent = QStringLiteral("An attempt to send an alarm email was made at: ") +
                         Clock::GeneralDateText() + kCR +
                         QStringLiteral(
                             "The email could not be sent as no email addresses have been "
                             "programmed for this device.");
        k.emailSent = *open.emailSent;
    } else if (silenced) {
        open.emailSent = QStringLiteral("No alarm email was sent: ") + silence;
        k.emailSent = *open.emailSent;
        EventLog::Info(QStringLiteral("Alarm e-mail held back: ") + silence);
    }
    k.row = Journal::Write(open);
    if (k.row == 0) k.ref = open.ref;
    if (!covered) {
        Notices::Event told = NoticeOf(QStringLiteral("alarm.opened"), r, k.row);
        told.start = Clock::FromDbStamp(k.start);
        told.state = QStringLiteral("open");
        told.cause = QString(cause).replace(kCR, QStringLiteral("\n"));
        Notices::Tell(told);
    }
    if (addressed && !silenced) {
        // EmailSent is written when its delivery ends.
        QString errorText;
        if (!EmailNotification::PostAlarmEmail(r.emailList, r.sensorName, r.deviceName, cause,
                                               k.row > 0 ? k.row : k.ref, errorText,
                                               k.row > 0 ? kAlarmReceipt : kWaitingReceipt)) {
            Journal::Change mailed = ChangeOf(Journal::Kind::AlarmUpdate, r.sensorId, k);
            mailed.emailSent = EmailNotification::MailErrorText(errorText);
            k.emailSent = *mailed.emailSent;
            Journal::Write(mailed);
            EmailNotification::ShowMailError(false, QStringLiteral("See Alarm Tab for details"));
        }
    }
    return k;
}

// The owner who asked for recovery notices hears that the alarm is over, at
// the addresses that heard of its start; addresses that never heard of it
// get nothing, and the record says why.
void SendAlarmEnd(const SensorReading& r, const Known& k, const QString& end) {
    if (!Options::Load().recoveryNotices || r.emailList.trimmed().isEmpty()) return;
    if (!Told(k)) {
        Journal::Change why = ChangeOf(Journal::Kind::AlarmUpdate, r.sensorId, k);
        why.emailSent = k.emailSent + kCR +
                        QStringLiteral(
                            "No back to normal email was sent, as the alarm email was "
                            "not.");
        Journal::Write(why);
        return;
    }
    // Everyone told of the alarm: its escalation list too, once escalated.
    QString addresses;
    EmailNotification::ParseEmailAddress(r.emailList, addresses);
    const QString escalated = Reminders::EscalatedTo(k.row, r.deviceId);
    if (!escalated.isEmpty()) {
        addresses += (addresses.endsWith(u',') ? QString() : QStringLiteral(",")) + escalated;
    }
    QString errorText;
    if (!EmailNotification::SendAlarmEndEmail(addresses, r.sensorName, r.deviceName,
                                              Clock::FromDbStamp(k.start), Clock::FromDbStamp(end),
                                              r.readingText, errorText)) {
        ErrorLog::RecordError(QStringLiteral("SendAlarmEndEmail"), errorText);
    }
}

void CloseAlarm(const SensorReading& r, const Known& k) {
    // Its record could not be read: the next cycle closes it.
    if (k.row == 0 && k.ref == 0) return;
    Journal::Change close = ChangeOf(Journal::Kind::AlarmClose, r.sensorId, k);
    close.time = Clock::DbStamp();
    if (Journal::Write(close) > 0) LastRead().remove(r.sensorId);
    EventLog::Info(QStringLiteral("Alarm ended: ") + Who(r) + QStringLiteral(" (alarm since ") +
                   k.start + QStringLiteral(")"));
    SendAlarmEnd(r, k, close.time);
    if (!Silences::Covers(r.deviceId, r.port, Clock::Now())) {
        Notices::Event told = NoticeOf(QStringLiteral("alarm.closed"), r, k.row);
        told.start = Clock::FromDbStamp(k.start);
        told.end = Clock::FromDbStamp(close.time);
        told.state = QStringLiteral("closed");
        Notices::Tell(told);
    }
}

QString EmailSentText(bool sent, const QString& reason) {
    return sent ? Clock::DbStamp() : EmailNotification::MailErrorText(reason);
}

// What an alarm e-mail's delivery writes into its record.
void Mailed(qint64 row, qint64 ref, bool sent, const QString& reason) {
    Journal::Change c;
    c.kind = Journal::Kind::AlarmUpdate;
    c.row = row;
    c.ref = ref;
    c.emailSent = EmailSentText(sent, reason);
    Journal::Write(c);
    for (Known& k : LastRead()) {
        if (row > 0 && k.row == row) k.emailSent = *c.emailSent;
    }
    EmailNotification::ShowMailError(sent, QStringLiteral("See Alarm Tab for details"));
}

// Registered as the program loads: an alarm e-mail read back from the
// outbox at the start is recorded like one posted in this run, and what the
// journal writes later is known here.
[[maybe_unused]] const bool kReceiptsKnown =
    Outbox::SetReceiptHandler(
        kAlarmReceipt,
        [](qint64 row, bool sent, const QString& reason) { Mailed(row, 0, sent, reason); }) &&
    Outbox::SetReceiptHandler(
        kWaitingReceipt,
        [](qint64 ref, bool sent, const QString& reason) { Mailed(0, ref, sent, reason); }) &&
    Outbox::SetReceiptHandler(kOldDeferredReceipt,
                              [](qint64, bool sent, const QString&) {
                                  EmailNotification::ShowMailError(
                                      sent, QStringLiteral("See Alarm Tab for details"));
                              }) &&
    Journal::SetWrittenHandler(
        Journal::Kind::AlarmOpen,
        [](const Journal::Change& c, qint64 row) {
            Outbox::Rebind(kWaitingReceipt, c.ref, kAlarmReceipt, row);
            LastRead()[c.owner] = Known{true, row, 0, c.time, c.emailSent.value_or(QString())};
        }) &&
    Journal::SetWrittenHandler(Journal::Kind::AlarmClose, [](const Journal::Change& c, qint64 row) {
        if (LastRead().value(c.owner).row == row) {
            LastRead().remove(c.owner);
        }
    });

}  // namespace

QString MailReceipt() {
    return kAlarmReceipt;
}

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
    // The database decides while it can be read and nothing of the sensor
    // waits in the journal; otherwise what the program knows does.
    const bool byDatabase = counted && !ChangesWaitFor(r.sensorId);
    Known k;
    if (byDatabase) {
        Known& last = LastRead()[r.sensorId];
        if (open == 0) {
            last = Known();
        } else if (!last.open || last.row == 0) {
            bool read = false;
            last = ReadKnown(r.sensorId, read);
            last.open = true;
        }
        k = last;
    } else {
        bool read = false;
        Known base = counted ? ReadKnown(r.sensorId, read) : LastRead().value(r.sensorId);
        if (counted && !read) base = LastRead().value(r.sensorId);
        k = WithWaiting(base, r.sensorId);
        active = k.open ? 1 : 0;
    }
    DropAcknowledgementOnWorsening(r, k);
    if (r.value != Decoding::kNoData) {
        const bool alarm = IsAlarmCondition(r.value, r.status);
        bool changed = false;
        if (!alarm && k.open) {
            CloseAlarm(r, k);
            k = Known();
            changed = true;
        } else if (alarm && !k.open) {
            k = OpenAlarm(r);
            if (k.row > 0) LastRead()[r.sensorId] = k;
            changed = true;
        }
        // The grid follows the device's verdict, whether or not the
        // database has taken it yet.
        if (changed && (ChangesWaitFor(r.sensorId) ||
                        !ServerDatabase::RecordActiveAlarms(r.sensorId, active))) {
            active = k.open ? 1 : 0;
        }
    }
    SensorState::RowStatus status = SensorState::GridStatus(r.value, active);
    // The grid tells an alarm somebody is on from one nobody is.
    status.handling = HandlingOf(active > 0 && k.open ? k.row : 0, r.deviceId, r.port);
    return status;
}

namespace {
// An acknowledgement made by a command or the web, told to the channels by
// the running program, which learns of it from the trail.
void TellAcknowledged(const AlarmHandling::AuditRow& row) {
    ServerDatabase::AlarmRecord record;
    std::optional<AlarmHandling::Acknowledgement> ack;
    if (!ServerDatabase::ReadAlarmRecord(row.alarm, record) ||
        !AlarmHandling::CurrentAcknowledgement(row.alarm, Clock::Now(), ack) || !ack) {
        return;
    }
    Notices::Event e;
    e.name = QStringLiteral("alarm.acknowledged");
    e.alarmId = record.id;
    e.start = record.start;
    e.state = QStringLiteral("acknowledged");
    e.cause = QString(record.cause).replace(kCR, QStringLiteral("\n"));
    e.reading = record.currentData;
    e.value = Notices::ValueOf(record.currentData);
    e.ackBy = ack->by;
    e.ackAt = ack->at;
    e.ackComment = ack->comment;
    e.deviceName = record.server.trimmed();
    e.sensorId = record.sensorId;
    e.sensorName = record.sensor.trimmed();
    Notices::Tell(e);
}
qint64 lastAction = -1;  // the trail's last row told; -1 before the first look
}  // namespace

void TakeUpActions() {
    QList<AlarmHandling::AuditRow> rows;
    if (!AlarmHandling::ListAuditAfter(std::max<qint64>(lastAction, 0), rows)) return;
    const bool first = lastAction < 0;
    if (!rows.isEmpty()) lastAction = rows.constLast().id;
    if (first) {
        lastAction = std::max<qint64>(lastAction, 0);
        return;
    }
    if (rows.isEmpty()) return;
    for (const AlarmHandling::AuditRow& row : rows) {
        // What fernlog did itself was told when it did it.
        if (row.origin == QLatin1String("program")) continue;
        QString line = row.action + QStringLiteral(" by ") + row.by + QStringLiteral(" (") +
                       row.user + QStringLiteral(", ") + row.origin + u')';
        if (row.alarm) line += QStringLiteral(" alarm %1").arg(row.alarm);
        if (!row.device.isEmpty()) line += QStringLiteral(" on ") + row.device;
        if (!row.newValue.isEmpty()) {
            line += QStringLiteral(": ") + QString(row.newValue).replace(kCR, QStringLiteral(" "));
        }
        EventLog::Info(QStringLiteral("Action: ") + line);
        if (row.action == QLatin1String("acknowledge") && row.alarm > 0) TellAcknowledged(row);
    }
    // The marks as the next cycle would set them, from one read of the store.
    const CycleHandling once;
    StatusGridModel& grid = StatusGrid::Model();
    for (size_t i = 0; i < grid.Rows().size(); ++i) {
        const GridRow& row = grid.Rows()[i];
        if (row.sensorId == 0) continue;
        ServerDatabase::OpenRecord open;
        const bool alarm = row.status == QLatin1String("ALARM") &&
                           ServerDatabase::ReadOpenAlarm(row.sensorId, open) && open.id > 0;
        grid.SetHandling(i, HandlingOf(alarm ? open.id : 0, row.deviceId, row.port));
    }
}

CycleHandling::CycleHandling() {
    // An unreadable store leaves each sensor to ask for itself, as outside
    // a cycle (and then a notice too many rather than one lost).
    Silences::State state;
    if (Silences::ReadState(Clock::Now(), state)) {
        CycleState() = std::move(state);
    } else {
        CycleState().reset();
    }
}

CycleHandling::~CycleHandling() {
    CycleState().reset();
}

void Reset() {
    lastAction = -1;
    LastRead().clear();
    LastFault().clear();
}

}  // namespace Alarms
