// fernlog: polls the registered devices, logs their readings, keeps alarm
// and failure records and sends e-mails.
#include <QCoreApplication>
#include <QFileInfo>

#include "ExportCommand.h"
#include "common/CommandLine.h"
#include "common/ProgramDir.h"
#include "core/Headless.h"
#include "core/Mailer.h"
#include "core/Startup.h"

#ifdef FERNLOG_GUI
#include <QApplication>

#include "core/ui/MainWindow.h"
#endif

int main(int argc, char** argv) {
    if (ExportCommand::Wanted(argc, argv)) return ExportCommand::Run(argc, argv);
    const QString program = QStringLiteral("fernlog");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polls the registered Corvane devices, logs their readings, keeps alarm "
                       "and failure records and sends e-mails."));
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("Program directory: settings file, zolo.mdb, data logs (default: "
                       "$FERNLOG_DIR, else the executable's directory)."),
        QStringLiteral("DIR"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run without a window; status lines go to standard output; SIGINT or "
                       "SIGTERM stops after the shutdown e-mail."));
    parser.addOption(dir);
    parser.addOption(headless);
    if (const auto status = CommandLine::Parse(parser, CommandLine::Arguments(argc, argv), program,
                                               Startup::VersionText())) {
        return *status;
    }
    const QString directory = parser.value(dir);
    if (parser.isSet(dir) && !QFileInfo(directory).isDir()) {
        return CommandLine::Fail(program,
                                 QStringLiteral("the folder %1 does not exist").arg(directory));
    }

    Mail::GlobalInit();
#ifdef FERNLOG_GUI
    if (!parser.isSet(headless)) {
        QApplication app(argc, argv);
        QCoreApplication::setApplicationName(program);
        ProgramDir::Configure(directory);
        return MainWindow::Run();
    }
#endif
    // Built without windows, fernlog always runs headless.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(program);
    ProgramDir::Configure(directory);
    return Headless::Run();
}
