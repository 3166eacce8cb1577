#include "registry/ui/frmTreeConfiguration.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/Decoding.h"
#include "core/EmailNotification.h"
#include "core/StatusList.h"
#include "db/ServerDatabase.h"
#include "pages/ui/PageWindows.h"
#include "registry/Registry.h"

// Keeps the hourglass up while one of the window's own commands runs; the
// link's hourglass comes and goes with each transaction inside it.
class BusyScope {
  public:
    explicit BusyScope(frmTreeConfiguration* w) : w_(w) {
        ++w_->ownBusy_;
        w_->UpdateCursor();
    }
    ~BusyScope() {
        --w_->ownBusy_;
        w_->UpdateCursor();
        if (w_->ownBusy_ == 0) w_->AfterWork();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    frmTreeConfiguration* w_;
};

namespace {

using Dialogs::Buttons;
using Dialogs::Icon;
using Registry::Outcome;

const QString kMainNode = QStringLiteral("MainNode");
constexpr int kKeyRole = Qt::UserRole;
constexpr int kServerFrame = 0;
constexpr int kEmailFrame = 2;
constexpr int kEmailFrameRequest = 17;

void Say(const QString& text, Icon icon = Icon::Information) {
    // A program that is stopping has ended the transaction; its outcome is
    // no news to the user.
    if (!DeviceLink::ProgramRunning) return;
    Dialogs::Message(text, Buttons::Ok, icon);
}

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

QString DegreeUnit(QChar letter) {
    return QString(QChar(0xB0)) + letter;
}

QPushButton* Button(const QString& name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* Field(const QString& name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    return field;
}

}  // namespace

frmTreeConfiguration::frmTreeConfiguration(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmTreeConfiguration"));
    setWindowTitle(QStringLiteral("Fernlog Setup"));
    setModal(true);

    ServerTree = new QTreeWidget(this);
    ServerTree->setObjectName(QStringLiteral("ServerTree"));
    ServerTree->setHeaderHidden(true);
    ServerTree->setContextMenuPolicy(Qt::CustomContextMenu);
    ServerTree->setMinimumWidth(380);
    ServerTree->setMaximumWidth(440);
    ServerTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ServerTree->header()->setStretchLastSection(false);
    QFont mono = ServerTree->font();
    mono.setFamily(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    ServerTree->setFont(mono);
    connect(ServerTree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* node) { ClickNode(node); });
    connect(ServerTree, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { mnuPopUp->popup(ServerTree->viewport()->mapToGlobal(at)); });

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
    resize(1280, 560);
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
        currentServerId_ = -1;
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
        connect(sensors, &QAction::triggered, this, &frmTreeConfiguration::Sensors);
    }
    connect(mnuDeleteServerPopUp, &QAction::triggered, this,
            &frmTreeConfiguration::DeleteServerCommand);
}

void frmTreeConfiguration::BuildServerFrame() {
    frmSetupServer = new QGroupBox(QStringLiteral("Server"), this);
    frmSetupServer->setObjectName(QStringLiteral("frmSetup0"));
    frmSetupServer->setMinimumWidth(440);
    txtServerName = Field(QStringLiteral("txtServerName"), frmSetupServer);
    txtServerIPAddress = Field(QStringLiteral("txtServerIPAddress"), frmSetupServer);
    txtServerNotes = Field(QStringLiteral("txtServerNotes"), frmSetupServer);
    txtUserPassword = Field(QStringLiteral("txtUserPassword"), frmSetupServer);
    txtUserPassword->setText(QStringLiteral("****"));
    txtModel = Field(QStringLiteral("txtModel"), frmSetupServer);
    txtModel->setReadOnly(true);
    txtModel->setText(QStringLiteral("Server model could not be determined"));
    cmboUnits = new QComboBox(frmSetupServer);
    cmboUnits->setObjectName(QStringLiteral("cmboUnits"));
    chkEnable = new QCheckBox(QStringLiteral("Enable this Device"), frmSetupServer);
    chkEnable->setObjectName(QStringLiteral("chkEnable"));
    lblServerError = new QLabel(frmSetupServer);
    lblServerError->setObjectName(QStringLiteral("lblServerError"));
    lblServerError->setWordWrap(true);
    lblServerError->setMinimumHeight(48);
    lblServerError->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ProgressBar = new QProgressBar(frmSetupServer);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setTextVisible(false);
    ProgressBar->setMaximumHeight(10);
    ProgressBar->hide();

    btnSaveServer = Button(QStringLiteral("btnSaveServer"), QStringLiteral("Save"), frmSetupServer);
    btnCancel = Button(QStringLiteral("btnCancel"), QStringLiteral("Close"), frmSetupServer);
    btnTestCommunication = Button(QStringLiteral("btnTestCommunication"),
                                  QStringLiteral("Test Communications"), frmSetupServer);
    btnSensors = Button(QStringLiteral("btnSensors"), QStringLiteral("Sensors"), frmSetupServer);
    btnServerEmailAddresses = Button(QStringLiteral("btnServerEmailAddresses"),
                                     QStringLiteral("Alarm Email Addresses"), frmSetupServer);
    btnRestoreFactoryDefaults = Button(QStringLiteral("btnRestoreFactoryDefaults"),
                                       QStringLiteral("Restore Factory Defaults"), frmSetupServer);
    btnRefresh = Button(QStringLiteral("btnRefresh"), QStringLiteral("Refresh"), frmSetupServer);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Server Name:"), txtServerName);
    form->addRow(QStringLiteral("IP Address:"), txtServerIPAddress);
    form->addRow(QStringLiteral("Notes:"), txtServerNotes);
    form->addRow(QStringLiteral("Password:"), txtUserPassword);
    form->addRow(QStringLiteral("Server Model:"), txtModel);
    form->addRow(QStringLiteral("Temperature Display Units:"), cmboUnits);
    form->addRow(QString(), chkEnable);
    auto* buttons = new QGridLayout;
    buttons->addWidget(btnSaveServer, 0, 0);
    buttons->addWidget(btnCancel, 0, 1);
    buttons->addWidget(btnRefresh, 0, 2);
    buttons->addWidget(btnTestCommunication, 1, 0);
    buttons->addWidget(btnSensors, 1, 1);
    buttons->addWidget(btnServerEmailAddresses, 1, 2);
    buttons->addWidget(btnRestoreFactoryDefaults, 2, 0, 1, 3);
    auto* layout = new QVBoxLayout(frmSetupServer);
    layout->addLayout(form);
    layout->addWidget(lblServerError);
    layout->addWidget(ProgressBar);
    layout->addLayout(buttons);

    connect(btnSaveServer, &QPushButton::clicked, this, [this] {
        if (Busy()) return;
        BusyScope busy(this);
        SaveAServer();
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] { ShowFrame(-1); });
    connect(btnRefresh, &QPushButton::clicked, this, [this] {
        if (Busy()) return;
        BusyScope busy(this);
        EditAServer();
    });
    connect(btnTestCommunication, &QPushButton::clicked, this,
            &frmTreeConfiguration::TestCommunication);
    connect(btnSensors, &QPushButton::clicked, this, &frmTreeConfiguration::Sensors);
    connect(btnServerEmailAddresses, &QPushButton::clicked, this, [this] {
        emailFrameRequest_ = kEmailFrameRequest;
        ShowFrame(kEmailFrame);
    });
    connect(btnRestoreFactoryDefaults, &QPushButton::clicked, this,
            &frmTreeConfiguration::RestoreFactoryDefaults);
    // A field marked yellow by a failed check returns to normal when edited.
    for (QLineEdit* field : {txtServerName, txtServerIPAddress}) {
        connect(field, &QLineEdit::textChanged, field,
                [field] { field->setStyleSheet(QString()); });
    }
}

void frmTreeConfiguration::BuildEmailFrame() {
    frmSetupEmail = new QGroupBox(QStringLiteral("Email List"), this);
    frmSetupEmail->setObjectName(QStringLiteral("frmSetup2"));
    frmSetupEmail->setMinimumWidth(440);
    txtEmailAddr = Field(QStringLiteral("txtEmailAddr"), frmSetupEmail);
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
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b :
         {btnAddEmail, btnDeleteEmailAddress, btnSaveEmail, btnTestEmailAddr, btnCloseEmailFrame}) {
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(frmSetupEmail);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("Email List"), frmSetupEmail));
    layout->addWidget(lstEmailAddr);
    layout->addLayout(buttons);
    layout->addWidget(lblStatus);

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

