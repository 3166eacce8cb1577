#include <QDir>
#include <QFile>
#include <QtEndian>
#include <cstring>
#include <limits>

#include "common/Clock.h"
#include "core/DataLogs.h"
#include "support/FernlogFixtures.h"

using namespace DataLogs;

namespace {
float SingleAt(const QByteArray& b, int offset) {
    const quint32 bits = qFromLittleEndian<quint32>(b.constData() + offset);
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}
qint32 I32At(const QByteArray& b, int offset) {
    return qFromLittleEndian<qint32>(b.constData() + offset);
}
}  // namespace

class DataLogsTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
    }
    bool Read(qint64 id, float value,
              const QString& units =
                  "\xB0"
                  "F") {
        return SaveReading(Dir(), id, "Freezer", "Lab", units, value);
    }
};

TEST_F(DataLogsTest, FirstReadingCreatesAllThreeFilesWithExactBytes) {
    ClockAt(2026, 3, 7, 16, 5);
    SaveReading(Dir(), 12, "Walk-in Freezer Number Two", "Kitchen", QString(QChar(0xB0)) + "F",
                72.5f);

    const QByteArray desc = ReadAll(FilePath("Sensor-12.dat"));
    ASSERT_EQ(desc.size(), 42);
    EXPECT_EQ(desc, Padded("Kitchen", 20) + "Walk-in Freezer Numb" +
                        "\xB0"
                        "F");

    const QByteArray avg = ReadAll(FilePath("Sensor-12 Average.dat"));
    ASSERT_EQ(avg.size(), 41);
    EXPECT_EQ(avg.left(25), Padded("3/7/2026 4:05:00 PM", 25));
    EXPECT_FLOAT_EQ(SingleAt(avg, 25), 72.5f);
    EXPECT_FLOAT_EQ(SingleAt(avg, 29), 72.5f);
    EXPECT_FLOAT_EQ(SingleAt(avg, 33), 72.5f);
    EXPECT_EQ(I32At(avg, 37), 1);
    EXPECT_EQ(avg.mid(25, 4), QByteArray("\x00\x00\x91\x42", 4));  // 72.5 little-endian

    const QByteArray inst = ReadAll(FilePath("Sensor-12 Instantaneous Data Created 3-2026.dat"));
    ASSERT_EQ(inst.size(), 29);
    EXPECT_EQ(inst.left(25), Padded("3/7/2026 4:05:00 PM", 25));
    EXPECT_FLOAT_EQ(SingleAt(inst, 25), 72.5f);
}

TEST_F(DataLogsTest, ReadingsOfOneClockHourShareARecord) {
    ClockAt(2026, 3, 7, 10, 0);
    Read(1, 70);
    ClockAt(2026, 3, 7, 10, 30);
    Read(1, 72);
    ClockAt(2026, 3, 7, 10, 59);
    Read(1, 71);
    ClockAt(2026, 3, 7, 11, 0);  // a new clock hour: a new record
    Read(1, 60);
    const QByteArray avg = ReadAll(FilePath("Sensor-1 Average.dat"));
    ASSERT_EQ(avg.size(), 82);
    EXPECT_FLOAT_EQ(SingleAt(avg, 25), 213.0f);
    EXPECT_FLOAT_EQ(SingleAt(avg, 29), 70.0f);
    EXPECT_FLOAT_EQ(SingleAt(avg, 33), 72.0f);
    EXPECT_EQ(I32At(avg, 37), 3);
    EXPECT_EQ(avg.mid(41, 25), Padded("3/7/2026 11:00:00 AM", 25));
    EXPECT_EQ(I32At(avg, 41 + 37), 1);
    EXPECT_EQ(ReadAll(FilePath("Sensor-1 Instantaneous Data Created 3-2026.dat")).size(), 4 * 29);
}

