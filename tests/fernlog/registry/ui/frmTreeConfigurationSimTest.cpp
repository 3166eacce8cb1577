// The registry window against simulated devices on port 10001: saving an
// enabled device writes its name page, editing reads it back, the device
// commands (test, factory reset, clock, log download and export), devices
// that are busy, refuse or stay silent, and a window that keeps answering.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "common/Clock.h"
#include "common/ProgramDir.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "db/ServerDatabase.h"
#include "registry/ui/frmTreeConfiguration.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/SimDevices.h"

namespace {
const QString kDegreeC = QString(QChar(0xB0)) + "C";
}

class TreeConfigurationSimTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        SKIP_IF_PORTS_HELD(LoopbackTcp10001());
        ProvisionDatabase();
        ConfigParameters.TCPTimeOut = 2;
        DeviceLink::CurrentWindow = Window::frmTreeConfiguration;
    }
    void TearDown() override {
        window.reset();
        devices.clear();
        Clock::SetForTest(QDateTime());
        FernlogTest::TearDown();
    }
    devsim::Device* AddDevice(const char* address, devsim::Model model,
                              std::optional<quint16> build = {},
                              const QString& name = QStringLiteral("Factory name")) {
        devsim::DeviceConfig config;
        config.address = QHostAddress(QString::fromLatin1(address));
        config.model = model;
        config.build = build;
        config.name = name;
        return &devices.Start(config);
    }
    // A device registered in the database and the window open on it.
    void Register(const char* name, const char* address) {
        Registration row;
        row.model = "Stored model";
        ASSERT_NE(devices.Register(name, address, row), 0);
    }
    void Open() {
        window = std::make_unique<frmTreeConfiguration>();
        window->show();
    }
    void Edit(qint64 id) {
        QTreeWidgetItem* node = window->NodeForServer(id);
        ASSERT_NE(node, nullptr);
        window->ServerTree->setCurrentItem(node);
        window->ClickNode(node);
        window->mnuEditServer->trigger();
    }
    void TypeNewServer(const QString& name, const QString& ip) {
        window->mnuAdd->trigger();
        window->txtServerName->setText(name);
        window->txtServerIPAddress->setText(ip);
    }
    QStringList Row(int row) const {
        QStringList texts;
        QAbstractItemModel* model = window->gridLog->model();
        for (int c = 0; c < model->columnCount(); ++c) {
            texts << model->index(row, c).data().toString();
        }
        return texts;
    }
    static QByteArray ReadFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    SimDevices devices;
    std::unique_ptr<frmTreeConfiguration> window;
};

TEST_F(TreeConfigurationSimTest, SavingAnEnabledDeviceWritesItsNamePage) {
    devsim::Device* d = AddDevice("127.0.0.2", devsim::Model::QX700_8);
    const QByteArray before = d->page(2);
    Open();
    DialogScript dialogs;
    TypeNewServer("Server room on the second floor", "127.0.0.2");
    window->cmboUnits->setCurrentIndex(1);
    window->btnSaveServer->click();
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();

    const QByteArray page = d->page(2);
    EXPECT_EQ(page.mid(8, 20), "Server room on the s");
    EXPECT_EQ(page.at(28), 'C');
    EXPECT_EQ(page.mid(29, 20), "127.0.0.2           ");
    EXPECT_EQ(page.mid(4, 4), before.mid(4, 4));
    EXPECT_EQ(page.mid(49), before.mid(49));
    EXPECT_EQ(d->unit(), 'C');
    EXPECT_EQ(d->requestCount(QByteArray::fromHex("DDCCBB02")), 1);
    // The database keeps the whole name.
    EXPECT_EQ(
        Rows("SELECT ServerName, ServerModel, Enabled, Comm FROM tblServers"),
        QStringList{"Server room on the second floor|Model QX700-8: Computer Room Keeper|1|-1"});
    EXPECT_EQ(window->lblServerError->text(), "Successfully uploaded data to Server room on the s");
    EXPECT_EQ(window->ServerTree->topLevelItem(0)->child(0)->text(0),
              "Server room on the s @ IP 127.0.0.2");

    // The next polling cycle visits the new device.
    window.reset();
    DeviceLink::CurrentWindow = Window::frmMain;
    d->resetCounters();
    Polling::PollAll();
    EXPECT_EQ(d->requestCount(devsim::cmd::Readings), 1);
}