void frmTreeConfiguration::BuildDateTimeFrame() {
    frmDateTime = new QGroupBox(QStringLiteral("On Board Data Log Parameters"), this);
    frmDateTime->setObjectName(QStringLiteral("frmDateTime"));
    txtDT = Field(QStringLiteral("txtDT"), frmDateTime);
    txtDT->setReadOnly(true);  // typing into it is ignored
    txtUR = Field(QStringLiteral("txtUR"), frmDateTime);
    txtUR->setToolTip(
        QStringLiteral("This value is how often data is stored in the on board data "
                       "log.  Valid range is 1 to 60 minutes."));
    txtNR = Field(QStringLiteral("txtNR"), frmDateTime);
    txtNR->setReadOnly(true);
    chkCLF = new QCheckBox(QStringLiteral("Reset log record pointer after download"), frmDateTime);
    chkCLF->setObjectName(QStringLiteral("chkCLF"));
    chkCLF->setToolTip(QStringLiteral(
        "Check this box prior to downloading to reset the log record pointer back to 0."));
    btnStoreDateTime = Button(QStringLiteral("btnStoreDateTime"),
                              QStringLiteral("Store Data Log Parameters to Server"), frmDateTime);
    btnStoreDateTime->setToolTip(
        QStringLiteral("Click this button to store the time and the update rate to the server."));
    btnGetLogFile = Button(QStringLiteral("btnGetLogFile"),
                           QStringLiteral("Download all log records"), frmDateTime);
    btnGetLogFile->setToolTip(QStringLiteral("Download all log records."));
    btnExportLog = Button(QStringLiteral("btnExportLog"),
                          QStringLiteral("Export data to .csv file"), frmDateTime);
    btnExportLog->setToolTip(QStringLiteral("Export all log records to a .csv file."));
    btnExportLog->hide();
    Command2 = Button(QStringLiteral("Command2"), QStringLiteral("Decode"), frmDateTime);
    gridLog = new QTableView(frmDateTime);
    gridLog->setObjectName(QStringLiteral("gridLog"));
    logModel = new Ds1337::LogGridModel(gridLog);
    gridLog->setModel(logModel);
    gridLog->verticalHeader()->hide();
    gridLog->verticalHeader()->setDefaultSectionSize(gridLog->fontMetrics().height() + 6);
    gridLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridLog->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto* rate = new QHBoxLayout;
    rate->addWidget(txtUR);
    rate->addWidget(new QLabel(QStringLiteral("(Valid range: 1 to 60 minutes)"), frmDateTime));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Local Time at Server:"), txtDT);
    form->addRow(QStringLiteral("Update Rate (min):"), rate);
    form->addRow(QStringLiteral("Number of Log Records:"), txtNR);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {btnStoreDateTime, btnGetLogFile, btnExportLog, Command2}) {
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(frmDateTime);
    layout->addLayout(form);
    layout->addWidget(chkCLF);
    layout->addLayout(buttons);
    layout->addWidget(gridLog, 1);

    connect(btnStoreDateTime, &QPushButton::clicked, this, &frmTreeConfiguration::StoreDateTime);
    connect(btnGetLogFile, &QPushButton::clicked, this, &frmTreeConfiguration::GetLogFile);
    connect(btnExportLog, &QPushButton::clicked, this, &frmTreeConfiguration::ExportLog);
    connect(Command2, &QPushButton::clicked, this, &frmTreeConfiguration::DecodeLog);
}

