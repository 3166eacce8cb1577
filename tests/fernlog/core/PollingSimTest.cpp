// Polling cycles against simulated devices on their own port 10001.
#include <QRegularExpression>
#include <QTimer>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Polling.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ServerDatabase.h"
#include "devsim/Device.h"
#include "protocol/Commands.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/SmtpServer.h"

namespace {
const QString kModel = QStringLiteral("Model QX700-5: Refrigerator/Freezer Keeper");

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
                              bool sensors = true, const QString& emailList = QString()) {
        devsim::DeviceConfig config;
        config.address = QHostAddress(address);
        config.model = devsim::Model::QX700_5;
        config.build = 23;
        devices.push_back(std::make_unique<devsim::Device>(config));
        QString error;
        EXPECT_TRUE(devices.back()->start(&error)) << error.toStdString();
        DialogScript dialogs;
        EXPECT_TRUE(
            ServerDatabase::AddServer(name, kModel, address, "", enabled, "", emailList, -1));
        const qint64 id = Rows("SELECT max(IDNum) FROM tblServers").value(0).toLongLong();
        if (sensors) {
            ServerDatabase::AddSensor(id, name + " probe", 0, "", "Temperature");
            ServerDatabase::AddSensor(id, name + " door", 5, "", "Door Sensor");
        }
        return *devices.back();
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
    std::vector<std::unique_ptr<devsim::Device>> devices;
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
    Polling::PollAll();

    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
    EXPECT_EQ(Line("Spare", "127.0.0.3"), "<none>");
    EXPECT_EQ(off.connectionCount(), 0);
    EXPECT_EQ(Line("Cellar", "127.0.0.4"), ": Is busy");
    EXPECT_TRUE(Rows("SELECT * FROM tblServerFailures").isEmpty());
    EXPECT_EQ(busy.requestCount(Protocol::CmdReadings()), 1);  // not retried

    // Busy on every request, identification included: still not a failure.
    busy.setFault(devsim::Fault::Busy);
    Polling::PollAll();
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
        Polling::PollAll();
        Clock::AdvanceForTest(60);
    }
    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": FAILED");
    EXPECT_EQ(StatusGrid::Model().Rows()[0].status, "NO DATA");
    EXPECT_EQ(Rows("SELECT count(*), min(BackOnLine) FROM tblServerFailures"),
              QStringList{"1|False"});
    EXPECT_EQ(smtp->Messages().size(), 1u);

    dev.clearFault();
    Polling::PollAll();
    EXPECT_EQ(Line("Kitchen", "127.0.0.2"), ": OK");
    EXPECT_EQ(Rows("SELECT BackOnLine FROM tblServerFailures"), QStringList{"2026-03-07 22:03:00"});
}

TEST_F(PollingTest, UpAndRunningMailFirstGoesOutAfterMidnight) {
    AddDevice("127.0.0.2", "Kitchen", 1);
    ConfigParameters.SystemOKEmail = 1;
    ASSERT_TRUE(Settings::SaveConfigFile());
    Configure();
    Polling::PollAll();  // stores the date only
    EXPECT_EQ(ConfigParameters.LastSystemOKEmail.Text(), "3/7/2026 10:00:00 PM");
    Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(23, 59, 0)));
    Polling::PollAll();
    EXPECT_TRUE(smtp->Messages().empty());
    Clock::SetForTest(QDateTime(QDate(2026, 3, 8), QTime(0, 1, 0)));
    Polling::PollAll();
    ASSERT_EQ(smtp->Messages().size(), 1u);
    EXPECT_EQ(smtp->Messages()[0].Header("Subject"), "Corvane Vantor-E is up and running!");
    Settings::ReadConfigFile();
    EXPECT_EQ(ConfigParameters.LastSystemOKEmail.Text(), "3/8/2026 12:01:00 AM");
    Polling::PollAll();
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
    EXPECT_EQ(Polling::PollTimer().interval(), 5000);
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
        Polling::PollAll();
        Clock::AdvanceForTest(60);
        dev.setPort(0, {35, 0, 0});
        Polling::PollAll();
        Clock::AdvanceForTest(60);
        dev.setFault(devsim::Fault::Refuse);
        Polling::PollAll();
        Clock::AdvanceForTest(60);
        Polling::PollAll();
        Clock::AdvanceForTest(60);
        dev.clearFault();
        Polling::PollAll();
    }
    QStringList Subjects() const {
        QStringList subjects;
        for (const auto& m : smtp->Messages()) subjects << m.Header("Subject");
        return subjects;
    }
    QStringList events;
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
    Polling::PollAll();
    dev.clearFault();
    Polling::PollAll();
    EXPECT_TRUE(smtp->Messages().empty());
    EXPECT_TRUE(events.last().startsWith("INFO    Device Kitchen at 127.0.0.2 answers again"));
}

TEST_F(EventsTest, FailedEmailIsLoggedWithItsReason) {
    devsim::Device& dev = AddDevice("127.0.0.2", "Kitchen", 1, true, "chef@corvane.test,");
    Configure();
    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    EmailNotification::SetupMailer();
    dev.setPort(0, {80, 4, 1});
    Polling::PollAll();
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
    EXPECT_EQ(events.filter("ERROR").size(), 1) << events.join('\n').toStdString();
    EXPECT_TRUE(events.filter("ERROR").value(0).startsWith(
        "ERROR   E-mail to admin@corvane.test failed (Message from Corvane Vantor-E): "));
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors"), QStringList{"SendTextEmail"});
}

// --verbose: the devices' results and errors in plain words, a summary when
// it changes, no connection lines; --trace adds those.
TEST_F(EventsTest, VerboseAndTraceLines) {
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
    EXPECT_EQ(events.count("DEBUG   Communication error: no answer from 127.0.0.3 within 2 s"), 2);
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
