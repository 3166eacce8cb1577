#pragma once

#include <QDialog>

#include "settings/AdvancedEmailRules.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// "Internet Email Settings": the SMTP port, time-out, SSL and login. Shows
// what the settings file holds each time it opens; OK stores the record.
class frmAdvancedEmail : public QDialog, public ConfigurationRules::FormView {
    Q_OBJECT
  public:
    explicit frmAdvancedEmail(QWidget* parent = nullptr);

    AdvancedEmailRules::AdvancedEmailForm Form() const;
    // The method, user name and password follow the authentication box;
    // without authentication the method is NONE.
    void Authenticate();

    // ConfigurationRules::FormView
    void FocusField(ConfigurationRules::Field field) override;
    void SetFieldText(ConfigurationRules::Field field, const QString& text) override;
    void MarkField(ConfigurationRules::Field field) override;
    void SetBusy(bool) override {}

    QLineEdit* txtSMTPPort = nullptr;
    QLineEdit* txtServerTimeOut = nullptr;
    QCheckBox* chkSSL = nullptr;
    QCheckBox* chkAuthentication = nullptr;
    QComboBox* cmboAuthenticationMethod = nullptr;
    QLineEdit* txtUserName = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLineEdit* txtLoginDomain = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void Activate();
    void Ok();
    QLineEdit* Box(ConfigurationRules::Field field) const;
};
