#include "frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "Clock.h"
#include "Database.h"
#include "Dialogs.h"
#include "Polling.h"
#include "ServerDatabase.h"
#include "StatusGrid.h"
#include "StatusList.h"
#include "TrendChart.h"

namespace {
const QString kCR = QStringLiteral("\n");
const QString kRefreshError =
    QStringLiteral("RefreshEventsDatabase error reading from Alarm/Error data base");
const QString kTabError = QStringLiteral("tabMain_click, error reading from Alarm/Error data base");
const QRgb kIdleColour = qRgb(224, 224, 224);

// Stored texts end lines with CR alone; the views want LF.
QString ForDisplay(const QString& text) {
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

// Date-time columns hold database stamps; windows show general date text.
QString CellText(const QString& column, const QVariant& value) {
    if (value.isNull()) return QString();
    const QString text = value.toString();
    if (column == QLatin1String("AlarmActive")) {
        return value.toInt() != 0 ? QStringLiteral("True") : QStringLiteral("False");
    }
    const QDateTime stamp = Clock::FromDbStamp(text);
    if (stamp.isValid()) return Clock::GeneralDateText(stamp);
    return ForDisplay(text);
}

bool FillGrid(QStandardItemModel* model, ServerDatabase::Listing which,
              const QStringList& columns) {
    ServerDatabase::Recordset rows;
    if (!ServerDatabase::OpenListing(which, rows)) return false;
    model->clear();
    model->setHorizontalHeaderLabels(columns);
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) {
        QList<QStandardItem*> items;
        for (const QString& column : columns) {
            auto* item = new QStandardItem(CellText(column, rows.Value(column)));
            item->setEditable(false);
            items << item;
        }
        model->appendRow(items);
    }
    return true;
}

QIcon ProgramIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0, 110, 90));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(1, 1, 30, 30, 6, 6);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("F"));
    return QIcon(pixmap);
}

QTableView* NewGrid(QWidget* parent, QAbstractItemModel* model) {
    auto* grid = new QTableView(parent);
    grid->setModel(model);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->verticalHeader()->setDefaultSectionSize(22);
    grid->horizontalHeader()->setStretchLastSection(true);
    return grid;
}
}  // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    Startup::LoadProgram();

    tabMain = new QTabWidget(this);
    tabMain->setObjectName(QStringLiteral("tabMain"));
    BuildStatusTab();
    BuildTrendingTab();
    BuildEventsTab();
    setCentralWidget(tabMain);
    BuildMenus();
    connect(tabMain, &QTabWidget::currentChanged, this, &frmMain::OnTabChanged);

    AlarmNum->setValue(1);
    btnFreezeExamine->hide();
    VantorShow(1);

    setWindowIcon(ProgramIcon());
    AddTrayIcon();
    setWindowTitle(BaseCaption());
    resize(980, 660);

    DeviceLink::SetView(QStringLiteral("frmMain"), this);
    Polling::SetHooks({[this](bool blocked) { gridBlocked_ = blocked; },
                       [this](bool busy) { SetBusyCursor(busy); }, [this] { AfterCycle(); }});
}

frmMain::~frmMain() {
    Polling::SetHooks({});
    DeviceLink::SetView(QStringLiteral("frmMain"), nullptr);
    delete trayIcon;
}

QString frmMain::BaseCaption() const {
    return Startup::ProgramTitle() + QStringLiteral(" Rev ") + Startup::VersionText();
}

