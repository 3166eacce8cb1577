// Polling cycles against simulated devices on their own port 10001.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/AlarmHandling.h"
#include "core/Alarms.h"
#include "core/ChannelOutbox.h"
#include "core/Channels.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/Polling.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/Silences.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "db/ServerDatabase.h"
#include "protocol/Commands.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/SimDevices.h"
#include "support/SmtpServer.h"
#include "support/WebReceiver.h"
#include "web/Render.h"
#include "web/Snapshot.h"

namespace {

class PollingTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        SKIP_IF_PORTS_HELD(LoopbackTcp10001());
        ConfigParameters.TCPTimeOut = 2;
        ConfigParameters.CommunicationRetry = 1;
        ConfigParameters.UpdateRate = 60;
        smtp = std::make_unique<SmtpServer>();
        ASSERT_TRUE(smtp->IsRunning()) << smtp->Error().toStdString();
        smtp->UseInSettings(5);
        ASSERT_TRUE(Settings::SaveConfigFile());
        EmailNotification::SetupMailer();
        Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(22, 0, 0)));
    }
    void TearDown() override {
        Polling::StopPollTimer();
        devices.clear();
        smtp.reset();
        MailingTest::TearDown();
    }

    devsim::Device& AddDevice(const QString& address, const QString& name, int enabled,
                              bool sensors = true, const QString& emailList = QString(),
                              quint16 build = 23) {
        devsim::DeviceConfig config = Keeper(address);
        config.build = build;
        devsim::Device& device = devices.Start(config);
        DialogScript dialogs;
        const qint64 id = devices.Register(name, address, emailList, enabled);
        if (sensors) {
            devices.AddSensor(id, name + " probe", 0);
            devices.AddSensor(id, name + " door", 5, "Door Sensor");
        }
        return device;
    }
    // A cycle, and its e-mails delivered within its minute.
    void Cycle() {
        Polling::PollAll();
        EXPECT_TRUE(DeliverOutbox());
    }
    void Configure() {
        int count = 0;
        ServerDatabase::CountNamedSensors(count);
        StatusGrid::Model().ConfigureServerStatusGrid(count);
    }
    QString Line(const QString& name, const QString& address) {
        for (const QString& line : StatusList::Lines()) {
            if (line.startsWith(Polling::DeviceStatusKey(name, address))) {
                return line.mid(Polling::DeviceStatusKey(name, address).size());
            }
        }
        return "<none>";
    }

    std::unique_ptr<SmtpServer> smtp;
    SimDevices devices;
};
}  // namespace

TEST_F(PollingTest, EnabledDevicesAreReadDisabledNeverContactedBusyNotFailed) {
    devsim::Device& good = AddDevice("127.0.0.2", "Kitchen", 1);
    devsim::Device& off = AddDevice("127.0.0.3", "Spare", 0);
    devsim::Device& busy = AddDevice("127.0.0.4", "Cellar", 1);
    good.setPortValue(0, 38.5);
    good.setPortValue(5, 1);
    devsim::FaultSettings readingsBusy;
    readingsBusy.fault = devsim::Fault::Busy;
    readingsBusy.onlyCommand = Protocol::CmdReadings();
    busy.setFault(readingsBusy);
    Configure();
    Cycle();

    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
    EXPECT_EQ(Line("Spare", "127.0.0.3"), "<none>");
    EXPECT_EQ(off.connectionCount(), 0);
    EXPECT_EQ(Line("Cellar", "127.0.0.4"), ": Is busy");
    EXPECT_TRUE(Rows("SELECT * FROM tblServerFailures").isEmpty());
    EXPECT_EQ(busy.requestCount(Protocol::CmdReadings()), 1);  // not retried

    // Busy on every request, identification included: still not a failure.
    busy.setFault(devsim::Fault::Busy);
    Cycle();
    EXPECT_EQ(Line("Cellar", "127.0.0.4"), ": Is busy");
    EXPECT_TRUE(Rows("SELECT * FROM tblServerFailures").isEmpty());

    const auto& rows = StatusGrid::Model().Rows();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0].sensor, "Kitchen probe");
    EXPECT_EQ(rows[0].reading, "38.5");
    EXPECT_EQ(rows[1].reading, "Closed");
    EXPECT_EQ(rows[1].status, "Normal");
    EXPECT_TRUE(StatusList::Lines().join('\n').contains(
        QRegularExpression("Communication Time: \\d+ seconds")));
    EXPECT_TRUE(
        StatusList::Lines().join('\n').contains("Last download data at: 3/7/2026 10:00:00 PM"));
}

// A failed device shows no data and is booked once per outage; its e-mail
// goes out in the second failed cycle; an answer again closes the outage.
TEST_F(PollingTest, FailedDeviceIsRecordedOnceAndBackOnline) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1);
    dev.setFault(devsim::Fault::Refuse);
    Configure();
    for (int cycle = 0; cycle < 3; ++cycle) {
        Cycle();
        Clock::AdvanceForTest(60);
    }
    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": FAILED");
    EXPECT_EQ(StatusGrid::Model().Rows()[0].status, "NO DATA");
    EXPECT_EQ(Rows("SELECT count(*), min(BackOnLine) FROM tblServerFailures"),
              QStringList{"1|False"});
    EXPECT_EQ(smtp->Messages().size(), 1u);

    dev.clearFault();
    Cycle();
    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
    EXPECT_EQ(Rows("SELECT BackOnLine FROM tblServerFailures"), QStringList{"2026-03-07 22:03:00"});
}

