#include "settings/ui/frmAdvancedEmail.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "settings/ui/FormHelpers.h"

using ConfigurationRules::Field;

frmAdvancedEmail::frmAdvancedEmail(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAdvancedEmail"));
    setWindowTitle(QStringLiteral("Internet Email Settings"));
    setModal(true);

    auto* server = new QGroupBox(QStringLiteral("SMTP Server"), this);
    txtSMTPPort = new QLineEdit(QStringLiteral("25"), server);
    txtSMTPPort->setObjectName(QStringLiteral("txtSMTPPort"));
    txtServerTimeOut = new QLineEdit(QStringLiteral("60"), server);
    txtServerTimeOut->setObjectName(QStringLiteral("txtServerTimeOut"));
    for (QLineEdit* box : {txtSMTPPort, txtServerTimeOut}) box->setMaximumWidth(70);
    chkSSL =
        new QCheckBox(QStringLiteral("Connect to the SMTP server via the SSL protocol"), server);
    chkSSL->setObjectName(QStringLiteral("chkSSL"));
    auto* serverLayout = new QFormLayout(server);
    serverLayout->addRow(QStringLiteral("Outgoing Server Port  "), txtSMTPPort);
    serverLayout->addRow(QStringLiteral("Outgoing Server Time Out (sec)   "), txtServerTimeOut);
    serverLayout->addRow(chkSSL);

    auto* outgoing = new QGroupBox(QStringLiteral("Outgoing Server"), this);
    chkAuthentication = new QCheckBox(
        QStringLiteral("My outgoing server (SMTP) requires authentication"), outgoing);
    chkAuthentication->setObjectName(QStringLiteral("chkAuthentication"));
    cmboAuthenticationMethod = new QComboBox(outgoing);
    cmboAuthenticationMethod->setObjectName(QStringLiteral("cmboAuthenticationMethod"));
    txtUserName = new QLineEdit(outgoing);
    txtUserName->setObjectName(QStringLiteral("txtUserName"));
    txtPassword = new QLineEdit(outgoing);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtLoginDomain = new QLineEdit(outgoing);
    txtLoginDomain->setObjectName(QStringLiteral("txtLoginDomain"));
    auto* outgoingLayout = new QFormLayout(outgoing);
    outgoingLayout->addRow(chkAuthentication);
    outgoingLayout->addRow(QStringLiteral("Log on using:"), cmboAuthenticationMethod);
    outgoingLayout->addRow(QStringLiteral("User Name:"), txtUserName);
    outgoingLayout->addRow(QStringLiteral("Password:"), txtPassword);
    auto* domain = new QLabel(
        QStringLiteral("Windows domain for logging into the SMTP server (if required):"), outgoing);
    domain->setWordWrap(true);
    outgoingLayout->addRow(domain);
    outgoingLayout->addRow(txtLoginDomain);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    OKButton->setAutoDefault(false);
    CancelButton->setAutoDefault(false);
    connect(OKButton, &QPushButton::clicked, this, &frmAdvancedEmail::Ok);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(outgoing);
    layout->addLayout(buttons);

    cmboAuthenticationMethod->addItems(AdvancedEmailRules::Methods());
    connect(chkAuthentication, &QCheckBox::clicked, this, &frmAdvancedEmail::Authenticate);
    auto* numbers = new FormHelpers::NumericKeyFilter(
        this, [](QLineEdit* box) { FormHelpers::SetMarked(box, false); });
    numbers->Watch(txtSMTPPort);
    numbers->Watch(txtServerTimeOut);
}

void frmAdvancedEmail::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormHelpers::CentreOnScreen(this);
        Activate();
    }
}

void frmAdvancedEmail::Activate() {
    const AdvancedEmailRules::AdvancedEmailForm f = AdvancedEmailRules::LoadAdvancedForm();
    txtSMTPPort->setText(f.SMTPPort);
    txtServerTimeOut->setText(f.ServerTimeOut);
    chkSSL->setChecked(f.SSL);
    chkAuthentication->setChecked(f.Authentication);
    const int method = cmboAuthenticationMethod->findText(f.AuthenticationMethod);
    if (method >= 0) {
        cmboAuthenticationMethod->setCurrentIndex(method);
    } else {
        // A method this list does not offer is kept as stored.
        cmboAuthenticationMethod->addItem(f.AuthenticationMethod);
        cmboAuthenticationMethod->setCurrentIndex(cmboAuthenticationMethod->count() - 1);
    }
    txtUserName->setText(f.UserName);
    txtPassword->setText(f.Password);
    txtLoginDomain->setText(f.LoginDomain);
    Authenticate();
}

void frmAdvancedEmail::Authenticate() {
    const bool on = chkAuthentication->isChecked();
    cmboAuthenticationMethod->setEnabled(on);
    txtUserName->setEnabled(on);
    txtPassword->setEnabled(on);
    if (!on) cmboAuthenticationMethod->setCurrentIndex(4);  // "NONE"
}

AdvancedEmailRules::AdvancedEmailForm frmAdvancedEmail::Form() const {
    AdvancedEmailRules::AdvancedEmailForm f;
    f.SMTPPort = txtSMTPPort->text();
    f.ServerTimeOut = txtServerTimeOut->text();
    f.SSL = chkSSL->isChecked();
    f.Authentication = chkAuthentication->isChecked();
    f.AuthenticationMethod = cmboAuthenticationMethod->currentText();
    f.UserName = txtUserName->text();
    f.Password = txtPassword->text();
    f.LoginDomain = txtLoginDomain->text();
    return f;
}

void frmAdvancedEmail::Ok() {
    if (AdvancedEmailRules::ApplyAdvanced(Form(), *this) == AdvancedEmailRules::OkResult::Close) {
        accept();
    }
}

QLineEdit* frmAdvancedEmail::Box(Field field) const {
    switch (field) {
        case Field::txtSMTPPort:
            return txtSMTPPort;
        case Field::txtServerTimeOut:
            return txtServerTimeOut;
        case Field::txtUserName:
            return txtUserName;
        case Field::txtPassword:
            return txtPassword;
        default:
            return nullptr;
    }
}

void frmAdvancedEmail::FocusField(Field field) {
    if (QLineEdit* box = Box(field)) box->setFocus();
}

void frmAdvancedEmail::SetFieldText(Field field, const QString& text) {
    if (QLineEdit* box = Box(field)) box->setText(text);
}

void frmAdvancedEmail::MarkField(Field field) {
    if (QLineEdit* box = Box(field)) FormHelpers::SetMarked(box, true);
}
