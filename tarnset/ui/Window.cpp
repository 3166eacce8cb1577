#include "tarnset/ui/Window.h"

#include <QApplication>
#include <QTextStream>

#include "common/Dialogs.h"
#include "common/StopSignals.h"
#include "common/ui/MessageBoxDialogs.h"
#include "tarnset/Link.h"
#include "tarnset/Procedures.h"
#include "tarnset/ui/frmMain.h"

namespace TarnsetUi {

int RunWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnset"));
    QApplication::setApplicationVersion(QStringLiteral(TARNSET_VERSION));
    const QString broadcast = qEnvironmentVariable("TARNSET_BROADCAST").trimmed();
    QString error;
    if (!broadcast.isEmpty() && !Link::SetBroadcastAddress(broadcast, &error)) {
        QTextStream(stderr) << "tarnset: TARNSET_BROADCAST: " << error << "\n";
        return 2;
    }
    Dialogs::SetDefaultTitle(Procedures::ApplicationTitle());
    MessageBoxDialogs::Install();
    frmMain window;
    // SIGINT and SIGTERM close the window, which ends any wait.
    StopSignals::Install([&window](int) { window.close(); });
    window.show();
    return app.exec();
}

}  // namespace TarnsetUi