TEST_F(PollingTest, UpAndRunningMailFirstGoesOutAfterMidnight) {
    AddDevice("127.0.0.2", "Kitchen", 1);
    ConfigParameters.SystemOKEmail = 1;
    ASSERT_TRUE(Settings::SaveConfigFile());
    Configure();
    Cycle();  // stores the date only
    EXPECT_EQ(ConfigParameters.LastSystemOKEmail.Text(), "3/7/2026 10:00:00 PM");
    Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(23, 59, 0)));
    Cycle();
    EXPECT_TRUE(smtp->Messages().empty());
    Clock::SetForTest(QDateTime(QDate(2026, 3, 8), QTime(0, 1, 0)));
    Cycle();
    ASSERT_EQ(smtp->Messages().size(), 1u);
    EXPECT_EQ(smtp->Messages()[0].Header("Subject"), "Corvane Vantor-E is up and running!");
    Settings::ReadConfigFile();
    EXPECT_EQ(ConfigParameters.LastSystemOKEmail.Text(), "3/8/2026 12:01:00 AM");
    Cycle();
    EXPECT_EQ(smtp->Messages().size(), 1u);
}

// The poll timer's ticks run a cycle every TicksPerUpdate ticks.
TEST_F(PollingTest, TickCountsToTheUpdateRate) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1);
    Configure();
    Polling::TicksPerUpdate = 3;
    Polling::PollTicks = 0;
    Polling::OnPollTick();
    Polling::OnPollTick();
    EXPECT_EQ(dev.connectionCount(), 0);
    Polling::OnPollTick();
    EXPECT_EQ(dev.connectionCount(), 2);  // identification and readings
    EXPECT_EQ(Polling::PollTicks, 0);
    EXPECT_TRUE(Polling::PollTimer().isActive());
    // The next tick keeps the pace: 5 s after the cycle's start.
    EXPECT_LE(Polling::PollTimer().interval(), 5000);
    EXPECT_GT(Polling::PollTimer().interval(), 3000);
    EXPECT_FALSE(Polling::CycleRunning);
}

TEST_F(PollingTest, ShutdownDuringACycleEndsItWithTheTimerStopped) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1);
    dev.setFault(devsim::Fault::Silent);
    Configure();
    Polling::TicksPerUpdate = 1;
    Polling::PollTicks = 0;
    QTimer::singleShot(300, [] { DeviceLink::ProgramRunning = false; });
    Polling::OnPollTick();
    EXPECT_FALSE(Polling::PollTimer().isActive());
    EXPECT_FALSE(Polling::CycleRunning);
    EXPECT_TRUE(Rows("SELECT * FROM tblServerFailures").isEmpty());
    DeviceLink::ProgramRunning = true;
}

// Many devices contacted at once leave, for the same answers, exactly what
// one device after the other leaves: data logs, other files, rows, e-mails,
// status lines and grid. Devices that are slow, silent, refusing, busy,
// cut short or unaddressable sit between good ones, and alarms and an
// outage cross three cycles.
TEST_F(PollingTest, ConcurrentCycleLeavesWhatTheSequentialCycleLeaves) {
    const auto run = [this](int connections) {
        // Each visit of the silent device costs an answer wait: a second is
        // still well above the slow device's delay.
        Timings waits;
        waits.answerMs = 1000;
        Waits::SetForTest(waits);
        const size_t firstMessage = smtp->Messages().size();
        Options::Values options;
        options.recoveryNotices = true;
        options.connections = connections;
        EXPECT_TRUE(Options::Save(options));
        ConfigParameters.ServerFailureEmailAddress = "admin@corvane.test";
        EXPECT_TRUE(Settings::SaveConfigFile());
        devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
        AddDevice("127.0.0.3", "Cellar", 1).setFault(devsim::Fault::Refuse);
        AddDevice("127.0.0.4", "Attic", 1).setFault(devsim::Fault::Silent);
        devsim::FaultSettings readingsBusy;
        readingsBusy.fault = devsim::Fault::Busy;
        readingsBusy.onlyCommand = Protocol::CmdReadings();
        AddDevice("127.0.0.5", "Loading", 1).setFault(readingsBusy);
        AddDevice("127.0.0.6", "Spare", 0);
        devsim::FaultSettings slow;
        slow.fault = devsim::Fault::Delay;
        slow.delayMs = 400;
        devsim::Device& office = AddDevice("127.0.0.7", "Office", 1, true, "it@corvane.test");
        office.setFault(slow);
        office.setPortValue(0, 71.5);
        devsim::FaultSettings cut;
        cut.fault = devsim::Fault::CloseMidAnswer;
        cut.onlyCommand = Protocol::CmdReadings();
        AddDevice("127.0.0.8", "Porch", 1).setFault(cut);
        EXPECT_TRUE(
            ServerDatabase::AddServer("Typo", kKeeperModel, "127.0.0.x", "", 1, "", "", -1));
        AddDevice("127.0.0.9", "Lab", 1, true, "lab@corvane.test").setPort(5, {1, 3, 1});
        Configure();

        // Each cycle's e-mails are delivered within its minute.
        kitchen.setPort(0, {80, 4, 1});
        Polling::PollAll();
        EXPECT_TRUE(DeliverOutbox());
        Clock::AdvanceForTest(60);
        kitchen.setPort(0, {81, 5, 1});
        Polling::PollAll();
        EXPECT_TRUE(DeliverOutbox());
        Clock::AdvanceForTest(60);
        kitchen.setPort(0, {35, 0, 0});
        devices[1]->clearFault();
        Polling::PollAll();
        EXPECT_TRUE(DeliverOutbox());

        QStringList seen;
        QDir dir(Dir());
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            if (name.startsWith("zolo.mdb") || name == Options::FileName()) continue;
            QByteArray bytes = ReadAll(FilePath(name));
            // The mail reports end in the mail library's own transcript,
            // whose wording varies from one exchange to the next.
            if (name == EmailNotification::AlarmReportFileName() ||
                name == EmailNotification::ErrorReportFileName()) {
                bytes = bytes.left(bytes.indexOf("<Transcript>"));
            }
            seen << name + ": " + QString::fromLatin1(bytes.toHex());
        }
        for (const char* table : {"tblAlarms", "tblServerFailures", "tblErrors", "tblSensors"}) {
            seen << Rows(QStringLiteral("SELECT * FROM ") + table);
        }
        const auto messages = smtp->Messages();
        for (size_t m = firstMessage; m < messages.size(); ++m) {
            seen << messages[m].rcptTos.join(',') + " | " + messages[m].Header("Subject") + " | " +
                        messages[m].body;
        }
        seen << StatusList::Lines();
        for (const auto& row : StatusGrid::Model().Rows()) {
            seen << row.sensor + " | " + row.reading + " | " + row.status;
        }
        return seen;
    };
    const QStringList oneByOne = run(1);
    // A fresh start for the second run, with the same mail server: its port
    // is in the settings and the mail reports.
    std::unique_ptr<SmtpServer> server = std::move(smtp);
    TearDown();
    SetUp();
    smtp = std::move(server);
    smtp->UseInSettings(5);
    ASSERT_TRUE(Settings::SaveConfigFile());
    EmailNotification::SetupMailer();
    const QStringList atOnce = run(64);
    ASSERT_EQ(oneByOne.size(), atOnce.size());
    for (int i = 0; i < oneByOne.size(); ++i) {
        EXPECT_EQ(oneByOne[i].left(120), atOnce[i].left(120));
        EXPECT_TRUE(oneByOne[i] == atOnce[i]) << oneByOne[i].toStdString() << "\n"
                                              << atOnce[i].toStdString();
    }
    EXPECT_GE(oneByOne.size(), 30);
    EXPECT_TRUE(oneByOne.join('\n').contains("Message from Corvane Vantor-E"));
    EXPECT_TRUE(oneByOne.join('\n').contains("Kitchen probe is back to normal"));
}

