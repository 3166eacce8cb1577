#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "core/ChannelOutbox.h"
#include "core/Notices.h"
#include "core/Windows.h"

// What the web side shows, copied out of the program's state in one go:
// the pages and the metrics are plain functions over it, and taking it
// changes nothing.
namespace Web {

struct SensorView {
    qint64 id = 0;
    qint64 deviceId = 0;
    QString device;
    QString name;
    QString reading;  // as the status grid shows it ("72.5", "Open", "No Data")
    QString units;
    QString status;  // "Normal", "ALARM", "NO DATA"; empty before its first cycle
    Colour colour = Colour::White;
    std::optional<double> value;  // none without data or for a fault value
    bool alarm = false;
    bool acknowledged = false;  // its open alarm is acknowledged
    bool silenced = false;      // a silence or maintenance window covers it
    bool maintenance = false;   // its device is in a maintenance window
    QDateTime lastGood;
};

struct DeviceView {
    qint64 id = 0;
    QString name;
    QString address;
    bool up = false;  // answered (a busy answer counts) when last visited
    bool busy = false;
    QDateTime lastSeen;
    QDateTime failingSince;
};

struct AlarmView {
    qint64 sensorId = 0;
    QString device;
    QString sensor;
    QString reading;
    QDateTime start;
    qint64 id = 0;  // tblAlarms.IDNum
    bool acknowledged = false;
    bool silenced = false;
    bool maintenance = false;
};

// Polling alive: a cycle ended within three update periods (or three of
// the last cycle's length, when cycles take longer), the settings file and
// the database readable.
struct Health {
    bool ok = false;
    // Cycles end in time, whatever the files say: what the service
    // manager's watchdog asks, since a restart mends no unreadable file
    // and polling goes on through a database outage.
    bool alive = false;
    // Nothing to poll yet (the register lists no sensor): not healthy, but
    // not hung either.
    bool waiting = false;
    QString reason;  // one line
};

struct HealthFacts {
    QDateTime now;
    QDateTime lastCycleEnd;  // invalid before the first cycle
    QDateTime started;       // when the program started
    int updateSeconds = 60;
    qint64 lastCycleMs = 0;
    bool pollingScheduled = false;  // the poll timer runs or a cycle does
    bool settingsReadable = true;
    bool databaseReadable = true;
};
Health JudgeHealth(const HealthFacts& facts);

struct Snapshot {
    QString title;    // "Fernlog"
    QString version;  // "1.0.0"
    QDateTime generated;
    int updateSeconds = 60;  // the effective update period
    Health health;

    std::vector<SensorView> sensors;
    std::vector<DeviceView> devices;
    std::vector<AlarmView> alarms;
    bool alarmsRead = true;  // false: the database could not be asked
    // Why e-mail the program would send can go nowhere (core/MailWarnings).
    QStringList warnings;

    qint64 cycles = 0;
    QDateTime lastCycleStart;  // invalid before the first cycle
    qint64 lastCycleMs = 0;
    qint64 readings = 0;
    qint64 emailsSent = 0;
    qint64 emailsFailed = 0;
    int emailsWaiting = 0;
    // The notification channels' deliveries, and notices that failed for good.
    QMap<QString, ChannelOutbox::Figures> channels;
    QList<Notices::Failure> noticeFailures;
};

// Open alarms shown at most.
constexpr int kMaxAlarms = 500;

// The program's state now. The open alarms come from the database, read
// only when asked for (the metrics take them from the grid) or when an
// acknowledgement is in force; what people did about them is one read of
// the alarm-handling store.
Snapshot Take(bool withAlarms);
// The health rule over the program's state now.
Health CurrentHealth();
// The moment health counts from before the first cycle; set at start-up.
void MarkStarted();
// Back to a fresh start: the start moment is now.
void Reset();

}  // namespace Web
