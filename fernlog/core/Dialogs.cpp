#include "Dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace Dialogs {
namespace {
Handler& Current() {
    static Handler handler;
    return handler;
}

QMessageBox::StandardButtons ToQt(Buttons buttons) {
    switch (buttons) {
        case Buttons::Ok:
            return QMessageBox::Ok;
        case Buttons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case Buttons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case Buttons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon ToQt(Icon icon) {
    switch (icon) {
        case Icon::None:
            return QMessageBox::NoIcon;
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::Warning:
            return QMessageBox::Warning;
        case Icon::Critical:
            return QMessageBox::Critical;
        case Icon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

Answer FromQt(int button) {
    switch (button) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Retry:
            return Answer::Retry;
        case QMessageBox::Ok:
            return Answer::Ok;
        default:
            return Answer::Cancel;
    }
}
}  // namespace

QString DefaultTitle() {
    return QStringLiteral("Fernlog");
}

Answer Message(const QString& text, Buttons buttons, Icon icon, const QString& title) {
    const QString caption = title.isEmpty() ? DefaultTitle() : title;
    if (Current()) {
        Request request;
        request.kind = Request::Kind::Message;
        request.text = text;
        request.title = caption;
        request.buttons = buttons;
        request.icon = icon;
        return Current()(request).answer;
    }
    // Without a GUI (headless service use) nobody can answer: take the
    // safe default and leave the text on standard error.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        qWarning("%s: %s", qPrintable(caption), qPrintable(text));
        return buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel ? Answer::No
               : buttons == Buttons::Ok                                     ? Answer::Ok
                                                                            : Answer::Cancel;
    }
    QMessageBox box(ToQt(icon), caption, text, ToQt(buttons));
    return FromQt(box.exec());
}

std::optional<QString> Input(const QString& prompt, const QString& title, const QString& initial) {
    const QString caption = title.isEmpty() ? DefaultTitle() : title;
    if (Current()) {
        Request request;
        request.kind = Request::Kind::Input;
        request.text = prompt;
        request.title = caption;
        request.buttons = Buttons::OkCancel;
        request.initial = initial;
        const Reply reply = Current()(request);
        if (reply.answer != Answer::Ok) return std::nullopt;
        return reply.text;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return std::nullopt;
    bool ok = false;
    const QString text =
        QInputDialog::getText(nullptr, caption, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}

void SetHandler(Handler handler) {
    Current() = std::move(handler);
}

}  // namespace Dialogs
