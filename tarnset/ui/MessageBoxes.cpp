#include "tarnset/ui/MessageBoxes.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

#include "common/Dialogs.h"

namespace MessageBoxes {
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
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::Warning:
            return QMessageBox::Warning;
        case Icon::Critical:
            return QMessageBox::Critical;
        case Icon::Question:
            return QMessageBox::Question;
        default:
            return QMessageBox::NoIcon;
    }
}

Dialogs::Reply Show(const Dialogs::Request& request) {
    // Line breaks travel as carriage returns, as the texts were written.
    QString text = request.text;
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QWidget* parent = QApplication::activeWindow();
    if (request.kind == Dialogs::Request::Kind::Input) {
        bool ok = false;
        const QString value = QInputDialog::getText(parent, request.title, text, QLineEdit::Normal,
                                                    request.initial, &ok);
        if (!ok) return {Dialogs::Answer::Cancel, {}};
        return {Dialogs::Answer::Ok, value};
    }
    QMessageBox box(ToQt(request.icon), request.title, text, ToQt(request.buttons), parent);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return {Dialogs::Answer::Yes, {}};
        case QMessageBox::No:
            return {Dialogs::Answer::No, {}};
        case QMessageBox::Ok:
            return {Dialogs::Answer::Ok, {}};
        case QMessageBox::Retry:
            return {Dialogs::Answer::Retry, {}};
        default:
            return {Dialogs::Answer::Cancel, {}};
    }
}

}  // namespace

void Install() {
    Dialogs::SetHandler(Show);
}

}  // namespace MessageBoxes
