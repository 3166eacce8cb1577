#pragma once

// What the parts of the registry window share: the hourglass of its own
// commands, the message helper and the controls' constructors. Included only
// by the window's own files.
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include "common/Dialogs.h"
#include "core/DeviceLink.h"
#include "registry/Registry.h"
#include "registry/ui/frmTreeConfiguration.h"

// Keeps the hourglass up while one of the window's own commands runs; the
// link's hourglass comes and goes with each transaction inside it.
class BusyScope {
  public:
    explicit BusyScope(frmTreeConfiguration* w) : w_(w) {
        ++w_->ownBusy_;
        w_->UpdateCursor();
    }
    ~BusyScope() {
        --w_->ownBusy_;
        w_->UpdateCursor();
        if (w_->ownBusy_ == 0) w_->AfterWork();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    frmTreeConfiguration* w_;
};

namespace TreeConfigurationParts {

using Dialogs::Buttons;
using Dialogs::Icon;
using Registry::Outcome;

inline const QString kMainNode = QStringLiteral("MainNode");
constexpr int kKeyRole = Qt::UserRole;
constexpr int kServerFrame = 0;
constexpr int kEmailFrame = 2;
constexpr int kEmailFrameRequest = 17;

inline void Say(const QString& text, Icon icon = Icon::Information) {
    // A program that is stopping has ended the transaction; its outcome is
    // no news to the user.
    if (!DeviceLink::ProgramRunning) return;
    Dialogs::Message(text, Buttons::Ok, icon);
}

inline QString DegreeUnit(QChar letter) {
    return QString(QChar(0xB0)) + letter;
}

inline QPushButton* Button(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

inline QLineEdit* FieldBox(const QString& name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    return field;
}

}  // namespace TreeConfigurationParts
