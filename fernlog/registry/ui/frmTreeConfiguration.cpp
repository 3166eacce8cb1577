#include "registry/ui/frmTreeConfiguration.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/ProgramDir.h"
#include "core/StatusList.h"
#include "core/ui/FrameStyle.h"
#include "db/ServerDatabase.h"
#include "registry/ui/frmTreeConfigurationParts.h"

// The window, its menus and tree, the frames beside the tree, and the device
// link's view. The frames' own work is in frmTreeConfigurationServer.cpp,
// frmTreeConfigurationEmail.cpp and frmTreeConfigurationLog.cpp.

using namespace TreeConfigurationParts;

namespace {

QIcon Dot(const QColor& colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(colour.darker(160));
    painter.drawEllipse(2, 2, 12, 12);
    return QIcon(pixmap);
}

}  // namespace

frmTreeConfiguration::frmTreeConfiguration(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmTreeConfiguration"));
    setWindowTitle(QStringLiteral("Fernlog Setup"));
    setModal(true);
    UseFrameStyle(this);

    ServerTree = new QTreeWidget(this);
    ServerTree->setObjectName(QStringLiteral("ServerTree"));
    ServerTree->setHeaderHidden(true);
    ServerTree->setContextMenuPolicy(Qt::CustomContextMenu);
    ServerTree->setMinimumWidth(330);
    ServerTree->setMaximumWidth(440);
    ServerTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ServerTree->header()->setStretchLastSection(false);
    connect(ServerTree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* node) { ClickNode(node); });
    // The arrow keys and Home/End select a node as a click does, so the menu
    // commands act on the node the user sees highlighted. While a command
    // runs the highlight goes back to the node it acts on.
    connect(ServerTree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* node, QTreeWidgetItem*) {
                if (!node || reloading_) return;
                if (Busy()) {
                    QTreeWidgetItem* acting = NodeForServer(currentServerId_);
                    if (acting && acting != node) {
                        QTimer::singleShot(0, this, [this] {
                            if (QTreeWidgetItem* back = NodeForServer(currentServerId_))
                                SelectNode(back);
                        });
                    }
                    return;
                }
                ClickNode(node);
            });
    // The pop-up's commands act on the selected node, so the node under the
    // pointer is selected first, as a click selects it. While a command runs
    // the tree takes no clicks, and no pop-up either.
    connect(ServerTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (Busy()) return;
        if (QTreeWidgetItem* node = ServerTree->itemAt(at)) ClickNode(node);
        mnuPopUp->popup(ServerTree->viewport()->mapToGlobal(at));
    });

    BuildMenus();
    BuildServerFrame();
    BuildEmailFrame();
    BuildDateTimeFrame();

    framesArea_ = new QWidget(this);
    auto* frames = new QVBoxLayout(framesArea_);
    frames->setContentsMargins(0, 0, 0, 0);
    frames->addWidget(frmSetupServer);
    frames->addWidget(frmSetupEmail);
    frames->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addWidget(ServerTree);
    layout->addSpacing(13);  // 200 twips between the tree and the frames
    layout->addWidget(framesArea_);
    layout->addWidget(frmDateTime, 100);
    layout->addStretch(1);  // takes the room of hidden frames

    cmboUnits->addItems({DegreeUnit(QLatin1Char('F')), DegreeUnit(QLatin1Char('C'))});
    cmboUnits->setCurrentIndex(0);
    HideAllFrames();
    // Fits a 1280x800 screen, also with the data-log frame shown.
    resize(1240, 640);
    if (QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    chooseExportFile = [this](const QString& proposed) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export log file"),
                                            ProgramDir::File(proposed),
                                            QStringLiteral("All CSV Files (*.csv)"));
    };
    DeviceLink::SetView(Window::frmTreeConfiguration, this);
}

frmTreeConfiguration::~frmTreeConfiguration() {
    DeviceLink::SetView(Window::frmTreeConfiguration, nullptr);
}