void frmMain::BuildStatusTab() {
    auto* page = new QWidget(tabMain);
    frmStatus = new QGroupBox(QStringLiteral("Status"), page);

    gridServerStatus = NewGrid(frmStatus, &StatusGrid::Model());
    gridServerStatus->setObjectName(QStringLiteral("gridServerStatus"));
    gridServerStatus->verticalHeader()->hide();
    for (int column = 0; column < StatusGridModel::ColumnCount; ++column) {
        const QSize hint =
            StatusGrid::Model().headerData(column, Qt::Horizontal, Qt::SizeHintRole).toSize();
        gridServerStatus->setColumnWidth(column, std::max(hint.width(), 48));
    }
    // The longest reading text a sensor shows must fit.
    gridServerStatus->setColumnWidth(
        StatusGridModel::Reading, std::max(gridServerStatus->columnWidth(StatusGridModel::Reading),
                                           gridServerStatus->fontMetrics().horizontalAdvance(
                                               QStringLiteral("Water Not Detected")) +
                                               12));
    // Clicks and keys wait while a cycle writes the rows.
    gridServerStatus->installEventFilter(this);
    gridServerStatus->viewport()->installEventFilter(this);

    lstStatus = new QListView(frmStatus);
    lstStatus->setObjectName(QStringLiteral("lstStatus"));
    lstStatus->setModel(StatusList::Model());
    lstStatus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(lstStatus, &QListView::clicked, this, &frmMain::OnStatusLineClicked);

    btnUpdate = new QPushButton(QStringLiteral("Refresh"), frmStatus);
    btnUpdate->setObjectName(QStringLiteral("btnUpdate"));
    connect(btnUpdate, &QPushButton::clicked, this, [] { Polling::Refresh(); });

    shpGo = new QFrame(frmStatus);
    shpGo->setObjectName(QStringLiteral("shpGo"));
    shpGo->setFixedSize(18, 18);
    SetConnectionColour(kIdleColour);

    ProgressBar = new QProgressBar(frmStatus);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    ProgressBar->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnUpdate);
    buttons->addWidget(shpGo);
    buttons->addWidget(ProgressBar, 1);
    buttons->addStretch();

    auto* inner = new QVBoxLayout(frmStatus);
    inner->addWidget(gridServerStatus, 3);
    inner->addWidget(lstStatus, 2);
    inner->addLayout(buttons);
    auto* outer = new QVBoxLayout(page);
    outer->addWidget(frmStatus);
    tabMain->addTab(page, QStringLiteral("Status"));
}

void frmMain::BuildTrendingTab() {
    auto* page = new QWidget(tabMain);
    XYChart4 = new TrendChart(page);
    XYChart4->setObjectName(QStringLiteral("XYChart4"));
    btnFreezeExamine = new QPushButton(QStringLiteral("Examine"), page);
    btnFreezeExamine->setObjectName(QStringLiteral("btnFreezeExamine"));
    connect(btnFreezeExamine, &QPushButton::clicked, this, [this] {
        XYChart4->SetFrozen(!XYChart4->Frozen());
        btnFreezeExamine->setText(XYChart4->Frozen() ? QStringLiteral("Continue")
                                                     : QStringLiteral("Examine"));
    });
    auto* row = new QHBoxLayout;
    row->addWidget(btnFreezeExamine);
    row->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(XYChart4, 1);
    layout->addLayout(row);
    tabMain->addTab(page, QStringLiteral("Trending"));
}