namespace {
// A network namespace of the calling thread's own: loopback; no route
// beyond it (a connect fails at once: ENETUNREACH); a blackhole range
// (EINVAL); a range routed into loopback that no one answers (a switched-off
// device: the connect times out). Nothing sent in it leaves it. The thread
// returns to its own namespace at the end.
class OwnNetwork {
  public:
    OwnNetwork() : original_(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
        if (original_ < 0 || unshare(CLONE_NEWNET) != 0) {
            why_ = QStringLiteral("no network namespace can be made here: ") +
                   QString::fromLocal8Bit(strerror(errno));
            return;
        }
        made_ = true;
        for (const QStringList& args : {QStringList{"link", "set", "lo", "up"},
                                        QStringList{"route", "add", "blackhole", "198.51.100.0/24"},
                                        QStringList{"route", "add", "192.0.2.0/24", "dev", "lo"}}) {
            QProcess ip;
            ip.start(QStringLiteral("ip"), args);
            if (!ip.waitForFinished(10000) || ip.exitCode() != 0) {
                why_ = QStringLiteral("ip ") + args.join(' ') + QStringLiteral(": ") +
                       QString::fromLocal8Bit(ip.readAllStandardError()) + ip.errorString();
                return;
            }
        }
    }
    ~OwnNetwork() {
        if (made_) setns(original_, CLONE_NEWNET);
        if (original_ >= 0) close(original_);
    }
    // Empty when the namespace is ready.
    QString Why() const { return why_; }

  private:
    int original_;
    bool made_ = false;
    QString why_;
};

int OpenDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}
}  // namespace

// Devices whose connect fails at once, beside one that keeps the cycle
// waiting, leave no descriptor behind, cycle after cycle.
TEST_F(PollingTest, UnroutableAndSwitchedOffDevicesLeakNoDescriptor) {
    OwnNetwork network;
    if (!network.Why().isEmpty()) GTEST_SKIP() << network.Why().toStdString();
    Timings quick;
    quick.connectMs = 100;
    quick.answerMs = 100;
    Waits::SetForTest(quick);
    Options::Values options;
    options.connections = 8;
    ASSERT_TRUE(Options::Save(options));
    ConfigParameters.CommunicationRetry = 2;
    AddDevice("127.0.0.2", "Kitchen", 1);
    AddDevice("127.0.0.3", "Attic", 1).setFault(devsim::Fault::Silent);
    for (const char* address : {"198.51.100.7", "198.51.100.8", "203.0.113.5", "192.0.2.9"}) {
        ASSERT_TRUE(ServerDatabase::AddServer(address, kKeeperModel, address, "", 1, "", "", -1));
    }
    Configure();
    // The cycles come from the poll timer, in the running event loop, as in
    // the program.
    quick.tickMs = 20;
    Waits::SetForTest(quick);
    Polling::TicksPerUpdate = 1;
    Polling::StartPollTimer();
    const auto cycles = [](qint64 n) {
        return QTest::qWaitFor([n] { return Polling::LastCycle().number >= n; }, 30000);
    };
    ASSERT_TRUE(cycles(2));
    const int before = OpenDescriptors();
    ASSERT_TRUE(cycles(22));
    Polling::StopPollTimer();
    EXPECT_LE(OpenDescriptors(), before + 2) << "before the cycles: " << before;
    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
    EXPECT_EQ(Line("198.51.100.7", "198.51.100.7"), ": FAILED");
    EXPECT_EQ(Line("203.0.113.5", "203.0.113.5"), ": FAILED");
    EXPECT_EQ(Line("192.0.2.9", "192.0.2.9"), ": FAILED");
    EXPECT_EQ(Polling::LastCycle().failed, 5);
}

