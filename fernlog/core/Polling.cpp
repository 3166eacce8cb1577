#include "core/Polling.h"

#include <QTimer>
#include <cmath>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
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
                const ServerDatabase::ClosedFailure& closed) {
    EventLog::Info(QStringLiteral("Device ") + name + QStringLiteral(" at ") + address +
                   QStringLiteral(" answers again (no answer since ") + closed.offLine +
                   QStringLiteral(")"));
    if (!Clock::FromDbStamp(closed.emailSent).isValid() || !Options::Load().recoveryNotices) {
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

void Reset() {
    StopPollTimer();
    CycleRunning = false;
    TicksPerUpdate = 12;
    PollTicks = 0;
    ReportPrinted = false;
}

void OnPollTick() {
    if (CycleRunning) return;
    CycleRunning = true;
    if (theView) theView->BlockGridInput(true);
    ++PollTicks;
    if (PollTicks >= TicksPerUpdate) {
        StopPollTimer();
        PollAll();
        if (!DeviceLink::ProgramRunning) {
            CycleRunning = false;
            return;
        }
        if (theView) theView->AfterCycle();
        ServiceLog::AfterCycle();
        PollTicks = 0;
        StartPollTimer();
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

void PollAll() {
    using namespace DeviceLink;
    using namespace Protocol;
    const QDateTime start = Clock::Now();
    StatusList::ShowStatus(QStringLiteral("First download "), QStringLiteral("delete"));
    const int attempts = AttemptsFor(ConfigParameters.CommunicationRetry);

    ServerDatabase::Recordset servers;
    int count = 0;
    if (!ServerDatabase::RecordServers(servers, count)) return;
    StatusGrid::Model().MoveToFirstRow();

    for (int position = 0; position < count; ++position) {
        servers.Move(position);
        bool enabled = false;
        if (servers.Text(QStringLiteral("Enabled")).trimmed().toInt(&enabled) != 1 || !enabled) {
            continue;
        }
        const qint64 id = servers.Value(QStringLiteral("IDNum")).toLongLong();
        const QString address = servers.Text(QStringLiteral("ServerIPAddress")).trimmed();
        const QString model = servers.Text(QStringLiteral("ServerModel"));
        const QString name = servers.Text(QStringLiteral("ServerName"));

        bool busy = false;
        bool success = false;
        QByteArray request;
        QByteArray answer;
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            BuildRequest(request, CmdIdentify());
            const bool identified =
                ReadFromCV(address, kDevicePort, request, answer, kRequestLength);
            if (!ProgramRunning) return;
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
                const bool readings =
                    ReadFromCV(address, kDevicePort, request, answer, kRequestLength);
                if (theView) theView->SetHourglass(false);
                if (!ProgramRunning) return;
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
                        if (closed) BackOnline(name, address, *closed);
                        ServerData::ProcessServerData(id, model);
                        DailyReportCheck();
                    }
                    success = true;
                    break;
                }
            }
            if (!ProgramRunning) return;
        }

        DailySystemOkCheck();

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
    }
    // Whole seconds: the second boundaries crossed.
    StatusList::ShowStatus(
        QStringLiteral("Communication Time: "),
        QString::number(Clock::Now().toSecsSinceEpoch() - start.toSecsSinceEpoch()) +
            QStringLiteral(" seconds"));
}

}  // namespace Polling
