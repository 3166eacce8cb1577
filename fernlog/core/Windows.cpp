#include "core/Windows.h"

QString WindowName(Window window) {
    switch (window) {
        case Window::frmMain:
            return QStringLiteral("frmMain");
        case Window::frmTreeConfiguration:
            return QStringLiteral("frmTreeConfiguration");
        case Window::None:
            break;
    }
    return QString();
}
