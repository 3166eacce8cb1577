// Files on a full or read-only disk: the program directory (settings, data
// files, mail report, database) and the log directory. What was written
// before stays whole, the outage is reported, and writing resumes once there
// is room again. The disks are small tmpfs mounts; where mounting is refused
// the tests skip with the reason.
#include <QDir>
#include <QFile>
#include <QMap>

#include "common/Clock.h"
#include "core/DataLogs.h"
#include "core/Decoding.h"
#include "core/EmailNotification.h"
#include "core/Mailer.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/SmallDisk.h"
#include "support/SmtpServer.h"

namespace {

// Every file of a folder by name, hidden ones too (a temporary left behind
// shows), without the filler of a full disk.
QMap<QString, QByteArray> Files(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (name != QLatin1String(".filler"))
            files.insert(name, ReadAllOrMissing(folder + u'/' + name));
    }
    return files;
}

// The data files of a folder are whole records each.
void ExpectWholeRecords(const QString& folder) {
    for (const QString& name : QDir(folder).entryList({QStringLiteral("Sensor-*.dat")})) {
        const qint64 size = QFileInfo(folder + u'/' + name).size();
        const int length = name.contains(QLatin1String("Average")) ? DataLogs::kAverageLength
                           : name.contains(QLatin1String("Instantaneous"))
                               ? DataLogs::kInstantLength
                               : DataLogs::kDescriptionLength;
        EXPECT_EQ(size % length, 0) << name.toStdString() << " is " << size << " bytes";
    }
}

}  // namespace

using FullDiskTest = MailingTest;

TEST_F(FullDiskTest, FullProgramDirectoryKeepsWhatWasWrittenAndResumes) {
    SmallDisk disk(1 << 20);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    MoveProgramDir(disk.Path());  // the database with it
    Settings::InitCrypt();
    ClockAt(2026, 3, 31, 23, 50);
    WriteValidSettings(60);
    ConfigParameters.OrgName = QStringLiteral("Before");
    ASSERT_TRUE(Settings::SaveConfigFile());
    ASSERT_TRUE(ErrorLog::RecordError("Committed before the disk filled", "kept"));
    for (int minute = 50; minute < 53; ++minute) {
        ClockAt(2026, 3, 31, 23, minute);
        ASSERT_TRUE(DataLogs::SaveReading(Dir(), 7, "Freezer", "Lab", "F", float(minute)));
    }
    Mail::Mailer mailer;
    Mail::MailerSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = SmtpServer::ClosedPort();
    s.timeoutSeconds = 2;
    mailer.Configure(s);
    EXPECT_FALSE(mailer.VerifyConnection());
    const QString report = FilePath("EmailReport.xml");
    ASSERT_TRUE(mailer.SaveLastError(report));
    const QMap<QString, QByteArray> before = Files(Dir());
    const QStringList errorsBefore = Rows("SELECT myFunction, Cause FROM tblErrors");

    ASSERT_TRUE(disk.Fill());
    testing::internal::CaptureStderr();
    ConfigParameters.OrgName = QStringLiteral("After");
    EXPECT_FALSE(Settings::SaveConfigFile());
    QString error;
    EXPECT_FALSE(mailer.SaveLastError(report, &error));
    EXPECT_TRUE(error.contains("No space left on device")) << error.toStdString();
    // The new month's file needs a block the disk no longer has.
    ClockAt(2026, 4, 1, 0, 5);
    EXPECT_FALSE(DataLogs::SaveReading(Dir(), 7, "Freezer", "Lab", "F", 60));
    ClockAt(2026, 4, 1, 0, 6);
    EXPECT_FALSE(DataLogs::SaveReading(Dir(), 7, "Freezer", "Lab", "F", 61));
    const QString told = QString::fromStdString(testing::internal::GetCapturedStderr());

    // The error log cannot take entries either: they are told on standard
    // error, each kind once.
    EXPECT_TRUE(told.contains("Error saving configuration parameters to " + Settings::FilePath() +
                              ": Cannot write"))
        << told.toStdString();
    EXPECT_EQ(told.count("Error saving data to Sensor-7 Instantaneous Data Created 4-2026.dat"), 1)
        << told.toStdString();
    EXPECT_TRUE(told.contains("No space left on device")) << told.toStdString();

    // Nothing written before is lost or cut; no temporary is left behind.
    const QMap<QString, QByteArray> during = Files(Dir());
    EXPECT_EQ(during.keys(), before.keys());
    for (const QString& name : before.keys()) {
        if (name.contains("Average")) continue;  // its hourly record may grow in place
        EXPECT_EQ(during.value(name), before.value(name)) << name.toStdString();
    }
    EXPECT_TRUE(
        during.value("Sensor-7 Average.dat").startsWith(before.value("Sensor-7 Average.dat")));
    ExpectWholeRecords(Dir());
    EXPECT_EQ(Rows("SELECT myFunction, Cause FROM tblErrors"), errorsBefore);
    EXPECT_EQ(Rows("PRAGMA integrity_check"), QStringList{"ok"});

    disk.Free();
    EXPECT_TRUE(Settings::SaveConfigFile());
    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "After");
    EXPECT_TRUE(mailer.SaveLastError(report));
    ClockAt(2026, 4, 1, 0, 7);
    EXPECT_TRUE(DataLogs::SaveReading(Dir(), 7, "Freezer", "Lab", "F", 62));
    EXPECT_EQ(ReadAllOrMissing(FilePath("Sensor-7 Instantaneous Data Created 4-2026.dat")).size(),
              DataLogs::kInstantLength);
    EXPECT_EQ(Rows("SELECT myFunction, Cause FROM tblErrors WHERE myFunction LIKE 'Error saving%'"),
              QStringList{"Error saving data to Sensor-7 Instantaneous Data Created 4-2026.dat|1 "
                          "more failures of this kind until writing worked again at 4/1/2026 "
                          "12:07:00 AM."});
    EXPECT_TRUE(ErrorLog::RecordError("After the disk was freed", "stored"));
}

