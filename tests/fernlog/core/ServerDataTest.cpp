// One device's readings through grid rows, data files, alarm records and
// alarm e-mails, with a real SMTP server on loopback.
#include <QDir>
#include <QFile>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/DataLogs.h"
#include "core/Decoding.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/SmtpServer.h"

namespace {

class ServerDataTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        server = std::make_unique<SmtpServer>();
        ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
        server->UseInSettings(5);
        EmailNotification::SetupMailer();
        Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0)));
        Decoding::TempUnit = "F";

        DialogScript dialogs;
        ASSERT_TRUE(ServerDatabase::AddServer("Kitchen, \"North\"", kKeeperModel, "127.0.0.2", "",
                                              1, "", "chef@corvane.test,ops@corvane.test,", -1));
        device = Rows("SELECT max(IDNum) FROM tblServers").value(0).toLongLong();
        ServerDatabase::AddSensor(device, "Freezer", 0, "Check the seal", "Temperature");
        ServerDatabase::AddSensor(device, "Back Door", 1, "", "Door Sensor");
        ServerDatabase::AddSensor(device, "", 2, "", "Temperature");
        freezer = Rows("SELECT IDNum FROM tblSensors WHERE PortNum = 0").value(0).toLongLong();
        StatusGrid::Model().ConfigureServerStatusGrid(2);
        SetPort(0, 72, 0, 0);
        SetPort(1, 1, 0, 0);
    }
    void TearDown() override {
        server.reset();
        MailingTest::TearDown();
    }

    static void SetPort(int port, float value, int minutes, int status) {
        Decoding::Readings[3 * port] = value;
        Decoding::Readings[3 * port + 1] = static_cast<float>(minutes);
        Decoding::Readings[3 * port + 2] = static_cast<float>(status);
    }
    void Cycle() {
        StatusGrid::Model().MoveToFirstRow();
        ServerDatabase::ServerRow row;
        ASSERT_TRUE(ServerDatabase::ReadServer(device, row));
        ASSERT_TRUE(ServerData::ProcessServerData(row));
        // Its e-mails are delivered within the minute.
        ASSERT_TRUE(DeliverOutbox());
        Clock::AdvanceForTest(60);
    }
    const GridRow& Row(int i) const {
        return StatusGrid::Model().Rows().at(static_cast<size_t>(i));
    }
    QStringList Alarms() {
        return Rows(
            "SELECT SensorIDNum, AlarmEnd IS NULL, AlarmActive, Server, Sensor, "
            "CurrentData, TOL FROM tblAlarms ORDER BY IDNum");
    }

    std::unique_ptr<SmtpServer> server;
    qint64 device = 0;
    qint64 freezer = 0;
};
}  // namespace

TEST_F(ServerDataTest, AlarmLifecycleOneRecordOneMailClosedByNormalReading) {
    SetPort(0, 80, 3, 1);
    Cycle();
    SetPort(0, 81, 60, 1);  // still in alarm, an hour later
    Cycle();
    EXPECT_EQ(Alarms(),
              QStringList{QString("%1|1|-1|Kitchen, \"North\"|Freezer|80|3").arg(freezer)});
    EXPECT_EQ(Row(0).status, "ALARM");
    EXPECT_EQ(Row(0).colour, Colour::Red);
    EXPECT_EQ(Row(0).reading, "81");
    EXPECT_EQ(Row(0).units, QString(QChar(0xB0)) + "F");

    const auto messages = server->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, (QStringList{"chef@corvane.test", "ops@corvane.test"}));
    EXPECT_EQ(messages[0].Header("Subject"), "Sensor: Freezer has generated an alarm!");
    EXPECT_TRUE(messages[0].body.contains(
        "Freezer connected to server Kitchen, \"North\" has generated an alarm!"));
    EXPECT_TRUE(messages[0].body.contains(
        QString("Freezer is out of limits and is currently reading: 80 \u00B0F and has been out of "
                "limits for: 3 minutes.")));
    EXPECT_TRUE(messages[0].body.contains("Notes for Freezer:\nCheck the seal"));
    EXPECT_EQ(
        Rows("SELECT EmailSent, CauseOfAlarm LIKE 'Freezer is out of limits%' FROM tblAlarms"),
        QStringList{"2026-03-07 16:05:00|1"});

    SetPort(0, 72, 0, 0);
    Cycle();
    EXPECT_EQ(Rows("SELECT AlarmEnd, AlarmActive FROM tblAlarms"),
              QStringList{"2026-03-07 16:07:00|0"});
    EXPECT_EQ(Row(0).status, "Normal");
    EXPECT_EQ(Row(0).colour, Colour::Green);
    EXPECT_EQ(server->Messages().size(), 1u);
}