TEST_F(TreeConfigurationSimTest, DevicesThatDoNotTakeTheNamePage) {
    devsim::Device* refused = AddDevice("127.0.0.2", devsim::Model::QX700_5);
    devsim::Device* noEcho = AddDevice("127.0.0.3", devsim::Model::QX700_5);
    devsim::Device* busy = AddDevice("127.0.0.4", devsim::Model::Zolo605);
    refused->setFault(devsim::Fault::Refuse);
    devsim::FaultSettings wrongEcho;
    wrongEcho.fault = devsim::Fault::WrongEcho;
    wrongEcho.onlyCommand = QByteArray::fromHex("DDCCBB02");
    noEcho->setFault(wrongEcho);
    devsim::FaultSettings busyPage;
    busyPage.fault = devsim::Fault::Busy;
    busyPage.onlyCommand = QByteArray::fromHex("AABBCC01");
    busy->setFault(busyPage);
    Open();
    DialogScript dialogs;

    TypeNewServer("Refuses", "127.0.0.2");
    window->btnSaveServer->click();
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM tblServers"), QStringList{"0"});

    TypeNewServer("No echo", "127.0.0.3");
    window->btnSaveServer->click();
    EXPECT_EQ(window->lblServerError->text(),
              "There was an error uploading the server data to 127.0.0.3.");

    TypeNewServer("On the phone", "127.0.0.4");
    window->btnSaveServer->click();
    EXPECT_EQ(window->lblServerError->text(),
              "On the phone         is currently on the phone. The server will be added to the "
              "monitoring system but will not be enabled.");

    EXPECT_EQ(dialogs.Texts(),
              QStringList({"Can not communicate with127.0.0.2",
                           "There was an error uploading the server data to 127.0.0.3.  Before "
                           "proceeding please verify the IP address you are using and that No echo "
                           "is powered on and connected to the network.",
                           "On the phone is currently on the phone.  The server will be added to "
                           "the monitoring system but will not be enabled."}));
    EXPECT_EQ(Rows("SELECT ServerName, ServerModel, Enabled, Comm FROM tblServers"),
              QStringList({"No echo|Model QX700-5: Refrigerator/Freezer Keeper|0|0",
                           "On the phone|Zolo 605: Refrigerator/Freezer netKeeper|0|-1"}));
}

TEST_F(TreeConfigurationSimTest, EditReadsTheDeviceAndItsLogParameters) {
    devsim::Device* zolo = AddDevice("127.0.0.2", devsim::Model::Zolo605);
    AddDevice("127.0.0.3", devsim::Model::QX700_8);
    zolo->setUnit('C');
    zolo->setLogRate(15);
    zolo->appendLogRecord();
    zolo->setClock(QDateTime(QDate(2009, 3, 7), QTime(16, 5, 0)));
    Register("Stored name", "127.0.0.2");
    Register("Computer room", "127.0.0.3");
    Register("Gone", "127.0.0.9");
    Open();
    DialogScript dialogs;

    Edit(1);
    EXPECT_EQ(window->frmSetupServer->title(), "Edit: Stored name");
    EXPECT_EQ(window->txtServerName->text(), "Factory name");
    EXPECT_EQ(window->txtModel->text(), "Zolo 605: Refrigerator/Freezer netKeeper");
    EXPECT_EQ(window->cmboUnits->currentText(), kDegreeC);
    EXPECT_EQ(window->lblServerError->text(),
              "Successfully downloaded data from Factory name 3.5.6");
    EXPECT_TRUE(window->frmDateTime->isVisible());
    EXPECT_EQ(window->frmDateTime->title(), "Data Log Parameters for Factory name");
    EXPECT_TRUE(window->txtDT->text().startsWith("3/7/2009 4:05:0"))
        << window->txtDT->text().toStdString();
    EXPECT_EQ(window->txtUR->text(), "15");
    EXPECT_EQ(window->txtNR->text(), "11");

    Edit(2);
    EXPECT_EQ(window->txtModel->text(), "Model QX700-8: Computer Room Keeper");
    EXPECT_FALSE(window->frmDateTime->isVisible());

    Edit(3);
    EXPECT_EQ(window->txtServerName->text(), "Gone");
    EXPECT_EQ(window->txtModel->text(), "Stored model");
    EXPECT_EQ(window->lblServerError->text(), "There was an error downloading data from Gone");
    EXPECT_FALSE(window->frmDateTime->isVisible());
    EXPECT_TRUE(dialogs.Texts().isEmpty());
}

