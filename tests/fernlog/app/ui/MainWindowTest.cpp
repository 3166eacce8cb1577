// The main window offscreen: start-up states, the alarm view and its
// resolutions, the event grids, the close question and the trending chart.
#include <QAbstractItemModel>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>

#include "app/ui/TrendChart.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSplash.h"
#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/DataLogs.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"

namespace {
const QDateTime kBase(QDate(2026, 3, 7), QTime(9, 0, 0));

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}  // namespace

class MainWindowTest : public FernlogTest {
  protected:
    void TearDown() override {
        window.reset();
        Polling::StopPollTimer();
        FernlogTest::TearDown();
    }

    // A device that is never contacted (not enabled) with one named sensor.
    qint64 AddIdleSensor() {
        EXPECT_TRUE(ServerDatabase::AddServer(
            QStringLiteral("Kitchen"), QStringLiteral("Model QX700-5"),
            QStringLiteral("127.0.0.250"), QString(), 0, QString(), QString(), 0));
        EXPECT_TRUE(ServerDatabase::AddSensor(1, QStringLiteral("Freezer"), 0, QString(),
                                              QStringLiteral("Temperature")));
        return 1;
    }

    void Open() {
        window = std::make_unique<frmMain>();
        window->show();
        window->activateWindow();
        // Offscreen windows may or may not be told they are active.
        if (!QTest::qWaitFor([] { return !Startup::ActivateBlockPending; }, 500)) {
            window->RunPendingActivation();
        }
        ASSERT_FALSE(Startup::ActivateBlockPending);
    }

    QStringList Lines() const { return StatusList::Lines(); }

    std::unique_ptr<frmMain> window;
};

TEST_F(MainWindowTest, FirstStartWithoutSettingsOrSensorsPollsNothing) {
    ProvisionDatabase();
    DialogScript dialogs;
    Open();

    const QStringList lines = Lines();
    EXPECT_TRUE(lines.contains("Configuration file not found.  Please run configuration"))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(
        "Please click on Setup and then Configure Fernlog and verify all parameters."));
    EXPECT_TRUE(lines.contains("There are no sensors programmed yet"));
    EXPECT_FALSE(Polling::PollTimer().isActive());
    EXPECT_TRUE(QFileInfo::exists(FilePath("FernlogConfig.dat")));
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_EQ(window->windowTitle(), "Fernlog Rev 1.0.0");
    EXPECT_EQ(window->gridServerStatus->model()->rowCount(), 0);
    EXPECT_EQ(window->lstStatus->model()->rowCount(), lines.size());
    EXPECT_EQ(window->lblAlarmRecordNum->text(), "No Alarms");
    EXPECT_EQ(window->rtbAlarms->toPlainText(), "There are no alarms");
    EXPECT_FALSE(window->btnResolution->isEnabled());
}

TEST_F(MainWindowTest, MissingDatabaseIsToldOnceEvenWhenTheWindowIsActivatedMeanwhile) {
    WriteValidSettings(60);
    QStringList shown;
    // The message box takes the focus and gives it back before the block
    // has finished; the block must not start over.
    Dialogs::SetHandler([this, &shown](const Dialogs::Request& request) {
        shown << request.text;
        if (window && shown.size() < 5) window->RunPendingActivation();
        return Dialogs::Reply{};
    });
    Open();
    Dialogs::SetHandler({});
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith("The program file Zolo.mdb is not present in the " + Dir()));
    EXPECT_TRUE(Lines().contains(
        "Zolo.mdb is not present in the application directory.  Fernlog requires this file."));
    EXPECT_FALSE(Polling::PollTimer().isActive());
    // The event views say that they could not read, not that all is quiet.
    EXPECT_TRUE(Lines().contains("RefreshEventsDatabase error reading from Alarm/Error data base"));
    EXPECT_EQ(window->rtbAlarms->toPlainText(), "The alarm records could not be read.");
    EXPECT_FALSE(window->btnResolution->isEnabled());
}

