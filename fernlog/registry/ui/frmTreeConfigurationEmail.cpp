#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/EmailNotification.h"
#include "db/ServerDatabase.h"
#include "registry/ui/frmTreeConfigurationParts.h"

// The e-mail frame: a server's list of alarm addresses.

using namespace TreeConfigurationParts;

void frmTreeConfiguration::BuildEmailFrame() {
    frmSetupEmail = new QGroupBox(QStringLiteral("Email List"), this);
    frmSetupEmail->setObjectName(QStringLiteral("frmSetup2"));
    frmSetupEmail->setMinimumWidth(440);
    txtEmailAddr = FieldBox(QStringLiteral("txtEmailAddr"), frmSetupEmail);
    lstEmailAddr = new QListWidget(frmSetupEmail);
    lstEmailAddr->setObjectName(QStringLiteral("lstEmailAddr"));
    lstEmailAddr->setContextMenuPolicy(Qt::CustomContextMenu);
    btnAddEmail = Button(QStringLiteral("btnAddEmail"), QStringLiteral("Add"), frmSetupEmail);
    btnDeleteEmailAddress =
        Button(QStringLiteral("btnDeleteEmailAddress"), QStringLiteral("Delete"), frmSetupEmail);
    btnSaveEmail = Button(QStringLiteral("btnSaveEmail"), QStringLiteral("Save"), frmSetupEmail);
    btnTestEmailAddr =
        Button(QStringLiteral("btnTestEmailAddr"), QStringLiteral("Test"), frmSetupEmail);
    btnCloseEmailFrame =
        Button(QStringLiteral("btnCloseEmailFrame"), QStringLiteral("Close"), frmSetupEmail);
    lblStatus = new QLabel(frmSetupEmail);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Send an email to: "), txtEmailAddr);
    // The commands two by two, Save and Close at the bottom right, as in
    // the server frame.
    auto* commands = new QGridLayout;
    commands->addWidget(btnAddEmail, 0, 0);
    commands->addWidget(btnDeleteEmailAddress, 0, 1);
    commands->addWidget(btnTestEmailAddr, 1, 0);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSaveEmail);
    buttons->addWidget(btnCloseEmailFrame);
    auto* layout = new QVBoxLayout(frmSetupEmail);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("Email List"), frmSetupEmail));
    layout->addWidget(lstEmailAddr);
    layout->addLayout(commands);
    layout->addWidget(lblStatus);
    layout->addLayout(buttons);

    connect(btnAddEmail, &QPushButton::clicked, this, &frmTreeConfiguration::AddEmail);
    connect(btnDeleteEmailAddress, &QPushButton::clicked, this,
            &frmTreeConfiguration::DeleteEmailAddress);
    connect(btnSaveEmail, &QPushButton::clicked, this, [this] {
        QString error;
        if (!SaveEmail(&error)) {
            Say(QStringLiteral("There was an error saving the email addresses.  The error is : ") +
                    error,
                Icon::Critical);
        }
    });
    connect(btnTestEmailAddr, &QPushButton::clicked, this, &frmTreeConfiguration::TestEmailAddr);
    connect(btnCloseEmailFrame, &QPushButton::clicked, this, [this] {
        frmSetupEmail->hide();
        frmSetupServer->show();
    });
    connect(lstEmailAddr, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QListWidgetItem* item = lstEmailAddr->itemAt(at))
            AskRemoveEmail(lstEmailAddr->row(item));
    });
}

bool frmTreeConfiguration::SaveEmail(QString* error) {
    // The list shown is that of the server frame's server, whatever node the
    // tree has selected since.
    if (frame_.EmailServerId() < 0) {
        if (error)
            *error = QStringLiteral("Please save the new server before adding email addresses.");
        return false;
    }
    QStringList addresses;
    for (int i = 0; i < lstEmailAddr->count(); ++i) addresses << lstEmailAddr->item(i)->text();
    return ServerDatabase::UpdateServerEmail(frame_.EmailServerId(),
                                             Registry::JoinEmailList(addresses), error);
}

void frmTreeConfiguration::AddEmail() {
    const QString address = txtEmailAddr->text();
    if (!Registry::LooksLikeEmailAddress(address)) {
        Say(QStringLiteral("Please verify email address.  This email address does not seem valid."),
            Icon::Warning);
        return;
    }
    lstEmailAddr->addItem(address);
    txtEmailAddr->clear();
    QString error;
    if (!SaveEmail(&error)) {
        Say(QStringLiteral("Failed to save email address to the database.  The error is: ") + error,
            Icon::Critical);
    }
    txtEmailAddr->setFocus();
}

void frmTreeConfiguration::DeleteEmailAddress() {
    if (QListWidgetItem* item = lstEmailAddr->currentItem(); item && item->isSelected()) {
        delete lstEmailAddr->takeItem(lstEmailAddr->row(item));
    }
}

void frmTreeConfiguration::AskRemoveEmail(int row) {
    if (row < 0 || row >= lstEmailAddr->count()) return;
    if (Dialogs::Message(QStringLiteral("Remove this email address?"), Buttons::YesNo,
                         Icon::Question) == Dialogs::Answer::Yes) {
        delete lstEmailAddr->takeItem(row);
    }
}

void frmTreeConfiguration::TestEmailAddr() {
    btnTestEmailAddr->setEnabled(false);
    QListWidgetItem* item = lstEmailAddr->currentItem();
    if (!item || !item->isSelected()) {
        Say(QStringLiteral(
            "Select an address to send a test message to and then click Test button."));
    } else {
        const QString address = item->text();
        QString errorText;
        if (EmailNotification::SendTestEmail(address, errorText)) {
            Say(QStringLiteral("Email successfully sent to ") + address);
        } else {
            Say(QStringLiteral("Email was not successfully sent to ") + address +
                    QStringLiteral(" the error is ") + errorText,
                Icon::Warning);
        }
    }
    btnTestEmailAddr->setEnabled(true);
}