namespace {
// What the main window's indicator and pointer were told.
struct IndicatorView : DeviceLink::LinkView {
    QList<Colour> colours;
    QList<bool> busy;
    void SetConnectionColour(Colour c) override { colours << c; }
    void SetBusyCursor(bool b) override { busy << b; }
    void SetProgressMaximum(int) override {}
    void SetProgressValue(int) override {}
    void HideProgress() override {}
    void ShowDownloadProgress(const QString&) override {}
    QString ChosenDeviceName() const override { return QString(); }
};
}  // namespace

// Many devices at once light the indicator and the hourglass while any of
// them is in contact; the cycle's end is told on the program's clock.
TEST_F(PollingTest, ConcurrentCycleShowsItIsTalkingToDevices) {
    Options::Values options;
    options.connections = 8;
    ASSERT_TRUE(Options::Save(options));
    AddDevice("127.0.0.2", "Kitchen", 1);
    AddDevice("127.0.0.3", "Attic", 1).setFault(devsim::Fault::Silent);
    Configure();
    Timings quick;
    quick.answerMs = 400;
    Waits::SetForTest(quick);
    IndicatorView view;
    DeviceLink::SetView(Window::frmMain, &view);
    bool litMidway = false;
    QTimer::singleShot(200, [&] {
        litMidway =
            !view.colours.isEmpty() && view.colours.last() == Colour::Green && view.busy.last();
    });
    Polling::PollAll();
    DeviceLink::SetView(Window::frmMain, nullptr);
    EXPECT_TRUE(litMidway);
    ASSERT_FALSE(view.colours.isEmpty());
    EXPECT_EQ(view.colours.last(), Colour::LightGrey);
    EXPECT_FALSE(view.busy.last());
    EXPECT_EQ(Polling::LastCycle().end, Clock::Now());  // the test's clock stands still
}

// "fernlog poll" makes of the devices' answers what a cycle makes of them:
// an identification that does not decode still leads to the readings,
// readings that are not accepted are asked for again, a busy device is not,
// and each device is asked as often by one as by the other.
TEST_F(PollingTest, PollCommandVisitsEachDeviceAsTheCycleDoes) {
    ConfigParameters.CommunicationRetry = 2;
    ASSERT_TRUE(Settings::SaveConfigFile());
    AddDevice("127.0.0.2", "Kitchen", 1);
    AddDevice("127.0.0.3", "Odd", 1, true, QString(), 40000);  // overflows its decoding
    devsim::FaultSettings garbled;
    garbled.fault = devsim::Fault::Garbage;
    garbled.onlyCommand = Protocol::CmdReadings();
    AddDevice("127.0.0.4", "Garbled", 1).setFault(garbled);
    devsim::FaultSettings busy;
    busy.fault = devsim::Fault::Busy;
    busy.onlyCommand = Protocol::CmdReadings();
    AddDevice("127.0.0.5", "Loading", 1).setFault(busy);
    AddDevice("127.0.0.6", "Cellar", 1).setFault(devsim::Fault::Refuse);
    Configure();
    const auto asked = [this] {
        QStringList counts;
        for (const auto& d : devices) {
            counts << QStringLiteral("%1 identifications, %2 readings")
                          .arg(d->requestCount(Protocol::CmdIdentify()))
                          .arg(d->requestCount(Protocol::CmdReadings()));
        }
        return counts;
    };

    qputenv(Waits::kTestVariable, "connect=500,answer=500");
    const ProgramRun run =
        RunProgram(QStringLiteral(FERNLOG_PATH), {"poll", "--json", "--dir", Dir()});
    qunsetenv(Waits::kTestVariable);
    const QStringList byPoll = asked();
    QStringList polled;
    for (const auto& device : QJsonDocument::fromJson(run.out.toUtf8()).array()) {
        const QJsonObject result = device.toObject();
        polled << result["name"].toString() + ": " + result["result"].toString();
    }

    for (auto& d : devices) d->resetCounters();
    Polling::PollAll();
    QStringList cycled;
    for (const Polling::DeviceState& device : Polling::Devices()) {
        using Outcome = Polling::DeviceState::Outcome;
        cycled << device.name.trimmed() + ": " +
                      (device.outcome == Outcome::Answered ? "ok"
                       : device.outcome == Outcome::Busy   ? "busy"
                                                           : "failed");
    }
    EXPECT_EQ(polled, cycled) << run.err.toStdString();
    EXPECT_EQ(byPoll, asked());
    EXPECT_EQ(cycled, (QStringList{"Kitchen: ok", "Odd: ok", "Garbled: failed", "Loading: busy",
                                   "Cellar: failed"}));
}