TEST_F(MainWindowTest, CloseQuestionNoKeepsPollingYesStopsIt) {
    ProvisionDatabase();
    WriteValidSettings(60);
    AddIdleSensor();
    Open();
    ASSERT_TRUE(Polling::PollTimer().isActive());
    EXPECT_TRUE(Lines().contains("Update Rate 60 seconds"));
    EXPECT_EQ(window->gridServerStatus->model()->rowCount(), 1);

    DialogScript dialogs;
    dialogs.Answer(Dialogs::Answer::No);
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    EXPECT_FALSE(window->close());
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].title, "Close Fernlog?");
    EXPECT_EQ(dialogs.Shown()[0].buttons, Dialogs::Buttons::YesNo);
    EXPECT_TRUE(dialogs.Shown()[0].text.startsWith(
        "WARNING, closing this program will halt the collection of system data."));
    EXPECT_TRUE(dialogs.Shown()[0].text.endsWith(
        "Click YES to close this program, or NO to leave the program running."));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(Polling::PollTimer().isActive());
    EXPECT_TRUE(DeviceLink::ProgramRunning);
    EXPECT_EQ(unloaded.count(), 0);

    dialogs.Answer(Dialogs::Answer::Yes);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(Polling::PollTimer().isActive());
    EXPECT_FALSE(DeviceLink::ProgramRunning);
    EXPECT_EQ(unloaded.count(), 1);
}

TEST_F(MainWindowTest, SignalStopClosesWithoutAsking) {
    ProvisionDatabase();
    WriteValidSettings(60);
    AddIdleSensor();
    Open();
    DialogScript dialogs;
    QSignalSpy unloaded(window.get(), &frmMain::Unloaded);
    window->StopWithoutAsking();
    EXPECT_TRUE(dialogs.Shown().empty());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(Polling::PollTimer().isActive());
    EXPECT_FALSE(DeviceLink::ProgramRunning);
    EXPECT_EQ(unloaded.count(), 1);
}

class AlarmViewTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ProvisionDatabase();
        WriteValidSettings(60);
        sensor = AddIdleSensor();
        // Inserted out of time order: the newest is the second row.
        AddAlarm(kBase, "71");
        AddAlarm(kBase.addSecs(7200), "95");
        AddAlarm(kBase.addSecs(3600), "88");
        Open();
    }
    void AddAlarm(const QDateTime& start, const QString& data) {
        ASSERT_TRUE(
            ServerDatabase::AddAlarmRecord(sensor, start, "Kitchen", "Freezer", data, 0, -1));
    }
    QString View() const { return window->rtbAlarms->toPlainText(); }
    qint64 sensor = 0;
};

TEST_F(AlarmViewTest, AlarmOneIsTheNewest) {
    window->VantorShow(3);
    EXPECT_EQ(window->tabMain->currentIndex(), 2);
    EXPECT_EQ(window->lblAlarmRecordNum->text(), "Alarm 1 of 3");
    EXPECT_TRUE(View().startsWith(
        "Alarm Record Number: 2\nAlarm Started: 3/7/2026 11:00:00 AM     Alarm Ended: \n"))
        << View().toStdString();
    EXPECT_TRUE(View().contains(
        "The alarm was generated by sensor: Freezer   which is connected to device: Kitchen"));
    EXPECT_TRUE(window->btnResolution->isEnabled());

    window->AlarmNum->setValue(3);
    EXPECT_EQ(window->lblAlarmRecordNum->text(), "Alarm 3 of 3");
    EXPECT_TRUE(View().startsWith("Alarm Record Number: 1\n"));

    // The mail line: a stamp reads as the time it was sent, anything else as is.
    ASSERT_EQ(Rows("UPDATE tblAlarms SET EmailSent = '2026-03-07 09:00:05' WHERE IDNum = 1"),
              QStringList());
    window->DisplayAlarms();
    EXPECT_TRUE(View().contains("\n\n An email has been sent 3/7/2026 9:00:05 AM\n\nResolution: "));

    // The grid lists the same order, newest first, with general date text.
    window->RefreshEventsDatabase();
    QAbstractItemModel* grid = window->dbgridAlarms->model();
    ASSERT_EQ(grid->rowCount(), 3);
    EXPECT_EQ(grid->index(0, 0).data().toString(), "2");
    EXPECT_EQ(grid->index(0, 1).data().toString(), "3/7/2026 11:00:00 AM");
    EXPECT_EQ(grid->index(2, 0).data().toString(), "1");
}

