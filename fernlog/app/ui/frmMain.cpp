#include "app/ui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColor>
#include <QFileDialog>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
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

#include "app/ui/TrendChart.h"
#include "common/Clock.h"
#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/AlarmHandling.h"
#include "core/AlarmTimeline.h"
#include "core/HistoryExport.h"
#include "core/Polling.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "core/ui/Colours.h"
#include "core/ui/FrameStyle.h"
#include "db/ServerDatabase.h"
#include "registry/ui/frmTreeConfiguration.h"
#include "settings/Login.h"
#include "settings/ui/frmAbout.h"
#include "settings/ui/frmConfiguration.h"
#include "settings/ui/frmLogin.h"

namespace {
const QString kCR = QStringLiteral("\n");
const QString kRefreshError =
    QStringLiteral("RefreshEventsDatabase error reading from Alarm/Error data base");
const QString kTabError = QStringLiteral("tabMain_click, error reading from Alarm/Error data base");

// Stored texts end lines with CR alone; the views want LF.
// The alarm's state and timeline, as "fernlog alarm show" gives them;
// `acknowledgeable`: it is open and nobody has acknowledged it.
QString HandlingText(qint64 alarmId, bool& acknowledgeable) {
    acknowledgeable = false;
    ServerDatabase::AlarmRecord record;
    QList<AlarmHandling::AuditRow> trail;
    std::optional<AlarmHandling::Acknowledgement> ack;
    if (!ServerDatabase::ReadAlarmRecord(alarmId, record) ||
        !AlarmHandling::ListAudit(trail, QDateTime(), alarmId) ||
        !AlarmHandling::CurrentAcknowledgement(alarmId, Clock::Now(), ack)) {
        return QString();
    }
    acknowledgeable = !record.end.isValid() && !ack;
    QString state =
        record.end.isValid() ? QStringLiteral("closed")
        : ack ? QStringLiteral("acknowledged by ") + ack->by + QStringLiteral(" at ") +
                    AlarmTimeline::Local(ack->at) +
                    (ack->comment.isEmpty() ? QString() : QStringLiteral(": ") + ack->comment)
              : QStringLiteral("open, not acknowledged");
    QString text =
        kCR + kCR + QStringLiteral("State: ") + state + kCR + kCR + QStringLiteral("Timeline:");
    for (const AlarmTimeline::Event& e : AlarmTimeline::Of(record, trail)) {
        text += kCR + QStringLiteral("  ") + AlarmTimeline::Line(e);
    }
    return text;
}

QString ForDisplay(const QString& text) {
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

void FillGrid(QStandardItemModel* model, const ServerDatabase::GridText& grid) {
    model->clear();
    model->setHorizontalHeaderLabels(grid.columns);
    for (const QStringList& cells : grid.rows) {
        QList<QStandardItem*> items;
        for (const QString& cell : cells) {
            auto* item = new QStandardItem(ForDisplay(cell));
            item->setEditable(false);
            items << item;
        }
        model->appendRow(items);
    }
}

// The status grid with its status cells coloured.
class StatusGridColours : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::BackgroundRole) return QIdentityProxyModel::data(index, role);
        const QVariant colour = QIdentityProxyModel::data(index, StatusGridModel::ColourRole);
        if (!colour.isValid()) return {};
        const QColor handled = HandlingColour(
            QIdentityProxyModel::data(index, StatusGridModel::HandlingRole).toString());
        return handled.isValid() ? handled : ToQColor(static_cast<Colour>(colour.toInt()));
    }
};

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
    UseFrameStyle(this);
    Startup::LoadProgram();

    tabMain = new QTabWidget(this);
    tabMain->setObjectName(QStringLiteral("tabMain"));
    BuildStatusTab();
    BuildTrendingTab();
    BuildEventsTab();
    setCentralWidget(tabMain);
    BuildMenus();
    ApplySetupMenus();  // closed until the activation block has read the settings
    connect(tabMain, &QTabWidget::currentChanged, this, &frmMain::OnTabChanged);

    AlarmNum->setValue(1);
    btnFreezeExamine->hide();
    VantorShow(1);

    setWindowIcon(ProgramIcon());
    AddTrayIcon();
    setWindowTitle(BaseCaption());
    // Large enough for the grid of a few devices without scrolling, within
    // the screen's free area.
    QSize size(1180, 740);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        size = size.boundedTo(screen->availableGeometry().size() - QSize(24, 48));
    }
    resize(size);

    DeviceLink::SetView(Window::frmMain, this);
    Polling::SetView(this);
    Startup::SetView(this);
}

