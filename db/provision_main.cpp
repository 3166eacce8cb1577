// zolo-provision DIR: creates a ready system database in DIR.
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
    if (const auto status = CommandLine::Parse(parser, CommandLine::Arguments(argc, argv), program,
                                               QStringLiteral("1.0.0"), 1)) {
        return *status;
    }
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return CommandLine::Fail(program, QStringLiteral("DIR is missing (see --help)"));
    QCoreApplication app(argc, argv);
    const QString dir = args[0];
    QString error;
    if (!Provision::CreateDatabase(dir, &error)) {
        QTextStream(stderr) << program << ": " << error << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << program << ": " << QDir(dir).absoluteFilePath(QStringLiteral("zolo.mdb"))
                        << " is ready" << Qt::endl;
    return 0;
}
