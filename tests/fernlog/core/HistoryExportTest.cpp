#include <QDir>
#include <QFile>

#include "core/DataLogs.h"
#include "core/HistoryExport.h"
#include "core/Settings.h"
#include "support/FernlogFixtures.h"
#include "support/SmallDisk.h"

using namespace HistoryExport;

namespace {
QDateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

const QString kDegreeF = QString(QChar(0xB0)) + QStringLiteral("F");
const QString kWalkIn = QStringLiteral("Walk-in, \"A\"");

// Three sensors over a month boundary, written by the program's own writer.
// Sensor 3's last reading comes after the clock was set back.
void WriteKnownLogs(const QString& dir) {
    using DataLogs::SaveReading;
    SaveReading(dir, 3, kWalkIn, "Kitchen", kDegreeF, 72.5f, At(2026, 3, 31, 23, 59));
    SaveReading(dir, 3, kWalkIn, "Kitchen", kDegreeF, 999, At(2026, 4, 1, 0, 4));
    SaveReading(dir, 3, kWalkIn, "Kitchen", kDegreeF, 70, At(2026, 3, 31, 12, 0));
    SaveReading(dir, 7, "Humidity", "Server Room", "%RH", 41.25f, At(2026, 3, 31, 23, 30));
    SaveReading(dir, 7, "Humidity", "Server Room", "%RH", 1000, At(2026, 4, 2, 8, 15, 30));
    SaveReading(dir, 12, "Back Door", "Kitchen", "", 0, At(2026, 4, 1, 6, 0));
    SaveReading(dir, 12, "Back Door", "Kitchen", "", 1, At(2026, 4, 1, 6, 5));
    SaveReading(dir, 12, "Back Door", "Kitchen", "", -999, At(2026, 4, 1, 6, 10));
}

const char* const kHeader = "time,device,sensor,value,unit,status\r\n";
const char* const kSensor3 =
    "2026-03-31T12:00:00,Kitchen,\"Walk-in, \"\"A\"\"\",70,\xC2\xB0"
    "F,OK\r\n"
    "2026-03-31T23:59:00,Kitchen,\"Walk-in, \"\"A\"\"\",72.5,\xC2\xB0"
    "F,OK\r\n"
    "2026-04-01T00:04:00,Kitchen,\"Walk-in, \"\"A\"\"\",999,\xC2\xB0"
    "F,Sensor Open\r\n";
const char* const kSensor7 =
    "2026-03-31T23:30:00,Server Room,Humidity,41.25,%RH,OK\r\n"
    "2026-04-02T08:15:30,Server Room,Humidity,1000,%RH,Not Connected\r\n";
const char* const kSensor12 =
    "2026-04-01T06:00:00,Kitchen,Back Door,0,,OK\r\n"
    "2026-04-01T06:05:00,Kitchen,Back Door,1,,OK\r\n"
    "2026-04-01T06:10:00,Kitchen,Back Door,-999,,Sensor Shorted\r\n";
}  // namespace

class HistoryExportTest : public FernlogTest {
  protected:
    // The export of the test's directory as text; empty when it failed.
    QByteArray Csv(const Filter& filter = {}) {
        QByteArray out;
        ok = Export(
            {Dir()}, filter,
            [&](const QByteArray& b) {
                out += b;
                return true;
            },
            summary, &error);
        return out;
    }
    void WriteSettingsWithLogDir(const QString& logDir) {
        ConfigRecord record;
        record.LogDir.Set(logDir);
        WriteAll(FilePath(Settings::FileName()), Settings::Serialize(record));
    }
    bool ok = false;
    Summary summary;
    QString error;
};

TEST_F(HistoryExportTest, KnownLogsGiveExactlyThisCsv) {
    WriteKnownLogs(Dir());
    EXPECT_EQ(Csv(), QByteArray(kHeader) + kSensor3 + kSensor7 + kSensor12);
    EXPECT_TRUE(ok) << error.toStdString();
    EXPECT_EQ(summary.rows, 8);
    EXPECT_EQ(summary.sensors, 3);
    EXPECT_TRUE(summary.warnings.isEmpty());
}

TEST_F(HistoryExportTest, FiltersBySensorDeviceAndTime) {
    WriteKnownLogs(Dir());
    Filter bySensor;
    bySensor.sensorId = 7;
    EXPECT_EQ(Csv(bySensor), QByteArray(kHeader) + kSensor7);

    Filter byDevice;
    byDevice.device = QStringLiteral("Kitchen");
    EXPECT_EQ(Csv(byDevice), QByteArray(kHeader) + kSensor3 + kSensor12);

    // Bounds are inclusive; a whole month outside the range is not read.
    Filter april;
    april.from = At(2026, 4, 1, 0, 4);
    april.to = *ParseTime("2026-04-01", true);
    april.sensorId = 3;
    EXPECT_EQ(Csv(april), QByteArray(kHeader) +
                              "2026-04-01T00:04:00,Kitchen,\"Walk-in, \"\"A\"\"\",999,\xC2\xB0"
                              "F,Sensor Open\r\n");

    // The bare --to date takes in the last reading of that day.
    Filter march;
    march.to = *ParseTime("2026-03-31", true);
    EXPECT_EQ(Csv(march), QByteArray(kHeader) +
                              "2026-03-31T12:00:00,Kitchen,\"Walk-in, \"\"A\"\"\",70,\xC2\xB0"
                              "F,OK\r\n"
                              "2026-03-31T23:59:00,Kitchen,\"Walk-in, \"\"A\"\"\",72.5,\xC2\xB0"
                              "F,OK\r\n"
                              "2026-03-31T23:30:00,Server Room,Humidity,41.25,%RH,OK\r\n");
}