frmMain::~frmMain() {
    Startup::SetView(nullptr);
    Polling::SetView(nullptr);
    DeviceLink::SetView(Window::frmMain, nullptr);
    delete trayIcon;
}

QString frmMain::BaseCaption() const {
    return Startup::ProgramTitle() + QStringLiteral(" Rev ") + Startup::VersionText();
}

void frmMain::BuildStatusTab() {
    auto* page = new QWidget(tabMain);
    frmStatus = new QGroupBox(QStringLiteral("Status"), page);

    auto* coloured = new StatusGridColours(frmStatus);
    coloured->setSourceModel(&StatusGrid::Model());
    gridServerStatus = NewGrid(frmStatus, coloured);
    gridServerStatus->setObjectName(QStringLiteral("gridServerStatus"));
    gridServerStatus->verticalHeader()->hide();
    // Columns as wide as what they hold; the sensor names take what is left.
    QHeaderView* header = gridServerStatus->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(StatusGridModel::Sensor, QHeaderView::Stretch);
    header->setMinimumSectionSize(48);
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

    btnExportHistory = new QPushButton(QStringLiteral("Export history..."), frmStatus);
    btnExportHistory->setObjectName(QStringLiteral("btnExportHistory"));
    btnExportHistory->setToolTip(
        QStringLiteral("Write every logged reading of the selected sensor to a .csv file."));
    connect(btnExportHistory, &QPushButton::clicked, this, &frmMain::ExportHistory);
    chooseHistoryFile = [this](const QString& proposed) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Export history"),
                                            ProgramDir::File(proposed),
                                            QStringLiteral("All CSV Files (*.csv)"));
    };

    shpGo = new QFrame(frmStatus);
    shpGo->setObjectName(QStringLiteral("shpGo"));
    shpGo->setFixedSize(18, 18);
    shpGo->setToolTip(
        QStringLiteral("Connection to the device being read: green while "
                       "connected, red when it cannot be reached, grey "
                       "between exchanges."));
    SetConnectionColour(Colour::LightGrey);

    ProgressBar = new QProgressBar(frmStatus);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setTextVisible(false);
    ProgressBar->setToolTip(QStringLiteral("Time spent waiting for the device's answer."));
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);
    ProgressBar->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnUpdate);
    buttons->addWidget(btnExportHistory);
    buttons->addWidget(shpGo);
    buttons->addWidget(ProgressBar, 1);
    buttons->addStretch();

    // What the status cells' colours mean.
    lblGridLegend = new QLabel(frmStatus);
    lblGridLegend->setObjectName(QStringLiteral("lblGridLegend"));
    const auto swatch = [](const QColor& colour, const QString& text) {
        return QStringLiteral(
                   "<span style=\"background-color:%1\">&nbsp;&nbsp;&nbsp;&nbsp;</span>"
                   "&nbsp;%2&nbsp;&nbsp;&nbsp;")
            .arg(colour.name(), text);
    };
    lblGridLegend->setText(
        swatch(ToQColor(Colour::Red), QStringLiteral("ALARM: nobody has acknowledged it")) +
        swatch(HandlingColour(QStringLiteral("acknowledged")),
               QStringLiteral("ALARM - acknowledged: someone is on it")) +
        swatch(HandlingColour(QStringLiteral("silenced")),
               QStringLiteral("silenced: no notices are sent")) +
        swatch(ToQColor(Colour::Green), QStringLiteral("Normal")));

    auto* inner = new QVBoxLayout(frmStatus);
    // The grid is what people look at; the status lines need a few lines.
    inner->addWidget(gridServerStatus, 4);
    inner->addWidget(lblGridLegend);
    inner->addWidget(lstStatus, 1);
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
    btnFreezeExamine->setToolTip(
        QStringLiteral("Stop updating the chart to look closer: the wheel zooms, a rectangle "
                       "drawn with the mouse zooms into it, a drag with the middle button or "
                       "with Shift pans. Continue resumes."));
    btnResetZoom = new QPushButton(QStringLiteral("Reset zoom"), page);
    btnResetZoom->setObjectName(QStringLiteral("btnResetZoom"));
    btnResetZoom->setEnabled(false);
    connect(btnResetZoom, &QPushButton::clicked, this, [this] { XYChart4->ResetZoom(); });
    connect(btnFreezeExamine, &QPushButton::clicked, this, [this] {
        XYChart4->SetFrozen(!XYChart4->Frozen());
        btnFreezeExamine->setText(XYChart4->Frozen() ? QStringLiteral("Continue")
                                                     : QStringLiteral("Examine"));
        btnResetZoom->setEnabled(XYChart4->Frozen());
    });
    auto* row = new QHBoxLayout;
    row->addWidget(btnFreezeExamine);
    row->addWidget(btnResetZoom);
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
    btnAcknowledge = new QPushButton(QStringLiteral("Acknowledge"), frmErrors);
    btnAcknowledge->setObjectName(QStringLiteral("btnAcknowledge"));
    btnAcknowledge->setEnabled(false);
    connect(btnAcknowledge, &QPushButton::clicked, this, &frmMain::AcknowledgeShownAlarm);

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
        // The entry belongs to the alarm on view now: the view stays on it
        // while the text is typed, even when newer alarms arrive, so Save
        // writes to the alarm the user sees.
        resolutionAlarmId_ = shownAlarmId_;
        AlarmNum->setEnabled(false);
        btnResolution->setEnabled(false);
        txtResolution->clear();
        frmResolution->show();
        txtResolution->setFocus();
    });
    connect(btnSaveResolution, &QPushButton::clicked, this, &frmMain::SaveResolution);
    connect(btnCancelResolution, &QPushButton::clicked, this, [this] {
        CloseResolutionEntry();
        DisplayAlarms();
    });

    auto* top = new QHBoxLayout;
    top->addWidget(lblAlarmRecordNum);
    top->addWidget(AlarmNum, 1);
    top->addWidget(btnAcknowledge);
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
    // The settings dialog, the login and the about box join these menus in
    // BuildSettingsMenus.
    mnuConfig = menuBar()->addMenu(QStringLiteral("&Setup"));
    mnuConfig->setObjectName(QStringLiteral("mnuConfig"));
    mnuGenReport = mnuConfig->addAction(QStringLiteral("Create Reports"));
    mnuGenReport->setObjectName(QStringLiteral("mnuGenReport"));
    connect(mnuGenReport, &QAction::triggered, this, &frmMain::CreateReports);
    // The registry entry heads the menu.
    mnuTree = new QAction(QStringLiteral("Corvane Servers and Sensors"), this);
    mnuTree->setObjectName(QStringLiteral("mnuTree"));
    mnuConfig->insertAction(mnuGenReport, mnuTree);
    connect(mnuTree, &QAction::triggered, this, [this] {
        if (!SetupEnabled()) return;
        OpenSecondaryWindow(
            [this] {
                frmTreeConfiguration window(this);
                window.exec();
            },
            AfterClose::Reactivate, /*registryWindow=*/true);
    });

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
    BuildSettingsMenus();
}