TEST_F(AlarmViewTest, SavedResolutionShowsInTheViewAndTheDatabase) {
    window->VantorShow(3);
    window->AlarmNum->setValue(2);  // alarm 3, the 10 o'clock one
    QTest::mouseClick(window->btnResolution, Qt::LeftButton);
    EXPECT_TRUE(window->frmResolution->isVisible());
    window->txtResolution->setFocus();
    QTest::keyClicks(window->txtResolution, "Door left open by the cleaners");
    Clock::SetForTest(QDateTime(QDate(2026, 3, 8), QTime(14, 30, 0)));
    QTest::mouseClick(window->btnSaveResolution, Qt::LeftButton);

    EXPECT_FALSE(window->frmResolution->isVisible());
    EXPECT_EQ(
        Rows("SELECT IDNum, Resolution FROM tblAlarms WHERE Resolution IS NOT NULL"),
        QStringList{"3|Resolution Entered 3/8/2026 2:30:00 PM\rDoor left open by the cleaners"});
    EXPECT_EQ(window->lblAlarmRecordNum->text(), "Alarm 2 of 3");
    EXPECT_TRUE(View().contains(
        "Resolution: Resolution Entered 3/8/2026 2:30:00 PM\nDoor left open by the cleaners\n"))
        << View().toStdString();
    // The audit trail names the window as where it came from.
    QList<AlarmHandling::AuditRow> trail;
    ASSERT_TRUE(AlarmHandling::ListAudit(trail, QDateTime()));
    ASSERT_EQ(trail.size(), 1);
    EXPECT_EQ(trail[0].action, "resolve");
    EXPECT_EQ(trail[0].origin, "window");
    EXPECT_EQ(trail[0].alarm, 3);

    // Cancel leaves the record as it was.
    QTest::mouseClick(window->btnResolution, Qt::LeftButton);
    QTest::keyClicks(window->txtResolution, "typed and dropped");
    QTest::mouseClick(window->btnCancelResolution, Qt::LeftButton);
    EXPECT_FALSE(window->frmResolution->isVisible());
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM tblAlarms WHERE Resolution LIKE '%dropped%'"),
              QStringList{"0"});
}

// Acknowledge, clicked on the alarm in view, asks who and why, and the view
// then shows the state and the timeline; an acknowledged or closed alarm
// takes no second one.
TEST_F(AlarmViewTest, AcknowledgeFromTheWindowShowsInTheViewAndTheTrail) {
    window->VantorShow(3);
    window->AlarmNum->setValue(2);  // alarm 3
    ASSERT_TRUE(window->btnAcknowledge->isEnabled());
    EXPECT_TRUE(View().contains("State: open, not acknowledged")) << View().toStdString();
    DialogScript dialogs;
    dialogs.Answer(Dialogs::Answer::Ok, "Ann Lee");
    dialogs.Answer(Dialogs::Answer::Ok, "defrosting");
    QTest::mouseClick(window->btnAcknowledge, Qt::LeftButton);
    EXPECT_TRUE(View().contains("State: acknowledged by Ann Lee at ")) << View().toStdString();
    EXPECT_TRUE(View().contains("acknowledged by Ann Lee: defrosting")) << View().toStdString();
    EXPECT_FALSE(window->btnAcknowledge->isEnabled());
    QList<AlarmHandling::AuditRow> trail;
    ASSERT_TRUE(AlarmHandling::ListAudit(trail, QDateTime()));
    ASSERT_EQ(trail.size(), 1);
    EXPECT_EQ(trail[0].action + "|" + trail[0].origin + "|" + QString::number(trail[0].alarm),
              "acknowledge|window|3");
    window->AlarmNum->setValue(1);  // alarm 2, still open: it may be
    EXPECT_TRUE(window->btnAcknowledge->isEnabled());
}

