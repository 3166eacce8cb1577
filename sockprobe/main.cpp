#include <QApplication>

#include "common/Dialogs.h"
#include "common/ui/MessageBoxDialogs.h"
#include "sockprobe/ui/frmMain.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Dialogs::SetDefaultTitle(QStringLiteral("Sockprobe"));
    MessageBoxDialogs::Install();
    frmMain window;
    window.show();
    return app.exec();
}
