// fernlog --headless as a program: simulated devices, a real SMTP server and
// a temporary program directory; a few polling cycles, then SIGTERM.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

#include "core/Settings.h"
#include "db/ServerDatabase.h"
#include "protocol/Commands.h"
#include "support/FernlogFixtures.h"
#include "support/FixedPorts.h"
#include "support/HeadlessProgram.h"
#include "support/SimDevices.h"
#include "support/SmtpServer.h"

using HeadlessTest = FernlogTest;

TEST_F(HeadlessTest, PollsLogsAlarmsMailsAndStopsOnSigterm) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    SmtpServer smtp;
    ASSERT_TRUE(smtp.IsRunning()) << smtp.Error().toStdString();
    smtp.UseInSettings(5);
    ConfigParameters.UpdateRate = 5;
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;
    ConfigParameters.OrgName = "Cold Chain Ltd";
    ConfigParameters.FromAddress = "monitor@corvane.test";
    ConfigParameters.ServerFailureEmailAddress = "admin@corvane.test";
    ASSERT_TRUE(Settings::SaveConfigFile());

    SimDevices devices;
    devsim::Device& kitchen = devices.Start("127.0.0.2");
    devices.Start("127.0.0.3").setFault(devsim::Fault::Refuse);
    kitchen.setPort(0, {80, 4, 1});  // in alarm
    kitchen.setPortValue(1, 35);
    {
        DialogScript dialogs;
        devices.Register("Kitchen", "127.0.0.2", "chef@corvane.test,");
        devices.Register("Cellar", "127.0.0.3");
        devices.AddSensor(1, "Freezer", 0);
        devices.AddSensor(1, "Fridge", 1);
        devices.AddSensor(2, "Wine", 0);
    }

    HeadlessProgram fernlog(Dir());
    ASSERT_TRUE(fernlog.Started());
    // The device-failure e-mail goes out in the second failed cycle.
    const bool twoCycles = QTest::qWaitFor(
        [&] {
            return Rows("SELECT EmailSent <> 'False' FROM tblServerFailures") == QStringList{"1"};
        },
        45000);
    ASSERT_TRUE(fernlog.Stop());
    const QString output = fernlog.Output();
    ASSERT_TRUE(twoCycles) << output.toStdString();
    EXPECT_EQ(fernlog.ExitCode(), 0);
    // The service log: events, each once, with time and level; the routine
    // status lines only with --verbose.
    const QRegularExpression stamp(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d) ");
    QStringList events;
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        events << line.mid(stamp.match(line).capturedLength());
    }
    EXPECT_TRUE(events.first().startsWith("INFO    Fernlog 1.0.0 started without a window"));
    EXPECT_EQ(events.count("INFO    Polling 3 sensor(s) every 5 seconds"), 1);
    EXPECT_EQ(
        events.filter("WARNING Alarm started: device Kitchen, sensor Freezer, reading 80").size(),
        1);
    EXPECT_EQ(
        events.count("WARNING Device Cellar at 127.0.0.3 did not answer 1 request(s) for data"), 1);
    EXPECT_EQ(
        events.count("INFO    E-mail sent to admin@corvane.test: Message from Corvane Vantor-E"),
        1);
    // Told once the first cycle has shown who answers, and not again while
    // that stays so.
    EXPECT_EQ(events.count("INFO    1 of 2 devices answered; 2 sensors read"), 1)
        << output.toStdString();
    EXPECT_EQ(events.count("INFO    Stopping (SIGTERM)"), 1);
    EXPECT_EQ(events.filter("Corvane Vantor-E has been shutdown!").size(), 1);
    EXPECT_EQ(events.last(), "INFO    Stopped");
    EXPECT_FALSE(output.contains("Communication with server")) << output.toStdString();

    EXPECT_EQ(Rows("SELECT Sensor, CurrentData, TOL, AlarmEnd IS NULL FROM tblAlarms"),
              QStringList{"Freezer|80|4|1"});
    EXPECT_EQ(Rows("SELECT count(*) FROM tblServerFailures"), QStringList{"1"});
    const QStringList files = QDir(Dir()).entryList({"Sensor-*.dat"});
    EXPECT_TRUE(files.contains("Sensor-1 Average.dat"));
    EXPECT_TRUE(files.contains("Sensor-2.dat"));
    EXPECT_FALSE(files.contains("Sensor-3 Average.dat"));  // no data is never logged

    QStringList subjects;
    for (const auto& m : smtp.Messages()) subjects << m.Header("Subject");
    EXPECT_EQ(subjects.count("Sensor: Freezer has generated an alarm!"), 1);
    EXPECT_EQ(subjects.count("Message from Corvane Vantor-E"), 1);  // the device failure
    EXPECT_EQ(subjects.count("Corvane Vantor-E has been shutdown!"), 1);
}