namespace {
// The main window's part of the link: its connection indicator.
struct IndicatorView : DeviceLink::LinkView {
    QList<Colour> colours;
    void SetConnectionColour(Colour c) override { colours << c; }
    void SetBusyCursor(bool) override {}
    void SetProgressMaximum(int) override {}
    void SetProgressValue(int) override {}
    void HideProgress() override {}
    void ShowDownloadProgress(const QString&) override {}
    QString ChosenDeviceName() const override { return QString(); }
};
}  // namespace

TEST_F(TreeConfigurationSimTest, CommunicationTestAndFactoryReset) {
    devsim::Device* d = AddDevice("127.0.0.2", devsim::Model::QX740);
    Open();
    DialogScript dialogs;
    IndicatorView mainWindow;
    DeviceLink::SetView(Window::frmMain, &mainWindow);
    TypeNewServer("typed", "127.0.0.2");
    window->btnTestCommunication->click();
    EXPECT_EQ(window->txtServerName->text(), "Factory name");
    EXPECT_EQ(window->txtModel->text(), "Model QX740: Temperature and Power Keeper");
    EXPECT_EQ(window->lblServerError->text(), "Successfully communicated with 127.0.0.2");
    EXPECT_EQ(window->btnTestCommunication->text(), "Test Communications");
    // The main window's indicator shows the registry's transactions.
    EXPECT_EQ(mainWindow.colours,
              QList<Colour>({Colour::Green, Colour::LightGrey, Colour::Green, Colour::LightGrey}));
    window->txtServerIPAddress->setText("127.0.0.5");
    window->btnTestCommunication->click();
    EXPECT_EQ(window->lblServerError->text(), "Failed to communicate with IP address 127.0.0.5");
    EXPECT_EQ(mainWindow.colours.mid(4, 2), QList<Colour>({Colour::Red, Colour::LightGrey}));
    DeviceLink::SetView(Window::frmMain, nullptr);

    window->txtServerIPAddress->setText("127.0.0.2");
    d->setUnit('C');
    dialogs.Answer(Dialogs::Answer::No);
    window->btnRestoreFactoryDefaults->click();
    EXPECT_EQ(d->requestCount(devsim::cmd::FactoryReset), 0);
    window->btnRestoreFactoryDefaults->click();  // Yes
    EXPECT_EQ(d->requestCount(devsim::cmd::FactoryReset), 1);
    EXPECT_EQ(d->unit(), 'F');
    d->setFault(devsim::Fault::Busy);
    window->btnRestoreFactoryDefaults->click();
    d->setFault(devsim::Fault::Refuse);
    window->btnRestoreFactoryDefaults->click();
    EXPECT_EQ(window->btnRestoreFactoryDefaults->text(), "Restore Factory Defaults");

    EXPECT_EQ(dialogs.Texts(),
              QStringList({"Successfully communicated with Factory name 5.40.23 at IP address "
                           "127.0.0.2",
                           "Error reading from IP address 127.0.0.5",
                           "Reset 'Factory name' to factory default values?",
                           "Factory name was not reset to factory defaults.",
                           "Reset 'Factory name' to factory default values?",
                           "Successfully set Factory name user page to factory defaults",
                           "Reset 'Factory name' to factory default values?",
                           "Factory name is currently busy on the phone. The server could not be "
                           "reset to factory defaults. Please wait and try again.",
                           "Reset 'Factory name' to factory default values?",
                           "Error resetting Factory name to factory defaults"}));
    EXPECT_EQ(dialogs.Shown()[2].buttons, Dialogs::Buttons::YesNo);
}

