#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// One notice about an alarm or a device, told to every notification channel
// whose events and devices match it (e-mail is sent by its own code, as it
// always was). Each channel's notice is an entry of the channel outbox
// (core/ChannelOutbox) before Tell returns.
namespace Notices {

struct Event {
    QString name;  // "alarm.opened", ... as Channels::EventNames(), or "notification.failed"
    // The alarm (alarm.*): its tblAlarms.IDNum (0 while its record waits
    // in the journal), times, state ("open", "acknowledged", "closed").
    qint64 alarmId = 0;
    QDateTime start, end;
    QString state, cause, reading, unit;
    std::optional<double> value;  // none for a probe fault or no data
    QString ackBy, ackComment;
    QDateTime ackAt;  // invalid: not acknowledged
    // The device; its name and address are looked up when only the id is given.
    qint64 deviceId = 0;
    QString deviceName, deviceAddress;
    // The sensor, for alarms.
    qint64 sensorId = 0;
    QString sensorName;
    int port = -1;
    // A sentence for people (device events, the test, a failed notice).
    QString text;
};

// The JSON document of `event`, version 1 (described in the README).
QByteArray Document(const Event& event, const QDateTime& sentAt);

// Hands `event` to every matching channel. A channel "alertmanager" is
// kept in step by its own sync, and a heartbeat takes no events. Returns
// the names of the channels it went to.
QStringList Tell(Event event);

// A notice about a device (device.down, device.up).
Event DeviceEvent(const QString& name, qint64 deviceId, const QString& deviceName,
                  const QString& address, const QString& text);

// A reading's text as a number, when it is one.
std::optional<double> ValueOf(const QString& readingText);

// What the status page and /api/v1/status list: notices that failed for
// good, newest first (a few dozen kept).
struct Failure {
    QDateTime at;
    QString channel, event, reason;
};
QList<Failure> Failures();

// A notice that failed for good: the service log, the figures, the list
// above, and an e-mail to the administrator address (or, when `channel` is
// "email", the fallback channels). `about` says what the notice was.
void FailedForGood(const QString& channel, const QString& event, const QString& about,
                   const QString& reason);

void Reset();

}  // namespace Notices