// The alarm on view while the text is typed is the one Save writes to: the
// scroll bar and newer alarms do not move the view away from it.
TEST_F(AlarmViewTest, ResolutionGoesToTheAlarmItWasOpenedFor) {
    window->VantorShow(3);
    QTest::mouseClick(window->btnResolution, Qt::LeftButton);  // alarm 1 = IDNum 2
    QTest::keyClicks(window->txtResolution, "Compressor restarted");
    // The user clicks the scroll bar's right arrow, as if to look at alarm 2.
    QTest::mouseClick(window->AlarmNum, Qt::LeftButton, {},
                      QPoint(window->AlarmNum->width() - 4, window->AlarmNum->height() / 2));
    EXPECT_TRUE(View().startsWith("Alarm Record Number: 2\n")) << View().toStdString();
    // A cycle opens a newer alarm while the text is typed; "alarm 1" is now
    // another record.
    AddAlarm(kBase.addSecs(3 * 3600), "99");
    window->DisplayAlarms();
    EXPECT_EQ(window->lblAlarmRecordNum->text(), "Alarm 2 of 4");
    EXPECT_TRUE(View().startsWith("Alarm Record Number: 2\n")) << View().toStdString();
    QTest::mouseClick(window->btnSaveResolution, Qt::LeftButton);
    EXPECT_EQ(Rows("SELECT IDNum FROM tblAlarms WHERE Resolution LIKE '%Compressor%'"),
              QStringList{"2"});

    // A record that vanished is reported and the text stays for another try.
    DialogScript dialogs;
    window->AlarmNum->setValue(4);
    QTest::mouseClick(window->btnResolution, Qt::LeftButton);
    QTest::keyClicks(window->txtResolution, "Probe replaced");
    ASSERT_EQ(Rows("DELETE FROM tblAlarms WHERE IDNum = 1"), QStringList());
    QTest::mouseClick(window->btnSaveResolution, Qt::LeftButton);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_TRUE(dialogs.Shown()[0].text.startsWith(
        "There was an error entering the resolution.  The error is "));
    EXPECT_TRUE(window->frmResolution->isVisibleTo(window.get()));
    EXPECT_EQ(window->txtResolution->toPlainText(), "Probe replaced");
}

TEST_F(MainWindowTest, EventGridsKeepTheirOrders) {
    ProvisionDatabase();
    WriteValidSettings(60);
    AddIdleSensor();
    // Failure rows whose keys run against their times.
    Clock::SetForTest(kBase.addSecs(600));
    ASSERT_TRUE(ServerDatabase::AddServerFailure(1, "Kitchen"));
    Clock::SetForTest(kBase);
    ASSERT_TRUE(ServerDatabase::AddServerFailure(1, "Kitchen"));
    ErrorLog::RecordError("First", "older");
    Clock::SetForTest(kBase.addSecs(60));
    ErrorLog::RecordError("Second", "newer");
    Open();

    QAbstractItemModel* failures = window->dbgridDeviceAlarms->model();
    ASSERT_EQ(failures->rowCount(), 2);
    EXPECT_EQ(failures->index(0, 0).data().toString(), "2");  // by IDNum
    EXPECT_EQ(failures->index(0, 3).data().toString(), "3/7/2026 9:00:00 AM");
    EXPECT_EQ(failures->index(0, 4).data().toString(), "False");

    window->tabMain->setCurrentIndex(2);  // a tab click orders them by OffLine
    EXPECT_EQ(failures->index(0, 0).data().toString(), "1");

    QAbstractItemModel* errors = window->dbgridSystemErrors->model();
    ASSERT_GE(errors->rowCount(), 2);
    EXPECT_EQ(errors->index(0, 2).data().toString(), "Second");
}

TEST_F(MainWindowTest, SecondaryWindowsWaitForTheCycleAndReactivateAfterwards) {
    ProvisionDatabase();
    WriteValidSettings(60);
    AddIdleSensor();
    Open();
    ASSERT_TRUE(Polling::PollTimer().isActive());

    int opened = 0;
    Polling::CycleRunning = true;
    EXPECT_FALSE(window->OpenSecondaryWindow([&] { ++opened; }, frmMain::AfterClose::Reactivate));
    Polling::CycleRunning = false;
    EXPECT_EQ(opened, 0);

    bool timerWhileOpen = true;
    Window linkWindow = Window::None;
    StatusList::ShowStatus("stale line", "");
    EXPECT_TRUE(window->OpenSecondaryWindow(
        [&] {
            ++opened;
            timerWhileOpen = Polling::PollTimer().isActive();
            linkWindow = DeviceLink::CurrentWindow;
        },
        frmMain::AfterClose::Reactivate, true));
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(timerWhileOpen);
    EXPECT_EQ(WindowName(linkWindow), "frmTreeConfiguration");
    EXPECT_EQ(WindowName(DeviceLink::CurrentWindow), "frmMain");
    // The activation block runs again: fresh status lines, polling resumed.
    ASSERT_TRUE(QTest::qWaitFor([] { return !Startup::ActivateBlockPending; }, 3000));
    EXPECT_FALSE(Lines().contains("stale line"));
    EXPECT_TRUE(Polling::PollTimer().isActive());

    // A window that changes nothing resumes polling without the block.
    EXPECT_TRUE(window->OpenSecondaryWindow(
        [&] { timerWhileOpen = Polling::PollTimer().isActive(); }, frmMain::AfterClose::Resume));
    EXPECT_FALSE(timerWhileOpen);
    EXPECT_FALSE(Startup::ActivateBlockPending);
    EXPECT_TRUE(Polling::PollTimer().isActive());
}