TEST_F(DataLogsTest, MonthFilesFollowTheClockAndSpecialValuesAreLogged) {
    ClockAt(2026, 12, 31, 23, 59);
    Read(5, 999);  // sensor open is logged as it is
    ClockAt(2027, 1, 1, 0, 4);
    Read(5, -999);
    const QByteArray dec = ReadAll(FilePath("Sensor-5 Instantaneous Data Created 12-2026.dat"));
    const QByteArray jan = ReadAll(FilePath("Sensor-5 Instantaneous Data Created 1-2027.dat"));
    ASSERT_EQ(dec.size(), 29);
    ASSERT_EQ(jan.size(), 29);
    EXPECT_FLOAT_EQ(SingleAt(dec, 25), 999.0f);
    EXPECT_EQ(jan.left(25), Padded("1/1/2027 12:04:00 AM", 25));
    EXPECT_FLOAT_EQ(SingleAt(jan, 25), -999.0f);
}

TEST_F(DataLogsTest, UnitsAreCutToTwoAndNamesTakeTheAnsiCodePage) {
    ClockAt(2026, 3, 7, 16, 5);
    SaveSensorDatToFile(Dir(), 3, "Humidité \"A\", 湿度", "Dev", "%RH");
    EXPECT_EQ(ReadAll(FilePath("Sensor-3.dat")),
              Padded("Dev", 20) + Padded("Humidit\xE9 \"A\", ??", 20) + "%R");
    SaveSensorDatToFile(Dir(), 4, "Door", "Dev", "");
    EXPECT_EQ(ReadAll(FilePath("Sensor-4.dat")).right(2), "  ");
}

// A statistics file cut short by a crash keeps its whole records; the torn
// tail is overwritten rather than read as a record.
TEST_F(DataLogsTest, TornRecordAtTheEndIsOverwritten) {
    ClockAt(2026, 3, 7, 10, 0);
    Read(2, 50);
    QFile f(FilePath("Sensor-2 Average.dat"));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("3/7/2026 10:0");
    f.close();
    Read(2, 52);
    const QByteArray avg = ReadAll(FilePath("Sensor-2 Average.dat"));
    ASSERT_EQ(avg.size(), 41);
    EXPECT_EQ(I32At(avg, 37), 2);
}

TEST_F(DataLogsTest, UnwritableDirectoryIsRecordedPerFile) {
    ClockAt(2026, 3, 7, 10, 0);
    const QString missing = Dir() + "/no/such/dir";
    EXPECT_FALSE(SaveSensorDatToFile(missing, 9, "s", "d", "F"));
    EXPECT_FALSE(SaveAverage(missing, 9, 1));
    EXPECT_FALSE(SaveInstantaneous(missing, 9, 1));
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors ORDER BY ErrorID"),
              (QStringList{"Function: SaveSensorDatToFile() Sensor-9.dat",
                           "Error saving data to Sensor-9 Average.dat",
                           "Error saving data to Sensor-9 Instantaneous Data Created 3-2026.dat"}));
}

// An unplugged log drive: the first failure of each writer is recorded, the
// rest are counted and the count recorded when writing works again.
TEST_F(DataLogsTest, LastingOutageRecordsFirstFailuresThenACount) {
    ClockAt(2026, 3, 7, 10, 0);
    const QString drive = Dir() + "/drive";
    for (int reading = 0; reading < 4; ++reading) {
        for (qint64 sensor : {9, 10}) EXPECT_FALSE(SaveReading(drive, sensor, "s", "d", "F", 1));
    }
    EXPECT_EQ(Rows("SELECT count(*) FROM tblErrors"), QStringList{"3"});
    // Another directory's failures are their own.
    EXPECT_FALSE(SaveAverage(Dir() + "/other", 9, 1));
    EXPECT_EQ(Rows("SELECT count(*) FROM tblErrors"), QStringList{"4"});

    ASSERT_TRUE(QDir().mkpath(drive));
    EXPECT_TRUE(SaveReading(drive, 9, "s", "d", "F", 1));
    EXPECT_TRUE(SaveReading(drive, 10, "s", "d", "F", 1));
    EXPECT_EQ(Rows("SELECT myFunction, Cause FROM tblErrors WHERE ErrorID > 4 ORDER BY ErrorID"),
              (QStringList{"Function: SaveSensorDatToFile() Sensor-9.dat|7 more failures of this "
                           "kind until writing worked again at 3/7/2026 10:00:00 AM.",
                           "Error saving data to Sensor-9 Average.dat|7 more failures of this kind "
                           "until writing worked again at 3/7/2026 10:00:00 AM.",
                           "Error saving data to Sensor-9 Instantaneous Data Created 3-2026.dat|7 "
                           "more failures of this kind until writing worked again at 3/7/2026 "
                           "10:00:00 AM."}));
}

