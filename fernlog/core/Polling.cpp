#include "core/Polling.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <optional>
#include <vector>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/FolderLock.h"
#include "core/Alarms.h"
#include "core/AlertmanagerSync.h"
#include "core/ChannelOutbox.h"
#include "core/Channels.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/DeviceVisits.h"
#include "core/EmailNotification.h"
#include "core/Journal.h"
#include "core/MailWarnings.h"
#include "core/Notices.h"
#include "core/Options.h"
#include "core/Reminders.h"
#include "core/ServerData.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/Silences.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"
#include "protocol/Commands.h"

namespace Polling {

bool CycleRunning = false;
int TicksPerUpdate = 12;
int PollTicks = 0;
bool ReportPrinted = false;

namespace {
CycleView* theView = nullptr;

// What a cycle needs of one register row.
struct DeviceRow {
    qint64 id = 0;
    QString address;
    QString model;
    QString name;
    ServerDatabase::ServerRow server;  // the register row, handed to the processing
};

CycleFigures lastCycle;
// Since when the database cannot be read.
QDateTime outageStart;
QHash<qint64, QDateTime>& Seen() {
    static QHash<qint64, QDateTime> seen;
    return seen;
}

QHash<qint64, DeviceState>& States() {
    static QHash<qint64, DeviceState> states;
    return states;
}

// The register the database gave last, read while it cannot be read.
std::vector<DeviceRow>& LastDevices() {
    static std::vector<DeviceRow> devices;
    return devices;
}

// The daily report prints nothing; it pauses the poll timer as the report
// would, and leaves a timer stopped by a running cycle stopped.
void DailyReportAction() {
    QTimer& timer = PollTimer();
    const bool wasActive = timer.isActive();
    StopPollTimer();
    if (wasActive) StartPollTimer();
}
// A busy device keeps its rows as they were: the next device's sensors go
// below them, not over them.
void SkipGridRows(qint64 deviceId) {
    ServerDatabase::Recordset sensors;
    int count = 0;
    ServerDatabase::LoadSensors(deviceId, sensors, count);
    for (int i = 0; i < count; ++i) StatusGrid::Model().MoveToNextRow();
}

// An outage ends: the log says so, and, when the owner asked for recovery
// notices, so does an e-mail, but only where the failure itself was mailed:
// nobody wants to hear "back" about a failure they were never told of.
void BackOnline(const QString& name, const QString& address,
                const ServerDatabase::ClosedFailure& closed, bool recoveryNotices) {
    EventLog::Info(QStringLiteral("Device ") + name + QStringLiteral(" at ") + address +
                   QStringLiteral(" answers again (no answer since ") + closed.offLine +
                   QStringLiteral(")"));
    if (!Clock::FromDbStamp(closed.emailSent).isValid()) return;
    Notices::Tell(Notices::DeviceEvent(QStringLiteral("device.up"), 0, name, address,
                                       QStringLiteral("The device ") + name.trimmed() +
                                           QStringLiteral(" answers again (no answer since ") +
                                           closed.offLine + u')'));
    if (!recoveryNotices) return;
    QString errorText;
    EmailNotification::SendBackOnlineEmail(name, address, Clock::FromDbStamp(closed.offLine),
                                           errorText);
}
}  // namespace

int TicksFor(int updateRate) {
    return static_cast<int>(std::lround(updateRate / 5.0));
}

int AttemptsFor(int communicationRetry) {
    return communicationRetry >= 1 && communicationRetry <= 5 ? communicationRetry : 3;
}

QTimer& PollTimer() {
    static QTimer* timer = [] {
        auto* t = new QTimer;  // lives for the whole run
        t->setInterval(60000);
        QObject::connect(t, &QTimer::timeout, [] { OnPollTick(); });
        return t;
    }();
    return *timer;
}

static_assert(Timings().tickMs == kPollIntervalMs);

void StartPollTimer() {
    PollTimer().setInterval(Waits::Current().tickMs);
    PollTimer().start();
}

void StopPollTimer() {
    PollTimer().stop();
    PollTimer().setInterval(0);
}

void SetView(CycleView* view) {
    theView = view;
}

CycleFigures LastCycle() {
    return lastCycle;
}

QDateTime LastSeen(qint64 deviceId) {
    return Seen().value(deviceId);
}

std::vector<DeviceState> Devices() {
    std::vector<DeviceState> devices;
    for (const DeviceRow& row : LastDevices()) {
        const auto state = States().constFind(row.id);
        if (state != States().cend()) devices.push_back(*state);
    }
    return devices;
}

void Reset() {
    StopPollTimer();
    lastCycle = CycleFigures();
    outageStart = QDateTime();
    Seen().clear();
    States().clear();
    LastDevices().clear();
    CycleRunning = false;
    TicksPerUpdate = 12;
    PollTicks = 0;
    ReportPrinted = false;
}

void OnPollTick() {
    if (CycleRunning) return;
    // The first tick after a cycle comes early to keep the cycles' pace;
    // the next ones are the usual interval apart again.
    const int tickMs = Waits::Current().tickMs;
    if (PollTimer().isActive() && PollTimer().interval() != tickMs) {
        PollTimer().setInterval(tickMs);
    }
    CycleRunning = true;
    if (theView) theView->BlockGridInput(true);
    ++PollTicks;
    if (PollTicks >= TicksPerUpdate) {
        StopPollTimer();
        QElapsedTimer took;
        took.start();
        PollAll();
        if (!DeviceLink::ProgramRunning) {
            CycleRunning = false;
            return;
        }
        if (theView) theView->AfterCycle();
        ServiceLog::AfterCycle();
        // A command may have changed the register since the last cycle.
        MailWarnings::Check();
        // The ticks the cycle took count toward the next one, which comes on
        // the tick it would have had: cycles start every update period, and
        // a long cycle (a device that cannot be reached) delays only the
        // next one, by what it overran.
        const qint64 ms = took.elapsed();
        PollTicks = static_cast<int>(ms / tickMs);
        StartPollTimer();
        PollTimer().setInterval(tickMs - static_cast<int>(ms % tickMs));
    }
    if (theView) theView->BlockGridInput(false);
    CycleRunning = false;
}

void Refresh() {
    if (CycleRunning) return;
    CycleRunning = true;
    StopPollTimer();
    if (theView) theView->BlockGridInput(true);
    PollAll();
    if (theView) theView->BlockGridInput(false);
    CycleRunning = false;
    if (DeviceLink::ProgramRunning) StartPollTimer();
}

QString DeviceStatusKey(const QString& name, const QString& address) {
    return QStringLiteral("Communication with server ") + name + QStringLiteral(" at IP address ") +
           address;
}

void DailySystemOkCheck() {
    // The stamp is written into the settings as read now: a command's change
    // in between would be lost. Not had in time, the check waits for a cycle.
    const FolderLock::WriteLock lock;
    if (!lock.Held()) return;
    if (!Settings::ReadConfigFile() || ConfigParameters.SystemOKEmail != 1) return;
    const QDateTime now = Clock::Now();
    const QDateTime last = Clock::FromGeneralDateText(ConfigParameters.LastSystemOKEmail.Text());
    if (last.isValid()) {
        if (last.date().daysTo(now.date()) < 1) return;
        EmailNotification::SendSytemOKEmail();
    }
    ConfigParameters.LastSystemOKEmail = Clock::GeneralDateText(now);
    Settings::SaveConfigFile();
}

void DailyReportCheck() {
    if (!ConfigParameters.AutoPrintReport.Text().toLower().contains(QLatin1String("yes"))) return;
    const QDateTime now = Clock::Now();
    const QTime at = QTime::fromString(
        ConfigParameters.TimeToPrint.Text() + QStringLiteral(":00 ") + ConfigParameters.AMPM.Text(),
        QStringLiteral("h:mm AP"));
    if (!at.isValid()) return;
    const QDateTime target(now.date(), at);
    // Minute boundaries from now to the report time.
    auto minuteStart = [](const QDateTime& t) {
        return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()));
    };
    const qint64 d = minuteStart(now).secsTo(minuteStart(target)) / 60;
    if (d >= -60 && d <= 0 && !ReportPrinted) {
        DailyReportAction();
        ReportPrinted = true;
    } else if (d < -60) {
        ReportPrinted = false;
    }
}