TEST_F(HistoryExportTest, LongDeviceNameMatchesItsStoredTwentyCharacters) {
    DataLogs::SaveReading(Dir(), 5, "Probe", "Pharmacy Fridge Number Two", kDegreeF, 38,
                          At(2026, 5, 1, 9, 0));
    Filter filter;
    filter.device = QStringLiteral("Pharmacy Fridge Number Two");
    EXPECT_EQ(Csv(filter), QByteArray(kHeader) +
                               "2026-05-01T09:00:00,Pharmacy Fridge Numb,Probe,38,\xC2\xB0"
                               "F,OK\r\n");
}

TEST_F(HistoryExportTest, TimesParseOnlyInTheDocumentedForms) {
    auto typed = [](int d, int h, int mi, int s) {
        return QDateTime(QDate(2026, 3, d), QTime(h, mi, s), Qt::UTC);
    };
    EXPECT_EQ(ParseTime("2026-03-07", false), typed(7, 0, 0, 0));
    EXPECT_EQ(ParseTime("2026-03-07", true), typed(7, 23, 59, 59));
    EXPECT_EQ(ParseTime("2026-03-07 16:05", true), typed(7, 16, 5, 0));
    EXPECT_EQ(ParseTime("2026-03-07 16:05:09", false), typed(7, 16, 5, 9));
    EXPECT_EQ(ParseTime("2026-03-07T16:05:09", false), typed(7, 16, 5, 9));
    for (const char* bad : {"", "2026-3-7", "2026-02-30", "07/03/2026", "2026-03-07 25:00",
                            "2026-03-07 16", "2026-03-07x16:05", "2026-03-07 16:05:09 PM"}) {
        EXPECT_FALSE(ParseTime(bad, false)) << bad;
    }
}

TEST_F(HistoryExportTest, RefusalsNameTheCauseAndSendNothing) {
    WriteKnownLogs(Dir());
    Filter unknownSensor;
    unknownSensor.sensorId = 99;
    EXPECT_EQ(Csv(unknownSensor), QByteArray());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("sensor 99")) << error.toStdString();

    Filter unknownDevice;
    unknownDevice.device = QStringLiteral("Garage");
    EXPECT_EQ(Csv(unknownDevice), QByteArray());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("\"Garage\"")) << error.toStdString();

    Filter empty;
    empty.from = At(2027, 1, 1, 0, 0);
    EXPECT_EQ(Csv(empty), QByteArray());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("no readings")) << error.toStdString();

    const Sink accept = [](const QByteArray&) { return true; };
    EXPECT_FALSE(Export({FilePath("nowhere")}, {}, accept, summary, &error));
    EXPECT_EQ(error, "there are no data logs in " + FilePath("nowhere"));

    // A sink that refuses stops the export with a reason.
    const Sink refuse = [](const QByteArray&) { return false; };
    EXPECT_FALSE(Export({Dir()}, {}, refuse, summary, &error));
    EXPECT_EQ(error, "the export could not be written");
}

TEST_F(HistoryExportTest, TornLastRecordExportsTheWholeOnesAndWarns) {
    WriteKnownLogs(Dir());
    const QString april = FilePath("Sensor-12 Instantaneous Data Created 4-2026.dat");
    QFile file(april);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("4/1/2026 6:1");  // a write cut short
    file.close();
    Filter filter;
    filter.sensorId = 12;
    EXPECT_EQ(Csv(filter), QByteArray(kHeader) + kSensor12);
    EXPECT_TRUE(ok);
    ASSERT_EQ(summary.warnings.size(), 1);
    EXPECT_TRUE(summary.warnings[0].contains(QDir::toNativeSeparators(april)))
        << summary.warnings[0].toStdString();
    EXPECT_TRUE(summary.warnings[0].contains("3 whole records"));
}

TEST_F(HistoryExportTest, DamagedOrMissingDescriptions) {
    WriteKnownLogs(Dir());
    WriteAll(FilePath("Sensor-7.dat"), QByteArray(40, ' '));
    EXPECT_EQ(Csv(), QByteArray());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("Sensor-7.dat is 40 bytes")) << error.toStdString();
    // The damaged file only stops exports that need it.
    Filter other;
    other.sensorId = 12;
    EXPECT_EQ(Csv(other), QByteArray(kHeader) + kSensor12);

    // Without a description the readings are exported without names.
    QFile::remove(FilePath("Sensor-7.dat"));
    Filter seven;
    seven.sensorId = 7;
    EXPECT_EQ(Csv(seven), QByteArray(kHeader) +
                              "2026-03-31T23:30:00,,,41.25,,OK\r\n"
                              "2026-04-02T08:15:30,,,1000,,Not Connected\r\n");
    ASSERT_EQ(summary.warnings.size(), 1);
    EXPECT_TRUE(summary.warnings[0].contains("Sensor-7.dat"));
}