void frmTreeConfiguration::BuildMenus() {
    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    mnuAdd = menuBar->addAction(QStringLiteral("Add New Server"));
    mnuAdd->setObjectName(QStringLiteral("mnuAdd"));
    connect(mnuAdd, &QAction::triggered, this, [this] {
        HideAllFrames();
        frame_.OpenForAdd();
        AddAServer();
    });
    mnuEdit = menuBar->addMenu(QStringLiteral("Edit"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    mnuEditServer = mnuEdit->addAction(QStringLiteral("Server"));
    mnuEditServer->setObjectName(QStringLiteral("mnuEditServer"));
    mnuEditSensors = mnuEdit->addAction(QStringLiteral("Sensors"));
    mnuEditSensors->setObjectName(QStringLiteral("mnuEditSensors"));

    mnuPopUp = new QMenu(this);
    mnuPopUp->setObjectName(QStringLiteral("mnuPopUp"));
    mnuServerPopUp = mnuPopUp->addAction(QStringLiteral("Edit Server"));
    mnuServerPopUp->setObjectName(QStringLiteral("mnuServerPopUp"));
    mnuSensorPopUp = mnuPopUp->addAction(QStringLiteral("Edit Sensors"));
    mnuSensorPopUp->setObjectName(QStringLiteral("mnuSensorPopUp"));
    mnuPopUp->addSeparator();
    mnuDeleteServerPopUp = mnuPopUp->addAction(QStringLiteral("Delete Server"));
    mnuDeleteServerPopUp->setObjectName(QStringLiteral("mnuDeleteServerPopUp"));

    for (QAction* edit : {mnuEditServer, mnuServerPopUp}) {
        connect(edit, &QAction::triggered, this, &frmTreeConfiguration::EditServerCommand);
    }
    for (QAction* sensors : {mnuEditSensors, mnuSensorPopUp}) {
        connect(sensors, &QAction::triggered, this, [this] { Sensors(currentServerId_); });
    }
    connect(mnuDeleteServerPopUp, &QAction::triggered, this,
            &frmTreeConfiguration::DeleteServerCommand);
}

// ---------------------------------------------------------------------------
// The tree

void frmTreeConfiguration::LoadServers() {
    QList<ServerDatabase::ServerRow> servers;
    QString error;
    const bool ok = ServerDatabase::ListServers(servers, &error);
    // Rebuilding the tree moves the current item through nodes that are not
    // the user's choice.
    reloading_ = true;
    ServerTree->clear();
    static const QIcon reached = Dot(QColor(0, 170, 0));
    static const QIcon other = Dot(QColor(160, 160, 160));
    auto* root = new QTreeWidgetItem(ServerTree, {QStringLiteral("Available Corvane Devices")});
    root->setData(0, kKeyRole, kMainNode);
    root->setIcon(0, reached);
    if (!ok) {
        StatusList::ShowStatus(QStringLiteral("Load Servers()"), QStringLiteral(" ") + error);
    }
    for (const ServerDatabase::ServerRow& server : servers) {
        auto* node = new QTreeWidgetItem(root, {Registry::NodeText(server.name, server.ip)});
        node->setData(0, kKeyRole, Registry::NodeKey(server.id));
        node->setIcon(0, server.comm == -1 ? reached : other);
    }
    ServerTree->expandAll();
    // The node of the server being shown stays selected across a reload.
    if (QTreeWidgetItem* node = NodeForServer(currentServerId_)) SelectNode(node);
    reloading_ = false;
}

QTreeWidgetItem* frmTreeConfiguration::NodeForServer(qint64 serverId) const {
    if (serverId < 0 || ServerTree->topLevelItemCount() == 0) return nullptr;
    QTreeWidgetItem* root = ServerTree->topLevelItem(0);
    const QString key = Registry::NodeKey(serverId);
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->data(0, kKeyRole).toString() == key) return root->child(i);
    }
    return nullptr;
}

void frmTreeConfiguration::SelectNode(QTreeWidgetItem* node) {
    QTreeWidgetItemIterator it(ServerTree);
    for (; *it; ++it) {
        QFont font = (*it)->font(0);
        font.setBold(*it == node);
        (*it)->setFont(0, font);
    }
    ServerTree->setCurrentItem(node);
}

void frmTreeConfiguration::ClickNode(QTreeWidgetItem* node) {
    if (Busy() || !node) return;
    SelectNode(node);
    const QString key = node->data(0, kKeyRole).toString();
    if (key == kMainNode) {
        currentServerId_ = -1;
        emailFrameRequest_ = -1;
        HideAllFrames();
        frame_.Close();
        return;
    }
    currentServerId_ = Registry::ServerIdFromKey(key);
}

