// "fernlog export", run as a user runs it: what it prints, what it writes and
// its exit status.
#include <QDir>
#include <QFile>
#include <QProcess>

#include "common/Clock.h"
#include "core/DataLogs.h"
#include "db/Database.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"

namespace {
struct Outcome {
    int status = -1;
    QByteArray out;
    QString err;
};

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

const QByteArray kCsv =
    "time,device,sensor,value,unit,status\r\n"
    "2026-03-31T23:59:00,Kitchen,Freezer,-4.5,\xC2\xB0"
    "F,OK\r\n"
    "2026-04-01T00:04:00,Kitchen,Freezer,999,\xC2\xB0"
    "F,Sensor Open\r\n"
    "2026-04-01T06:00:00,\"Lab, North\",Door,1,,OK\r\n";
}  // namespace

class ExportCommandTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        const QString degreeF = QString(QChar(0xB0)) + "F";
        using DataLogs::SaveReading;
        SaveReading(Dir(), 3, "Freezer", "Kitchen", degreeF, -4.5f,
                    QDateTime(QDate(2026, 3, 31), QTime(23, 59)));
        SaveReading(Dir(), 3, "Freezer", "Kitchen", degreeF, 999,
                    QDateTime(QDate(2026, 4, 1), QTime(0, 4)));
        SaveReading(Dir(), 8, "Door", "Lab, North", "", 1,
                    QDateTime(QDate(2026, 4, 1), QTime(6, 0)));
        out = outDir.filePath("history.csv");
    }

    Outcome Run(QStringList arguments, bool withDir = true) {
        if (withDir) arguments << "--dir" << Dir();
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("FERNLOG_DIR"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(FERNLOG_PATH), QStringList{"export"} + arguments);
        if (!process.waitForFinished(15000)) {
            process.kill();
            process.waitForFinished(2000);
            ADD_FAILURE() << "fernlog export did not end";
            return {};
        }
        return {process.exitCode(), process.readAllStandardOutput(),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // A refused export: its status, one line naming the cause, and the
    // existing --out file as it was.
    void ExpectRefused(const QStringList& arguments, int status, const QString& cause) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        WriteAll(out, "old");
        const Outcome run = Run(arguments + QStringList{"--out", out});
        EXPECT_EQ(run.status, status);
        EXPECT_TRUE(run.err.startsWith("fernlog export: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(cause)) << run.err.toStdString();
        EXPECT_EQ(ReadAll(out), "old");
        EXPECT_EQ(QDir(outDir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{"history.csv"});
        // Without --out nothing reaches standard output either.
        EXPECT_TRUE(Run(arguments).out.isEmpty());
    }

    QTemporaryDir outDir;
    QString out;
};

TEST_F(ExportCommandTest, WritesTheCsvToStandardOutputOrTheFile) {
    const Outcome printed = Run({});
    EXPECT_EQ(printed.status, 0) << printed.err.toStdString();
    EXPECT_EQ(printed.out, kCsv);
    EXPECT_TRUE(printed.err.isEmpty()) << printed.err.toStdString();

    const Outcome written = Run({"--out", out});
    EXPECT_EQ(written.status, 0) << written.err.toStdString();
    EXPECT_TRUE(written.out.isEmpty());
    EXPECT_EQ(ReadAll(out), kCsv);
    EXPECT_TRUE(written.err.contains("3 readings of 2 sensors")) << written.err.toStdString();

    const Outcome filtered =
        Run({"--device", "Kitchen", "--from", "2026-04-01", "--to", "2026-04-01 00:04"});
    EXPECT_EQ(filtered.status, 0);
    EXPECT_EQ(filtered.out,
              "time,device,sensor,value,unit,status\r\n"
              "2026-04-01T00:04:00,Kitchen,Freezer,999,\xC2\xB0"
              "F,Sensor Open\r\n");

    const Outcome help = Run({"--help"}, false);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("--sensor")) << help.out.toStdString();
    EXPECT_TRUE(help.out.startsWith("Usage: fernlog export [options]\n")) << help.out.toStdString();
    QProcess program;
    program.start(QStringLiteral(FERNLOG_PATH), {"--help"});
    ASSERT_TRUE(program.waitForFinished(15000));
    EXPECT_TRUE(program.readAllStandardOutput().contains("\n  export "));
}

TEST_F(ExportCommandTest, BadOptionsAndValuesEndWithStatusTwo) {
    ExpectRefused({"--sensor", "three"}, 2, "'three'");
    ExpectRefused({"--sensor", "3", "--device", "Kitchen"}, 2, "--device");
    ExpectRefused({"--from", "2026-02-30"}, 2, "'2026-02-30'");
    ExpectRefused({"--from", "2026-04-02", "--to", "2026-04-01"}, 2, "empty");
    ExpectRefused({"--colour"}, 2, "colour");
    const Outcome missing = Run({"--dir", outDir.filePath("nowhere")}, false);
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(missing.err.contains(outDir.filePath("nowhere"))) << missing.err.toStdString();
}

TEST_F(ExportCommandTest, NothingToExportEndsWithStatusOne) {
    ExpectRefused({"--sensor", "99"}, 1, "sensor 99");
    ExpectRefused({"--device", "Garage"}, 1, "\"Garage\"");
    ExpectRefused({"--from", "2027-01-01"}, 1, "no readings");
    WriteAll(FilePath("Sensor-8.dat"), QByteArray(50, ' '));
    ExpectRefused({}, 1, "Sensor-8.dat is 50 bytes");
    // A folder that does not exist for --out.
    const Outcome run = Run({"--out", outDir.filePath("no/such/folder.csv")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("folder.csv")) << run.err.toStdString();
}

TEST_F(ExportCommandTest, TornRecordIsWarnedAboutAndTheRestExported) {
    const QString april = FilePath("Sensor-8 Instantaneous Data Created 4-2026.dat");
    QFile file(april);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("4/1/20");
    file.close();
    const Outcome run = Run({"--sensor", "8"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "time,device,sensor,value,unit,status\r\n"
              "2026-04-01T06:00:00,\"Lab, North\",Door,1,,OK\r\n");
    EXPECT_TRUE(run.err.contains("warning")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(april)) << run.err.toStdString();
}

TEST_F(ExportCommandTest, ReadingsDuringAnAlarmRecordSayAlarm) {
    const QString degreeF = QString(QChar(0xB0)) + "F";
    const QDate day(2026, 4, 2);
    for (const auto& [minute, value] : {std::pair{0, 95.0f}, {5, 96.0f}, {10, -5.0f}}) {
        DataLogs::SaveReading(Dir(), 3, "Freezer", "Kitchen", degreeF, value,
                              QDateTime(day, QTime(10, minute)));
    }
    // Opened and closed a second after the readings that raised and ended it.
    ASSERT_TRUE(ServerDatabase::AddAlarmRecord(3, QDateTime(day, QTime(10, 0, 1)), "Kitchen",
                                               "Freezer", "95", 0, -1));
    Database::Connection db;
    ASSERT_TRUE(db.Open());
    ASSERT_TRUE(db.Exec("UPDATE tblAlarms SET AlarmEnd = ?",
                        {Clock::DbStamp(QDateTime(day, QTime(10, 10, 1)))}));
    // Another sensor's alarm at the same time marks nothing here.
    ASSERT_TRUE(ServerDatabase::AddAlarmRecord(8, QDateTime(day, QTime(9, 0)), "Lab, North", "Door",
                                               "1", 0, -1));
    Database::CloseConnection();

    const QByteArray expected =
        "time,device,sensor,value,unit,status\r\n"
        "2026-04-02T10:00:00,Kitchen,Freezer,95,\xC2\xB0"
        "F,ALARM\r\n"
        "2026-04-02T10:05:00,Kitchen,Freezer,96,\xC2\xB0"
        "F,ALARM\r\n"
        "2026-04-02T10:10:00,Kitchen,Freezer,-5,\xC2\xB0"
        "F,OK\r\n";
    // Device names are matched as people type them.
    const Outcome run = Run({"--device", "KITCHEN", "--from", "2026-04-02"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, expected);
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();

    // Without the database the readings are exported, said to be unmarked.
    ASSERT_TRUE(QFile::remove(FilePath("zolo.mdb")));
    const Outcome bare = Run({"--device", "kitchen", "--from", "2026-04-02"});
    EXPECT_EQ(bare.status, 0);
    EXPECT_EQ(bare.out, QByteArray(expected).replace("ALARM", "OK"));
    EXPECT_TRUE(bare.err.contains("no reading is marked ALARM")) << bare.err.toStdString();
}

TEST_F(ExportCommandTest, UnknownDeviceIsAnsweredWithTheKnownNames) {
    const Outcome run = Run({"--device", "Garage"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("\"Kitchen\", \"Lab, North\"")) << run.err.toStdString();
}