void frmMain::BuildSettingsMenus() {
    mnuOrganization = new QAction(QStringLiteral("Configure ") + Startup::ProgramTitle(), this);
    mnuOrganization->setObjectName(QStringLiteral("mnuOrganization"));
    mnuConfig->insertAction(mnuGenReport, mnuOrganization);
    connect(mnuOrganization, &QAction::triggered, this, &frmMain::OpenConfiguration);
    mnuLogIn = new QAction(QStringLiteral("Log In"), this);
    mnuLogIn->setObjectName(QStringLiteral("mnuLogIn"));
    mnuConfig->insertAction(mnuGenReport, mnuLogIn);
    connect(mnuLogIn, &QAction::triggered, this, &frmMain::LogInOrOut);

    mnuAbout = menuBar()->addAction(QStringLiteral("About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    connect(mnuAbout, &QAction::triggered, this, [this] {
        OpenSecondaryWindow(
            [this] {
                frmAbout about(this);
                about.exec();
            },
            AfterClose::Resume);
    });

    mpopConfigure = new QAction(QStringLiteral("Configure"), this);
    mpopConfigure->setObjectName(QStringLiteral("mpopConfigure"));
    mPopupSys->insertAction(mpopCreateReports, mpopConfigure);
    connect(mpopConfigure, &QAction::triggered, this, [this] {
        // An open settings dialog comes to the front; otherwise it opens
        // as from the Setup menu, behind the same login.
        if (auto* open = findChild<frmConfiguration*>()) {
            open->showNormal();
            open->raise();
            open->activateWindow();
            return;
        }
        OpenConfiguration();
    });
}