void frmMain::BuildEventsTab() {
    auto* page = new QWidget(tabMain);
    auto* splitter = new QSplitter(Qt::Vertical, page);

    frmErrors = new QGroupBox(QStringLiteral("Alarms"), splitter);
    lblAlarmRecordNum = new QLabel(frmErrors);
    lblAlarmRecordNum->setObjectName(QStringLiteral("lblAlarmRecordNum"));
    AlarmNum = new QScrollBar(Qt::Horizontal, frmErrors);
    AlarmNum->setObjectName(QStringLiteral("AlarmNum"));
    AlarmNum->setRange(1, 1);
    AlarmNum->setPageStep(1);
    connect(AlarmNum, &QScrollBar::valueChanged, this, [this] { DisplayAlarms(); });
    auto* hint =
        new QLabel(QStringLiteral("The most recent alarm is always Alarm 1 of x"), frmErrors);
    rtbAlarms = new QTextEdit(frmErrors);
    rtbAlarms->setObjectName(QStringLiteral("rtbAlarms"));
    rtbAlarms->setReadOnly(true);
    btnResolution = new QPushButton(QStringLiteral("Enter Alarm Resolution"), frmErrors);
    btnResolution->setObjectName(QStringLiteral("btnResolution"));

    frmResolution = new QGroupBox(QStringLiteral("Resolution"), frmErrors);
    frmResolution->setObjectName(QStringLiteral("frmResolution"));
    txtResolution = new QTextEdit(frmResolution);
    txtResolution->setObjectName(QStringLiteral("txtResolution"));
    txtResolution->setAcceptRichText(false);
    btnSaveResolution = new QPushButton(QStringLiteral("Save"), frmResolution);
    btnSaveResolution->setObjectName(QStringLiteral("btnSaveResolution"));
    btnCancelResolution = new QPushButton(QStringLiteral("Cancel"), frmResolution);
    btnCancelResolution->setObjectName(QStringLiteral("btnCancelResolution"));
    auto* resolutionButtons = new QHBoxLayout;
    resolutionButtons->addStretch();
    resolutionButtons->addWidget(btnSaveResolution);
    resolutionButtons->addWidget(btnCancelResolution);
    auto* resolutionLayout = new QVBoxLayout(frmResolution);
    resolutionLayout->addWidget(txtResolution);
    resolutionLayout->addLayout(resolutionButtons);
    frmResolution->hide();

    connect(btnResolution, &QPushButton::clicked, this, [this] {
        // The entry belongs to the alarm on view now, even if newer alarms
        // arrive while it is typed.
        resolutionAlarmId_ = shownAlarmId_;
        txtResolution->clear();
        frmResolution->show();
        txtResolution->setFocus();
    });
    connect(btnSaveResolution, &QPushButton::clicked, this, &frmMain::SaveResolution);
    connect(btnCancelResolution, &QPushButton::clicked, frmResolution, &QWidget::hide);

    auto* top = new QHBoxLayout;
    top->addWidget(lblAlarmRecordNum);
    top->addWidget(AlarmNum, 1);
    top->addWidget(btnResolution);
    auto* alarmLayout = new QVBoxLayout(frmErrors);
    alarmLayout->addLayout(top);
    alarmLayout->addWidget(hint);
    alarmLayout->addWidget(rtbAlarms, 1);
    alarmLayout->addWidget(frmResolution);

    tabGrids = new QTabWidget(splitter);
    alarmsModel_ = new QStandardItemModel(this);
    errorsModel_ = new QStandardItemModel(this);
    failuresModel_ = new QStandardItemModel(this);
    dbgridAlarms = NewGrid(tabGrids, alarmsModel_);
    dbgridAlarms->setObjectName(QStringLiteral("dbgridAlarms"));
    dbgridSystemErrors = NewGrid(tabGrids, errorsModel_);
    dbgridSystemErrors->setObjectName(QStringLiteral("dbgridSystemErrors"));
    dbgridDeviceAlarms = NewGrid(tabGrids, failuresModel_);
    dbgridDeviceAlarms->setObjectName(QStringLiteral("dbgridDeviceAlarms"));
    tabGrids->addTab(dbgridAlarms, QStringLiteral("Alarms"));
    tabGrids->addTab(dbgridSystemErrors, QStringLiteral("System Errors"));
    tabGrids->addTab(dbgridDeviceAlarms, QStringLiteral("Device Failures"));
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(splitter);
    tabMain->addTab(page, QStringLiteral("Errors"));
}

void frmMain::BuildMenus() {
    // The registry window, the settings dialog, the login and the about box
    // join these menus when they exist; the entries are absent until then.
    mnuConfig = menuBar()->addMenu(QStringLiteral("&Setup"));
    mnuConfig->setObjectName(QStringLiteral("mnuConfig"));
    mnuGenReport = mnuConfig->addAction(QStringLiteral("Create Reports"));
    mnuGenReport->setObjectName(QStringLiteral("mnuGenReport"));
    connect(mnuGenReport, &QAction::triggered, this, &frmMain::CreateReports);

    mnuStatusFrame = menuBar()->addAction(QStringLiteral("Status"));
    mnuStatusFrame->setObjectName(QStringLiteral("mnuStatusFrame"));
    connect(mnuStatusFrame, &QAction::triggered, this, [this] { VantorShow(1); });
    mnuTrending = menuBar()->addAction(QStringLiteral("Trending"));
    mnuTrending->setObjectName(QStringLiteral("mnuTrending"));
    connect(mnuTrending, &QAction::triggered, this, [this] { VantorShow(2); });
    mnuAlarmFrame = menuBar()->addAction(QStringLiteral("Events"));
    mnuAlarmFrame->setObjectName(QStringLiteral("mnuAlarmFrame"));
    connect(mnuAlarmFrame, &QAction::triggered, this, [this] { VantorShow(3); });

    mPopupSys = new QMenu(QStringLiteral("&SysTray"), this);
    mPopupSys->setObjectName(QStringLiteral("mPopupSys"));
    mPopRestore = mPopupSys->addAction(QStringLiteral("&Open Fernlog"));
    connect(mPopRestore, &QAction::triggered, this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    mPopupSys->addSeparator();
    // Reports are not produced yet; the entry changes nothing.
    mpopCreateReports = mPopupSys->addAction(QStringLiteral("&Create Reports"));
}

void frmMain::AddTrayIcon() {
    // Many desktops (and every offscreen or bare X server) have no tray;
    // the window alone is then the way in.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    trayIcon = new QSystemTrayIcon(windowIcon());
    trayIcon->setToolTip(Startup::ProgramTitle());
    trayIcon->setContextMenu(mPopupSys);
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason != QSystemTrayIcon::Context && reason != QSystemTrayIcon::DoubleClick) {
                    return;
                }
                if (isMinimized()) showNormal();
                raise();
                activateWindow();
            });
    trayIcon->show();
}

