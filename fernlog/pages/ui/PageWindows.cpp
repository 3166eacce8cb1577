#include "pages/ui/PageWindows.h"

#include <memory>

#include "pages/ui/PageWindow.h"

void ShowPageWindow(Window which, const QString& ipAddress, qint64 serverId, QWidget* parent) {
    std::unique_ptr<PageWindow> window;
    switch (which) {
        case Window::frmQX705:
            window = std::make_unique<frmQX705>(parent);
            break;
        case Window::frmQX708:
            window = std::make_unique<frmQX708>(parent);
            break;
        case Window::frmQX720:
            window = std::make_unique<frmQX720>(parent);
            break;
        case Window::frmQX740:
            window = std::make_unique<frmQX740>(parent);
            break;
        case Window::frmZolo:
            window = std::make_unique<frmZolo>(parent);
            break;
        default:
            return;
    }
    window->SetIPAddress(ipAddress);
    window->SetServerID(serverId);
    window->exec();
}
