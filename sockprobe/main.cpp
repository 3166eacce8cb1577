#include <QApplication>
#include <QCoreApplication>

#include "common/CommandLine.h"
#include "common/Dialogs.h"
#include "common/ui/MessageBoxDialogs.h"
#include "sockprobe/PortCheck.h"
#include "sockprobe/ui/frmMain.h"

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks that TCP port 10001 and UDP port 30718 get through on this "
                       "computer: a client sends a fixed text to a listener on the same "
                       "computer over each port."));
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Runs the check without a window and prints its lines; exit status 0 "
                       "when both ports pass, 1 otherwise."));
    const QCommandLineOption loopback(
        QStringLiteral("loopback"),
        QStringLiteral("The client sends to 127.0.0.1 instead of this computer's address."));
    parser.addOptions({check, loopback});
    if (const auto status =
            CommandLine::Parse(parser, CommandLine::Arguments(argc, argv),
                               QStringLiteral("sockprobe"), QStringLiteral("1.0.0"))) {
        return *status;
    }
    if (parser.isSet(check)) {
        QCoreApplication app(argc, argv);
        // Messages of the check go to the console, answered with the safe choice.
        return Sockprobe::CheckFromConsole(!parser.isSet(loopback)) ? 0 : 1;
    }
    if (!CommandLine::HasDisplay()) {
        return CommandLine::Fail(QStringLiteral("sockprobe"),
                                 QStringLiteral("no display to open the window on; sockprobe "
                                                "--check runs the check without one"));
    }
    QApplication app(argc, argv);
    Dialogs::SetDefaultTitle(QStringLiteral("Sockprobe"));
    MessageBoxDialogs::Install();
    frmMain window;
    window.show();
    return app.exec();
}
