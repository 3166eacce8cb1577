// tarnset: the window, or the command-line mode when a command is given.
// The command line needs no display, so it never creates a QApplication.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "common/CommandLine.h"
#include "common/Dialogs.h"
#include "tarnset/Cli.h"
#include "tarnset/Procedures.h"
#include "tarnset/ui/Window.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (!Cli::Wanted(arguments)) {
        if (CommandLine::HasDisplay()) return TarnsetUi::RunWindow(argc, argv);
        // Without a display Qt would abort; say what works instead.
        fprintf(stderr, "tarnset: no display for the window; give a command (tarnset --help)\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnset"));
    Dialogs::SetDefaultTitle(Procedures::ApplicationTitle());
    return Cli::Run(arguments);
}
