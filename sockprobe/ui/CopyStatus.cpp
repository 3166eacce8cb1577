#include "sockprobe/ui/CopyStatus.h"

#include <QClipboard>
#include <QGuiApplication>

namespace Sockprobe {

QString StatusText(const QStringList& lines) {
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QStringLiteral("\r\n");
    }
    return text;
}

void CopyStatus(const QStringList& lines) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(StatusText(lines));
}

}  // namespace Sockprobe
