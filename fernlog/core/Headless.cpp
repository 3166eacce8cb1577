#include "core/Headless.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>
#include <csignal>

#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "common/StopSignals.h"
#include "core/Alarms.h"
#include "core/DeviceLink.h"
#include "core/Options.h"
#include "core/Polling.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "db/ServerDatabase.h"

namespace Headless {

int Run(bool verbose, bool trace, const std::function<void()>& started) {
    QTextStream out(stdout);
    // Flushed line by line: journald or a redirected file sees each event
    // as it happens, not when a buffer fills.
    EventLog::SetSink([&out](const QString& line) { out << line << Qt::endl; }, verbose, trace);
    EventLog::SetPriorityPrefix(EventLog::StdoutIsJournal());
    StatusList::SetListener(ServiceLog::StatusLine);
    EventLog::Info(Startup::ProgramTitle() + QStringLiteral(" ") + Startup::VersionText() +
                   QStringLiteral(" started without a window; program directory ") +
                   ProgramDir::Path());

    Startup::LoadProgram();
    Startup::RunActivationBlock();
    QString optionsWarning;
    const Options::Values options = Options::Load(&optionsWarning);
    if (!optionsWarning.isEmpty()) EventLog::Warning(optionsWarning);
    EventLog::Info(QStringLiteral("Recovery notices are ") +
                   (options.recoveryNotices ? QStringLiteral("on") : QStringLiteral("off")) +
                   QStringLiteral(" (") + Options::FileName() + QStringLiteral(")"));
    if (options.retryMinutes > 0) {
        EventLog::Info(QStringLiteral("Failed e-mails are tried again for %1 minutes (")
                           .arg(options.retryMinutes) +
                       Options::FileName() + QStringLiteral(")"));
    }

    if (started) started();

    // Nobody is there to close and reopen a window: a database that was
    // missing, locked or held no sensors at start is looked at again every
    // update period, and polling starts as soon as it answers.
    QTimer retry;
    retry.setInterval(qMax<int>(5, ConfigParameters.UpdateRate) * 1000);
    QObject::connect(&retry, &QTimer::timeout, [&retry] {
        int count = 0;
        if (Polling::PollTimer().isActive() || !DeviceLink::ProgramRunning) {
            retry.stop();
        } else if (ServerDatabase::CountNamedSensors(count)) {
            retry.stop();
            EventLog::Info(QStringLiteral("The database now lists sensors: starting to poll"));
            Startup::RunActivationBlock();
        }
    });
    if (!Polling::PollTimer().isActive()) retry.start();

    // Settings stored by another program (fernlog settings set) are taken up
    // as the windowed program takes up its settings dialog's: the activation
    // block runs again, between cycles.
    QTimer settingsWatch;
    settingsWatch.setInterval(5000);
    QObject::connect(&settingsWatch, &QTimer::timeout, [&retry] {
        if (Polling::CycleRunning || !DeviceLink::ProgramRunning) return;
        if (!Settings::ChangedOnDisk()) return;
        EventLog::Info(QStringLiteral("The settings file changed: taking up the new settings"));
        Startup::RunActivationBlock();
        retry.setInterval(qMax<int>(5, ConfigParameters.UpdateRate) * 1000);
        if (!Polling::PollTimer().isActive()) retry.start();
    });
    settingsWatch.start();
    // What commands did about alarms (acknowledged, silenced...) is told in
    // the service log and marked on the grid within seconds, not a cycle.
    QTimer actionsWatch;
    actionsWatch.setInterval(Waits::Current().tickMs < 5000 ? Waits::Current().tickMs : 5000);
    QObject::connect(&actionsWatch, &QTimer::timeout, [] {
        if (!Polling::CycleRunning && DeviceLink::ProgramRunning) Alarms::TakeUpActions();
    });
    Alarms::TakeUpActions();
    actionsWatch.start();

    StopSignals::Install([](int signal) {
        // A second signal while the first stop still waits for the mail
        // server would otherwise end the event loops that stop relies on.
        if (Startup::Stopping) return;
        EventLog::Info(QStringLiteral("Stopping (") +
                       (signal == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT")) +
                       QStringLiteral(")"));
        Startup::StopProgram();
        // A cycle in progress unwinds once its wait sees ProgramRunning.
        QCoreApplication::exit(0);
    });
    const int code = QCoreApplication::exec();
    EventLog::Info(QStringLiteral("Stopped"));
    StatusList::SetListener({});
    EventLog::SetSink({});
    EventLog::SetPriorityPrefix(false);
    return code;
}

}  // namespace Headless
