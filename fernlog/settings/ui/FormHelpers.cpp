#include "settings/ui/FormHelpers.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include "settings/ConfigurationRules.h"

namespace FormHelpers {

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

void SetMarked(QLineEdit* box, bool marked) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, marked ? QColor(Qt::yellow) : QColor(Qt::white));
    box->setPalette(palette);
}

NumericKeyFilter::NumericKeyFilter(QObject* parent, std::function<void(QLineEdit*)> accepted)
    : QObject(parent), accepted_(std::move(accepted)) {}

void NumericKeyFilter::Watch(QLineEdit* box) {
    box->installEventFilter(this);
}

bool NumericKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Keys that type nothing (arrows, Delete, Tab) move or edit as usual.
    if (key->text().isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
        key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
        key->key() == Qt::Key_Escape) {
        return false;
    }
    if (!ConfigurationRules::AcceptNumericKey(key->text())) return true;
    if (accepted_) accepted_(static_cast<QLineEdit*>(watched));
    return false;
}

}  // namespace FormHelpers
