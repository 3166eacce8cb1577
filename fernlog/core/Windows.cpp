#include "core/Windows.h"

QString WindowName(Window window) {
    switch (window) {
        case Window::frmMain:
            return QStringLiteral("frmMain");
        case Window::frmTreeConfiguration:
            return QStringLiteral("frmTreeConfiguration");
        case Window::frmQX705:
            return QStringLiteral("frmQX705");
        case Window::frmQX708:
            return QStringLiteral("frmQX708");
        case Window::frmQX720:
            return QStringLiteral("frmQX720");
        case Window::frmQX740:
            return QStringLiteral("frmQX740");
        case Window::frmZolo:
            return QStringLiteral("frmZolo");
        case Window::None:
            break;
    }
    return QString();
}