void frmMain::OpenConfiguration() {
    if (!setupEnabled_) return;
    OpenSecondaryWindow(
        [this] {
            frmConfiguration dialog(this);
            dialog.exec();
        },
        AfterClose::Reactivate);
}

void frmMain::LogInOrOut() {
    if (mnuLogIn->text() != QLatin1String("Log In")) {
        Login::LogOut();
        return;
    }
    if (!Startup::MayOpenSecondaryWindow()) return;
    frmLogin login(this);
    Startup::SecondaryWindowOpen = true;
    login.exec();
    Startup::SecondaryWindowOpen = false;
    // The entries follow the outcome at once, without waiting for the
    // window manager to reactivate this window.
    Startup::ApplyLoginState();
}

void frmMain::ApplySetupMenus() {
    for (QAction* entry : mnuConfig->actions()) {
        if (entry->objectName() == QLatin1String("mnuTree") ||
            entry->objectName() == QLatin1String("mnuOrganization")) {
            entry->setEnabled(setupEnabled_);
        }
    }
    if (mpopConfigure) mpopConfigure->setEnabled(setupEnabled_);
    if (btnAcknowledge) UpdateAcknowledgeButton();
    if (mnuLogIn) {
        mnuLogIn->setText(loginCaption_);
        mnuLogIn->setEnabled(Startup::Activated);
    }
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
        btnResetZoom->hide();
    } else if (view == 2) {
        XYChart4->show();
        btnFreezeExamine->show();
        btnResetZoom->show();
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
    using ServerDatabase::Listing;
    bool ok = true;
    const std::pair<QStandardItemModel*, Listing> grids[] = {
        {alarmsModel_, Listing::Alarms},
        {errorsModel_, Listing::Errors},
        {failuresModel_, byOffLine ? Listing::FailuresByOffLine : Listing::FailuresById}};
    for (const auto& [model, which] : grids) {
        ServerDatabase::GridText grid;
        if (!ServerDatabase::ReadListing(which, grid)) {
            ok = false;
            break;
        }
        FillGrid(model, grid);
    }
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
    ServerDatabase::AlarmText alarm;
    int count = 0;
    if (!ServerDatabase::ReadAlarm(AlarmNum->value(), alarm, count)) {
        // Unreadable is not the same as empty.
        shownAlarmId_ = 0;
        shownAcknowledgeable_ = false;
        UpdateAcknowledgeButton();
        rtbAlarms->setPlainText(QStringLiteral("The alarm records could not be read."));
        lblAlarmRecordNum->clear();
        btnResolution->setEnabled(false);
        StatusList::ShowStatus(kRefreshError, QString());
        return;
    }
    if (count == 0) {
        shownAlarmId_ = 0;
        shownAcknowledgeable_ = false;
        UpdateAcknowledgeButton();
        rtbAlarms->setPlainText(QStringLiteral("There are no alarms"));
        lblAlarmRecordNum->setText(QStringLiteral("No Alarms"));
        btnResolution->setEnabled(false);
        const QSignalBlocker blocker(AlarmNum);
        AlarmNum->setRange(1, 1);
        return;
    }
    const bool entryOpen = frmResolution->isVisible() && resolutionAlarmId_ != 0;
    btnResolution->setEnabled(!entryOpen);
    {
        const QSignalBlocker blocker(AlarmNum);
        AlarmNum->setRange(1, count);
    }
    // The range may have just shrunk below the number asked for.
    if (alarm.id == 0) ServerDatabase::ReadAlarm(AlarmNum->value(), alarm, count);
    if (entryOpen && alarm.id != resolutionAlarmId_) {
        // Newer alarms came in front of the one the entry is for.
        const int number =
            FindAlarmNumber(resolutionAlarmId_, AlarmNum->value() + count - shownCount_);
        if (number > 0) {
            const QSignalBlocker blocker(AlarmNum);
            AlarmNum->setValue(number);
            ServerDatabase::ReadAlarm(number, alarm, count);
        }
    }
    const int number = AlarmNum->value();
    shownAlarmId_ = alarm.id;
    shownCount_ = count;
    lblAlarmRecordNum->setText(QStringLiteral("Alarm ") + QString::number(number) +
                               QStringLiteral(" of ") + QString::number(count));

    const QString emailText = alarm.mailed
                                  ? QStringLiteral(" An email has been sent ") + alarm.emailSent
                                  : ForDisplay(alarm.emailSent);
    rtbAlarms->setPlainText(
        QStringLiteral("Alarm Record Number: ") + QString::number(alarm.id) + kCR +
        QStringLiteral("Alarm Started: ") + alarm.start + QStringLiteral("     Alarm Ended: ") +
        alarm.end + kCR + kCR + QStringLiteral("The alarm was generated by sensor: ") +
        alarm.sensor + QStringLiteral("   which is connected to device: ") + alarm.server + kCR +
        kCR + QStringLiteral("The cause of the alarm is: ") + ForDisplay(alarm.cause) + kCR + kCR +
        emailText + kCR + kCR + QStringLiteral("Resolution: ") + ForDisplay(alarm.resolution) +
        HandlingText(alarm.id, shownAcknowledgeable_));
    UpdateAcknowledgeButton();
}

