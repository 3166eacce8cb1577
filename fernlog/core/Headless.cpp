#include "Headless.h"

#include <QCoreApplication>
#include <QTextStream>

#include "Clock.h"
#include "Polling.h"
#include "Startup.h"
#include "StatusList.h"
#include "StopSignals.h"

namespace Headless {

int Run() {
    QTextStream out(stdout);
    StatusList::SetListener([&out](const QString& line) {
        out << Clock::GeneralDateText() << "  " << line << Qt::endl;
    });
    out << Startup::ProgramTitle() << " Rev " << Startup::VersionText() << " (headless)"
        << Qt::endl;

    Startup::LoadProgram();
    Startup::RunActivationBlock(nullptr);

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