// A service started before its database was provisioned (or while it was
// unreadable) starts polling once the database is there, without a restart.
TEST_F(HeadlessTest, StartsPollingWhenTheDatabaseArrivesLater) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ConfigParameters.UpdateRate = 5;
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;
    ASSERT_TRUE(Settings::SaveConfigFile());
    SimDevices devices;
    devices.Start("127.0.0.2");

    HeadlessProgram fernlog(Dir());
    ASSERT_TRUE(fernlog.Started());
    ASSERT_TRUE(fernlog.Told("zolo-provision")) << fernlog.Output().toStdString();
    ProvisionDatabase();
    {
        DialogScript dialogs;
        devices.AddSensor(devices.Register("Kitchen", "127.0.0.2"), "Freezer", 0);
    }
    EXPECT_TRUE(fernlog.Told("The database now lists sensors: starting to poll"))
        << fernlog.Output().toStdString();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return QFile::exists(FilePath("Sensor-1 Average.dat")); }, 20000))
        << fernlog.Output().toStdString();
    ASSERT_TRUE(fernlog.Stop());
    EXPECT_EQ(fernlog.ExitCode(), 0);
}

// An alarm e-mail handed over while the mail server never greets, then the
// program killed outright: after the restart, with the server answering,
// the message goes out once and the alarm record gets its send time.
TEST_F(HeadlessTest, MessageHandedOverBeforeSigkillIsSentOnceAfterTheRestart) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    SmtpServer::Options quiet;
    quiet.silent = true;
    SmtpServer silent(quiet);
    SmtpServer smtp;
    ASSERT_TRUE(silent.IsRunning() && smtp.IsRunning());
    silent.UseInSettings(30);
    ConfigParameters.UpdateRate = 5;
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;
    ConfigParameters.FromAddress = "monitor@corvane.test";
    ASSERT_TRUE(Settings::SaveConfigFile());
    SimDevices devices;
    devices.Start("127.0.0.2").setPort(0, {80, 4, 1});
    {
        DialogScript dialogs;
        devices.AddSensor(devices.Register("Kitchen", "127.0.0.2", "chef@corvane.test"), "Freezer",
                          0);
    }
    HeadlessProgram first(Dir());
    ASSERT_TRUE(first.Started());
    const bool handedOver = QTest::qWaitFor(
        [&] { return ReadAllOrMissing(FilePath("FernlogOutbox.dat")).contains("Freezer"); }, 30000);
    first.Signal(SIGKILL);
    ASSERT_TRUE(first.Ended(10000));
    ASSERT_TRUE(handedOver) << first.Output().toStdString();
    EXPECT_TRUE(smtp.Messages().empty());

    smtp.UseInSettings(5);
    ASSERT_TRUE(Settings::SaveConfigFile());
    HeadlessProgram second(Dir());
    ASSERT_TRUE(second.Started());
    const bool booked = QTest::qWaitFor(
        [&] { return Rows("SELECT EmailSent LIKE '20%' FROM tblAlarms") == QStringList{"1"}; },
        30000);
    // Two more cycles: the alarm goes on and nothing is mailed again.
    const int readings = devices[0]->requestCount(Protocol::CmdReadings());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return devices[0]->requestCount(Protocol::CmdReadings()) >= readings + 2; }, 20000));
    ASSERT_TRUE(second.Stop());
    ASSERT_TRUE(booked) << second.Output().toStdString();
    QStringList subjects;
    for (const auto& m : smtp.Messages()) subjects << m.Header("Subject");
    EXPECT_EQ(subjects.count("Sensor: Freezer has generated an alarm!"), 1);
    EXPECT_EQ(Rows("SELECT count(*) FROM tblAlarms"), QStringList{"1"});
    EXPECT_FALSE(ReadAll(FilePath("FernlogOutbox.dat")).contains("Freezer"));
}

// An acknowledgement given from a shell while the service runs is in the
// service's log within seconds, not a cycle later.
TEST_F(HeadlessTest, ActionFromAShellIsInTheServiceLogAtOnce) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    ProvisionDatabase();
    ConfigParameters.UpdateRate = 60;
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;
    ASSERT_TRUE(Settings::SaveConfigFile());
    SimDevices devices;
    devices.Start("127.0.0.2").setPort(0, {80, 4, 1});
    {
        DialogScript dialogs;
        devices.AddSensor(devices.Register("Kitchen", "127.0.0.2"), "Freezer", 0);
    }
    HeadlessProgram fernlog(Dir());
    ASSERT_TRUE(fernlog.Told("Alarm started")) << fernlog.Output().toStdString();
    const ProgramRun ack =
        RunProgram(QStringLiteral(FERNLOG_PATH),
                   {"alarm", "ack", "1", "--by", "Ann Lee", "--comment", "on it", "--dir", Dir()});
    ASSERT_EQ(ack.status, 0) << ack.err.toStdString();
    EXPECT_TRUE(fernlog.Told("Action: acknowledge by Ann Lee", 8000))
        << fernlog.Output().toStdString();
    ASSERT_TRUE(fernlog.Stop());
}