TEST_F(DataLogsTest, DescriptionIsRewrittenInPlaceWithTheSameBytes) {
    ClockAt(2026, 3, 7, 10, 0);
    ASSERT_TRUE(SaveSensorDatToFile(Dir(), 9, "A much longer sensor name", "Device", "F"));
    ASSERT_TRUE(SaveSensorDatToFile(Dir(), 9, "Short", "Dev", "C"));
    QFile file(FilePath("Sensor-9.dat"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), EncodeDescription("Dev", "Short", "C"));
}

// A clock set back an hour: the readings start a new record instead of being
// merged into the record dated in the future.
TEST_F(DataLogsTest, ClockSetBackStartsANewHourlyRecord) {
    ClockAt(2026, 3, 7, 11, 10);
    Read(1, 70);
    ClockAt(2026, 3, 7, 10, 20);
    Read(1, 50);
    const QByteArray avg = ReadAll(FilePath("Sensor-1 Average.dat"));
    ASSERT_EQ(avg.size(), 82);
    EXPECT_EQ(I32At(avg, 37), 1);
    EXPECT_EQ(avg.mid(41, 25), Padded("3/7/2026 10:20:00 AM", 25));
    EXPECT_FLOAT_EQ(SingleAt(avg, 41 + 25), 50.0f);
}