TEST_F(ServerDataTest, SpecialValuesAndNoData) {
    SetPort(0, 9999, 0, 0);  // not connected, but not an alarm by itself
    Cycle();
    EXPECT_TRUE(Alarms().isEmpty());
    EXPECT_EQ(Row(0).reading, "Not Connected");
    EXPECT_EQ(Row(0).status, "Normal");

    SetPort(0, 999, 0, 0);
    Cycle();
    ASSERT_EQ(Alarms().size(), 1);
    EXPECT_EQ(Rows("SELECT CurrentData FROM tblAlarms"), QStringList{"Sensor Open"});

    // No data leaves the open alarm open and is not logged.
    const QString month =
        FilePath(QString("Sensor-%1 Instantaneous Data Created 3-2026.dat").arg(freezer));
    const qint64 before = QFileInfo(month).size();
    Decoding::SetNoData();
    Cycle();
    EXPECT_EQ(QFileInfo(month).size(), before);
    EXPECT_EQ(Row(0).reading, "No Data");
    EXPECT_EQ(Row(0).status, "ALARM");
    EXPECT_EQ(Rows("SELECT AlarmEnd IS NULL FROM tblAlarms"), QStringList{"1"});

    // Door reading 2 keeps the row's text; the no-data row is white.
    SetPort(0, 72, 0, 0);
    SetPort(1, 0, 0, 0);
    Cycle();
    EXPECT_EQ(Row(1).reading, "Open");
    SetPort(1, 2, 0, 0);
    Cycle();
    EXPECT_EQ(Row(1).reading, "Open");
    Decoding::SetNoData();
    Cycle();
    EXPECT_EQ(Row(0).status, "NO DATA");
    EXPECT_EQ(Row(0).colour, Colour::White);
}

TEST_F(ServerDataTest, DeviceWithoutAddressesExplainsInEmailSent) {
    DialogScript dialogs;
    ServerDatabase::UpdateServerEmail(device, "");
    SetPort(1, 0, 5, 1);
    Cycle();
    EXPECT_EQ(Rows("SELECT EmailSent FROM tblAlarms"),
              QStringList{"An attempt to send an alarm email was made at: 3/7/2026 4:05:00 PM\r"
                          "The email could not be sent as no email addresses have been programmed "
                          "for this device."});
    EXPECT_EQ(Rows("SELECT CauseOfAlarm FROM tblAlarms"),
              QStringList{"The door has been open for: 5 minutes.\r"});
    EXPECT_TRUE(server->Messages().empty());
}

// With recovery notices on, the alarm's end is not mailed to addresses that
// never got the alarm; the record says why.
TEST_F(ServerDataTest, FailedAlarmMailIsExplainedAndPointsToTheAlarmTab) {
    ASSERT_TRUE(Options::Save({true}));
    server.reset();  // nobody listens any more
    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    ConfigParameters.ServerTimeOut = 2;
    EmailNotification::SetupMailer();
    SetPort(0, 80, 0, 1);
    Cycle();
    const QString sent = Rows("SELECT EmailSent FROM tblAlarms").value(0);
    EXPECT_TRUE(
        sent.startsWith("There was an error sending an alarm email 3/7/2026 4:05:00 PM\r"
                        "The email error is:\r"))
        << sent.toStdString();
    EXPECT_TRUE(StatusList::Lines().contains("Error sending Alarm EmailSee Alarm Tab for details"));
    SetPort(0, 70, 0, 0);
    Cycle();
    EXPECT_EQ(Outbox::Counts().sent + Outbox::Counts().failed, 1);
    EXPECT_TRUE(Rows("SELECT EmailSent FROM tblAlarms")
                    .value(0)
                    .endsWith("\rNo back to normal email was sent, as the alarm email was not."));
}

