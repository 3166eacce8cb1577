// fernlog: polls the registered devices, logs their readings, keeps alarm
// and failure records and sends e-mails.
#include <QCoreApplication>
#include <QTextStream>

#include "common/ProgramDir.h"
#include "core/Headless.h"
#include "core/Mailer.h"

#ifdef FERNLOG_GUI
#include <QApplication>

#include "core/ui/MainWindow.h"
#endif

namespace {
bool HasArg(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], name) == 0) return true;
    }
    return false;
}

void PrintHelp() {
    QTextStream(stdout)
        << "usage: fernlog [--dir DIR] [--headless]\n"
           "  --dir DIR    program directory: settings file, zolo.mdb, data logs\n"
           "               (default: $FERNLOG_DIR, else the executable's directory)\n"
           "  --headless   run without a window; status lines go to standard output;\n"
           "               SIGINT or SIGTERM stops after the shutdown e-mail\n";
}
}  // namespace

int main(int argc, char** argv) {
    if (HasArg(argc, argv, "--help") || HasArg(argc, argv, "-h")) {
        PrintHelp();
        return 0;
    }
    Mail::GlobalInit();
#ifdef FERNLOG_GUI
    if (!HasArg(argc, argv, "--headless")) {
        QApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("fernlog"));
        ProgramDir::Configure(argc, argv);
        return MainWindow::Run();
    }
#endif
    // Built without windows, fernlog always runs headless.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fernlog"));
    ProgramDir::Configure(argc, argv);
    return Headless::Run();
}