// ---------------------------------------------------------------------------
// The tree

void frmTreeConfiguration::LoadServers() {
    QList<ServerDatabase::ServerRow> servers;
    QString error;
    const bool ok = ServerDatabase::ListServers(servers, &error);
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
        return;
    }
    currentServerId_ = Registry::ServerIdFromKey(key);
}

void frmTreeConfiguration::EditServerCommand() {
    QTreeWidgetItem* node = ServerTree->currentItem();
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
    currentServerId_ = Registry::ServerIdFromKey(key);
    EditAServer();
    frmSetupServer->show();
}

void frmTreeConfiguration::DeleteServerCommand() {
    QTreeWidgetItem* node = ServerTree->currentItem();
    const qint64 id = node ? Registry::ServerIdFromKey(node->data(0, kKeyRole).toString()) : -1;
    if (id < 0) {
        Say(QStringLiteral("Please select a server"));
        return;
    }
    currentServerId_ = id;
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
    Say(deleted ? QStringLiteral("Server has been deleted")
                : QStringLiteral("Server has not been deleted"));
}

// ---------------------------------------------------------------------------
// Frames

void frmTreeConfiguration::ShowFrame(int frame) {
    if (frame == -1) {
        HideAllFrames();
        return;
    }
    if (frame == kEmailFrame) {
        if (currentServerId_ == -1) {
            Say(QStringLiteral("Please save the new server before adding email addresses."));
            return;
        }
        HideAllFrames();
        ServerDatabase::ServerRow server;
        if (!ServerDatabase::ReadServer(currentServerId_, server)) return;
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
// Servers

QString frmTreeConfiguration::Name() const {
    return txtServerName->text();
}

QString frmTreeConfiguration::Ip() const {
    return txtServerIPAddress->text();
}

QChar frmTreeConfiguration::UnitLetter() const {
    const QString text = cmboUnits->currentText();
    return text.size() >= 2 ? text.at(1) : QLatin1Char('F');
}

void frmTreeConfiguration::SetStatusText(const QString& text, bool red) {
    lblServerError->setStyleSheet(red ? QStringLiteral("color: rgb(255, 0, 0);")
                                      : QStringLiteral("color: rgb(0, 0, 0);"));
    lblServerError->setText(text);
}

void frmTreeConfiguration::MarkMissing(QLineEdit* field, const QString& message) {
    field->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 0);"));
    field->setFocus();
    Say(message, Icon::Warning);
}

void frmTreeConfiguration::ClearLogFields() {
    txtDT->clear();
    txtUR->clear();
    txtNR->clear();
    chkCLF->setChecked(false);
}

void frmTreeConfiguration::AddAServer() {
    frmSetupServer->setTitle(QStringLiteral("Add a new server"));
    lstEmailAddr->clear();
    txtEmailAddr->clear();
    txtServerName->clear();
    txtServerIPAddress->clear();
    txtServerNotes->clear();
    txtModel->setText(Protocol::UnknownModelText());
    lblServerError->hide();
    chkEnable->setChecked(true);
    frmSetupServer->show();
}

void frmTreeConfiguration::DisplayModel() {
    txtModel->setText(Protocol::ModelText(Decoding::DeviceFamily, Decoding::DeviceModel));
}

void frmTreeConfiguration::EditAServer() {
    lstEmailAddr->clear();
    txtEmailAddr->clear();
    ClearLogFields();
    ServerDatabase::ServerRow server;
    if (!ServerDatabase::ReadServer(currentServerId_, server)) return;
    txtServerIPAddress->setText(server.ip);
    txtServerNotes->setText(server.notes);
    txtUserPassword->setText(server.password);
    chkEnable->setChecked(server.enabled != 0);
    ParseAddrToList(server.emailList);
    frmSetupServer->setTitle(QStringLiteral("Edit: ") + server.name);
    lblServerError->show();
    // Shown before the device is read, so that its progress bar is seen.
    AlignFrame(frmSetupServer);

    Protocol::Identification id;
    const bool identified = Registry::Identify(server.ip, id);
    if (identified) {
        DisplayModel();
        QByteArray page;
        switch (Registry::ReadNamePage(server.ip, id.family, page)) {
            case Outcome::Ok:
                txtServerName->setText(Registry::PageName(page));
                cmboUnits->setCurrentIndex(Registry::PageUnit(page) == QLatin1Char('C') ? 1 : 0);
                SetStatusText(QStringLiteral("Successfully downloaded data from ") + Name() +
                                  QStringLiteral(" ") + Protocol::IdentificationText(id),
                              false);
                break;
            case Outcome::Busy:
                txtServerName->setText(server.name.trimmed());
                SetStatusText(Name() + QStringLiteral(" is currently on the phone.  Please wait "
                                                      "and try again later."),
                              true);
                break;
            case Outcome::Failed:
                txtServerName->setText(server.name.trimmed());
                SetStatusText(QStringLiteral("There was an error downloading data from ") + Name(),
                              true);
                break;
        }
        if (Ds1337::ReadsLogParameters(id)) {
            QString date;
            int rate = 0;
            qint32 size = 0;
            Ds1337::ReadLogParameters(server.ip, date, rate, size);
            if (!date.isEmpty() && !date.startsWith(QLatin1String("Failed to read"))) {
                txtDT->setText(date);
                txtUR->setText(QString::number(rate));
                txtNR->setText(QString::number(size));
            } else {
                ClearLogFields();
            }
        }
    } else {
        txtServerName->setText(server.name.trimmed());
        txtModel->setText(server.model);
        SetStatusText(QStringLiteral("There was an error downloading data from ") + Name(), true);
    }
    AlignFrame(frmSetupServer);
    // Only a device that answered is offered its log.
    if (identified && Ds1337::HasOnBoardLog(id)) {
        frmDateTime->setTitle(QStringLiteral("Data Log Parameters for ") + Name());
        logModel->SetGrid({});
        btnExportLog->hide();
        frmDateTime->show();
    } else {
        frmDateTime->hide();
    }
}

void frmTreeConfiguration::SaveAServer() {
    // A new server is one not yet stored; the caption alone would take a
    // server whose name contains "new" for one.
    const bool isNew = currentServerId_ == -1;
    if (Name().trimmed().isEmpty()) {
        MarkMissing(txtServerName, QStringLiteral("Please enter a name for this server."));
        return;
    }
    if (Ip().isEmpty()) {
        MarkMissing(txtServerIPAddress, QStringLiteral("Please enter the IP address."));
        return;
    }
    if (!Registry::IsValidIPAddress(Ip())) {
        MarkMissing(txtServerIPAddress,
                    QStringLiteral("The IP address ") + Ip() +
                        QStringLiteral(" is not valid.  Please enter four numbers from 0 to 255 "
                                       "separated by dots."));
        return;
    }
    if (isNew) {
        QString owner;
        if (!ServerDatabase::IsIPAddressUnique(Ip(), owner)) {
            if (!owner.isNull()) {
                Say(QStringLiteral("The IP address ") + Ip() +
                        QStringLiteral(" is currently being used by ") + owner.trimmed() +
                        QStringLiteral(".  Please enter a unique IP address."),
                    Icon::Warning);
            }
            return;
        }
    }
    QStringList addresses;
    for (int i = 0; i < lstEmailAddr->count(); ++i) addresses << lstEmailAddr->item(i)->text();
    const QString emailList = Registry::JoinEmailList(addresses);
    if (txtUserPassword->text().isEmpty()) txtUserPassword->setText(QStringLiteral("****"));
    int enabled = chkEnable->isChecked() ? 1 : 0;
    int comm = 0;

    if (enabled != 0) {
        Protocol::Identification id;
        if (!Registry::Identify(Ip(), id)) {
            Say(QStringLiteral("Can not communicate with") + Ip(), Icon::Critical);
            return;
        }
        DisplayModel();
        QByteArray page;
        const QString name20 = Registry::Name20(Name());
        switch (Registry::ReadNamePage(Ip(), id.family, page)) {
            case Outcome::Ok: {
                const QByteArray image =
                    Registry::ComposeNamePage(page, Name(), UnitLetter(), Ip());
                switch (Registry::StoreNamePage(Ip(), image)) {
                    case Outcome::Ok:
                        SetStatusText(QStringLiteral("Successfully uploaded data to ") + name20,
                                      false);
                        comm = -1;
                        break;
                    case Outcome::Busy: {
                        const QString text =
                            name20 + QStringLiteral(
                                         " is currently on the phone. The server will be "
                                         "added to the monitoring system but will not "
                                         "be enabled.");
                        SetStatusText(text, false);
                        Say(text, Icon::Warning);
                        enabled = 0;
                        break;
                    }
                    case Outcome::Failed:
                        SetStatusText(QStringLiteral("There was an error uploading the server data "
                                                     "to ") +
                                          Ip() + QStringLiteral("."),
                                      false);
                        Say(QStringLiteral("There was an error uploading the server data to ") +
                                Ip() +
                                QStringLiteral(".  Before proceeding please verify the IP address "
                                               "you are using and that ") +
                                Name() +
                                QStringLiteral(" is powered on and connected to the network."),
                            Icon::Warning);
                        enabled = 0;
                        break;
                }
                break;
            }
            case Outcome::Busy:
                SetStatusText(name20 + QStringLiteral(" is currently on the phone. The server will "
                                                      "be added to the monitoring system but will "
                                                      "not be enabled."),
                              false);
                Say(Name() + QStringLiteral(" is currently on the phone.  The server will be added "
                                            "to the monitoring system but will not be enabled."),
                    Icon::Warning);
                enabled = 0;
                comm = -1;
                break;
            case Outcome::Failed:
                SetStatusText(
                    QStringLiteral("There was an error uploading the server data to ") + Ip() +
                        QStringLiteral(".  Before proceeding please verify the IP "
                                       "address, and that ") +
                        Name() + QStringLiteral(" is powered on and connected to the network. ") +
                        Name() + QStringLiteral(" has been added to the database."),
                    true);
                Say(QStringLiteral("There was an error uploading data to ") + Ip() +
                        QStringLiteral(".  Before proceeding please verify the IP address you are "
                                       "using and that ") +
                        Name() + QStringLiteral(" is powered on and connected to the network. ") +
                        Name() + QStringLiteral(" has been added to the database."),
                    Icon::Warning);
                enabled = 0;
                break;
        }
        lblServerError->show();
    }

    QString error;
    if (isNew) {
        if (!ServerDatabase::AddServer(Name(), txtModel->text(), Ip(), txtServerNotes->text(),
                                       enabled, txtUserPassword->text(), emailList, comm, &error)) {
            Say(Name() +
                    QStringLiteral("'s data was not added to the server database.  The error is ") +
                    error,
                Icon::Critical);
            return;
        }
    } else if (!ServerDatabase::UpdateServer(currentServerId_, Name(), txtModel->text(), Ip(),
                                             txtServerNotes->text(), enabled,
                                             txtUserPassword->text(), emailList, comm, &error)) {
        Say(Name() +
                QStringLiteral("'s data could not be updated to the server database.  The error "
                               "is ") +
                error,
            Icon::Critical);
        return;
    }
    chkEnable->setChecked(enabled != 0);
    LoadServers();
    if (isNew) {
        QTreeWidgetItem* root = ServerTree->topLevelItem(0);
        if (root && root->childCount() > 0) {
            QTreeWidgetItem* last = root->child(root->childCount() - 1);
            currentServerId_ = Registry::ServerIdFromKey(last->data(0, kKeyRole).toString());
            SelectNode(last);
            frmSetupServer->setTitle(QStringLiteral("Edit: ") + Name());
        }
    }
}

void frmTreeConfiguration::Sensors() {
    if (Busy()) return;
    BusyScope busy(this);
    ServerDatabase::ServerRow server;
    if (!ServerDatabase::ReadServer(currentServerId_, server)) {
        Say(QStringLiteral("Please select a server"));
        return;
    }
    Protocol::Identification id;
    if (!Registry::Identify(server.ip, id)) {
        Say(QStringLiteral("The was an error communicating with the server at IP address") +
                server.ip + QStringLiteral(".  Please try again."),
            Icon::Critical);
        return;
    }
    const Window which = Registry::ConfigWindowFor(id.family, id.model);
    if (which == Window::None) return;
    ShowPageWindow(which, server.ip, server.id, this);
    LoadServers();
}

// ---------------------------------------------------------------------------
// E-mail list

bool frmTreeConfiguration::SaveEmail(QString* error) {
    QStringList addresses;
    for (int i = 0; i < lstEmailAddr->count(); ++i) addresses << lstEmailAddr->item(i)->text();
    return ServerDatabase::UpdateServerEmail(currentServerId_, Registry::JoinEmailList(addresses),
                                             error);
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

// ---------------------------------------------------------------------------
// Device commands

void frmTreeConfiguration::TestCommunication() {
    if (Busy()) return;
    BusyScope busy(this);
    btnTestCommunication->setText(QStringLiteral("Testing...."));
    const QString ip = Ip();
    Protocol::Identification id;
    if (!Registry::Identify(ip, id)) {
        lblServerError->setText(QStringLiteral("Failed to communicate with IP address ") + ip);
        Say(QStringLiteral("Error reading from IP address ") + ip, Icon::Warning);
    } else {
        DisplayModel();
        lblServerError->setText(QStringLiteral("Successfully communicated with ") + ip);
        // A name page that cannot be read leaves the typed name as it is.
        QByteArray page;
        if (Registry::ReadNamePage(ip, id.family, page) == Outcome::Ok) {
            txtServerName->setText(Registry::PageName(page));
        }
        Say(QStringLiteral("Successfully communicated with ") + Name() + QStringLiteral(" ") +
            Protocol::IdentificationText(id) + QStringLiteral(" at IP address ") + ip);
    }
    lblServerError->show();
    btnTestCommunication->setText(QStringLiteral("Test Communications"));
}

void frmTreeConfiguration::RestoreFactoryDefaults() {
    if (Busy()) return;
    if (Dialogs::Message(
            QStringLiteral("Reset '") + Name() + QStringLiteral("' to factory default values?"),
            Buttons::YesNo, Icon::Critical) != Dialogs::Answer::Yes) {
        Say(Name() + QStringLiteral(" was not reset to factory defaults."));
        return;
    }
    BusyScope busy(this);
    btnRestoreFactoryDefaults->setText(QStringLiteral("Restoring...."));
    switch (Registry::RestoreFactoryDefaults(Ip())) {
        case Outcome::Ok:
            Say(QStringLiteral("Successfully set ") + Name() +
                QStringLiteral(" user page to factory defaults"));
            break;
        case Outcome::Busy:
            Say(Name() + QStringLiteral(" is currently busy on the phone. The server could not be "
                                        "reset to factory defaults. Please wait and try again."),
                Icon::Warning);
            break;
        case Outcome::Failed:
            Say(QStringLiteral("Error resetting ") + Name() +
                    QStringLiteral(" to factory defaults"),
                Icon::Critical);
            break;
    }
    btnRestoreFactoryDefaults->setText(QStringLiteral("Restore Factory Defaults"));
}

void frmTreeConfiguration::StoreDateTime() {
    int rate = 0;
    switch (Registry::CheckUpdateRate(txtUR->text(), rate)) {
        case Registry::RateCheck::Empty:
            Say(QStringLiteral("Please enter a value for the log update rate."), Icon::Warning);
            return;
        case Registry::RateCheck::OutOfRange:
            Say(QStringLiteral("The valid update rate is betweek 1 and 60 minutes"), Icon::Warning);
            txtUR->setText(QString::number(Registry::kDefaultUpdateRate));
            txtUR->setFocus();
            return;
        case Registry::RateCheck::Ok:
            break;
    }
    if (Busy()) return;
    BusyScope busy(this);
    txtDT->clear();
    QByteArray result;
    if (!Ds1337::StoreDateTime(Ip(), rate, result)) {
        txtDT->setText(QString::fromLatin1(result));
        return;
    }
    QString text;
    Ds1337::DecodeClockText(result, Ds1337::ClockLayout::kMinutes, text);
    txtDT->setText(text);
}

void frmTreeConfiguration::GetLogFile() {
    if (Busy()) return;
    BusyScope busy(this);
    int code = 0;
    if (chkCLF->isChecked()) {
        const Dialogs::Answer answer = Dialogs::Message(
            QStringLiteral("Reset log pointer after download?"), Buttons::YesNo, Icon::Question);
        code = answer == Dialogs::Answer::Yes ? 6 : 7;
        if (answer != Dialogs::Answer::Yes) chkCLF->setChecked(false);
    }
    SetStatusText(
        QString::number(code) + QStringLiteral("  Downloading log records from ") + Name(), false);
    lblServerError->show();
    QByteArray data;
    if (!Ds1337::DownloadLog(Ip(), data, chkCLF->isChecked() ? 1 : 0, txtNR->text().toInt())) {
        // The last good download stays for Decode and the export.
        SetStatusText(QStringLiteral("Failure while downloading log records from ") + Name(), true);
        btnExportLog->hide();
        return;
    }
    keptLog_ = data;
    keptLogDevice_ = Registry::LastIdentification();
    DecodeLog();
    lblServerError->setStyleSheet(QStringLiteral("color: rgb(0, 0, 0);"));
    btnExportLog->show();
    QString path, error;
    if (!Ds1337::SaveDownloadedLog(keptLog_, path, &error)) {
        SetStatusText(QStringLiteral("Failure while creating binary file ") + path +
                          QStringLiteral(".  The error is ") + error,
                      true);
    }
}

void frmTreeConfiguration::DecodeLog() {
    Ds1337::LogGrid grid = logModel->Grid();
    if (Ds1337::DecodeLog(keptLog_, keptLogDevice_, grid)) logModel->SetGrid(grid);
}

void frmTreeConfiguration::ExportLog() {
    const QString file = chooseExportFile(Name() + QStringLiteral(".csv"));
    if (file.isEmpty()) {
        Say(QStringLiteral("There was an error exporting the log file.  The error is Cancel was "
                           "selected."),
            Icon::Warning);
        return;
    }
    if (Ds1337::ExportLogCsv(logModel->Grid(), keptLogDevice_.family, file)) {
        Say(QStringLiteral("The file ") + file + QStringLiteral(" has been created"));
    } else {
        Say(QStringLiteral("There was an error creating the log file ") + file +
                QStringLiteral(".  No log file has been created."),
            Icon::Warning);
    }
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
