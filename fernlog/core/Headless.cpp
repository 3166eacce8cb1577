#include "core/Headless.h"

#include <QCoreApplication>
#include <QTextStream>

#include "common/Clock.h"
#include "common/StopSignals.h"
#include "core/Polling.h"
#include "core/Startup.h"
#include "core/StatusList.h"

namespace Headless {

int Run() {
    QTextStream out(stdout);
    StatusList::SetListener([&out](const QString& line) {
        out << Clock::GeneralDateText() << "  " << line << Qt::endl;
    });
    out << Startup::ProgramTitle() << " Rev " << Startup::VersionText() << " (headless)"
        << Qt::endl;

    Startup::LoadProgram();
    Startup::RunActivationBlock();

    StopSignals::Install([&out](int) {
        out << Clock::GeneralDateText() << "  Stopping" << Qt::endl;
        Startup::StopProgram();
        // A cycle in progress unwinds once its wait sees ProgramRunning.
        QCoreApplication::exit(0);
    });
    const int code = QCoreApplication::exec();
    StatusList::SetListener({});
    return code;
}

}  // namespace Headless