// A damaged last record whose count is at its largest is closed, not
// overflowed.
TEST_F(DataLogsTest, FullCountClosesTheRecord) {
    ClockAt(2026, 3, 7, 10, 0);
    AverageRecord full;
    full.dateText = "3/7/2026 10:00:00 AM";
    full.total = full.minimum = full.maximum = 1;
    full.count = std::numeric_limits<qint32>::max();
    QFile file(FilePath("Sensor-1 Average.dat"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(EncodeAverage(full));
    file.close();
    ClockAt(2026, 3, 7, 10, 5);
    Read(1, 70);
    const QByteArray avg = ReadAll(FilePath("Sensor-1 Average.dat"));
    ASSERT_EQ(avg.size(), 82);
    EXPECT_EQ(I32At(avg, 37), std::numeric_limits<qint32>::max());
    EXPECT_EQ(I32At(avg, 41 + 37), 1);
}

TEST_F(DataLogsTest, RecordsAndFileNamesReadBackAsWritten) {
    const auto description = DecodeDescription(EncodeDescription("Kitchen", "Freezer", "%RH"));
    ASSERT_TRUE(description);
    EXPECT_EQ(description->deviceName, "Kitchen");
    EXPECT_EQ(description->sensorName, "Freezer");
    EXPECT_EQ(description->units, "%R");
    EXPECT_FALSE(DecodeDescription(QByteArray(41, ' ')));

    const QDateTime when(QDate(2026, 3, 7), QTime(16, 5, 9));
    const auto instant = DecodeInstant(EncodeInstant(when, -4.5f));
    ASSERT_TRUE(instant);
    EXPECT_EQ(instant->dateText, "3/7/2026 4:05:09 PM");
    EXPECT_EQ(instant->when, QDateTime(when.date(), when.time(), Qt::UTC));
    EXPECT_EQ(instant->value, -4.5f);
    EXPECT_FALSE(DecodeInstant(QByteArray(30, ' ')));
    EXPECT_FALSE(DecodeInstant(Padded("yesterday", 25) + QByteArray(4, '\0'))->when.isValid());

    EXPECT_EQ(DescriptionFileSensor(DescriptionFileName(12)), 12);
    const auto key = InstantaneousFileKey(InstantaneousFileName(12, when));
    ASSERT_TRUE(key);
    EXPECT_EQ(key->sensorId, 12);
    EXPECT_EQ(key->month, 3);
    EXPECT_EQ(key->year, 2026);
    for (const char* other :
         {"Sensor-12 Average.dat", "Sensor-.dat", "Sensor-1x.dat",
          "Sensor-12 Instantaneous Data Created 03-2026.dat",
          "Sensor-12 Instantaneous Data Created 13-2026.dat",
          "Sensor-12 Instantaneous Data Created 3-26.dat", "FernlogConfig.dat"}) {
        EXPECT_FALSE(DescriptionFileSensor(other)) << other;
        EXPECT_FALSE(InstantaneousFileKey(other)) << other;
    }
}

#ifdef Q_OS_LINUX
#include <sys/resource.h>

#include <csignal>

namespace {
// Runs `write` with the file size limit at `limit` bytes: a write across it
// is cut short part-way, as on a disk that fills up mid-record.
template <class Write>
void WithFileSizeLimit(rlim_t limit, Write&& write) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}
}  // namespace

// A record cut short part-way is taken back: every file stays a whole number
// of records, the next reading lands where it belongs, and a file that the
// failed reading would have created is not left behind.
TEST_F(DataLogsTest, WriteCutShortLeavesWholeRecordsOnly) {
    ClockAt(2026, 3, 7, 10, 0);
    Read(2, 50);
    ClockAt(2026, 3, 7, 11, 0);
    Read(2, 51);
    const QString average = FilePath("Sensor-2 Average.dat");
    const QString instant = FilePath("Sensor-2 Instantaneous Data Created 3-2026.dat");
    const QByteArray averageBefore = ReadAll(average);
    const QByteArray instantBefore = ReadAll(instant);
    ASSERT_EQ(averageBefore.size(), 82);
    ASSERT_EQ(instantBefore.size(), 58);

    // The limit stops the database's journal as well: the failures go to
    // standard error (FullDiskTest checks how they are told).
    // At 70 bytes the reading's instant record (58..87) is cut after 12.
    ClockAt(2026, 3, 7, 11, 30);
    WithFileSizeLimit(70, [&] { EXPECT_FALSE(SaveInstantaneous(Dir(), 2, 52)); });
    EXPECT_EQ(ReadAll(instant), instantBefore);
    // At 100 a new hour's record (82..123) is cut after 18.
    ClockAt(2026, 3, 7, 12, 0);
    WithFileSizeLimit(100, [&] { EXPECT_FALSE(SaveAverage(Dir(), 2, 53)); });
    EXPECT_EQ(ReadAll(average), averageBefore);
    // A new sensor's description (42 bytes) cut after 10: no file at all.
    WithFileSizeLimit(10, [&] { EXPECT_FALSE(SaveSensorDatToFile(Dir(), 3, "s", "d", "F")); });
    EXPECT_FALSE(QFile::exists(FilePath("Sensor-3.dat")));
    ClockAt(2026, 3, 7, 12, 5);
    ASSERT_TRUE(Read(2, 54));
    const QByteArray avg = ReadAll(average);
    ASSERT_EQ(avg.size(), 123);
    EXPECT_EQ(avg.left(82), averageBefore);
    EXPECT_EQ(avg.mid(82, 25), Padded("3/7/2026 12:05:00 PM", 25));
    EXPECT_EQ(I32At(avg, 82 + 37), 1);
    const QByteArray inst = ReadAll(instant);
    ASSERT_EQ(inst.size(), 87);
    EXPECT_EQ(inst.left(58), instantBefore);
    EXPECT_FLOAT_EQ(SingleAt(inst, 58 + 25), 54.0f);
}
#endif