void frmMain::VantorShow(int view) {
    if (view == 1) {
        frmStatus->show();
        XYChart4->hide();
        frmErrors->hide();
        btnFreezeExamine->hide();
    } else if (view == 2) {
        XYChart4->show();
        btnFreezeExamine->show();
    } else if (view == 3) {
        frmErrors->show();
    }
    if (view >= 1 && view <= 3) tabMain->setCurrentIndex(view - 1);
}

void frmMain::OnTabChanged(int index) {
    VantorShow(index + 1);
    RefreshEventsDatabase(true);
    if (index == 2) DisplayAlarms();
}

void frmMain::RefreshEventsDatabase(bool byOffLine) {
    static const QStringList alarmColumns = {
        QStringLiteral("IDNum"),        QStringLiteral("AlarmStart"),
        QStringLiteral("AlarmEnd"),     QStringLiteral("Server"),
        QStringLiteral("Sensor"),       QStringLiteral("CurrentData"),
        QStringLiteral("AlarmActive"),  QStringLiteral("EmailSent"),
        QStringLiteral("CauseOfAlarm"), QStringLiteral("Resolution"),
        QStringLiteral("SensorIDNum"),  QStringLiteral("TOL")};
    static const QStringList errorColumns = {QStringLiteral("ErrorID"), QStringLiteral("myTime"),
                                             QStringLiteral("myFunction"), QStringLiteral("Cause")};
    static const QStringList failureColumns = {
        QStringLiteral("IDNum"),   QStringLiteral("ServerName"), QStringLiteral("ServerIDNum"),
        QStringLiteral("OffLine"), QStringLiteral("BackOnLine"), QStringLiteral("EmailSent")};
    using ServerDatabase::Listing;
    const bool ok =
        FillGrid(alarmsModel_, Listing::Alarms, alarmColumns) &&
        FillGrid(errorsModel_, Listing::Errors, errorColumns) &&
        FillGrid(failuresModel_, byOffLine ? Listing::FailuresByOffLine : Listing::FailuresById,
                 failureColumns);
    for (QTableView* grid : {dbgridAlarms, dbgridSystemErrors, dbgridDeviceAlarms}) {
        grid->resizeColumnsToContents();
        // Causes and resolutions run long: the grid shows their start, the
        // alarm view above shows them whole.
        for (int column = 0; column < grid->model()->columnCount(); ++column) {
            grid->setColumnWidth(column, std::min(grid->columnWidth(column), 240));
        }
    }
    const QString& key = byOffLine ? kTabError : kRefreshError;
    StatusList::ShowStatus(key, ok ? QStringLiteral("delete") : QString());
}

