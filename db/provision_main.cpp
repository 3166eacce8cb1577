// zolo-provision [--if-missing] DIR: creates a ready system database in DIR.
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include "common/CommandLine.h"
#include "db/Provision.h"

int main(int argc, char** argv) {
    const QString program = QStringLiteral("zolo-provision");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Creates the system database zolo.mdb in DIR with all its tables. An "
                       "existing database keeps its rows; missing tables are added."));
    parser.addPositionalArgument(QStringLiteral("DIR"),
                                 QStringLiteral("The program directory (created when missing)."));
    // For a service's start: a database that exists is never opened, so one
    // that the program cannot use either is reported by the program itself
    // rather than keeping it from starting.
    const QCommandLineOption ifMissing(
        QStringLiteral("if-missing"),
        QStringLiteral("Only create zolo.mdb when DIR has none; leave an existing file as it is."));
    parser.addOption(ifMissing);
    if (const auto status = CommandLine::Parse(parser, CommandLine::Arguments(argc, argv), program,
                                               QStringLiteral("1.0.0"), 1)) {
        return *status;
    }
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return CommandLine::Fail(program, QStringLiteral("DIR is missing (see --help)"));
    QCoreApplication app(argc, argv);
    const QString dir = args[0];
    const QString path = QDir(dir).absoluteFilePath(QStringLiteral("zolo.mdb"));
    QString error;
    bool created = true;
    const bool ok = parser.isSet(ifMissing)
                        ? Provision::CreateMissingDatabase(dir, &created, &error)
                        : Provision::CreateDatabase(dir, &error);
    if (!ok) {
        QTextStream(stderr) << program << ": " << error << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << program << ": " << path
                        << (created ? " is ready" : " exists, left as it is") << Qt::endl;
    return 0;
}
