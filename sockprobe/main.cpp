#include <QApplication>

#include "common/CommandLine.h"
#include "common/Dialogs.h"
#include "common/ui/MessageBoxDialogs.h"
#include "sockprobe/ui/frmMain.h"

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks that TCP port 10001 and UDP port 30718 get through on this "
                       "computer: a client sends a fixed text to a listener on the same "
                       "computer over each port."));
    if (const auto status =
            CommandLine::Parse(parser, CommandLine::Arguments(argc, argv),
                               QStringLiteral("sockprobe"), QStringLiteral("1.0.0"))) {
        return *status;
    }
    QApplication app(argc, argv);
    Dialogs::SetDefaultTitle(QStringLiteral("Sockprobe"));
    MessageBoxDialogs::Install();
    frmMain window;
    window.show();
    return app.exec();
}