void frmMain::DisplayAlarms() {
    ServerDatabase::EnsureResolutionColumn();
    ServerDatabase::Recordset rows;
    const bool ok = ServerDatabase::OpenListing(ServerDatabase::Listing::Alarms, rows);
    if (!ok) {
        // Unreadable is not the same as empty.
        shownAlarmId_ = 0;
        rtbAlarms->setPlainText(QStringLiteral("The alarm records could not be read."));
        lblAlarmRecordNum->clear();
        btnResolution->setEnabled(false);
        StatusList::ShowStatus(kRefreshError, QString());
        return;
    }
    const int count = rows.RecordCount();
    if (count == 0) {
        shownAlarmId_ = 0;
        rtbAlarms->setPlainText(QStringLiteral("There are no alarms"));
        lblAlarmRecordNum->setText(QStringLiteral("No Alarms"));
        btnResolution->setEnabled(false);
        const QSignalBlocker blocker(AlarmNum);
        AlarmNum->setRange(1, 1);
        return;
    }
    btnResolution->setEnabled(true);
    {
        const QSignalBlocker blocker(AlarmNum);
        AlarmNum->setRange(1, count);
    }
    const int number = AlarmNum->value();
    rows.Move(number - 1);
    shownAlarmId_ = rows.Value(QStringLiteral("IDNum")).toLongLong();
    lblAlarmRecordNum->setText(QStringLiteral("Alarm ") + QString::number(number) +
                               QStringLiteral(" of ") + QString::number(count));

    auto date = [&rows](const char* column) {
        return CellText(QString::fromLatin1(column), rows.Value(QString::fromLatin1(column)));
    };
    const QString emailSent = rows.Text(QStringLiteral("EmailSent"));
    const QDateTime sentAt = Clock::FromDbStamp(emailSent);
    const QString emailText = sentAt.isValid() ? QStringLiteral(" An email has been sent ") +
                                                     Clock::GeneralDateText(sentAt)
                                               : ForDisplay(emailSent);
    rtbAlarms->setPlainText(
        QStringLiteral("Alarm Record Number: ") + rows.Text(QStringLiteral("IDNum")) + kCR +
        QStringLiteral("Alarm Started: ") + date("AlarmStart") +
        QStringLiteral("     Alarm Ended: ") + date("AlarmEnd") + kCR + kCR +
        QStringLiteral("The alarm was generated by sensor: ") +
        rows.Text(QStringLiteral("Sensor")) + QStringLiteral("   which is connected to device: ") +
        rows.Text(QStringLiteral("Server")) + kCR + kCR +
        QStringLiteral("The cause of the alarm is: ") +
        ForDisplay(rows.Text(QStringLiteral("CauseOfAlarm"))) + kCR + kCR + emailText + kCR + kCR +
        QStringLiteral("Resolution: ") + ForDisplay(rows.Text(QStringLiteral("Resolution"))));
}