TEST_F(ServerDataTest, FilesGoToProgramDirAndLogDirWithOneOutageMailPerOutage) {
    const QString logDir = Dir() + "/backup";
    ServerData::LogDirInUse = "  " + logDir + "  ";
    Cycle();
    Cycle();
    EXPECT_TRUE(QFile::exists(FilePath(QString("Sensor-%1.dat").arg(freezer))));
    EXPECT_EQ(Rows("SELECT FirstError, BackOnLine, EmailSent, Error FROM tblLogFileBackup"),
              QStringList{"2026-03-07 16:05:00|False|2026-03-07 16:05:00|Failed to write log files "
                          "to backup directory " +
                          logDir});
    const auto messages = server->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, QStringList{"admin@corvane.test"});
    EXPECT_TRUE(
        messages[0].body.contains("There was an error writing data log files to the "
                                  "programmed directory " +
                                  logDir +
                                  ".  A backup copy is "
                                  "being kept in " +
                                  Dir() + "."));

    ASSERT_TRUE(QDir().mkpath(logDir));
    Cycle();
    EXPECT_TRUE(QFile::exists(logDir + QString("/Sensor-%1 Average.dat").arg(freezer)));
    EXPECT_EQ(Rows("SELECT BackOnLine, LatestAttempt FROM tblLogFileBackup"),
              QStringList{"2026-03-07 16:07:00|2026-03-07 16:07:00"});
}

TEST_F(ServerDataTest, NoLogDirectoryTouchesNoBackupRecords) {
    Cycle();
    EXPECT_TRUE(Rows("SELECT * FROM tblLogFileBackup").isEmpty());
    EXPECT_EQ(QDir(Dir()).entryList({"*.dat"}).size(), 6);  // two sensors, three files each
}

// The log directory named as the program directory under other spellings:
// the readings are written once, not counted twice.
TEST_F(ServerDataTest, LogDirectoryThatIsTheProgramDirectoryGetsNoSecondCopy) {
    ASSERT_TRUE(QFile::link(Dir(), Dir() + "/alias"));
    for (const QString& spelling : {Dir() + "/", Dir() + "/sub/..", Dir() + "/alias"}) {
        QDir().mkpath(Dir() + "/sub");
        ServerData::LogDirInUse = spelling;
        Cycle();
    }
    QFile average(FilePath(QString("Sensor-%1 Average.dat").arg(freezer)));
    ASSERT_TRUE(average.open(QIODevice::ReadOnly));
    const auto record = DataLogs::DecodeAverage(average.read(DataLogs::kAverageLength));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->count, 3);  // three cycles, three readings
    EXPECT_TRUE(Rows("SELECT * FROM tblLogFileBackup").isEmpty());
}

// A device that stops answering keeps its own unit in the grid, whatever
// unit the device decoded last used.
TEST_F(ServerDataTest, SilentDeviceKeepsItsOwnUnit) {
    Cycle();
    const QString fahrenheit = QString(QChar(0xB0)) + "F";
    EXPECT_EQ(Row(0).units, fahrenheit);
    Decoding::TempUnit = "C";  // another device, decoded since
    Decoding::SetNoData();
    Cycle();
    EXPECT_EQ(Row(0).reading, "No Data");
    EXPECT_EQ(Row(0).units, fahrenheit);
}

// An acknowledged alarm whose probe then fails is no longer acknowledged;
// the trail says fernlog dropped it, and why.
TEST_F(ServerDataTest, AcknowledgementIsDroppedWhenTheAlarmTurnsIntoAProbeFault) {
    SetPort(0, 80, 3, 1);
    Cycle();
    const qint64 alarm = Rows("SELECT IDNum FROM tblAlarms").value(0).toLongLong();
    ASSERT_TRUE(AlarmHandling::Acknowledge({alarm, "Kitchen", true},
                                           {"ann", "ann", AlarmHandling::Origin::Command}, "seen",
                                           QDateTime()));
    SetPort(0, 82, 4, 1);
    Cycle();
    EXPECT_EQ(Row(0).status + "|" + Row(0).handling, "ALARM|acknowledged");
    std::optional<AlarmHandling::Acknowledgement> ack;
    ASSERT_TRUE(AlarmHandling::CurrentAcknowledgement(alarm, Clock::Now(), ack));
    EXPECT_TRUE(ack.has_value());
    SetPort(0, 999, 5, 1);
    Cycle();
    ASSERT_TRUE(AlarmHandling::CurrentAcknowledgement(alarm, Clock::Now(), ack));
    EXPECT_FALSE(ack.has_value());
    EXPECT_EQ(Row(0).status + "|" + Row(0).handling, "ALARM|");
    QList<AlarmHandling::AuditRow> trail;
    ASSERT_TRUE(AlarmHandling::ListAudit(trail, QDateTime(), alarm));
    ASSERT_EQ(trail.size(), 2);
    EXPECT_EQ(trail[1].by + "|" + trail[1].origin + "|" + trail[1].action + "|" + trail[1].newValue,
              "fernlog|program|unacknowledge|the reading turned into a probe fault: Sensor Open");
}