// A mail server that takes connections but never greets holds up no cycle:
// the alarm and device-failure e-mails wait in the outbox (each once) while
// every cycle reads and logs the devices; their rows are written when the
// delivery ends.
TEST_F(PollingTest, SilentMailServerDelaysNoReading) {
    SmtpServer::Options quiet;
    quiet.silent = true;
    SmtpServer silent(quiet);
    ASSERT_TRUE(silent.IsRunning()) << silent.Error().toStdString();
    silent.UseInSettings(30);
    ConfigParameters.ServerFailureEmailAddress = "admin@corvane.test";
    EmailNotification::SetupMailer();
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test");
    AddDevice("127.0.0.3", "Cellar", 1).setFault(devsim::Fault::Refuse);
    Configure();
    kitchen.setPort(0, {80, 4, 1});
    for (int cycle = 0; cycle < 3; ++cycle) {
        kitchen.setPortValue(5, cycle % 2);
        Polling::PollAll();
        Clock::AdvanceForTest(60);
    }
    EXPECT_EQ(kitchen.requestCount(Protocol::CmdReadings()), 3);
    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
    const Polling::CycleFigures figures = Polling::LastCycle();
    EXPECT_EQ(figures.number, 3);
    EXPECT_EQ(figures.devices, 2);
    EXPECT_EQ(figures.answered, 1);
    EXPECT_EQ(figures.failed, 1);
    EXPECT_EQ(StatusGrid::Model().Rows()[1].reading, "Open");  // the third cycle's door
    EXPECT_EQ(Outbox::Counts().waiting, 2);                    // the alarm, and the failure once
    EXPECT_FALSE(Outbox::Idle());
    EXPECT_EQ(Rows("SELECT EmailSent FROM tblServerFailures"), QStringList{"False"});
    EXPECT_TRUE(ReadAll(FilePath("FernlogOutbox.dat")).contains("has generated an alarm"));

    // The mail server answers again: both go out, in order, and are booked.
    Outbox::Stop();
    ASSERT_TRUE(QTest::qWaitFor([] { return !Outbox::Delivering(); }, 20000));
    EXPECT_EQ(Outbox::Counts().waiting, 2);
    smtp->UseInSettings(5);
    EmailNotification::SetupMailer();
    Outbox::Resume();
    ASSERT_TRUE(DeliverOutbox());
    QStringList subjects;
    for (const auto& m : smtp->Messages()) subjects << m.Header("Subject");
    EXPECT_EQ(subjects, (QStringList{"Sensor: Kitchen probe has generated an alarm!",
                                     "Message from Corvane Vantor-E"}));
    EXPECT_EQ(Rows("SELECT EmailSent FROM tblAlarms"), QStringList{"2026-03-07 22:03:00"});
    EXPECT_EQ(Rows("SELECT EmailSent FROM tblServerFailures"), QStringList{"2026-03-07 22:03:00"});
    EXPECT_FALSE(ReadAll(FilePath("FernlogOutbox.dat")).contains("has generated an alarm"));
}

namespace {
// The service log's lines without their time stamps.
class EventsTest : public PollingTest {
  protected:
    void SetUp() override {
        PollingTest::SetUp();
        ASSERT_NO_FATAL_FAILURE();
        ConfigParameters.ServerFailureEmailAddress = "admin@corvane.test";
        ASSERT_TRUE(Settings::SaveConfigFile());
        EventLog::SetSink([this](const QString& line) { events << line.section(u' ', 1); });
    }
    // An alarm on the probe that ends in the next cycle, then an outage of
    // two cycles (the second mails it) that ends in the cycle after.
    void AlarmThenOutage(devsim::Device& dev) {
        dev.setPort(0, {80, 4, 1});
        Cycle();
        Clock::AdvanceForTest(60);
        dev.setPort(0, {35, 0, 0});
        Cycle();
        Clock::AdvanceForTest(60);
        dev.setFault(devsim::Fault::Refuse);
        Cycle();
        Clock::AdvanceForTest(60);
        Cycle();
        Clock::AdvanceForTest(60);
        dev.clearFault();
        Cycle();
    }
    QStringList Subjects() const {
        QStringList subjects;
        for (const auto& m : smtp->Messages()) subjects << m.Header("Subject");
        return subjects;
    }
    // A cycle at `minute`, noting each message it sent as "minute subject
    // -> recipients".
    void NotedCycle(int minute) {
        const size_t before = smtp->Messages().size();
        Cycle();
        const auto messages = smtp->Messages();
        for (size_t i = before; i < messages.size(); ++i) {
            sent << QStringLiteral("%1 %2 -> %3")
                        .arg(minute)
                        .arg(messages[i].Header("Subject").section(':', 0, 0),
                             messages[i].rcptTos.join(','));
        }
    }
    QStringList events;
    QStringList sent;
};
}  // namespace

TEST_F(EventsTest, LogTellsAlarmStartAndEndDeviceFailureAndRecoveryAndEachEmail) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    AlarmThenOutage(dev);
    EXPECT_EQ(events,
              (QStringList{
                  "WARNING Alarm started: device Kitchen, sensor Kitchen probe, reading 80 °F: "
                  "Kitchen probe is out of limits and is currently reading: 80 °F and has been "
                  "out of limits for: 4 minutes.",
                  "INFO    E-mail sent to chef@corvane.test: Sensor: Kitchen probe has generated "
                  "an alarm!",
                  "INFO    Alarm ended: device Kitchen, sensor Kitchen probe, reading 35 °F (alarm "
                  "since 2026-03-07 22:00:00)",
                  "WARNING Device Kitchen at 127.0.0.2 did not answer 1 request(s) for data",
                  "INFO    E-mail sent to admin@corvane.test: Message from Corvane Vantor-E",
                  "INFO    Device Kitchen at 127.0.0.2 answers again (no answer since "
                  "2026-03-07 22:02:00)"}))
        << events.join('\n').toStdString();
    // Recovery notices are off unless turned on: nothing more was mailed.
    EXPECT_EQ(Subjects(), (QStringList{"Sensor: Kitchen probe has generated an alarm!",
                                       "Message from Corvane Vantor-E"}));
}