TEST_F(HistoryExportTest, LogDirectoryOfTheSettingsFileIsReadToo) {
    QTemporaryDir logDir;
    WriteSettingsWithLogDir(logDir.path() + "  ");
    QStringList warnings;
    const QStringList dirs = LogDirectories(Dir(), &warnings);
    EXPECT_EQ(dirs, QStringList({Dir(), logDir.path()}));
    EXPECT_TRUE(warnings.isEmpty());

    // The program directory missed a reading the log directory kept; a
    // month only the log directory holds is read from there.
    using DataLogs::SaveReading;
    SaveReading(Dir(), 4, "Probe", "Lab", "", 1, At(2026, 6, 1, 8, 0));
    for (const QString& d : dirs) SaveReading(d, 4, "Probe", "Lab", "", 2, At(2026, 6, 1, 8, 1));
    SaveReading(logDir.path(), 4, "Probe", "Lab", "", 3, At(2026, 6, 1, 8, 2));
    SaveReading(logDir.path(), 4, "Probe", "Lab", "", 4, At(2026, 6, 1, 8, 3));
    SaveReading(logDir.path(), 4, "Probe", "Lab", "", 5, At(2026, 7, 1, 8, 0));
    QByteArray out;
    ASSERT_TRUE(Export(
        dirs, {},
        [&](const QByteArray& b) {
            out += b;
            return true;
        },
        summary, &error));
    EXPECT_EQ(out, QByteArray(kHeader) +
                       "2026-06-01T08:01:00,Lab,Probe,2,,OK\r\n"
                       "2026-06-01T08:02:00,Lab,Probe,3,,OK\r\n"
                       "2026-06-01T08:03:00,Lab,Probe,4,,OK\r\n"
                       "2026-07-01T08:00:00,Lab,Probe,5,,OK\r\n");

    // The program directory under another spelling is not read twice.
    WriteSettingsWithLogDir(Dir() + "/.");
    EXPECT_EQ(LogDirectories(Dir(), &warnings), QStringList({Dir()}));

    WriteSettingsWithLogDir(FilePath("unplugged"));
    EXPECT_EQ(LogDirectories(Dir(), &warnings), QStringList({Dir()}));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains("unplugged"));

    WriteAll(FilePath(Settings::FileName()), "short");
    warnings.clear();
    EXPECT_EQ(LogDirectories(Dir(), &warnings), QStringList({Dir()}));
    EXPECT_EQ(warnings.size(), 1);
}

TEST_F(HistoryExportTest, FileIsReplacedOnlyBySuccess) {
    WriteKnownLogs(Dir());
    QTemporaryDir outDir;
    const QString out = outDir.filePath("history.csv");
    WriteAll(out, "old");
    Filter unknown;
    unknown.sensorId = 99;
    EXPECT_FALSE(ExportToFile({Dir()}, unknown, out, summary, &error));
    EXPECT_EQ(ReadAll(out), "old");
    EXPECT_EQ(QDir(outDir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"history.csv"});

    ASSERT_TRUE(ExportToFile({Dir()}, {}, out, summary, &error)) << error.toStdString();
    EXPECT_EQ(ReadAll(out), QByteArray(kHeader) + kSensor3 + kSensor7 + kSensor12);

    // Never over one of the files it reads.
    const QString description = FilePath("Sensor-3.dat");
    const QByteArray before = ReadAll(description);
    EXPECT_FALSE(ExportToFile({Dir()}, {}, description, summary, &error));
    EXPECT_EQ(ReadAll(description), before);
}

TEST_F(HistoryExportTest, FullDiskLeavesTheOldFile) {
    SmallDisk disk(256 * 1024);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    for (int i = 0; i < 2000; ++i) {
        DataLogs::SaveInstantaneous(Dir(), 1, static_cast<float>(i),
                                    At(2026, 1, 1, 0, 0).addSecs(60 * i));
    }
    const QString out = disk.Path() + "/history.csv";
    WriteAll(out, "old");
    ASSERT_TRUE(disk.Fill());
    EXPECT_FALSE(ExportToFile({Dir()}, {}, out, summary, &error));
    EXPECT_FALSE(error.isEmpty());
    disk.Free();
    EXPECT_EQ(ReadAll(out), "old");
}

TEST_F(HistoryExportTest, FieldsAndStatusTexts) {
    EXPECT_EQ(CsvField("Lab"), "Lab");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(StatusText(72.5f), "OK");
    EXPECT_EQ(StatusText(9999), "Not Connected");
    EXPECT_EQ(StatusText(-999991.0f), "No Data");
}
