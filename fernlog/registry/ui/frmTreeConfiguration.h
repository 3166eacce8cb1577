#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <functional>

#include "core/DeviceLink.h"
#include "protocol/Identification.h"
#include "registry/Ds1337.h"
#include "registry/ServerFrame.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;

// "Fernlog Setup": the register of devices (servers) in a tree, the server,
// e-mail and data-log frames beside it, and the commands that act on a
// device. The device link shows its hourglass and progress here while the
// window is open.
class frmTreeConfiguration : public QDialog, public DeviceLink::LinkView {
    Q_OBJECT
  public:
    explicit frmTreeConfiguration(QWidget* parent = nullptr);
    ~frmTreeConfiguration() override;

    // The window's operations, by their names.
    void LoadServers();
    void AddAServer();
    void EditAServer();
    void SaveAServer();
    void DisplayModel();
    // Opens the configuration window of a stored server's device.
    void Sensors(qint64 serverId);
    bool SaveEmail(QString* error = nullptr);
    void ParseAddrToList(const QString& emailAddr);
    void ShowFrame(int frame);  // -1 hides all, 0 server, 2 e-mail
    void HideAllFrames();
    void AlignFrame(QGroupBox* frame);

    // Handlers of the menus and buttons.
    // A click selects a node; the pop-up menu and the Edit menu act on the
    // selected node.
    void ClickNode(QTreeWidgetItem* node);
    void EditServerCommand();    // mnuEditServer, mnuServerPopUp
    void DeleteServerCommand();  // mnuDeleteServerPopUp
    void AddEmail();
    void DeleteEmailAddress();
    void AskRemoveEmail(int row);  // right mouse button on an entry
    void TestEmailAddr();
    void TestCommunication();
    void RestoreFactoryDefaults();
    void StoreDateTime();
    void GetLogFile();
    void ExportLog();
    void DecodeLog();  // Command2

    // The window shows the hourglass: a transaction or a save is running.
    bool Busy() const { return linkBusy_ || ownBusy_ > 0; }
    // The server of the selected node; -1 for the root or none.
    qint64 CurrentServerId() const { return currentServerId_; }
    // The server the open server frame belongs to.
    const Registry::ServerFrame& Frame() const { return frame_; }
    const QByteArray& KeptLog() const { return keptLog_; }
    QTreeWidgetItem* NodeForServer(qint64 serverId) const;

    // The save-file dialog of the export: the chosen file, or empty when
    // the user cancels. Tests replace it.
    std::function<QString(const QString& proposedName)> chooseExportFile;

    // Controls, by their names.
    QMenuBar* menuBar = nullptr;
    QAction* mnuAdd = nullptr;
    QMenu* mnuEdit = nullptr;
    QAction* mnuEditServer = nullptr;
    QAction* mnuEditSensors = nullptr;
    QMenu* mnuPopUp = nullptr;
    QAction* mnuServerPopUp = nullptr;
    QAction* mnuSensorPopUp = nullptr;
    QAction* mnuDeleteServerPopUp = nullptr;
    QTreeWidget* ServerTree = nullptr;

    QGroupBox* frmSetupServer = nullptr;  // frmSetup(0)
    QLineEdit* txtServerName = nullptr;
    QLineEdit* txtServerIPAddress = nullptr;
    QLineEdit* txtServerNotes = nullptr;
    QLineEdit* txtUserPassword = nullptr;
    QLineEdit* txtModel = nullptr;
    QComboBox* cmboUnits = nullptr;
    QCheckBox* chkEnable = nullptr;
    QLabel* lblServerError = nullptr;
    QPushButton* btnSaveServer = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnTestCommunication = nullptr;
    QPushButton* btnSensors = nullptr;
    QPushButton* btnServerEmailAddresses = nullptr;
    QPushButton* btnRestoreFactoryDefaults = nullptr;
    QPushButton* btnRefresh = nullptr;
    QProgressBar* ProgressBar = nullptr;

    QGroupBox* frmSetupEmail = nullptr;  // frmSetup(2)
    QLineEdit* txtEmailAddr = nullptr;
    QListWidget* lstEmailAddr = nullptr;
    QPushButton* btnAddEmail = nullptr;
    QPushButton* btnDeleteEmailAddress = nullptr;
    QPushButton* btnSaveEmail = nullptr;
    QPushButton* btnTestEmailAddr = nullptr;
    QPushButton* btnCloseEmailFrame = nullptr;
    QLabel* lblStatus = nullptr;

    QGroupBox* frmDateTime = nullptr;
    QLineEdit* txtDT = nullptr;
    QLineEdit* txtUR = nullptr;
    QLineEdit* txtNR = nullptr;
    QCheckBox* chkCLF = nullptr;
    QPushButton* btnStoreDateTime = nullptr;
    QPushButton* btnGetLogFile = nullptr;
    QPushButton* btnExportLog = nullptr;
    QPushButton* Command2 = nullptr;
    QTableView* gridLog = nullptr;
    Ds1337::LogGridModel* logModel = nullptr;

    // DeviceLink::LinkView
    void SetConnectionColour(Colour) override {}  // the main window's indicator shows it
    void SetBusyCursor(bool busy) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    void HideProgress() override;
    void ShowDownloadProgress(const QString& text) override;
    QString ChosenDeviceName() const override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    friend class BusyScope;
    void BuildMenus();
    void BuildServerFrame();
    void BuildEmailFrame();
    void BuildDateTimeFrame();
    void SetStatusText(const QString& text, bool red);
    void MarkMissing(QLineEdit* field, const QString& message);
    void ClearLogFields();
    void UpdateCursor();
    void SelectNode(QTreeWidgetItem* node);
    void AfterWork();
    QString Name() const;
    QString Ip() const;
    QChar UnitLetter() const;

    qint64 currentServerId_ = -1;
    Registry::ServerFrame frame_;
    int emailFrameRequest_ = -1;
    bool linkBusy_ = false;
    int ownBusy_ = 0;
    bool closePending_ = false;
    bool loadedOnce_ = false;
    bool reloading_ = false;
    QByteArray keptLog_;
    Protocol::Identification keptLogDevice_;  // the device the kept log came from
    qint64 keptLogServerId_ = -1;             // and its server
    QWidget* framesArea_ = nullptr;
};
