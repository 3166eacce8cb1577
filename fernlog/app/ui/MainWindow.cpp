#include "app/ui/MainWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <exception>
#include <memory>

#include "app/ui/frmMain.h"
#include "app/ui/frmSplash.h"
#include "common/Dialogs.h"
#include "common/StopSignals.h"
#include "common/ui/MessageBoxDialogs.h"
#include "core/Startup.h"

namespace MainWindow {

namespace {
void Center(QWidget& widget) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        widget.move(area.center() - widget.rect().center());
    }
}
}  // namespace

int Run() {
    MessageBoxDialogs::Install();
    std::unique_ptr<frmMain> window;
    try {
        window = std::make_unique<frmMain>();
    } catch (const std::exception& e) {
        Dialogs::Message(QStringLiteral("An error has occured while starting ") +
                             Startup::ProgramTitle() + QStringLiteral(".  The error is ") +
                             QString::fromLocal8Bit(e.what()),
                         Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
        return 1;
    }
    // The splash and the closed-to-tray window must not end the program;
    // only a confirmed close does.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(window.get(), &frmMain::Unloaded, qApp, &QCoreApplication::quit);

    frmSplash splash;
    Center(splash);
    bool shown = false;
    frmMain* main = window.get();
    QObject::connect(&splash, &frmSplash::Closed, main, [main, &shown] {
        if (shown) return;
        shown = true;
        main->show();
        main->raise();
        main->activateWindow();
        // Without a window manager no activation event may come.
        QTimer::singleShot(0, main, &frmMain::RunPendingActivation);
    });
    splash.show();
    QTimer::singleShot(1000, &splash, &QWidget::close);

    // SIGTERM and SIGINT stop the program as a confirmed close would.
    // A signal that comes while the window is being destroyed finds nothing.
    StopSignals::Install([target = QPointer<frmMain>(main)](int) {
        if (target) target->StopWithoutAsking();
    });
    return QApplication::exec();
}

}  // namespace MainWindow
