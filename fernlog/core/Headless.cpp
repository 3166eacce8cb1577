#include "core/Headless.h"

#include <QCoreApplication>
#include <QTextStream>
#include <csignal>

#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "common/StopSignals.h"
#include "core/Options.h"
#include "core/Polling.h"
#include "core/Startup.h"
#include "core/StatusList.h"

namespace Headless {

int Run(bool verbose) {
    QTextStream out(stdout);
    // Flushed line by line: journald or a redirected file sees each event
    // as it happens, not when a buffer fills.
    EventLog::SetSink([&out](const QString& line) { out << line << Qt::endl; }, verbose);
    StatusList::SetListener([](const QString& line) { EventLog::Debug(line); });
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

    StopSignals::Install([](int signal) {
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
    return code;
}

}  // namespace Headless
