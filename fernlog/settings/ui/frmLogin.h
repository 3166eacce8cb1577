#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// "Login": the administrator's user name and password, which unlock the
// Setup entries of the main window.
class frmLogin : public QDialog {
    Q_OBJECT
  public:
    explicit frmLogin(QWidget* parent = nullptr);

    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Ok();
};
