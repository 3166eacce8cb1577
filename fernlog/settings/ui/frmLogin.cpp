#include "settings/ui/frmLogin.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "settings/Login.h"
#include "settings/ui/FormHelpers.h"

frmLogin::frmLogin(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("Login"));
    setModal(true);
    txtUserName = new QLineEdit(this);
    txtUserName->setObjectName(QStringLiteral("txtUserName"));
    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    auto* userLabel = new QLabel(QStringLiteral("&User Name:"), this);
    userLabel->setBuddy(txtUserName);
    auto* passwordLabel = new QLabel(QStringLiteral("&Password:"), this);
    passwordLabel->setBuddy(txtPassword);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdOK, &QPushButton::clicked, this, &frmLogin::Ok);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogin::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(userLabel, 0, 0);
    grid->addWidget(txtUserName, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(txtPassword, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    resize(320, sizeHint().height());
}

void frmLogin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    FormHelpers::CentreOnScreen(this);
    txtUserName->clear();
    txtPassword->clear();
    txtUserName->setFocus();
}

void frmLogin::Ok() {
    switch (Login::CheckLogin(txtUserName->text(), txtPassword->text())) {
        case Login::Result::Succeeded:
            accept();
            return;
        case Login::Result::InvalidPassword:
            txtPassword->setFocus();
            txtPassword->selectAll();
            return;
        case Login::Result::InvalidUsername:
            txtUserName->setFocus();
            txtUserName->selectAll();
            return;
    }
}

void frmLogin::reject() {
    Login::CancelLogin();
    QDialog::reject();
}