// A write that runs into the end of a nearly full disk stops part-way
// through a record; the record is taken back, so the file never holds a
// torn one, and the next reading after the space returns follows on.
TEST_F(FullDiskTest, WriteStoppedByAFullDiskLeavesNoTornRecord) {
    SmallDisk disk(256 * 1024);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    ClockAt(2026, 3, 7, 10, 0);
    ASSERT_TRUE(DataLogs::SaveInstantaneous(disk.Path(), 4, 40));
    ASSERT_TRUE(disk.Fill());
    const QString path = disk.Path() + "/" + DataLogs::InstantaneousFileName(4, Clock::Now());
    // The file's last block has room for some records, not for a whole
    // number of them (4096 is no multiple of 29).
    int written = 1;
    while (written < 1000 && DataLogs::SaveInstantaneous(disk.Path(), 4, 41)) ++written;
    ASSERT_LT(written, 1000);
    EXPECT_EQ(ReadAllOrMissing(path).size(), written * DataLogs::kInstantLength);

    disk.Free();
    ASSERT_TRUE(DataLogs::SaveInstantaneous(disk.Path(), 4, 42));
    const QByteArray all = ReadAllOrMissing(path);
    ASSERT_EQ(all.size(), (written + 1) * DataLogs::kInstantLength);
    EXPECT_EQ(all.right(4), QByteArray("\x00\x00\x28\x42", 4));  // 42.0 little-endian
}

// The log directory (a drive of its own) fills up or turns read-only while
// readings go on: the program directory keeps every reading, the log
// directory keeps what it had, the outage is booked and mailed once, and the
// copies resume when the drive takes writes again.
class LogDirectoryOutageTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        server = std::make_unique<SmtpServer>();
        ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
        server->UseInSettings(5);
        EmailNotification::SetupMailer();
        Decoding::TempUnit = "F";
        DialogScript dialogs;
        ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", kKeeperModel, "127.0.0.2", "", 1, "",
                                              "chef@corvane.test,", -1));
        device = Rows("SELECT max(IDNum) FROM tblServers").value(0).toLongLong();
        ServerDatabase::AddSensor(device, "Freezer", 0, "", "Temperature");
        ServerDatabase::AddSensor(device, "Fridge", 1, "", "Temperature");
        freezer = Rows("SELECT IDNum FROM tblSensors WHERE PortNum = 0").value(0).toLongLong();
        StatusGrid::Model().ConfigureServerStatusGrid(2);
        for (int port = 0; port < 2; ++port) {
            Decoding::Readings[3 * port] = 38.0f + port;
            Decoding::Readings[3 * port + 1] = 0;
            Decoding::Readings[3 * port + 2] = 0;
        }
    }
    void TearDown() override {
        server.reset();
        MailingTest::TearDown();
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
    QStringList Bookings() {
        return Rows("SELECT Error, EmailSent IS NOT NULL, BackOnLine FROM tblLogFileBackup");
    }

    QString InstantFile(const QString& folder, const char* month) const {
        return folder + QStringLiteral("/Sensor-%1 Instantaneous Data Created %2.dat")
                            .arg(freezer)
                            .arg(QLatin1String(month));
    }

    std::unique_ptr<SmtpServer> server;
    qint64 device = 0;
    qint64 freezer = 0;
};

