#include "core/Polling.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTextStream>
#include <QTimer>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/FolderLock.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/DeviceVisits.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/ServerData.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
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
};

// The register the database gave last, read while it cannot be read.
CycleFigures lastCycle;
QHash<qint64, QDateTime>& Seen() {
    static QHash<qint64, QDateTime> seen;
    return seen;
}

QHash<qint64, DeviceState>& States() {
    static QHash<qint64, DeviceState> states;
    return states;
}

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
    if (!Clock::FromDbStamp(closed.emailSent).isValid() || !recoveryNotices) {
        return;
    }
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

void StartPollTimer() {
    PollTimer().setInterval(kPollIntervalMs);
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
    if (PollTimer().isActive() && PollTimer().interval() != kPollIntervalMs) {
        PollTimer().setInterval(kPollIntervalMs);
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
        // The ticks the cycle took count toward the next one, which comes on
        // the tick it would have had: cycles start every update period, and
        // a long cycle (a device that cannot be reached) delays only the
        // next one, by what it overran.
        const qint64 ms = took.elapsed();
        PollTicks = static_cast<int>(ms / kPollIntervalMs);
        StartPollTimer();
        PollTimer().setInterval(kPollIntervalMs - static_cast<int>(ms % kPollIntervalMs));
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

// One transaction of a device's visit: asked over the link now, or taken
// from what the concurrent visits received.
using Transaction = std::function<bool(const QByteArray& request, QByteArray& answer)>;

// A device's part of the cycle. False when the program stops.
bool VisitDevice(const DeviceRow& device, int attempts, const Transaction& transact,
                 bool recoveryNotices, CycleFigures& figures) {
    using namespace DeviceLink;
    using namespace Protocol;
    const qint64 id = device.id;
    const QString& address = device.address;
    const QString& model = device.model;
    const QString& name = device.name;

    bool busy = false;
    bool success = false;
    QByteArray request;
    QByteArray answer;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        BuildRequest(request, CmdIdentify());
        const bool identified = transact(request, answer);
        if (!ProgramRunning) return false;
        // A device busy on its line says so to every request; that is
        // not a failure.
        if (answer.left(4) == ReplyBusy()) {
            busy = true;
            break;
        }
        if (identified) {
            Decoding::ParseMessage(CmdIdentify(), answer);
            BuildRequest(request, CmdReadings());
            if (theView) theView->SetHourglass(true);
            const bool readings = transact(request, answer);
            if (theView) theView->SetHourglass(false);
            if (!ProgramRunning) return false;
            StatusList::ShowStatus(QStringLiteral("Last download data at: "),
                                   Clock::GeneralDateText());
            if (answer.left(4) == ReplyBusy()) {
                busy = true;
                break;
            }
            if (readings) {
                if (Decoding::ParseMessage(CmdReadings(), answer)) {
                    QString error;
                    // The outage stays open and is closed in a later
                    // cycle; a database that cannot take it now must not
                    // keep this and the following devices from being read.
                    std::optional<ServerDatabase::ClosedFailure> closed;
                    if (!ServerDatabase::RecordServerBackOnline(id, &error, &closed)) {
                        ErrorLog::RecordError(QStringLiteral("PollAll"), error);
                    }
                    if (closed) BackOnline(name, address, *closed, recoveryNotices);
                    ServerData::ProcessServerData(id, model);
                    DailyReportCheck();
                }
                success = true;
                break;
            }
        }
        if (!ProgramRunning) return false;
    }

    DailySystemOkCheck();

    ++figures.devices;
    DeviceState& state = States()[id];
    state.id = id;
    state.name = name;
    state.address = address;
    if (busy) {
        ++figures.busy;
        state.outcome = DeviceState::Outcome::Busy;
    } else if (success) {
        ++figures.answered;
        Seen().insert(id, Clock::Now());
        state.outcome = DeviceState::Outcome::Answered;
        state.lastSeen = Seen().value(id);
        state.failingSince = QDateTime();
    } else {
        ++figures.failed;
        if (state.outcome != DeviceState::Outcome::Failed || !state.failingSince.isValid()) {
            state.failingSince = figures.start;
        }
        state.outcome = DeviceState::Outcome::Failed;
    }
    const QString key = DeviceStatusKey(name, address);
    if (busy) {
        StatusList::ShowStatus(key, QStringLiteral(": Is busy"));
        SkipGridRows(id);
    } else if (success) {
        StatusList::ShowStatus(key, QStringLiteral(": OK"));
    } else {
        StatusList::ShowStatus(key, QStringLiteral(": FAILED"));
        Decoding::SetNoData();
        ServerData::ProcessServerData(id, model);
        EmailNotification::RecordServerFailure(id, attempts);
    }
    return true;
}

const QString kDatabaseKey = QStringLiteral("Database ");
constexpr int kEventTurnMs = 5;
QDateTime outageStart;

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

void PollAll() {
    const QDateTime start = Clock::Now();
    QElapsedTimer took;
    took.start();
    CycleFigures figures;
    figures.start = start;
    StatusList::ShowStatus(QStringLiteral("First download "), QStringLiteral("delete"));
    const int attempts = AttemptsFor(ConfigParameters.CommunicationRetry);
    const Options::Values options = Options::Load();

    ServerDatabase::Recordset servers;
    int count = 0;
    std::vector<DeviceRow> devices;
    if (!ServerDatabase::RecordServers(servers, count)) {
        // The devices are read with the register the database gave last; before
        // it ever gave one there is nothing to read.
        if (LastDevices().empty()) return;
        if (!ServerData::DatabaseOut) DatabaseLost();
        devices = LastDevices();
        count = 0;
    } else if (ServerData::DatabaseOut) {
        DatabaseBack();
    }
    StatusGrid::Model().MoveToFirstRow();

    for (int position = 0; position < count; ++position) {
        servers.Move(position);
        bool enabled = false;
        if (servers.Text(QStringLiteral("Enabled")).trimmed().toInt(&enabled) != 1 || !enabled) {
            continue;
        }
        devices.push_back({servers.Value(QStringLiteral("IDNum")).toLongLong(),
                           servers.Text(QStringLiteral("ServerIPAddress")).trimmed(),
                           servers.Text(QStringLiteral("ServerModel")),
                           servers.Text(QStringLiteral("ServerName"))});
    }
    servers.Release();
    if (!ServerData::DatabaseOut) LastDevices() = devices;

    if (options.connections <= 1) {
        for (const DeviceRow& device : devices) {
            const Transaction link = [&](const QByteArray& request, QByteArray& answer) {
                return DeviceLink::ReadFromCV(device.address, Protocol::kDevicePort, request,
                                              answer, Protocol::kRequestLength);
            };
            if (!VisitDevice(device, attempts, link, options.recoveryNotices, figures)) return;
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
            const auto& exchanges = visits.Exchanges(static_cast<int>(i));
            size_t next = 0;
            const Transaction replay = [&](const QByteArray& request, QByteArray& answer) {
                answer.clear();
                // Told where the one-at-a-time link tells it: before the
                // device's own processing.
                DeviceLink::DeviceAddress(devices[i].address);
                if (next >= exchanges.size() || exchanges[next].request != request) return false;
                answer = exchanges[next].answer;
                return exchanges[next++].ok;
            };
            if (!VisitDevice(devices[i], attempts, replay, options.recoveryNotices, figures))
                return;
            if (!DeviceLink::ProgramRunning) return;
        }
    }
    figures.lastRegister = ServerData::DatabaseOut;
    figures.durationMs = took.elapsed();
    figures.number = lastCycle.number + 1;
    lastCycle = figures;
    // Whole seconds: the second boundaries crossed.
    StatusList::ShowStatus(
        QStringLiteral("Communication Time: "),
        QString::number(Clock::Now().toSecsSinceEpoch() - start.toSecsSinceEpoch()) +
            QStringLiteral(" seconds"));
}

}  // namespace Polling
