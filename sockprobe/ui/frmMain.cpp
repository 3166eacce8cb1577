#include "sockprobe/ui/frmMain.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFont>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include "sockprobe/ui/CopyStatus.h"

frmMain::frmMain(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Sockprobe"));
    resize(480, 360);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    cmdStart = new QPushButton(QStringLiteral("Start Test"), central);
    cmdStart->setObjectName(QStringLiteral("cmdStart"));
    cmdStart->setFont(QFont(QStringLiteral("Verdana")));
    lstOutput = new QListWidget(central);
    lstOutput->setObjectName(QStringLiteral("lstOutput"));
    // Error lines carry the system's whole description: wrap, never cut.
    lstOutput->setWordWrap(true);
    lstOutput->setTextElideMode(Qt::ElideNone);
    layout->addWidget(cmdStart, 0, Qt::AlignLeft);
    layout->addWidget(lstOutput);
    setCentralWidget(central);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    mnuClose = file->addAction(QStringLiteral("&Close"));
    mnuClose->setObjectName(QStringLiteral("mnuClose"));

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuCopy = edit->addAction(QStringLiteral("&Copy Status to Clipboard"));
    mnuCopy->setObjectName(QStringLiteral("mnuCopy"));

    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    options->setToolTipsVisible(true);
    mnuLocalIP = options->addAction(QStringLiteral("Use Local IP"));
    mnuLocalIP->setObjectName(QStringLiteral("mnuLocalIP"));
    mnuLoopbackIP = options->addAction(QStringLiteral("Use Loopback IP"));
    mnuLoopbackIP->setObjectName(QStringLiteral("mnuLoopbackIP"));
    const QString localHelp = QStringLiteral(
        "Test through this computer's own address: the first IPv4 address of the first network "
        "interface that is up and not loopback (127.0.0.1 when there is none).");
    mnuLocalIP->setToolTip(localHelp);
    mnuLocalIP->setStatusTip(localHelp);
    const QString loopbackHelp = QStringLiteral("Test through the loopback address 127.0.0.1.");
    mnuLoopbackIP->setToolTip(loopbackHelp);
    mnuLoopbackIP->setStatusTip(loopbackHelp);
    auto* addressChoice = new QActionGroup(this);
    addressChoice->setExclusive(true);
    for (QAction* action : {mnuLocalIP, mnuLoopbackIP}) {
        action->setCheckable(true);
        addressChoice->addAction(action);
    }
    mnuLocalIP->setChecked(true);

    connect(cmdStart, &QPushButton::clicked, this, &frmMain::StartTest);
    connect(mnuClose, &QAction::triggered, this, &QWidget::close);
    connect(mnuCopy, &QAction::triggered, this, &frmMain::CopyStatus);
    connect(&check_, &Sockprobe::PortCheck::OutputCleared, lstOutput, &QListWidget::clear);
    connect(&check_, &Sockprobe::PortCheck::LineAdded, this, [this](const QString& line) {
        lstOutput->addItem(line);
        lstOutput->scrollToBottom();
    });
}

void frmMain::StartTest() {
    if (check_.Running()) return;
    QPointer<frmMain> self(this);
    cmdStart->setEnabled(false);
    check_.Run(mnuLocalIP->isChecked());
    if (self) cmdStart->setEnabled(true);
}

void frmMain::CopyStatus() {
    QStringList lines;
    for (int i = 0; i < lstOutput->count(); ++i) lines << lstOutput->item(i)->text();
    Sockprobe::CopyStatus(lines);
}

void frmMain::closeEvent(QCloseEvent* event) {
    check_.Shutdown();
    event->accept();
}