TEST_F(LogDirectoryOutageTest, FullLogDirectoryKeepsItsFilesAndResumes) {
    SmallDisk disk(256 * 1024);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    ServerData::LogDirInUse = disk.Path();
    ClockAt(2026, 3, 31, 23, 58);
    Cycle();
    Cycle();
    const QMap<QString, QByteArray> before = Files(disk.Path());
    ASSERT_EQ(before.size(), 6);

    ASSERT_TRUE(disk.Fill());
    Cycle();  // 00:00: April's files need blocks the drive no longer has
    Cycle();
    const QMap<QString, QByteArray> during = Files(disk.Path());
    EXPECT_EQ(during.keys(), before.keys());
    for (const QString& name : before.keys()) {
        if (!name.contains("Average")) {
            EXPECT_EQ(during.value(name), before.value(name)) << name.toStdString();
        }
    }
    ExpectWholeRecords(disk.Path());
    EXPECT_EQ(ReadAllOrMissing(InstantFile(Dir(), "4-2026")).size(), 2 * DataLogs::kInstantLength);
    EXPECT_EQ(Bookings(), QStringList{"Failed to write log files to backup directory " +
                                      disk.Path() + "|1|False"});
    EXPECT_EQ(server->Messages().size(), 1u);
    // The first failure of the month files' writer in that directory; the
    // other three are counted.
    const QStringList errors = Rows("SELECT myFunction, Cause FROM tblErrors");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Error saving data to Sensor-%1 Instantaneous "
                                                    "Data Created 4-2026.dat|Cannot write ")
                                         .arg(freezer)) &&
                errors[0].endsWith("No space left on device"))
        << errors[0].toStdString();

    disk.Free();
    Cycle();
    EXPECT_EQ(ReadAllOrMissing(InstantFile(disk.Path(), "4-2026")).size(),
              DataLogs::kInstantLength);
    EXPECT_EQ(Bookings(), QStringList{"Failed to write log files to backup directory " +
                                      disk.Path() + "|1|2026-04-01 00:02:00"});
    EXPECT_EQ(Rows("SELECT Cause FROM tblErrors WHERE ErrorID > 1"),
              QStringList{"3 more failures of this kind until writing worked again at 4/1/2026 "
                          "12:02:00 AM."});
    EXPECT_EQ(server->Messages().size(), 1u);
}

TEST_F(LogDirectoryOutageTest, ReadOnlyLogDirectoryKeepsItsFilesAndResumes) {
    SmallDisk disk(256 * 1024);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    ServerData::LogDirInUse = disk.Path();
    ClockAt(2026, 3, 7, 16, 5);
    Cycle();
    const QMap<QString, QByteArray> before = Files(disk.Path());
    ASSERT_EQ(before.size(), 6);

    ASSERT_TRUE(disk.SetReadOnly(true));
    Cycle();
    Cycle();
    EXPECT_EQ(Files(disk.Path()), before);
    EXPECT_EQ(ReadAllOrMissing(InstantFile(Dir(), "3-2026")).size(), 3 * DataLogs::kInstantLength);
    EXPECT_EQ(Bookings(), QStringList{"Failed to write log files to backup directory " +
                                      disk.Path() + "|1|False"});
    EXPECT_EQ(server->Messages().size(), 1u);
    const QStringList causes = Rows("SELECT Cause FROM tblErrors ORDER BY ErrorID");
    ASSERT_EQ(causes.size(), 3);  // the first failure of each of the three writers
    for (const QString& cause : causes) {
        EXPECT_TRUE(cause.endsWith("Read-only file system")) << cause.toStdString();
    }

    ASSERT_TRUE(disk.SetReadOnly(false));
    Cycle();
    EXPECT_EQ(ReadAllOrMissing(InstantFile(disk.Path(), "3-2026")).size(),
              2 * DataLogs::kInstantLength);
    EXPECT_EQ(Bookings(), QStringList{"Failed to write log files to backup directory " +
                                      disk.Path() + "|1|2026-03-07 16:08:00"});
}
