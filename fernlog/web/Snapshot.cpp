#include "web/Snapshot.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QTimer>

#include "common/Clock.h"
#include "common/ProgramDir.h"
#include "core/Decoding.h"
#include "core/MailWarnings.h"
#include "core/Outbox.h"
#include "core/Polling.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/Silences.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "db/ServerDatabase.h"
#include "web/Sessions.h"

namespace Web {
namespace {
QDateTime& Started() {
    static QDateTime started = Clock::Now();
    return started;
}

std::optional<double> ValueOf(const GridRow& row) {
    if (row.status.isEmpty()) return std::nullopt;
    return Decoding::Measured(row.value);
}

int UpdateSeconds() {
    return qMax(1, Polling::TicksPerUpdate) * Polling::kPollIntervalMs / 1000;
}

HealthFacts Facts() {
    HealthFacts facts;
    facts.now = Clock::Now();
    const Polling::CycleFigures cycle = Polling::LastCycle();
    // On the program's clock, as `now` is: a test's fixed clock stands still
    // while the cycle's real milliseconds pass.
    if (cycle.number > 0) facts.lastCycleEnd = cycle.end;
    facts.lastCycleMs = cycle.durationMs;
    facts.started = Started();
    facts.updateSeconds = UpdateSeconds();
    facts.pollingScheduled = Polling::PollTimer().isActive() || Polling::CycleRunning;
    // Opened, not parsed: reading it into the settings record would change
    // the program's state.
    QFile settings(Settings::FilePath());
    facts.settingsReadable = !settings.exists() || settings.open(QIODevice::ReadOnly);
    facts.databaseReadable = !ServerData::DatabaseOut;
    return facts;
}
}  // namespace

void MarkStarted() {
    Started() = Clock::Now();
}

void Reset() {
    MarkStarted();
    Sessions::Reset();
}

Health JudgeHealth(const HealthFacts& f) {
    Health health;
    const qint64 allowedMs = 3 * qMax<qint64>(f.updateSeconds * 1000LL, f.lastCycleMs);
    if (!f.lastCycleEnd.isValid()) {
        if (!f.pollingScheduled) {
            health.waiting = true;
            health.reason = QStringLiteral("not polling: no sensor to poll yet");
        } else if (f.started.msecsTo(f.now) <= allowedMs) {
            health.alive = true;
            health.reason = QStringLiteral("starting: no polling cycle has ended yet");
        } else {
            health.reason = QStringLiteral("no polling cycle has ended since the start %1 s ago")
                                .arg(f.started.secsTo(f.now));
        }
    } else if (const qint64 sinceMs = f.lastCycleEnd.msecsTo(f.now); sinceMs > allowedMs) {
        health.reason = QStringLiteral("no polling cycle has ended for %1 s (allowed %2 s)")
                            .arg(sinceMs / 1000)
                            .arg(allowedMs / 1000);
    } else {
        health.alive = true;
        health.reason = QStringLiteral("ok");
    }
    if (!health.alive) return health;
    if (!f.settingsReadable) {
        health.reason = QStringLiteral("the settings file cannot be read");
    } else if (!f.databaseReadable) {
        health.reason = QStringLiteral(
            "the database cannot be read; polling goes on with the "
            "register it gave last");
    } else {
        health.ok = true;
    }
    return health;
}

Health CurrentHealth() {
    return JudgeHealth(Facts());
}

Snapshot Take(bool withAlarms) {
    Snapshot s;
    s.title = Startup::ProgramTitle();
    s.version = Startup::VersionText();
    s.generated = Clock::Now();
    s.updateSeconds = UpdateSeconds();
    s.health = JudgeHealth(Facts());
    s.warnings = MailWarnings::Current();

    // A sensor shown twice (rows left over after the register shrank) would
    // make a scraper refuse the whole answer for a duplicate series.
    QSet<qint64> shown;
    for (const GridRow& row : StatusGrid::Model().Rows()) {
        if (row.sensorId == 0 && row.sensor.isEmpty()) continue;  // not filled yet
        if (shown.contains(row.sensorId)) continue;
        shown.insert(row.sensorId);
        SensorView v;
        v.id = row.sensorId;
        v.deviceId = row.deviceId;
        v.device = row.device.trimmed();
        v.name = row.sensor.trimmed();
        v.reading = row.reading;
        v.units = row.units.trimmed();
        v.status = row.status;
        v.colour = row.colour;
        v.value = ValueOf(row);
        v.alarm = row.status == QLatin1String("ALARM");
        v.lastGood = row.lastGood;
        s.sensors.push_back(v);
    }
    for (const Polling::DeviceState& d : Polling::Devices()) {
        DeviceView v;
        v.id = d.id;
        v.name = d.name.trimmed();
        v.address = d.address;
        v.busy = d.outcome == Polling::DeviceState::Outcome::Busy;
        v.up = d.outcome != Polling::DeviceState::Outcome::Failed;
        v.lastSeen = d.lastSeen;
        v.failingSince = d.failingSince;
        s.devices.push_back(v);
    }
    Silences::State handled;
    Silences::ReadState(s.generated, handled);
    QHash<qint64, std::pair<qint64, int>> portOf;  // sensor: device and port
    for (const GridRow& row : StatusGrid::Model().Rows()) {
        if (row.sensorId != 0) portOf.insert(row.sensorId, {row.deviceId, row.port});
    }
    QHash<qint64, qint64> openAlarmOf;  // sensor: its open alarm
    if (withAlarms || !handled.acknowledged.isEmpty()) {
        QList<ServerDatabase::OpenAlarm> open;
        const bool read =
            !ServerData::DatabaseOut && ServerDatabase::ListOpenAlarms(open, kMaxAlarms);
        if (withAlarms) s.alarmsRead = read;
        for (const auto& a : open) {
            openAlarmOf.insert(a.sensorId, a.id);
            if (!withAlarms) continue;
            const auto where = portOf.value(a.sensorId, {0, Silences::kDevice});
            s.alarms.push_back({a.sensorId, a.server, a.sensor, a.currentData, a.start, a.id,
                                handled.acknowledged.contains(a.id),
                                where.first != 0 && handled.Silenced(where.first, where.second),
                                handled.maintenance.contains(where.first)});
        }
    }
    for (SensorView& v : s.sensors) {
        const auto where = portOf.value(v.id, {v.deviceId, Silences::kDevice});
        v.silenced = handled.Silenced(where.first, where.second);
        v.maintenance = handled.maintenance.contains(where.first);
        v.acknowledged =
            openAlarmOf.contains(v.id) && handled.acknowledged.contains(openAlarmOf.value(v.id));
    }

    const Polling::CycleFigures cycle = Polling::LastCycle();
    s.cycles = cycle.number;
    if (cycle.number > 0) s.lastCycleStart = cycle.start;
    s.lastCycleMs = cycle.durationMs;
    s.readings = ServerData::ReadingsTaken();
    const Outbox::Figures mail = Outbox::Counts();
    s.emailsSent = mail.sent;
    s.emailsFailed = mail.failed;
    s.emailsWaiting = mail.waiting;
    s.channels = ChannelOutbox::Counts();
    s.noticeFailures = Notices::Failures();
    return s;
}

}  // namespace Web