void frmMain::SaveResolution() {
    QString error;
    if (ServerDatabase::EnsureResolutionColumn()) {
        Database::Recordset alarm;
        if (Database::OpenRecordset(QStringLiteral("tblAlarms"),
                                    QStringLiteral("SELECT * FROM tblAlarms WHERE IDNum = ?"),
                                    {resolutionAlarmId_}, alarm, &error)) {
            if (alarm.RecordCount() == 0) {
                error = QStringLiteral("The alarm record no longer exists.");
            } else {
                alarm.SetValue(QStringLiteral("Resolution"),
                               QStringLiteral("Resolution Entered ") + Clock::GeneralDateText() +
                                   QStringLiteral("\r") + txtResolution->toPlainText());
                if (!alarm.Update()) error = alarm.Error();
            }
        }
    } else {
        error = QStringLiteral("The alarm table cannot take a resolution.");
    }
    if (!error.isEmpty()) {
        // The entry stays open so that the text is not lost.
        Dialogs::Message(
            QStringLiteral("There was an error entering the resolution.  The error is ") + error,
            Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
        return;
    }
    frmResolution->hide();
    DisplayAlarms();
    RefreshEventsDatabase();
}

std::optional<double> frmMain::TrendValue(const GridRow& row) {
    static const QStringList gaps = {QStringLiteral("Sensor Open"),
                                     QStringLiteral("Sensor Shorted"), QStringLiteral("No Data"),
                                     QStringLiteral("Not Connected")};
    if (row.reading.isEmpty() || gaps.contains(row.reading)) return std::nullopt;
    bool ok = false;
    const double number = row.reading.toDouble(&ok);
    if (ok) return number;
    // Contacts, water and power read as words; their 0/1 value is charted.
    return static_cast<double>(row.value);
}

void frmMain::SetupChart() {
    std::vector<TrendChart::RowInfo> rows;
    for (const GridRow& row : StatusGrid::Model().Rows()) {
        rows.push_back({row.device + QStringLiteral(": ") + row.sensor, row.units});
    }
    XYChart4->Setup(rows);
}

void frmMain::UpdateTrending() {
    // Frozen for examination, or off: nothing is drawn, a pending reset waits.
    if (!Startup::TrendingOn || XYChart4->Frozen()) return;
    if (Startup::TrendReset) {
        SetupChart();
        Startup::TrendReset = false;
    }
    std::vector<std::optional<double>> values;
    for (const GridRow& row : StatusGrid::Model().Rows()) values.push_back(TrendValue(row));
    XYChart4->AddPoint(Clock::Now(), values);
}

void frmMain::AfterCycle() {
    UpdateTrending();
    // New alarm and failure rows show at once on the events view.
    if (tabMain->currentIndex() == 2) {
        RefreshEventsDatabase();
        DisplayAlarms();
    }
}

void frmMain::RunPendingActivation() {
    if (!Startup::ActivateBlockPending || activating_ || stopped_) return;
    // The block may show a message box, which deactivates and reactivates
    // this window before the block has finished.
    activating_ = true;
    Startup::RunActivationBlock(this);
    activating_ = false;
    RefreshEventsDatabase();
    DisplayAlarms();
}

bool frmMain::OpenSecondaryWindow(const std::function<void()>& showModal, AfterClose after,
                                  bool registryWindow) {
    if (Polling::CycleRunning) return false;
    const bool wasPolling = Polling::PollTimer().isActive();
    Polling::StopPollTimer();
    if (registryWindow) DeviceLink::CurrentWindow = QStringLiteral("frmTreeConfiguration");
    showModal();
    DeviceLink::CurrentWindow = QStringLiteral("frmMain");
    if (after == AfterClose::Resume) {
        Startup::ActivateBlockPending = false;
        if (wasPolling) Polling::StartPollTimer();
        return true;
    }
    Startup::ActivateBlockPending = true;
    // Without a window manager the main window may never be told that it
    // is active again.
    QTimer::singleShot(0, this, &frmMain::RunPendingActivation);
    return true;
}

void frmMain::CreateReports() {
    // Nothing is produced yet; a timer that no cycle needs stays stopped.
    const bool wasPolling = Polling::PollTimer().isActive();
    Polling::StopPollTimer();
    if (wasPolling) Polling::StartPollTimer();
    Startup::ActivateBlockPending = false;
}

void frmMain::OnStatusLineClicked(const QModelIndex& index) {
    if (index.data().toString().contains(QLatin1String("Communication FAILURE"))) {
        StatusList::ShowStatus(QStringLiteral("Communication"), QStringLiteral(" TESTING..."));
    }
}

void frmMain::SelectFirstTab() {
    tabMain->setCurrentIndex(0);
}

void frmMain::ResetChartTrackers() {
    XYChart4->ResetTrackers();
}

void frmMain::SetSetupMenus(bool enabled, const QString& loginCaption, bool adminLoggedIn) {
    setupEnabled_ = enabled;
    loginCaption_ = loginCaption;
    setWindowTitle(BaseCaption() +
                   (adminLoggedIn ? QStringLiteral("    ADMINISTRATOR LOGGED IN") : QString()));
}

void frmMain::SetTrendingMenu(bool enabled) {
    mnuTrending->setEnabled(enabled);
}

void frmMain::SetConnectionColour(QRgb colour) {
    shpGo->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #808080;")
                             .arg(QColor(colour).name()));
}

void frmMain::SetBusyCursor(bool busy) {
    if (busy) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void frmMain::SetProgressMaximum(int maximum) {
    ProgressBar->setRange(0, std::max(maximum, 1));
    ProgressBar->show();
}

void frmMain::SetProgressValue(int value) {
    if (value <= ProgressBar->maximum()) ProgressBar->setValue(value);
}

bool frmMain::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) RunPendingActivation();
    return QMainWindow::event(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (gridBlocked_) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                return true;
            default:
                break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (!stopped_) {
        if (!Startup::ConfirmClose()) {
            event->ignore();
            return;
        }
        stopped_ = true;
        Startup::StopProgram();
    }
    event->accept();
    Unload();
}

void frmMain::StopWithoutAsking() {
    if (!stopped_) {
        stopped_ = true;
        Startup::StopProgram();
    }
    if (isVisible()) {
        close();
    } else {
        Unload();
    }
}

void frmMain::Unload() {
    if (trayIcon) {
        trayIcon->hide();
        delete trayIcon;
        trayIcon = nullptr;
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible()) window->close();
    }
    emit Unloaded();
}
