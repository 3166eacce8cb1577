#pragma once

#include <QDialog>

// The maker's contact details.
class frmContact : public QDialog {
    Q_OBJECT
  public:
    explicit frmContact(QWidget* parent = nullptr);
};
