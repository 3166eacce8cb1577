#pragma once

#include <QMainWindow>
#include <QString>
#include <functional>
#include <optional>

#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Startup.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QStandardItemModel;
class QSystemTrayIcon;
class QTabWidget;
class QTableView;
class QTextEdit;
class TrendChart;
struct GridRow;

// The program's one permanent window: live sensor status, the status lines,
// the trending chart, the alarm records with their resolutions and the
// grids of alarms, errors and device failures. It shows what the modules
// do; polling, start-up and shutdown live in their own modules.
class frmMain : public QMainWindow,
                public Startup::ActivationView,
                public Polling::CycleView,
                public DeviceLink::LinkView {
    Q_OBJECT
  public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // The three views behind the tabs and the view menu: 1 status,
    // 2 trending, 3 events.
    void VantorShow(int view);
    void DisplayAlarms();
    void RefreshEventsDatabase(bool byOffLine = false);
    // The trending update after a polling cycle.
    void UpdateTrending();
    // Runs the activation block when it is pending (not re-entered while it
    // shows a message box).
    void RunPendingActivation();

    // Opens a modal secondary window: nothing while a cycle runs; otherwise
    // the poll timer is stopped around it and the activation block runs
    // afterwards. Windows that change nothing (about box) resume polling
    // instead. False when the window was not opened.
    enum class AfterClose { Reactivate, Resume };
    bool OpenSecondaryWindow(const std::function<void()>& showModal, AfterClose after,
                             bool registryWindow = false);

    // The history of the sensor selected in the status grid into a CSV file
    // that `chooseHistoryFile` names (a save-file dialog; tests replace it).
    void ExportHistory();
    std::function<QString(const QString& proposed)> chooseHistoryFile;

    // A stop that was confirmed elsewhere (SIGTERM, SIGINT): no question.
    void StopWithoutAsking();

    // The chart value of a grid row: its number, or a gap.
    static std::optional<double> TrendValue(const GridRow& row);
    // The names of a state sensor's values 0 and 1, known from its reading;
    // empty for a number.
    static QStringList StateNames(const QString& reading);

    // Controls, by their names.
    QTabWidget* tabMain = nullptr;
    QGroupBox* frmStatus = nullptr;
    QTableView* gridServerStatus = nullptr;
    QListView* lstStatus = nullptr;
    QPushButton* btnUpdate = nullptr;
    QPushButton* btnExportHistory = nullptr;
    QFrame* shpGo = nullptr;
    QProgressBar* ProgressBar = nullptr;
    TrendChart* XYChart4 = nullptr;
    QPushButton* btnFreezeExamine = nullptr;
    QPushButton* btnResetZoom = nullptr;
    QGroupBox* frmErrors = nullptr;
    QTextEdit* rtbAlarms = nullptr;
    QScrollBar* AlarmNum = nullptr;
    QLabel* lblAlarmRecordNum = nullptr;
    QLabel* lblGridLegend = nullptr;
    QPushButton* btnResolution = nullptr;
    QPushButton* btnAcknowledge = nullptr;
    QGroupBox* frmResolution = nullptr;
    QTextEdit* txtResolution = nullptr;
    QPushButton* btnSaveResolution = nullptr;
    QPushButton* btnCancelResolution = nullptr;
    QTabWidget* tabGrids = nullptr;
    QTableView* dbgridAlarms = nullptr;
    QTableView* dbgridSystemErrors = nullptr;
    QTableView* dbgridDeviceAlarms = nullptr;

    QMenu* mnuConfig = nullptr;
    QAction* mnuGenReport = nullptr;
    QAction* mnuTree = nullptr;  // the registry window
    QAction* mnuStatusFrame = nullptr;
    QAction* mnuTrending = nullptr;
    QAction* mnuAlarmFrame = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;  // only where the desktop has a tray
    QMenu* mPopupSys = nullptr;
    QAction* mPopRestore = nullptr;
    QAction* mpopCreateReports = nullptr;

    // The settings dialog, the login and the about box.
    QAction* mnuOrganization = nullptr;
    QAction* mnuLogIn = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mpopConfigure = nullptr;
    void OpenConfiguration();
    void LogInOrOut();

    // What the activation block last set for the Setup entries; the
    // registry, settings and login entries follow it when they exist.
    bool SetupEnabled() const { return setupEnabled_; }
    QString LoginCaption() const { return loginCaption_; }

    // Startup::ActivationView
    void SelectFirstTab() override;
    void ResetChartTrackers() override;
    void SetSetupMenus(bool enabled, const QString& loginCaption, bool adminLoggedIn) override;
    void SetTrendingMenu(bool enabled) override;

    // Polling::CycleView
    void BlockGridInput(bool blocked) override { gridBlocked_ = blocked; }
    void SetHourglass(bool busy) override { SetBusyCursor(busy); }
    void AfterCycle() override;

    // DeviceLink::LinkView
    void SetConnectionColour(Colour colour) override;
    void SetBusyCursor(bool busy) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    void HideProgress() override {}  // the main window's bar stays visible
    void ShowDownloadProgress(const QString&) override {}
    QString ChosenDeviceName() const override { return QString(); }

  signals:
    // The window closed after a confirmed stop.
    void Unloaded();

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildStatusTab();
    void BuildTrendingTab();
    void BuildEventsTab();
    void BuildMenus();
    void BuildSettingsMenus();
    // Enables or locks every Setup entry that the administrator login
    // guards, and the login entry's caption.
    void ApplySetupMenus();
    void AddTrayIcon();
    void Unload();
    void SetupChart();
    void SaveResolution();
    void CloseResolutionEntry();
    // Asks who acknowledges the alarm on view, and a comment, and stores it
    // as the shell's "alarm ack" does.
    void AcknowledgeShownAlarm();
    // The alarm on view may be acknowledged: open, not acknowledged, and the
    // administrator login (when one is set) given.
    void UpdateAcknowledgeButton();
    // The number (1 is the newest) of the alarm with this IDNum, tried at
    // likely first; 0 when it is not in the table.
    static int FindAlarmNumber(qint64 alarmId, int likely);
    void OnTabChanged(int index);
    void OnStatusLineClicked(const QModelIndex& index);
    void CreateReports();
    QString BaseCaption() const;

    QStandardItemModel* alarmsModel_ = nullptr;
    QStandardItemModel* errorsModel_ = nullptr;
    QStandardItemModel* failuresModel_ = nullptr;
    qint64 shownAlarmId_ = 0;            // IDNum of the alarm in the view
    bool shownAcknowledgeable_ = false;  // open and not acknowledged
    qint64 resolutionAlarmId_ = 0;       // the alarm the open resolution entry is for
    int shownCount_ = 0;                 // how many alarms there were when it was shown
    bool gridBlocked_ = false;
    bool activating_ = false;
    bool stopped_ = false;
    bool setupEnabled_ = false;  // the activation block opens it
    QString loginCaption_ = QStringLiteral("Log In");
};