void frmTreeConfiguration::EditServerCommand() {
    QTreeWidgetItem* node = NodeForServer(currentServerId_);
    const QString key = node ? node->data(0, kKeyRole).toString() : QString();
    if (!key.toLower().contains(QLatin1String("server"))) {
        Say(QStringLiteral("Please select a server from the list to edit"));
        return;
    }
    if (Busy()) {
        lblServerError->setText(QStringLiteral("System Busy"));
        return;
    }
    BusyScope busy(this);
    HideAllFrames();
    frame_.OpenForEdit(Registry::ServerIdFromKey(key));
    EditAServer();
    frmSetupServer->show();
}

void frmTreeConfiguration::DeleteServerCommand() {
    QTreeWidgetItem* node = NodeForServer(currentServerId_);
    const qint64 id = node ? Registry::ServerIdFromKey(node->data(0, kKeyRole).toString()) : -1;
    if (id < 0) {
        Say(QStringLiteral("Please select a server"));
        return;
    }
    // A save or read of the server may be waiting on its device.
    if (Busy()) {
        lblServerError->setText(QStringLiteral("System Busy"));
        return;
    }
    if (Dialogs::Message(QStringLiteral("Delete ") + node->text(0) + QStringLiteral("?"),
                         Buttons::OkCancel, Icon::Warning,
                         QStringLiteral("Delete Server?")) != Dialogs::Answer::Ok) {
        Say(QStringLiteral("Server has not been deleted"));
        return;
    }
    // The database layer has shown why when the delete fails.
    const bool deleted = ServerDatabase::DeleteServer(id);
    if (deleted) currentServerId_ = -1;
    LoadServers();
    HideAllFrames();
    frame_.Close();
    Say(deleted ? QStringLiteral("Server has been deleted")
                : QStringLiteral("Server has not been deleted"));
}

// ---------------------------------------------------------------------------
// Frames

void frmTreeConfiguration::ShowFrame(int frame) {
    if (frame == -1) {
        HideAllFrames();
        frame_.Close();
        return;
    }
    if (frame == kEmailFrame) {
        // The list is the open server frame's server's, whatever node is
        // selected.
        const qint64 id = frame_.EmailListFor(currentServerId_);
        if (id == -1) {
            Say(QStringLiteral("Please save the new server before adding email addresses."));
            return;
        }
        HideAllFrames();
        ServerDatabase::ServerRow server;
        if (!ServerDatabase::ReadServer(id, server)) return;
        frame_.OpenEmailList(id);
        ParseAddrToList(server.emailList);
        frmSetupEmail->setTitle(QStringLiteral("Add email addresses for: ") + server.name);
        AlignFrame(frmSetupEmail);
        return;
    }
    AlignFrame(frmSetupServer);
}

void frmTreeConfiguration::HideAllFrames() {
    frmSetupServer->hide();
    frmSetupEmail->hide();
    frmDateTime->hide();
}

void frmTreeConfiguration::AlignFrame(QGroupBox* frame) {
    // The layout keeps every frame level with the tree's top, beside it.
    frame->show();
}

void frmTreeConfiguration::ParseAddrToList(const QString& emailAddr) {
    lstEmailAddr->clear();
    lstEmailAddr->addItems(Registry::SplitEmailList(emailAddr));
}

// ---------------------------------------------------------------------------
// The device link's view, busy state and closing

void frmTreeConfiguration::UpdateCursor() {
    if (Busy()) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void frmTreeConfiguration::SetBusyCursor(bool busy) {
    linkBusy_ = busy;
    UpdateCursor();
}

void frmTreeConfiguration::SetProgressMaximum(int maximum) {
    ProgressBar->setRange(0, std::max(maximum, 1));
    ProgressBar->show();
}

void frmTreeConfiguration::SetProgressValue(int value) {
    if (value <= ProgressBar->maximum()) ProgressBar->setValue(value);
}

void frmTreeConfiguration::HideProgress() {
    ProgressBar->hide();
}

void frmTreeConfiguration::ShowDownloadProgress(const QString& text) {
    lblServerError->setText(text);
}

QString frmTreeConfiguration::ChosenDeviceName() const {
    return txtServerName->text();
}

void frmTreeConfiguration::AfterWork() {
    // A close asked for during a transaction, or a program that is
    // stopping, ends the window once the command has unwound.
    if (closePending_ || !DeviceLink::ProgramRunning) {
        closePending_ = false;
        QDialog::reject();
    }
}

void frmTreeConfiguration::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!loadedOnce_) {
        loadedOnce_ = true;
        LoadServers();
    }
}

void frmTreeConfiguration::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        closePending_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void frmTreeConfiguration::reject() {
    if (Busy()) {
        closePending_ = true;
        return;
    }
    QDialog::reject();
}
