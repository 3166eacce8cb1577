#include "core/Startup.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>

#include "common/Dialogs.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "core/ChannelOutbox.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/Journal.h"
#include "core/MailWarnings.h"
#include "core/Outbox.h"
#include "core/Polling.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "db/Database.h"
#include "db/ServerDatabase.h"
#include "protocol/Commands.h"

namespace Startup {

bool ActivateBlockPending = true;
bool TrendReset = true;
bool TrendingOn = false;
bool LoginSucceeded = false;
bool Activated = false;
bool SecondaryWindowOpen = false;
bool Stopping = false;

namespace {
const QString kDelete = QStringLiteral("delete");
const QString kNoSensors = QStringLiteral("There are no sensors programmed yet");
const QString kNoDatabase = QStringLiteral("Zolo.mdb is not present in the application directory.");
const QString kLogDirKey = QStringLiteral("Backup copy of log files stored to: ");
ActivationView* theView = nullptr;
// The service unit's TimeoutStopSec (dist/fernlog.service.in, from the same
// CMake value): the service manager kills a program still stopping then.
constexpr int kServiceStopSeconds = FERNLOG_STOP_TIMEOUT_SECONDS;
// The longest the stop waits for the mail server; the rest of the unit's
// time is for the cancelled exchange (a few seconds) and the program's end.
constexpr int kLongestStopWaitSeconds = kServiceStopSeconds - 20;
static_assert(kLongestStopWaitSeconds >= 30,
              "FERNLOG_STOP_TIMEOUT_SECONDS leaves the stop too little time for the mail server");
}  // namespace

void SetView(ActivationView* view) {
    theView = view;
}

void Reset() {
    ActivateBlockPending = true;
    TrendReset = true;
    TrendingOn = false;
    LoginSucceeded = false;
    Activated = false;
    SecondaryWindowOpen = false;
    Stopping = false;
}

bool MayOpenSecondaryWindow() {
    return Activated && !SecondaryWindowOpen;
}

QString ProgramTitle() {
    return QStringLiteral("Fernlog");
}

QString VersionText() {
    return QStringLiteral("1.0.0");
}

void LoadProgram() {
    Dialogs::SetDefaultTitle(ProgramTitle());
    Protocol::InitCommands();
    DeviceLink::CurrentWindow = Window::frmMain;
    Polling::ReportPrinted = false;
    ActivateBlockPending = true;
    StatusList::Clear();
}

bool LoginRequired() {
    return !ConfigParameters.AdminUserName.Text().isEmpty() &&
           !ConfigParameters.AdminPassword.Text().isEmpty();
}

void ApplyLoginState() {
    if (!theView) return;
    if (!LoginRequired()) {
        theView->SetSetupMenus(true, QStringLiteral("Log In"), false);
    } else if (LoginSucceeded) {
        theView->SetSetupMenus(true, QStringLiteral("Log Out"), true);
    } else {
        theView->SetSetupMenus(false, QStringLiteral("Log In"), false);
    }
}

void RunActivationBlock() {
    ActivationView* view = theView;
    if (view) {
        view->SelectFirstTab();
        view->ResetChartTrackers();
    }
    StatusList::Clear();

    Settings::InitCrypt();
    const bool configRead = Settings::ReadConfigFile();
    StatusList::ShowStatus(
        QStringLiteral("Configuration file not found.  Please run configuration"),
        configRead ? kDelete : QString());
    if (!configRead) {
        EventLog::Warning(QStringLiteral("The settings file ") +
                          ProgramDir::File(Settings::FileName()) +
                          QStringLiteral(" could not be read; the defaults are in use"));
    }
    const bool configValid = Settings::ValidateConfig();
    StatusList::ShowStatus(
        QStringLiteral(
            "Please click on Setup and then Configure Fernlog and verify all parameters."),
        configValid ? kDelete : QString());
    if (configRead && !configValid) {
        EventLog::Warning(
            QStringLiteral("Some settings were out of range and were set to their defaults"));
    }

    // A log directory cleared in the settings stops the copies too.
    const QString logDir = ConfigParameters.LogDir.Text();
    ServerData::LogDirInUse = logDir;
    StatusList::ShowStatus(kLogDirKey, logDir.isEmpty() ? kDelete : logDir);
    if (!logDir.isEmpty()) {
        EventLog::Info(QStringLiteral("Data logs are also written to ") + logDir);
    }

    // From here the settings are those of the file and the login gate is
    // set: secondary windows may open.
    Activated = true;
    ApplyLoginState();

    EmailNotification::SetupMailer();
    // Messages that an earlier run handed over but did not deliver, and the
    // records it could not write.
    Outbox::Resume();
    ChannelOutbox::Resume();
    Journal::Apply();

    const bool haveDatabase = QFileInfo(Database::Path()).isFile();
    if (!haveDatabase) {
        Dialogs::Message(QStringLiteral("The program file Zolo.mdb is not present in the ") +
                             ProgramDir::Path() +
                             QStringLiteral(" directory.  Please copy Zolo.mdb into this directory "
                                            "before running this program.") +
                             QStringLiteral("  To create an empty one, run: zolo-provision ") +
                             ProgramDir::Path(),
                         Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
        StatusList::ShowStatus(kNoDatabase, QStringLiteral("  Fernlog requires this file."));
    } else {
        StatusList::ShowStatus(kNoDatabase, kDelete);
    }

    int count = 0;
    if (!ServerDatabase::CountNamedSensors(count)) {
        Polling::StopPollTimer();
        StatusGrid::Model().ConfigureServerStatusGrid(count);
        StatusList::ShowStatus(kNoSensors, QString());
        if (haveDatabase) {
            EventLog::Warning(
                QStringLiteral("No sensors could be read from the database: "
                               "nothing is polled"));
        }
        TrendingOn = false;
    } else {
        StatusGrid::Model().ConfigureServerStatusGrid(count);
        TrendingOn = ConfigParameters.EnableTrending == 1;
        if (view) view->SetTrendingMenu(TrendingOn);
        StatusList::ShowStatus(kNoSensors, kDelete);
        DeviceLink::StopWatchDog();
        Polling::StopPollTimer();
        Polling::TicksPerUpdate = Polling::TicksFor(ConfigParameters.UpdateRate);
        Polling::StartPollTimer();
        StatusList::ShowStatus(
            QStringLiteral("Update Rate "),
            QString::number(ConfigParameters.UpdateRate) + QStringLiteral(" seconds"));
        EventLog::Info(QStringLiteral("Polling %1 sensor(s) every %2 seconds")
                           .arg(count)
                           .arg(ConfigParameters.UpdateRate));
    }
    // With the settings and the register as they are now.
    MailWarnings::Check();
    TrendReset = true;
    DeviceLink::ProgramRunning = true;
    ActivateBlockPending = false;
}

bool ConfirmClose() {
    return Dialogs::Message(QStringLiteral("WARNING, closing this program will halt the collection "
                                           "of system data.") +
                                QStringLiteral("\n") +
                                QStringLiteral("Click YES to close this program, or NO to leave "
                                               "the program running."),
                            Dialogs::Buttons::YesNo, Dialogs::Icon::Warning,
                            QStringLiteral("Close ") + ProgramTitle() + QStringLiteral("?")) ==
           Dialogs::Answer::Yes;
}

int StopWaitMs() {
    if (Waits::Current().stopMs > 0) return Waits::Current().stopMs;
    return std::clamp<int>(ConfigParameters.ServerTimeOut, 1, kLongestStopWaitSeconds) * 1000;
}

void StopProgram() {
    if (Stopping) return;
    Stopping = true;
    DeviceLink::ProgramRunning = false;
    // One wait for the whole stop, whatever the mail server does: an alarm
    // mailed just before it and then the shutdown e-mail, behind it in the
    // outbox, get one mail time-out between them; the exchange still going
    // then is cancelled. What has not gone out stays in the outbox for the
    // next start, the shutdown e-mail too: late, it still tells the
    // administrator when the monitoring stopped, which a failure would not.
    QElapsedTimer stopping;
    stopping.start();
    const int waitMs = StopWaitMs();
    // The records that still wait for the database get one more try; what
    // it does not take stays in the journal for the next start.
    Journal::Apply();
    EmailNotification::SendShutdownEmail();
    Outbox::Drain(static_cast<int>(std::max<qint64>(0, waitMs - stopping.elapsed())));
    Outbox::Stop();
    ChannelOutbox::Stop();
    DeviceLink::StopWatchDog();
    Polling::StopPollTimer();
    DeviceLink::CloseWinSocket();
}

}  // namespace Startup
