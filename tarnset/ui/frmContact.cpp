#include "tarnset/ui/frmContact.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmContact::frmContact(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmContact"));
    setWindowTitle(QStringLiteral("Contact Information"));
    auto* text = new QLabel(QStringLiteral("Corvane monitoring devices\n\n"
                                           "Support: support@corvane.example\n"
                                           "Web: https://corvane.example/support\n\n"
                                           "Please have the MAC address of your server at hand."),
                            this);
    text->setObjectName(QStringLiteral("lblContact"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(buttons);
}
