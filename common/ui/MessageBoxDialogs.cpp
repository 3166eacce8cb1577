#include "common/ui/MessageBoxDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include "common/Dialogs.h"

namespace MessageBoxDialogs {
namespace {

QMessageBox::StandardButtons ToQt(Dialogs::Buttons buttons) {
    using Dialogs::Buttons;
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

QMessageBox::Icon ToQt(Dialogs::Icon icon) {
    using Dialogs::Icon;
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

Dialogs::Answer FromQt(int button) {
    using Dialogs::Answer;
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

Dialogs::Reply Show(const Dialogs::Request& request) {
    if (request.kind == Dialogs::Request::Kind::Input) {
        bool ok = false;
        const QString text = QInputDialog::getText(nullptr, request.title, request.text,
                                                   QLineEdit::Normal, request.initial, &ok);
        if (!ok) return {Dialogs::Answer::Cancel, {}};
        return {Dialogs::Answer::Ok, text};
    }
    QMessageBox box(ToQt(request.icon), request.title, request.text, ToQt(request.buttons),
                    QApplication::activeWindow());
    // Texts may carry what a device or a server sent; never render them as rich text.
    box.setTextFormat(Qt::PlainText);
    return {FromQt(box.exec()), {}};
}

}  // namespace

void Install() {
    Dialogs::SetHandler(Show);
}

}  // namespace MessageBoxDialogs