TEST_F(EventsTest, RecoveryNoticesWhenTurnedOn) {
    ASSERT_TRUE(Options::Save({true}));
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    AlarmThenOutage(dev);
    const auto messages = smtp->Messages();
    ASSERT_EQ(Subjects(),
              (QStringList{"Sensor: Kitchen probe has generated an alarm!",
                           "Sensor: Kitchen probe is back to normal",
                           "Message from Corvane Vantor-E", "Message from Corvane Vantor-E"}));
    EXPECT_EQ(messages[1].rcptTos, QStringList{"chef@corvane.test"});
    EXPECT_TRUE(
        messages[1].body.contains("Kitchen probe connected to server Kitchen is back to "
                                  "normal.\n\nAlarm started: 3/7/2026 10:00:00 PM\n"
                                  "Alarm ended: 3/7/2026 10:01:00 PM\nReading: 35"))
        << messages[1].body.toStdString();
    EXPECT_EQ(messages[3].rcptTos, QStringList{"admin@corvane.test"});
    EXPECT_TRUE(
        messages[3].body.contains("The device: Kitchen, is back online and answering "
                                  "requests for data again.  It did not respond from "
                                  "3/7/2026 10:02:00 PM to 3/7/2026 10:04:00 PM."))
        << messages[3].body.toStdString();
}

// An outage of one cycle was never mailed: no "back" notice for it either.
TEST_F(EventsTest, NoRecoveryNoticeForAnOutageNobodyWasTold) {
    ASSERT_TRUE(Options::Save({true}));
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1);
    Configure();
    dev.setFault(devsim::Fault::Refuse);
    Cycle();
    dev.clearFault();
    Cycle();
    EXPECT_TRUE(smtp->Messages().empty());
    EXPECT_TRUE(events.last().startsWith("INFO    Device Kitchen at 127.0.0.2 answers again"));
}

TEST_F(EventsTest, FailedEmailIsLoggedWithItsReason) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    EmailNotification::SetupMailer();
    dev.setPort(0, {80, 4, 1});
    Cycle();
    ASSERT_GE(events.size(), 2);
    EXPECT_TRUE(
        events[1].startsWith("ERROR   E-mail to chef@corvane.test failed (Sensor: Kitchen "
                             "probe has generated an alarm!): "))
        << events.join('\n').toStdString();
    EXPECT_GT(events[1].size(), 100);  // the reason follows
}

// A device-failure e-mail that fails is one line, not the failure and its
// error-log entry.
TEST_F(EventsTest, FailedDeviceFailureEmailIsOneLine) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1);
    Configure();
    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    EmailNotification::SetupMailer();
    dev.setFault(devsim::Fault::Refuse);
    Polling::PollAll();
    Polling::PollAll();
    ASSERT_TRUE(DeliverOutbox());
    EXPECT_EQ(events.filter("ERROR").size(), 1) << events.join('\n').toStdString();
    EXPECT_TRUE(events.filter("ERROR").value(0).startsWith(
        "ERROR   E-mail to admin@corvane.test failed (Message from Corvane Vantor-E): "));
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors"), QStringList{"SendTextEmail"});
}

// --verbose: the devices' results and errors in plain words, a summary when
// it changes, no connection lines; --trace adds those.
TEST_F(EventsTest, VerboseAndTraceLines) {
    // Three visits of the silent device: a second's wait each, not two.
    Timings waits;
    waits.answerMs = 1000;
    Waits::SetForTest(waits);
    devsim::Device& kitchen = AddDevice("127.0.0.2", "Kitchen", 1);
    devsim::Device& cellar = AddDevice("127.0.0.3", "Cellar", 1);
    Configure();
    EventLog::SetSink([this](const QString& line) { events << line.section(u' ', 1); }, true);
    StatusList::SetListener(ServiceLog::StatusLine);
    kitchen.setFault(devsim::Fault::Refuse);
    cellar.setFault(devsim::Fault::Silent);
    Polling::PollAll();
    ServiceLog::AfterCycle();
    Polling::PollAll();
    ServiceLog::AfterCycle();
    EXPECT_EQ(events.count("DEBUG   Communication error: connection refused"), 2);
    EXPECT_EQ(events.count("DEBUG   Communication error: no answer from 127.0.0.3 within 1 s"), 2);
    EXPECT_EQ(events.filter("Connection ").size(), 0) << events.join('\n').toStdString();
    EXPECT_EQ(events.filter("Error Number").size(), 0);
    EXPECT_EQ(events.count("INFO    0 of 2 devices answered; 0 sensors read"), 1);

    events.clear();
    EventLog::SetSink([this](const QString& line) { events << line.section(u' ', 1); }, false,
                      true);
    kitchen.clearFault();
    Polling::PollAll();
    ServiceLog::AfterCycle();
    EXPECT_GE(events.count("TRACE   Connection opened"), 1) << events.join('\n').toStdString();
    EXPECT_EQ(events.count("INFO    1 of 2 devices answered; 2 sensors read"), 1);
}