TEST_F(MainWindowTest, TrendingFollowsTheGridAndFreezesForExamination) {
    ProvisionDatabase();
    WriteValidSettings(60);
    AddIdleSensor();
    Open();
    ASSERT_TRUE(Startup::TrendingOn);
    ASSERT_TRUE(Startup::TrendReset);
    StatusGridModel& grid = StatusGrid::Model();
    grid.MoveToFirstRow();
    GridRow& row = grid.CurrentRow();
    row.device = "Kitchen";
    row.sensor = "Freezer";
    row.units = QString(QChar(0xB0)) + "F";
    row.reading = "-4.5";
    grid.MoveToNextRow();
    GridRow& door = grid.CurrentRow();
    door.device = "Kitchen";
    door.sensor = "Back door";
    door.reading = "Sensor Open";

    Clock::SetForTest(kBase);
    window->UpdateTrending();
    EXPECT_FALSE(Startup::TrendReset);
    TrendChart* chart = window->XYChart4;
    ASSERT_EQ(chart->RowCount(), 2);
    EXPECT_EQ(chart->PointCount(), 1);
    EXPECT_EQ(chart->DrawnPoints(0), 1);
    EXPECT_EQ(chart->DrawnPoints(1), 0);  // a gap, not a point
    EXPECT_EQ(chart->AxisOf(0)->titleText(), "Degrees F");

    window->VantorShow(2);
    EXPECT_TRUE(window->btnFreezeExamine->isVisible());
    QTest::mouseClick(window->btnFreezeExamine, Qt::LeftButton);
    EXPECT_EQ(window->btnFreezeExamine->text(), "Continue");
    window->UpdateTrending();
    EXPECT_EQ(chart->PointCount(), 1);
    // While examining, the wheel zooms in and Reset zoom goes back.
    const qint64 span = chart->TimeAxis()->min().secsTo(chart->TimeAxis()->max());
    const QPointF centre = QRectF(chart->viewport()->rect()).center();
    QWheelEvent wheel(centre, chart->viewport()->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart->viewport(), &wheel);
    EXPECT_LT(chart->TimeAxis()->min().secsTo(chart->TimeAxis()->max()), span);
    QTest::mouseClick(window->btnResetZoom, Qt::LeftButton);
    EXPECT_EQ(chart->TimeAxis()->min().secsTo(chart->TimeAxis()->max()), span);
    QTest::mouseClick(window->btnFreezeExamine, Qt::LeftButton);
    EXPECT_FALSE(window->btnResetZoom->isEnabled());
    EXPECT_EQ(window->btnFreezeExamine->text(), "Examine");
    Clock::AdvanceForTest(60);
    window->UpdateTrending();
    EXPECT_EQ(chart->PointCount(), 2);

    // Trending off: nothing drawn, a pending reset waits.
    Startup::TrendingOn = false;
    Startup::TrendReset = true;
    window->UpdateTrending();
    EXPECT_EQ(chart->PointCount(), 2);
    EXPECT_TRUE(Startup::TrendReset);
}

