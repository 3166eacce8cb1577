#include "ProbeDialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace ProbeDialogs {
namespace {
Handler& CurrentHandler() {
    static Handler handler;
    return handler;
}
}  // namespace

void SetHandler(Handler handler) {
    CurrentHandler() = std::move(handler);
}

void Message(const QString& text) {
    if (CurrentHandler()) {
        CurrentHandler()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Sockprobe"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    // The text may come from the network; never let it render as rich text.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace ProbeDialogs