// The database goes away for two cycles: the devices are still read and
// logged, an alarm that starts meanwhile is mailed at once, and its record
// is written when the database answers again, with its real start. The
// outage is told once, and its end.
TEST_F(EventsTest, DatabaseOutageKeepsPollingAndBooksTheAlarmAfterwards) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    Polling::PollAll();
    const auto logged = [&] {
        qint64 size = 0;
        for (const QString& name : QDir(Dir()).entryList({"Sensor-1 *.dat"})) {
            size += QFileInfo(FilePath(name)).size();
        }
        return size;
    };
    const qint64 before = logged();
    ASSERT_TRUE(QFile::rename(FilePath("zolo.mdb"), FilePath("zolo.away")));
    Clock::AdvanceForTest(60);
    dev.setPort(0, {80, 4, 1});
    Polling::PollAll();
    Clock::AdvanceForTest(60);
    Polling::PollAll();
    ASSERT_TRUE(DeliverOutbox());
    EXPECT_EQ(dev.requestCount(Protocol::CmdReadings()), 3);
    EXPECT_GT(logged(), before);
    EXPECT_EQ(StatusGrid::Model().Rows()[0].reading, "80");
    EXPECT_TRUE(StatusList::Lines().join('\n').contains(
        "Database cannot be read since 3/7/2026 10:01:00 PM"));
    ASSERT_EQ(smtp->Messages().size(), 1u);
    EXPECT_EQ(smtp->Messages()[0].Header("Subject"),
              "Sensor: Kitchen probe has generated an alarm!");

    ASSERT_TRUE(QFile::rename(FilePath("zolo.away"), FilePath("zolo.mdb")));
    Clock::AdvanceForTest(60);
    Polling::PollAll();
    EXPECT_EQ(Rows("SELECT AlarmStart, EmailSent, AlarmEnd IS NULL, Sensor FROM tblAlarms"),
              QStringList{"2026-03-07 22:01:00|2026-03-07 22:02:00|1|Kitchen probe"});
    EXPECT_FALSE(StatusList::Lines().join('\n').contains("Database "));
    ASSERT_TRUE(DeliverOutbox());
    EXPECT_EQ(smtp->Messages().size(), 1u);
    EXPECT_EQ(events.filter("Alarm started").size(), 1) << events.join('\n').toStdString();
    EXPECT_EQ(events.filter("The database cannot be read").size(), 1);
    EXPECT_EQ(events
                  .filter("The database answers again (it could not be read since "
                          "3/7/2026 10:01:00 PM)")
                  .size(),
              1);
}

// Reminders every 5 minutes to the alarm list, one escalation to the second
// list at 12 minutes, reminders to both lists from then on, none after the
// acknowledgement, and the recovery notice to both lists. A restart before
// the escalation neither loses it nor sends the missed reminders at once.
TEST_F(EventsTest, RemindersAndEscalationUntilAcknowledged) {
    Options::Values options;
    options.recoveryNotices = true;
    options.remindMinutes = 5;
    options.escalateMinutes = 12;
    ASSERT_TRUE(Options::Save(options));
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    ASSERT_TRUE(AlarmHandling::SetEscalationList(1, "Kitchen", "boss@corvane.test",
                                                 {"ann", "ann", AlarmHandling::Origin::Command}));
    dev.setPort(0, {80, 4, 1});
    for (int minute = 0; minute <= 22; ++minute) {
        if (minute == 11) {
            // A restart: only the stores and files remain.
            Alarms::Reset();
            AlarmHandling::Reset();
        }
        if (minute == 16) {
            ASSERT_TRUE(AlarmHandling::Acknowledge({1, "Kitchen", true},
                                                   {"ann", "ann", AlarmHandling::Origin::Command},
                                                   "defrosting", QDateTime()));
        }
        if (minute == 22) dev.setPort(0, {35, 0, 0});
        NotedCycle(minute);
        Clock::AdvanceForTest(60);
    }
    EXPECT_EQ(sent,
              (QStringList{"0 Sensor -> chef@corvane.test", "5 Reminder -> chef@corvane.test",
                           "10 Reminder -> chef@corvane.test", "12 Escalation -> boss@corvane.test",
                           "15 Reminder -> chef@corvane.test,boss@corvane.test",
                           "22 Sensor -> chef@corvane.test,boss@corvane.test"}));
}

// An acknowledgement given for a while holds the reminders only that long:
// once it expires the alarm, still open, is reminded of again.
TEST_F(EventsTest, ExpiredAcknowledgementResumesTheReminders) {
    Options::Values options;
    options.remindMinutes = 5;
    ASSERT_TRUE(Options::Save(options));
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    dev.setPort(0, {80, 4, 1});
    for (int minute = 0; minute <= 13; ++minute) {
        if (minute == 2) {
            ASSERT_TRUE(AlarmHandling::Acknowledge({1, "Kitchen", true},
                                                   {"ann", "ann", AlarmHandling::Origin::Command},
                                                   "looking", Clock::Now().addSecs(6 * 60)));
        }
        NotedCycle(minute);
        if (minute == 5) {
            EXPECT_EQ(StatusGrid::Model().Rows()[0].handling, "acknowledged");
        }
        if (minute == 8) {
            EXPECT_EQ(StatusGrid::Model().Rows()[0].handling, "");
        }
        Clock::AdvanceForTest(60);
    }
    EXPECT_EQ(sent, (QStringList{"0 Sensor -> chef@corvane.test", "8 Reminder -> chef@corvane.test",
                                 "13 Reminder -> chef@corvane.test"}));
}

// A device with no e-mail list: its reminders still reach the channel that
// takes them, and the alarm's record of notices names it.
TEST_F(EventsTest, RemindersReachAChannelWithoutAnEmailList) {
    Options::Values options;
    options.remindMinutes = 5;
    ASSERT_TRUE(Options::Save(options));
    WebReceiver hook;
    ASSERT_TRUE(Channels::Add({"hook", "webhook", hook.Url(), {}, {}, {}, 0, false}, {},
                              {"ann", "ann", AlarmHandling::Origin::Command}));
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1);
    Configure();
    dev.setPort(0, {80, 4, 1});
    for (int minute = 0; minute <= 5; ++minute) {
        Cycle();
        Clock::AdvanceForTest(60);
    }
    ASSERT_TRUE(ChannelOutbox::Drain(10000));
    QStringList told;
    for (const WebReceiver::Request& r : hook.Requests()) told << r.Header("X-Fernlog-Event");
    EXPECT_EQ(told, (QStringList{"alarm.opened", "alarm.reminder"}));
    QList<AlarmHandling::SentNotice> notices;
    ASSERT_TRUE(AlarmHandling::ListSentNotices(1, notices));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0].recipients, "channel hook");
    EXPECT_TRUE(smtp->Messages().empty());
}

