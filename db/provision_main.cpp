// zolo-provision DIR: creates a ready system database in DIR.
#include <QCoreApplication>
#include <QTextStream>

#include "db/Provision.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 2 || args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h")) {
        err << "usage: zolo-provision DIR\n"
               "Creates the system database zolo.mdb in DIR with all its tables.\n"
               "An existing database keeps its rows; missing tables are added.\n";
        return args.size() == 2 ? 0 : 2;
    }
    QString error;
    if (!Provision::CreateDatabase(args[1], &error)) {
        err << "zolo-provision: " << error << "\n";
        return 1;
    }
    return 0;
}
