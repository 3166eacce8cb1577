#include "tarnset/ui/frmAbout.h"

#include <QFont>
#include <QHBoxLayout>
#include <QHostInfo>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>

#include "common/Dialogs.h"
#include "tarnset/Procedures.h"

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    const QString title = Procedures::ApplicationTitle();
    setWindowTitle(QStringLiteral("About ") + title);
    lblTitle = new QLabel(title, this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont big = lblTitle->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    lblTitle->setFont(big);
    lblVersion = new QLabel(QStringLiteral("Version ") + QStringLiteral(TARNSET_VERSION), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    auto* description = new QLabel(
        QStringLiteral("Finds Corvane servers on the network, sets their addresses and tests "
                       "them."),
        this);
    description->setWordWrap(true);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [] {
        Dialogs::Message(SystemInfoText(), Dialogs::Buttons::Ok, Dialogs::Icon::Information,
                         QStringLiteral("System Information"));
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(lblVersion);
    layout->addWidget(description);
    layout->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(380);
}

QString frmAbout::SystemInfoText() {
    return QStringLiteral(
               "Operating system: %1\rKernel: %2 %3\rProcessor: %4\rComputer name: %5\rQt: %6")
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(), QSysInfo::kernelVersion(),
             QSysInfo::currentCpuArchitecture(), QHostInfo::localHostName(),
             QString::fromLatin1(qVersion()));
}