// A device disabled while the program runs (fernlog device set NAME
// --disable): from the next cycle its sensors are in no view, not shown as
// "Normal" with their last value frozen, and the log tells what is polled.
TEST_F(EventsTest, DisabledDeviceLeavesTheGridTheWebViewsAndTheLogSaysSo) {
    AddDevice("127.0.0.2", "Kitchen", 1);
    AddDevice("127.0.0.3", "Cellar", 1);
    Configure();
    Polling::PollAll();
    ServiceLog::AfterCycle();
    ASSERT_TRUE(Web::Metrics(Web::Take(false)).contains("Cellar probe"));

    ServerDatabase::ServerRow cellar;
    ASSERT_TRUE(ServerDatabase::ReadServer(2, cellar));
    ASSERT_TRUE(ServerDatabase::UpdateServer(2, cellar.name, cellar.model, cellar.ip, cellar.notes,
                                             0, cellar.password, cellar.emailList, cellar.comm));
    Startup::TrendReset = false;
    Clock::AdvanceForTest(60);
    Polling::PollAll();
    ServiceLog::AfterCycle();
    EXPECT_EQ(StatusGrid::Model().rowCount(), 2);
    EXPECT_TRUE(Startup::TrendReset);  // the chart's lines start over for the sensors left
    const Web::Snapshot s = Web::Take(false);
    for (const QByteArray& view : {Web::StatusPage(s), Web::StatusJson(s), Web::Metrics(s)}) {
        EXPECT_FALSE(view.contains("Cellar")) << view.toStdString();
        EXPECT_TRUE(view.contains("Kitchen probe"));
    }
    EXPECT_EQ(events.count("INFO    Polling 1 device(s), 2 sensor(s) (was 2, 4)"), 1)
        << events.join('\n').toStdString();
}

// While its sensor is silenced an alarm is recorded but mailed to nobody,
// and its record says why; when the silence ends the alarm, still open and
// unacknowledged, is mailed at once, and only once, a restart or not.
TEST_F(EventsTest, SilencedAlarmIsMailedWhenTheSilenceEnds) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    qint64 id = 0;
    ASSERT_TRUE(Silences::AddSilence(1, "Kitchen", 0, Clock::Now().addSecs(600),
                                     {"ann", "ann", AlarmHandling::Origin::Command}, "defrosting",
                                     id));
    dev.setPort(0, {80, 4, 1});
    for (int minute = 0; minute < 10; minute += 5) {
        Cycle();
        Clock::AdvanceForTest(300);
    }
    EXPECT_TRUE(smtp->Messages().empty());
    EXPECT_EQ(StatusGrid::Model().Rows()[0].handling, "silenced");
    ServerDatabase::AlarmRecord record;
    ASSERT_TRUE(ServerDatabase::ReadAlarmRecord(1, record));
    EXPECT_EQ(record.emailSent,
              "No alarm email was sent: Kitchen port 0 is silenced until 3/7/2026 10:10:00 PM "
              "(by ann: defrosting)");

    Cycle();  // 22:10, the silence's end
    Alarms::Reset();
    AlarmHandling::Reset();
    Clock::AdvanceForTest(60);
    Cycle();
    const auto messages = smtp->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, QStringList{"chef@corvane.test"});
    EXPECT_TRUE(
        QString(messages[0].body)
            .simplified()
            .contains(
                "This alarm began during the silence of Kitchen port 0 (by ann: defrosting), which "
                "ended 3/7/2026 10:10:00 PM; it is still open and nobody has acknowledged it."))
        << messages[0].body.toStdString();
    ASSERT_TRUE(ServerDatabase::ReadAlarmRecord(1, record));
    EXPECT_TRUE(Clock::FromDbStamp(record.emailSent).isValid()) << record.emailSent.toStdString();
}

// A device failing through its maintenance window is not mailed then; when
// the window ends with the device still failing, the failure is mailed, and
// its coming back is told as for any mailed failure.
TEST_F(EventsTest, MaintenanceEndingWhileTheDeviceFailsMailsTheFailureThen) {
    ASSERT_TRUE(Options::Save({true}));
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1);
    Configure();
    Silences::Window window;
    window.deviceId = 1;
    window.device = "Kitchen";
    window.from = Clock::Now();
    window.to = Clock::Now().addSecs(180);
    qint64 id = 0;
    ASSERT_TRUE(Silences::AddWindow(window, {"bob", "bob", AlarmHandling::Origin::Command}, id));
    dev.setFault(devsim::Fault::Refuse);
    for (int minute = 0; minute < 3; ++minute) {
        Cycle();
        Clock::AdvanceForTest(60);
    }
    EXPECT_TRUE(smtp->Messages().empty());
    ServerDatabase::OpenRecord failure;
    ASSERT_TRUE(ServerDatabase::ReadOpenFailure(1, failure));
    EXPECT_EQ(failure.emailSent,
              "No device failure email was sent: Kitchen is in maintenance until 3/7/2026 "
              "10:03:00 PM (by bob)");
    Cycle();  // 22:03, the window's end
    Clock::AdvanceForTest(60);
    dev.clearFault();
    Cycle();
    const auto messages = smtp->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].rcptTos, QStringList{"admin@corvane.test"});
    EXPECT_TRUE(
        QString(messages[0].body)
            .simplified()
            .contains(
                "The device: Kitchen, still does not respond to requests for data. It stopped "
                "answering 3/7/2026 10:00:00 PM; the failure began during the maintenance of "
                "Kitchen "
                "(by bob), which ended 3/7/2026 10:03:00 PM."))
        << messages[0].body.toStdString();
    EXPECT_TRUE(messages[1].body.contains("is back online")) << messages[1].body.toStdString();
}