namespace {

// A device's part of the cycle once its visit has ended: its answers
// decoded and processed, its outcome shown and recorded. `tellAddress`:
// the exchanges were made elsewhere, and a refused address is told now, in
// register order, where the one link tells it.
void ProcessVisit(const DeviceRow& device, const DeviceVisits::Visit& visit, int attempts,
                  bool tellAddress, bool recoveryNotices, CycleFigures& figures) {
    using DeviceVisits::Outcome;
    const qint64 id = device.id;
    for (const DeviceVisits::Exchanged& e : visit.exchanges) {
        if (tellAddress) DeviceLink::DeviceAddress(device.address);
        if (e.request.left(4) == Protocol::CmdReadings()) {
            StatusList::ShowStatus(QStringLiteral("Last download data at: "),
                                   Clock::GeneralDateText());
        }
    }
    if (DeviceVisits::Decode(visit)) {
        // A database that cannot take the outage's end now keeps neither
        // this nor the following devices from being read: it waits in the
        // journal.
        const std::optional<ServerDatabase::ClosedFailure> closed =
            EmailNotification::RecordServerBackOnline(device.server);
        if (closed) BackOnline(device.name, device.address, *closed, recoveryNotices);
        ServerData::ProcessServerData(device.server);
        DailyReportCheck();
    }

    DailySystemOkCheck();

    ++figures.devices;
    DeviceState& state = States()[id];
    state.id = id;
    state.name = device.name;
    state.address = device.address;
    const QString key = DeviceStatusKey(device.name, device.address);
    switch (visit.outcome) {
        case Outcome::Busy:
            ++figures.busy;
            state.outcome = DeviceState::Outcome::Busy;
            StatusList::ShowStatus(key, QStringLiteral(": Is busy"));
            SkipGridRows(id);
            break;
        case Outcome::Answered:
            ++figures.answered;
            Seen().insert(id, Clock::Now());
            state.outcome = DeviceState::Outcome::Answered;
            state.lastSeen = Seen().value(id);
            state.failingSince = QDateTime();
            StatusList::ShowStatus(key, QStringLiteral(": OK"));
            break;
        case Outcome::Failed:
            ++figures.failed;
            if (state.outcome != DeviceState::Outcome::Failed || !state.failingSince.isValid()) {
                state.failingSince = figures.start;
            }
            state.outcome = DeviceState::Outcome::Failed;
            StatusList::ShowStatus(key, QStringLiteral(": FAILED"));
            Decoding::SetNoData();
            ServerData::ProcessServerData(device.server);
            EmailNotification::RecordServerFailure(device.server, attempts);
            break;
    }
}

const QString kDatabaseKey = QStringLiteral("Database ");
constexpr int kEventTurnMs = 5;

// An outage of the database is told once, and its end once: the error
// log's fallback (standard error, or the service log) takes the first.
void DatabaseLost() {
    ServerData::DatabaseOut = true;
    outageStart = Clock::Now();
    StatusList::ShowStatus(kDatabaseKey,
                           QStringLiteral("cannot be read since ") + Clock::GeneralDateText() +
                               QStringLiteral("; the devices are read with the last register"));
    ErrorLog::RecordError(QStringLiteral("PollAll"),
                          QStringLiteral("The database cannot be read; polling goes on with the "
                                         "last register of %1 device(s)")
                              .arg(LastDevices().size()));
}

void DatabaseBack() {
    ServerData::DatabaseOut = false;
    StatusList::ShowStatus(kDatabaseKey, QStringLiteral("delete"));
    const QString text = QStringLiteral("The database answers again (it could not be read since ") +
                         Clock::GeneralDateText(outageStart) + QStringLiteral(")");
    if (EventLog::HasSink()) {
        EventLog::Info(text);
    } else {
        QTextStream(stderr) << Clock::DbStamp() << "  " << text << Qt::endl;
    }
}

}  // namespace