TEST_F(TreeConfigurationSimTest, ClockAndLogRateStoredOnTheDevice) {
    devsim::Device* d = AddDevice("127.0.0.2", devsim::Model::QX700_5, 23);
    Register("Kitchen", "127.0.0.2");
    Open();
    Edit(1);
    ASSERT_TRUE(window->frmDateTime->isVisible());
    DialogScript dialogs;
    for (const char* bad : {"", "0", "61"}) {
        window->txtUR->setText(bad);
        window->btnStoreDateTime->click();
    }
    EXPECT_EQ(window->txtUR->text(), "5");
    EXPECT_EQ(d->requestCount(devsim::cmd::Log00), 0);
    EXPECT_EQ(dialogs.Texts(), QStringList({"Please enter a value for the log update rate.",
                                            "The valid update rate is betweek 1 and 60 minutes",
                                            "The valid update rate is betweek 1 and 60 minutes"}));

    Clock::SetForTest(QDateTime(QDate(2026, 2, 1), QTime(0, 30, 0)));
    window->txtUR->setText("60");
    window->btnStoreDateTime->click();
    EXPECT_EQ(d->logRate(), 60);
    EXPECT_EQ(d->clock().date(), QDate(2026, 2, 1));
    EXPECT_EQ(d->clock().time().hour(), 0);
    EXPECT_TRUE(window->txtDT->text().startsWith("2/1/2026 12:30:0"))
        << window->txtDT->text().toStdString();
    window->txtUR->setText("1");
    d->setFault(devsim::Fault::Silent);
    window->btnStoreDateTime->click();
    EXPECT_EQ(window->txtDT->text(), "Upload failed");
}

TEST_F(TreeConfigurationSimTest, LogsOfBothKindsDownloadedDecodedAndExported) {
    devsim::Device* zolo = AddDevice("127.0.0.2", devsim::Model::Zolo605);
    devsim::Device* qx = AddDevice("127.0.0.3", devsim::Model::QX700_5, 23);
    zolo->setClock(QDateTime(QDate(2009, 3, 7), QTime(16, 5, 0)));
    zolo->setPortValue(0, 41.5);
    zolo->setPortValue(1, 0);
    zolo->setPortValue(2, 1);  // door 1 closed
    zolo->setPortValue(3, 0);
    for (int i = 0; i < 3; ++i) zolo->appendLogRecord();
    qx->setPortValue(7, -12.3);
    qx->appendLogRecord();
    Register("Zolo", "127.0.0.2");
    Register("Keeper", "127.0.0.3");
    Open();
    DialogScript dialogs;

    Edit(1);
    ASSERT_EQ(window->txtNR->text(), "33");
    window->chkCLF->setChecked(true);
    dialogs.Answer(Dialogs::Answer::No);
    window->btnGetLogFile->click();
    EXPECT_FALSE(window->chkCLF->isChecked());
    EXPECT_EQ(zolo->lastRequest().at(4), char(0));
    EXPECT_EQ(zolo->logSize(), 33);
    ASSERT_EQ(window->gridLog->model()->rowCount(), 3);
    EXPECT_EQ(Row(0),
              QStringList({"1", "3/7/2009 4:05:00 PM", "41.5", "0.0", "Closed", "Open", "On"}));
    EXPECT_TRUE(window->btnExportLog->isVisible());
    const QString bin = ProgramDir::File("LastDownloadedDataLogFile.bin");
    EXPECT_EQ(ReadFile(bin), zolo->log());

    // Export: the dialog's cancel, then the same file twice.
    const QString csv = FilePath("zolo.csv");
    QString proposed;
    window->chooseExportFile = [&](const QString& name) {
        proposed = name;
        return QString();
    };
    window->btnExportLog->click();
    EXPECT_EQ(proposed, "Factory name.csv");
    window->chooseExportFile = [&](const QString&) { return csv; };
    window->btnExportLog->click();
    window->Command2->click();  // decodes the kept bytes again
    window->btnExportLog->click();
    const QList<QByteArray> lines = ReadFile(csv).split('\n');
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines[0],
              "\"Record Number\",\"Date/Time\",\"Sensor 1\",\"Sensor 2\",\"Door 1\","
              "\"Door 2\",\"Power\"\r");
    EXPECT_EQ(lines[1], "1,\"3/7/2009 4:05:00 PM\",\"41.5\",\"0.0\",\"Closed\",\"Open\",\"On\"\r");
    EXPECT_EQ(lines[4], lines[1]);

    // The eight-sensor device, reset pointer answered Yes: a shorter log
    // replaces the file completely.
    Edit(2);
    ASSERT_EQ(window->txtNR->text(), "23");
    EXPECT_FALSE(window->btnExportLog->isVisible());
    window->chkCLF->setChecked(true);
    window->btnGetLogFile->click();  // Yes
    EXPECT_EQ(qx->lastRequest().at(4), char(1));
    EXPECT_EQ(qx->logSize(), 0);
    ASSERT_EQ(window->gridLog->model()->columnCount(), 13);
    ASSERT_EQ(window->gridLog->model()->rowCount(), 1);
    EXPECT_EQ(Row(0).value(9), "-12.3");
    EXPECT_EQ(ReadFile(bin).size(), 23);

    // A failed download keeps the file and the grid.
    window->txtNR->setText("23");
    qx->appendLogRecord();
    qx->setFault(devsim::Fault::CloseMidAnswer);
    window->btnGetLogFile->click();
    EXPECT_EQ(window->lblServerError->text(),
              "Failure while downloading log records from Factory name");
    EXPECT_FALSE(window->btnExportLog->isVisible());
    EXPECT_EQ(window->gridLog->model()->rowCount(), 1);
    EXPECT_EQ(ReadFile(bin).size(), 23);

    EXPECT_EQ(dialogs.Texts(),
              QStringList(
                  {"Reset log pointer after download?",
                   "There was an error exporting the log file.  The error is Cancel was "
                   "selected.",
                   "The file " + csv + " has been created", "The file " + csv + " has been created",
                   "Reset log pointer after download?", "Reset log pointer after download?"}));
}