TEST_F(MainWindowTest, ExportHistoryWritesTheSelectedSensorsCsv) {
    ProvisionDatabase();
    WriteValidSettings(60);
    AddIdleSensor();
    const QDateTime when(QDate(2026, 3, 7), QTime(9, 15, 0));
    DataLogs::SaveReading(Dir(), 1, "Freezer", "Kitchen", "", -4.5f, when);
    DataLogs::SaveReading(Dir(), 2, "Other", "Kitchen", "", 1, when);
    DialogScript dialogs;
    Open();
    QStringList proposed;
    QString chosen = FilePath("freezer.csv");
    window->chooseHistoryFile = [&](const QString& name) {
        proposed << name;
        return chosen;
    };

    // Nothing selected yet: nothing asked, nothing written.
    window->ExportHistory();
    EXPECT_TRUE(proposed.isEmpty());
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_EQ(dialogs.Texts()[0], "Select a sensor in the status grid first.");

    // The row as a polling cycle fills it.
    StatusGridModel& grid = StatusGrid::Model();
    grid.MoveToFirstRow();
    grid.CurrentRow().sensorId = 1;
    grid.CurrentRowChanged();
    window->gridServerStatus->setCurrentIndex(window->gridServerStatus->model()->index(0, 0));
    QTest::mouseClick(window->btnExportHistory, Qt::LeftButton);
    EXPECT_EQ(proposed, QStringList{"Sensor-1 history.csv"});
    EXPECT_EQ(ReadFile(chosen),
              "time,device,sensor,value,unit,status\r\n"
              "2026-03-07T09:15:00,Kitchen,Freezer,-4.5,,OK\r\n");
    ASSERT_EQ(dialogs.Texts().size(), 2);
    EXPECT_TRUE(dialogs.Texts()[1].startsWith("1 reading of sensor 1 has been exported to "))
        << dialogs.Texts()[1].toStdString();
    EXPECT_TRUE(Polling::PollTimer().isActive());

    // A failure is told and writes nothing.
    QFile::remove(FilePath("Sensor-1 Instantaneous Data Created 3-2026.dat"));
    chosen = FilePath("again.csv");
    window->ExportHistory();
    ASSERT_EQ(dialogs.Texts().size(), 3);
    EXPECT_TRUE(dialogs.Texts()[2].startsWith("The history could not be exported: "))
        << dialogs.Texts()[2].toStdString();
    EXPECT_EQ(dialogs.Shown()[2].icon, Dialogs::Icon::Warning);
    EXPECT_FALSE(QFileInfo::exists(chosen));

    // Cancelled: nothing more is said.
    chosen.clear();
    window->ExportHistory();
    EXPECT_EQ(dialogs.Texts().size(), 3);
}

// The grid's columns fit what they hold, and the sensor names get the rest;
// the connection indicator and the progress bar say what they are.
TEST_F(MainWindowTest, StatusGridColumnsFitTheirContentAndIndicatorsAreExplained) {
    ProvisionDatabase();
    WriteValidSettings(60);
    AddIdleSensor();
    Open();
    StatusGridModel& grid = StatusGrid::Model();
    grid.MoveToFirstRow();
    GridRow& row = grid.CurrentRow();
    row.device = "Kitchen";
    row.sensor = "Walk-in freezer, left";
    row.reading = "Water Not Detected";
    row.sensorId = 12;
    grid.CurrentRowChanged();
    QApplication::processEvents();
    const QTableView* view = window->gridServerStatus;
    const int width = view->viewport()->width();
    EXPECT_LT(view->columnWidth(StatusGridModel::SensorId), width / 8);
    EXPECT_GE(view->columnWidth(StatusGridModel::Reading),
              view->fontMetrics().horizontalAdvance("Water Not Detected"));
    EXPECT_GT(view->columnWidth(StatusGridModel::Sensor),
              view->columnWidth(StatusGridModel::SensorId) * 2);
    int total = 0;
    for (int column = 0; column < StatusGridModel::ColumnCount; ++column) {
        total += view->columnWidth(column);
    }
    EXPECT_LE(total, width);  // no sideways scrolling
    EXPECT_FALSE(window->shpGo->toolTip().isEmpty());
    EXPECT_FALSE(window->ProgressBar->toolTip().isEmpty());
    // An acknowledged alarm reads and paints apart from one nobody is on,
    // and the legend says so.
    row.status = "ALARM";
    row.colour = Colour::Red;
    row.handling = "acknowledged";
    grid.CurrentRowChanged();
    const QModelIndex status = view->model()->index(0, StatusGridModel::Status);
    EXPECT_EQ(status.data().toString(), "ALARM - acknowledged");
    EXPECT_EQ(status.data(Qt::BackgroundRole).value<QColor>(), QColor(255, 191, 0));
    EXPECT_TRUE(window->lblGridLegend->text().contains("ALARM - acknowledged"));
}