namespace {
// Each Alertmanager channel gets the state the cycle leaves.
void SyncAlertmanagers() {
    QList<Channels::Channel> channels;
    if (!Channels::List(channels)) return;
    QList<AlertmanagerSync::Target> targets;
    for (const Channels::Channel& c : channels) {
        if (c.kind == QLatin1String("alertmanager"))
            targets.append({c.name, QUrl(c.url), c.devices});
    }
    if (!targets.isEmpty()) AlertmanagerSync::AfterCycle(targets);
}
}  // namespace

void PollAll() {
    const QDateTime start = Clock::Now();
    QElapsedTimer took;
    took.start();
    CycleFigures figures;
    figures.start = start;
    StatusList::ShowStatus(QStringLiteral("First download "), QStringLiteral("delete"));
    // The records that waited for the database go in first, in order.
    Journal::Apply();
    const Alarms::CycleHandling handling;
    const int attempts = AttemptsFor(ConfigParameters.CommunicationRetry);
    const Options::Values options = Options::Load();

    QList<ServerDatabase::ServerRow> servers;
    std::vector<DeviceRow> devices;
    if (!ServerDatabase::ListServers(servers)) {
        // The devices are read with the register the database gave last; before
        // it ever gave one there is nothing to read.
        if (LastDevices().empty()) return;
        if (!ServerData::DatabaseOut) DatabaseLost();
        devices = LastDevices();
    } else if (ServerData::DatabaseOut) {
        DatabaseBack();
    }
    StatusGrid::Model().MoveToFirstRow();

    // In IDNum order, as every list of the register.
    for (const ServerDatabase::ServerRow& server : servers) {
        if (server.enabled != 1) continue;
        devices.push_back({server.id, server.ip.trimmed(), server.model, server.name, server});
    }
    if (!ServerData::DatabaseOut) LastDevices() = devices;

    if (options.connections <= 1) {
        for (const DeviceRow& device : devices) {
            const DeviceVisits::Transaction link = [&](const QByteArray& request,
                                                       QByteArray& answer) {
                const bool readings = request.left(4) == Protocol::CmdReadings();
                if (readings && theView) theView->SetHourglass(true);
                const bool ok = DeviceLink::ReadFromCV(device.address, Protocol::kDevicePort,
                                                       request, answer, Protocol::kRequestLength);
                if (readings && theView) theView->SetHourglass(false);
                return ok;
            };
            DeviceVisits::Visit visit;
            if (!DeviceVisits::VisitOne(attempts, link, visit)) return;
            ProcessVisit(device, visit, attempts, false, options.recoveryNotices, figures);
        }
    } else {
        // Every device is contacted at once (within the bound); each is
        // processed, in register order, as soon as it and those before it
        // have answered or failed, so a silent device delays no one's
        // contact and the processing is the same as one at a time.
        std::vector<QString> addresses;
        for (const DeviceRow& device : devices) addresses.push_back(device.address);
        DeviceVisits::Visits visits(addresses, attempts, options.connections);
        // Devices that answered early are processed back to back; the
        // window and the other exchanges get their turn every few
        // milliseconds, as they do during a device's wait.
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        for (size_t i = 0; i < devices.size(); ++i) {
            if (sinceEvents.elapsed() >= kEventTurnMs) {
                QCoreApplication::processEvents();
                sinceEvents.restart();
            }
            if (!visits.WaitFor(static_cast<int>(i))) return;
            ProcessVisit(devices[i], visits.Result(static_cast<int>(i)), attempts, true,
                         options.recoveryNotices, figures);
            if (!DeviceLink::ProgramRunning) return;
        }
    }
    // Ends first: a notice told at an end restarts the reminders' count.
    Silences::AfterCycle();
    Reminders::AfterCycle();
    // A cycle that could read the register tells the heartbeats fernlog lives.
    if (!ServerData::DatabaseOut) ChannelOutbox::AfterHealthyCycle();
    SyncAlertmanagers();
    figures.lastRegister = ServerData::DatabaseOut;
    figures.durationMs = took.elapsed();
    figures.end = Clock::Now();
    figures.number = lastCycle.number + 1;
    lastCycle = figures;
    StatusGrid::EndOfCycle();
    // Whole seconds: the second boundaries crossed.
    StatusList::ShowStatus(
        QStringLiteral("Communication Time: "),
        QString::number(Clock::Now().toSecsSinceEpoch() - start.toSecsSinceEpoch()) +
            QStringLiteral(" seconds"));
}

}  // namespace Polling