TEST_F(TreeConfigurationSimTest, WindowAnswersDuringASilentDeviceAndClosesAfterIt) {
    devsim::Device* d = AddDevice("127.0.0.2", devsim::Model::QX700_5);
    d->setFault(devsim::Fault::Silent);
    Register("Silent", "127.0.0.2");
    Register("Other", "127.0.0.3");
    Open();
    DialogScript dialogs;
    int ticks = 0;
    bool busySeen = false, clickIgnored = false, progressShown = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (!window->Busy()) return;
        busySeen = true;
        progressShown = progressShown || window->ProgressBar->isVisible();
        QTreeWidgetItem* other = window->NodeForServer(2);
        window->ClickNode(other);
        clickIgnored = window->CurrentServerId() == 1;
        window->close();  // asked during the transaction
    });
    timer.start(100);
    QElapsedTimer elapsed;
    elapsed.start();
    Edit(1);
    timer.stop();
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_GE(ticks, 5);
    EXPECT_TRUE(busySeen);
    EXPECT_TRUE(clickIgnored);
    EXPECT_TRUE(progressShown);
    EXPECT_FALSE(window->ProgressBar->isVisible());
    EXPECT_FALSE(window->Busy());
    EXPECT_EQ(window->lblServerError->text(), "There was an error downloading data from Silent");
    EXPECT_FALSE(window->isVisible());  // the close took effect once the command ended
}

TEST_F(TreeConfigurationSimTest, ProgramStoppingDuringASaveStoresNothingAndCloses) {
    AddDevice("127.0.0.2", devsim::Model::QX700_5)->setFault(devsim::Fault::Silent);
    Open();
    DialogScript dialogs;
    TypeNewServer("Kitchen", "127.0.0.2");
    QTimer::singleShot(300, [] { DeviceLink::ProgramRunning = false; });
    QElapsedTimer elapsed;
    elapsed.start();
    window->btnSaveServer->click();
    EXPECT_LT(elapsed.elapsed(), 1500);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(dialogs.Texts().isEmpty()) << dialogs.Texts().join('\n').toStdString();
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM tblServers"), QStringList{"0"});
}

