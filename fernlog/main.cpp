// fernlog: polls the registered devices, logs their readings, keeps alarm
// and failure records and sends e-mails.
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include "app/AdminCommands.h"
#include "app/ExportCommand.h"
#include "common/CommandLine.h"
#include "common/FolderLock.h"
#include "common/ProgramDir.h"
#include "core/Headless.h"
#include "core/Mailer.h"
#include "core/Startup.h"
#include "core/Timings.h"
#include "db/Provision.h"
#include "web/Service.h"

#ifdef FERNLOG_GUI
#include <QApplication>

#include "app/ui/MainWindow.h"
#endif

namespace {
// An installed fernlog keeps its files in the user's data directory, which
// nobody provisions beforehand: the first run there gets an empty database.
void ConfigureProgramDir(const QString& directory) {
    ProgramDir::Origin origin;
    const QString path = ProgramDir::Configure(directory, &origin);
    if (origin != ProgramDir::Origin::PerUser) return;
    bool created = false;
    QString error;
    if (!Provision::CreateMissingDatabase(path, &created, &error)) {
        QTextStream(stderr) << "fernlog: cannot create the database in " << path << ": " << error
                            << Qt::endl;
    } else if (created) {
        QTextStream(stdout) << "fernlog: settings, database and logs are kept in " << path
                            << Qt::endl;
    }
}
}  // namespace

int main(int argc, char** argv) {
    // Only tests set it, to shorten the waits of the program they start.
    if (QString timings; !Waits::UseTestVariable(&timings)) {
        return CommandLine::Fail(QStringLiteral("fernlog"), timings);
    }
    if (ExportCommand::Wanted(argc, argv)) return ExportCommand::Run(argc, argv);
    if (AdminCommands::Wanted(argc, argv)) return AdminCommands::Run(argc, argv);
    const QString program = QStringLiteral("fernlog");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polls the registered Corvane devices, logs their readings, keeps alarm "
                       "and failure records and sends e-mails.\n\n"
                       "Commands (fernlog COMMAND --help tells more):\n  ") +
        ExportCommand::Summary() + QStringLiteral("\n  ") + AdminCommands::Summary());
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("Program directory: settings file, zolo.mdb, data logs (default: "
                       "$FERNLOG_DIR, else the executable's directory in the build tree, else "
                       "the user's data directory)."),
        QStringLiteral("DIR"));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run without a window; events (alarms, failures, e-mails, errors) go "
                       "to standard output; SIGINT or SIGTERM stops after the shutdown e-mail."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Without a window: also print the routine status lines (each device's "
                       "result in every cycle, communication errors)."));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Like --verbose, and also every connection opened and closed."));
    const QCommandLineOption http(
        QStringLiteral("http"),
        QStringLiteral("Serve the status page, its JSON, the metrics and the health check on "
                       "ADDRESS:PORT (instead of [Web] Listen= of FernlogOptions.ini); outside "
                       "loopback only with [Web] Token=."),
        QStringLiteral("ADDRESS:PORT"));
    parser.addOption(dir);
    parser.addOption(http);
    parser.addOption(headless);
    parser.addOption(verbose);
    parser.addOption(trace);
    if (const auto status = CommandLine::Parse(parser, CommandLine::Arguments(argc, argv), program,
                                               Startup::VersionText())) {
        return *status;
    }
    const QString directory = parser.value(dir);
    if (parser.isSet(dir) && !QFileInfo(directory).isDir()) {
        return CommandLine::Fail(program,
                                 QStringLiteral("the folder %1 does not exist").arg(directory));
    }

    const auto httpOption = [&] {
        return parser.isSet(http) ? std::optional<QString>(parser.value(http)) : std::nullopt;
    };
    Mail::GlobalInit();
#ifdef FERNLOG_GUI
    if (!parser.isSet(headless)) {
        if (!CommandLine::HasDisplay()) {
            return CommandLine::Fail(
                program, QStringLiteral("no display for the window; fernlog --headless runs "
                                        "without one"));
        }
        QApplication app(argc, argv);
        QCoreApplication::setApplicationName(program);
        ConfigureProgramDir(directory);
        FolderLock::ProgramLock lock;
        QString lockError;
        if (!lock.Acquire(ProgramDir::Path(), &lockError)) {
            return CommandLine::Fail(program, lockError);
        }
        Web::Service web;
        QString webError;
        if (!web.Configure(httpOption(), &webError)) return CommandLine::Fail(program, webError);
        web.Start();
        return MainWindow::Run();
    }
#endif
    // Built without windows, fernlog always runs headless.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(program);
    ConfigureProgramDir(directory);
    // Held until the program ends: one fernlog per folder.
    FolderLock::ProgramLock lock;
    QString lockError;
    if (!lock.Acquire(ProgramDir::Path(), &lockError)) return CommandLine::Fail(program, lockError);
    Web::Service web;
    QString webError;
    if (!web.Configure(httpOption(), &webError)) return CommandLine::Fail(program, webError);
    return Headless::Run(parser.isSet(verbose), parser.isSet(trace), [&web] { web.Start(); });
}
