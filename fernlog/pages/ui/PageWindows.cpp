#include "pages/ui/PageWindows.h"

#include "common/Dialogs.h"

// Until the configuration windows exist, the choice is reported.
void ShowPageWindow(Window which, const QString& ipAddress, qint64 /*serverId*/,
                    QWidget* /*parent*/) {
    Dialogs::Message(QStringLiteral("The configuration window ") + WindowName(which) +
                         QStringLiteral(" for the device at ") + ipAddress +
                         QStringLiteral(" is not available in this version."),
                     Dialogs::Buttons::Ok, Dialogs::Icon::Information);
}