TEST_F(TreeConfigurationSimTest, SensorsOpensTheConfigurationWindowOfTheDevice) {
    AddDevice("127.0.0.2", devsim::Model::QX740);
    AddDevice("127.0.0.3", devsim::Model::Zolo603);
    Register("Boiler", "127.0.0.2");
    Register("Pharmacy", "127.0.0.3");
    Open();
    DialogScript dialogs;
    QStringList opened;
    // Closes each configuration window once it is shown; the watch must not
    // wait itself, or it would sit on top of the window's page reads. A
    // window refuses to close until its download is over, so the watch
    // meets it again on later ticks: it is counted once.
    QTimer watch;
    QPointer<QWidget> last;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != window.get() && modal->isVisible()) {
            if (modal != last) opened << modal->objectName();
            last = modal;
            modal->close();
        }
    });
    watch.start(50);
    for (qint64 id : {1, 2}) {
        QTreeWidgetItem* node = window->NodeForServer(id);
        window->ServerTree->setCurrentItem(node);
        window->ClickNode(node);
        window->btnSensors->click();
    }
    watch.stop();
    EXPECT_EQ(opened, QStringList({"frmQX740", "frmZolo"}));
}

TEST_F(TreeConfigurationSimTest, SensorsOfADeviceThatDoesNotAnswer) {
    Register("Gone", "127.0.0.9");
    Open();
    DialogScript dialogs;
    QTreeWidgetItem* node = window->NodeForServer(1);
    window->ServerTree->setCurrentItem(node);
    window->ClickNode(node);
    window->btnSensors->click();
    EXPECT_EQ(dialogs.Texts(), QStringList{"The was an error communicating with the server at IP "
                                           "address127.0.0.9.  Please try again."});
}

// Screenshots of the window for the README. Run by hand:
//   FERNLOG_SCREENSHOT_DIR=docs fernlog_registry_ui_sim_tests --gtest_also_run_disabled_tests
//     --gtest_filter='*DISABLED_Screenshots'
TEST_F(TreeConfigurationSimTest, DISABLED_Screenshots) {
    const QString out = qEnvironmentVariable("FERNLOG_SCREENSHOT_DIR");
    if (out.isEmpty()) GTEST_SKIP() << "FERNLOG_SCREENSHOT_DIR is not set";
    devsim::Device* kitchen = AddDevice("127.0.0.2", devsim::Model::QX700_5, 24, "Kitchen");
    AddDevice("127.0.0.3", devsim::Model::QX700_8, {}, "Server Room");
    devsim::Device* pharmacy = AddDevice("127.0.0.4", devsim::Model::Zolo605, {}, "Pharmacy");
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", "", "127.0.0.2", "Simulated device", 1, "****",
                                          "chef@kitchen.test,manager@kitchen.test,", -1));
    ASSERT_TRUE(ServerDatabase::AddServer("Server Room", "", "127.0.0.3", "", 1, "",
                                          "it@office.test,", -1));
    ASSERT_TRUE(ServerDatabase::AddServer("Pharmacy", "", "127.0.0.4", "", 0, "", "", 0));
    ASSERT_TRUE(ServerDatabase::AddServer("Boiler", "", "127.0.0.5", "", 0, "", "", 0));
    kitchen->setClock(QDateTime(QDate(2026, 12, 7), QTime(6, 0, 0)));
    kitchen->setLogRate(15);
    for (int i = 0; i < 12; ++i) {
        kitchen->setPortValue(0, -5.5 + 0.3 * i);
        kitchen->setPortValue(1, 36.0 + 0.2 * (i % 5));
        kitchen->setPortValue(8, i >= 5 && i < 7 ? 0 : 1);
        kitchen->appendLogRecord();
        kitchen->setClock(kitchen->clock().addSecs(15 * 60));
    }
    pharmacy->setUnit('C');
    Open();
    DialogScript dialogs;
    window->chooseExportFile = [](const QString&) { return QString(); };

    Edit(3);
    QTest::qWait(100);
    ASSERT_TRUE(window->grab().save(out + "/registry-server.png"));
    Edit(1);
    window->btnGetLogFile->click();
    QTest::qWait(100);
    ASSERT_TRUE(window->grab().save(out + "/registry-log.png"));
    window->btnServerEmailAddresses->click();
    window->lstEmailAddr->setCurrentRow(0);
    window->resize(900, 420);
    QTest::qWait(100);
    ASSERT_TRUE(window->grab().save(out + "/registry-email.png"));
}