void frmMain::UpdateAcknowledgeButton() {
    btnAcknowledge->setEnabled(shownAcknowledgeable_ && setupEnabled_);
}

void frmMain::AcknowledgeShownAlarm() {
    const qint64 id = shownAlarmId_;
    const QString title = QStringLiteral("Acknowledge Alarm Record Number %1").arg(id);
    const auto by = Dialogs::Input(QStringLiteral("Who is handling this alarm?"), title,
                                   AlarmHandling::SystemUser());
    if (!by || by->trimmed().isEmpty()) return;
    const auto comment = Dialogs::Input(QStringLiteral("Comment (optional):"), title);
    if (!comment) return;
    AlarmHandling::AlarmRef alarm;
    QString error;
    if (!AlarmHandling::LookUp(id, alarm, &error) ||
        !AlarmHandling::Acknowledge(
            alarm, {by->trimmed(), AlarmHandling::SystemUser(), AlarmHandling::Origin::Window},
            comment->trimmed(), QDateTime(), &error)) {
        Dialogs::Message(QStringLiteral("The alarm was not acknowledged: ") + error,
                         Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
    }
    DisplayAlarms();
}

int frmMain::FindAlarmNumber(qint64 alarmId, int likely) {
    ServerDatabase::AlarmText alarm;
    int count = 0;
    if (!ServerDatabase::ReadAlarm(likely, alarm, count)) return 0;
    if (alarm.id == alarmId) return likely;
    for (int number = 1; number <= count; ++number) {
        if (!ServerDatabase::ReadAlarm(number, alarm, count)) return 0;
        if (alarm.id == alarmId) return number;
    }
    return 0;
}

void frmMain::CloseResolutionEntry() {
    frmResolution->hide();
    AlarmNum->setEnabled(true);
    resolutionAlarmId_ = 0;
}

void frmMain::SaveResolution() {
    // An alarm that has gone from the table (the view shows another one)
    // takes no resolution.
    if (shownAlarmId_ == 0 || shownAlarmId_ != resolutionAlarmId_) {
        Dialogs::Message(QStringLiteral("The alarm this resolution was entered for is no longer "
                                        "in the alarm records."),
                         Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
        return;
    }
    QString error;
    // Written as the shell's "alarm resolve" writes it, into the audit trail too.
    AlarmHandling::AlarmRef alarm;
    const QString user = AlarmHandling::SystemUser();
    if (!AlarmHandling::LookUp(shownAlarmId_, alarm, &error) ||
        !AlarmHandling::Resolve(alarm, {user, user, AlarmHandling::Origin::Window},
                                txtResolution->toPlainText(), &error)) {
        // The entry stays open so that the text is not lost.
        Dialogs::Message(
            QStringLiteral("There was an error entering the resolution.  The error is ") + error,
            Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
        return;
    }
    CloseResolutionEntry();
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

QStringList frmMain::StateNames(const QString& reading) {
    // The words the grid shows for 0 and 1 (SensorState::ReadingText).
    static const QList<QStringList> pairs = {
        {QStringLiteral("Open"), QStringLiteral("Closed")},
        {QStringLiteral("Water Not Detected"), QStringLiteral("Water Detected")},
        {QStringLiteral("Power Off"), QStringLiteral("Power On")}};
    for (const QStringList& pair : pairs) {
        if (pair.contains(reading)) return pair;
    }
    return {};
}

void frmMain::SetupChart() {
    std::vector<TrendChart::RowInfo> rows;
    for (const GridRow& row : StatusGrid::Model().Rows()) {
        rows.push_back(
            {row.device + QStringLiteral(": ") + row.sensor, row.units, StateNames(row.reading)});
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
    std::vector<bool> alarmed;
    for (const GridRow& row : StatusGrid::Model().Rows()) {
        values.push_back(TrendValue(row));
        alarmed.push_back(row.status == QLatin1String("ALARM"));
    }
    XYChart4->AddPoint(Clock::Now(), values, alarmed);
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
    Startup::RunActivationBlock();
    activating_ = false;
    RefreshEventsDatabase();
    DisplayAlarms();
}

bool frmMain::OpenSecondaryWindow(const std::function<void()>& showModal, AfterClose after,
                                  bool registryWindow) {
    if (Polling::CycleRunning) return false;
    if (!Startup::MayOpenSecondaryWindow()) {
        // The one that is open comes to the front instead.
        if (QWidget* open = QApplication::activeModalWidget()) {
            open->raise();
            open->activateWindow();
        }
        return false;
    }
    const bool wasPolling = Polling::PollTimer().isActive();
    Polling::StopPollTimer();
    if (registryWindow) DeviceLink::CurrentWindow = Window::frmTreeConfiguration;
    Startup::SecondaryWindowOpen = true;
    showModal();
    Startup::SecondaryWindowOpen = false;
    DeviceLink::CurrentWindow = Window::frmMain;
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

void frmMain::ExportHistory() {
    const int row = gridServerStatus->currentIndex().row();
    const std::vector<GridRow>& rows = StatusGrid::Model().Rows();
    if (row < 0 || row >= static_cast<int>(rows.size()) || rows[row].sensorId <= 0) {
        Dialogs::Message(QStringLiteral("Select a sensor in the status grid first."),
                         Dialogs::Buttons::Ok, Dialogs::Icon::Information);
        return;
    }
    const qint64 sensorId = rows[row].sensorId;
    // Like any modal window: not inside a cycle, and no cycle while the
    // dialog is open.
    OpenSecondaryWindow(
        [this, sensorId] {
            const QString file =
                chooseHistoryFile(QStringLiteral("Sensor-%1 history.csv").arg(sensorId));
            if (file.isEmpty()) return;
            QString message;
            const bool ok = HistoryExport::ExportSensorHistory(sensorId, file, message);
            Dialogs::Message(message, Dialogs::Buttons::Ok,
                             ok ? Dialogs::Icon::Information : Dialogs::Icon::Warning);
        },
        AfterClose::Resume);
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
    ApplySetupMenus();
    setWindowTitle(BaseCaption() +
                   (adminLoggedIn ? QStringLiteral("    ADMINISTRATOR LOGGED IN") : QString()));
}

void frmMain::SetTrendingMenu(bool enabled) {
    mnuTrending->setEnabled(enabled);
}

void frmMain::SetConnectionColour(Colour colour) {
    shpGo->setStyleSheet(QStringLiteral("background-color: %1; border: 1px solid #808080;")
                             .arg(ToQColor(colour).name()));
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
