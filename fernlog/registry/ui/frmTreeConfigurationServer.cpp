#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/Decoding.h"
#include "db/ServerDatabase.h"
#include "pages/ui/PageWindows.h"
#include "registry/Ds1337.h"
#include "registry/ui/frmTreeConfigurationParts.h"

// The server frame: adding, editing and saving a server, and the commands
// that act on its device.

using namespace TreeConfigurationParts;

void frmTreeConfiguration::BuildServerFrame() {
    frmSetupServer = new QGroupBox(QStringLiteral("Server"), this);
    frmSetupServer->setObjectName(QStringLiteral("frmSetup0"));
    txtServerName = FieldBox(QStringLiteral("txtServerName"), frmSetupServer);
    txtServerIPAddress = FieldBox(QStringLiteral("txtServerIPAddress"), frmSetupServer);
    txtServerNotes = FieldBox(QStringLiteral("txtServerNotes"), frmSetupServer);
    txtUserPassword = FieldBox(QStringLiteral("txtUserPassword"), frmSetupServer);
    txtUserPassword->setText(QStringLiteral("****"));
    txtModel = FieldBox(QStringLiteral("txtModel"), frmSetupServer);
    txtModel->setReadOnly(true);
    txtModel->setText(QStringLiteral("Server model could not be determined"));
    // Wide enough for the longest model text, shown from its start.
    int modelWidth = 0;
    for (const auto& [family, model] :
         {std::pair{5, 5}, {5, 8}, {5, 10}, {5, 40}, {3, 3}, {3, 4}, {3, 5}, {0, 20}, {0, 4}}) {
        modelWidth =
            std::max(modelWidth,
                     txtModel->fontMetrics().horizontalAdvance(Protocol::ModelText(family, model)));
    }
    txtModel->setMinimumWidth(modelWidth + 16);
    connect(txtModel, &QLineEdit::textChanged, txtModel,
            [this] { txtModel->setCursorPosition(0); });
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
    // Its room is kept while hidden, so the buttons do not jump when it shows.
    QSizePolicy keep = ProgressBar->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    ProgressBar->setSizePolicy(keep);
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
    // As in every frame: the commands on the device two by two, the frame's
    // own Save and Close at the bottom right.
    auto* commands = new QGridLayout;
    commands->addWidget(btnTestCommunication, 0, 0);
    commands->addWidget(btnSensors, 0, 1);
    commands->addWidget(btnServerEmailAddresses, 1, 0);
    commands->addWidget(btnRestoreFactoryDefaults, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnRefresh);
    buttons->addStretch();
    buttons->addWidget(btnSaveServer);
    buttons->addWidget(btnCancel);
    btnSaveServer->setDefault(true);
    auto* layout = new QVBoxLayout(frmSetupServer);
    layout->addLayout(form);
    layout->addLayout(commands);
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
    // The frame's own server; with no server frame open, the selected node's.
    connect(btnSensors, &QPushButton::clicked, this, [this] {
        Sensors(frame_.Adding() || frame_.Editing() ? frame_.ServerId() : currentServerId_);
    });
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
    txtServerName->setFocus();
}

void frmTreeConfiguration::DisplayModel() {
    txtModel->setText(Protocol::ModelText(Decoding::DeviceFamily, Decoding::DeviceModel));
}

void frmTreeConfiguration::EditAServer() {
    // A new server has no row to read yet.
    if (!frame_.Editing()) return;
    lstEmailAddr->clear();
    txtEmailAddr->clear();
    ClearLogFields();
    ServerDatabase::ServerRow server;
    if (!ServerDatabase::ReadServer(frame_.ServerId(), server)) return;
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
            qint32 size = -1;  // left as it is when the device does not answer
            Ds1337::ReadLogParameters(server.ip, date, rate, size);
            ClearLogFields();
            // A failed read says so; the rate and size stay empty, and an
            // unknown size refuses the download.
            txtDT->setText(date);
            if (size >= 0) {
                txtUR->setText(QString::number(rate));
                txtNR->setText(QString::number(size));
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
    if (!frame_.Adding() && !frame_.Editing()) return;
    const bool isNew = frame_.Adding();
    QStringList addresses;
    for (int i = 0; i < lstEmailAddr->count(); ++i) addresses << lstEmailAddr->item(i)->text();
    Registry::ServerEntry entry;
    entry.name = Name();
    entry.ip = Ip();
    entry.notes = txtServerNotes->text();
    entry.password = txtUserPassword->text();
    entry.emailList = Registry::JoinEmailList(addresses);
    entry.model = txtModel->text();
    entry.unit = UnitLetter();
    entry.enabled = chkEnable->isChecked();
    Registry::SaveReport report;
    const bool stored = Registry::SaveServer(isNew ? -1 : frame_.ServerId(), entry, report);
    using Field = Registry::SaveReport::Field;
    if (report.field != Field::None) {
        MarkMissing(report.field == Field::Name ? txtServerName : txtServerIPAddress,
                    report.message);
        return;
    }
    if (txtUserPassword->text().isEmpty()) txtUserPassword->setText(QStringLiteral("****"));
    if (report.contacted) {
        txtModel->setText(report.model);
        SetStatusText(report.status, report.statusRed);
        lblServerError->show();
    }
    if (!report.message.isEmpty()) Say(report.message, report.icon);
    if (!stored) return;
    chkEnable->setChecked(report.enabled);
    LoadServers();
    if (isNew) {
        QTreeWidgetItem* root = ServerTree->topLevelItem(0);
        if (root && root->childCount() > 0) {
            QTreeWidgetItem* last = root->child(root->childCount() - 1);
            currentServerId_ = Registry::ServerIdFromKey(last->data(0, kKeyRole).toString());
            frame_.Added(currentServerId_);
            SelectNode(last);
            frmSetupServer->setTitle(QStringLiteral("Edit: ") + Name());
        }
    }
}

void frmTreeConfiguration::Sensors(qint64 serverId) {
    if (Busy()) return;
    BusyScope busy(this);
    ServerDatabase::ServerRow server;
    if (!ServerDatabase::ReadServer(serverId, server)) {
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
