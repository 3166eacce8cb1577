// The clock and log codec: register bytes, clock texts, log decoding and the
// comma-separated export, without a device.
#include <QFile>

#include "common/Clock.h"
#include "protocol/Commands.h"
#include "registry/Ds1337.h"
#include "support/FernlogFixtures.h"
#include "support/SmallDisk.h"

using namespace Ds1337;

namespace {
QByteArray Hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray ClockAt(const QDateTime& when) {
    Clock::SetForTest(when);
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdLog00());
    EXPECT_TRUE(EncodeClock(request));
    Clock::SetForTest(QDateTime());
    EXPECT_EQ(request.size(), 60);
    EXPECT_EQ(request.left(4), Protocol::CmdLog00());
    EXPECT_EQ(request.mid(11), QByteArray(49, '\0'));
    return request.mid(4, 7);
}

// A record: clock registers from minutes on, the sensor words, the status.
QByteArray Record(const char* clock, const QList<int>& values, int status) {
    QByteArray r = Hex(clock);
    for (int v : values) r += char((v >> 8) & 0xFF) + QByteArray(1, char(v & 0xFF));
    r += char(status);
    return r;
}

}  // namespace

class Ds1337Test : public FernlogTest {};

TEST_F(Ds1337Test, ToBCDPutsTensInTheHighNibble) {
    EXPECT_EQ(ToBCD(0), 0x00);
    EXPECT_EQ(ToBCD(9), 0x09);
    EXPECT_EQ(ToBCD(10), 0x10);
    EXPECT_EQ(ToBCD(59), 0x59);
    EXPECT_EQ(ToBCD(99), 0x99);
}

TEST_F(Ds1337Test, EncodeClockWritesTwelveHourRegisters) {
    // Saturday 7 March 2009.
    EXPECT_EQ(ClockAt({QDate(2009, 3, 7), QTime(16, 5, 42)}).toHex(' '), "00 05 64 07 07 03 09");
    // The chip has no hour 0 in 12-hour mode: midnight is 12 AM, noon 12 PM.
    EXPECT_EQ(ClockAt({QDate(2026, 2, 1), QTime(0, 30)}).toHex(' '), "00 30 52 01 01 02 26");
    EXPECT_EQ(ClockAt({QDate(2026, 2, 1), QTime(12, 30)}).toHex(' '), "00 30 72 01 01 02 26");
    EXPECT_EQ(ClockAt({QDate(2099, 12, 31), QTime(23, 59)}).toHex(' '), "00 59 71 05 31 12 99");
}

TEST_F(Ds1337Test, DecodeClockTextReadsTheRegisters) {
    QByteArray answer(60, '\0');
    answer.replace(4, 7, Hex("00 05 64 07 07 03 09"));
    QString text;
    EXPECT_TRUE(DecodeClockText(answer, ClockLayout::kMinutes, text));
    EXPECT_EQ(text, "3/7/2009 4:05:00 PM");

    answer.replace(4, 7, Hex("59 30 52 01 01 02 26"));
    EXPECT_TRUE(DecodeClockText(answer, ClockLayout::kMinutes, text));
    EXPECT_EQ(text, "2/1/2026 12:30:59 AM");

    // 24-hour mode and non-BCD registers cannot be read.
    answer.replace(4, 7, Hex("00 05 15 07 07 03 09"));
    EXPECT_FALSE(DecodeClockText(answer, ClockLayout::kMinutes, text));
    EXPECT_EQ(text, "Reset Time");
    answer.replace(4, 7, Hex("00 5A 64 07 07 03 09"));
    EXPECT_FALSE(DecodeClockText(answer, ClockLayout::kMinutes, text));
    EXPECT_EQ(text, "Reset Time");

    // BCD that is no date: the text is kept and marked.
    answer.replace(4, 7, Hex("00 05 64 07 31 02 09"));
    EXPECT_TRUE(DecodeClockText(answer, ClockLayout::kMinutes, text));
    EXPECT_EQ(text, "2/31/2009 4:05:00 PM Reset Time");
}

TEST_F(Ds1337Test, LogParametersReadTheSizeUnsigned) {
    QByteArray answer = Protocol::CmdLog02() + QByteArray(56, '\0');
    answer.replace(4, 10, Hex("00 05 64 07 07 03 09 0A 80 01"));
    QString date;
    int rate = 0;
    qint32 size = 0;
    DecodeLogParameters(answer, date, rate, size);
    EXPECT_EQ(date, "3/7/2009 4:05:00 PM");
    EXPECT_EQ(rate, 10);
    EXPECT_EQ(size, 32769);
}

TEST_F(Ds1337Test, TwoSensorLogDecodesValuesAndStatusBits) {
    const QByteArray data = Record("05 64 07 07 03 09", {725, 1000}, 0x05) +
                            Record("10 52 01 01 02 26", {999, -999}, 0x02) +
                            Record("10 15 01 01 02 26", {-42, 0}, 0x00);
    LogGrid grid;
    ASSERT_TRUE(DecodeTwoSensorLog(data, 4, grid));
    EXPECT_EQ(grid.header, QStringList({"Record #", "Date/Time", "Sensor 1", "Sensor 2", "Door 1",
                                        "Door 2", "Power"}));
    ASSERT_EQ(grid.rows.size(), 3);
    // Records carry no seconds register.
    EXPECT_EQ(grid.rows[0],
              QStringList({"1", "3/7/2009 4:05:00 PM", "725.0", " N\\C", "Closed", "Open", "On"}));
    EXPECT_EQ(grid.rows[1],
              QStringList({"2", "2/1/2026 12:10:00 AM", "Open", "Short", "Open", "Closed", "Off"}));
    // An unreadable date still shows the values.
    EXPECT_EQ(grid.rows[2],
              QStringList({"3", "Reset Time", "-42.0", "0.0", "Open", "Open", "Off"}));

    // From build 5 on, values are in tenths.
    ASSERT_TRUE(DecodeTwoSensorLog(Record("05 64 07 07 03 09", {725, 10000}, 4), 5, grid));
    EXPECT_EQ(grid.rows[0].mid(2, 2), QStringList({"72.5", " N\\C"}));
}

TEST_F(Ds1337Test, EightSensorStatusIsReadAsBits) {
    const QList<int> values{725, 10000, 9990, -9990, 0, -5, 100, 1};
    const QByteArray data =
        Record("05 64 07 07 03 09", values, 7) + Record("05 64 07 07 03 09", values, 4) +
        Record("05 64 07 07 03 09", values, 3) + Record("05 15 07 07 03 09", values, 7);
    LogGrid grid;
    ASSERT_TRUE(DecodeEightSensorLog(data, grid));
    ASSERT_EQ(grid.header.size(), 13);
    EXPECT_EQ(grid.header[9], "Sensor 8");
    ASSERT_EQ(grid.rows.size(), 4);
    EXPECT_EQ(grid.rows[0],
              QStringList({"1", "3/7/2009 4:05:00 PM", "72.5", " N\\C", "Open", "Short", "0.0",
                           "-0.5", "10.0", "0.1", "Closed", "Closed", "On"}));
    EXPECT_EQ(grid.rows[1].mid(10), QStringList({"Open", "Open", "On"}));
    // Doors closed without power: a comparison of values would show both open.
    EXPECT_EQ(grid.rows[2].mid(10), QStringList({"Closed", "Closed", "Off"}));
    EXPECT_EQ(grid.rows[3], QStringList({"4", "Invalid Date/Time format"}));
}

TEST_F(Ds1337Test, RecordCountIsRoundedAndAShortLastRecordIsMarked) {
    const QByteArray full = Record("05 64 07 07 03 09", {1, 2}, 0);
    LogGrid grid;
    DecodeTwoSensorLog(full + full.left(6), 5, grid);  // 17 bytes: 1.5 records
    ASSERT_EQ(grid.rows.size(), 2);
    EXPECT_EQ(grid.rows[1], QStringList({"2", "Incomplete record"}));
    DecodeTwoSensorLog(full + full.left(5), 5, grid);  // 16 bytes: rounds down
    EXPECT_EQ(grid.rows.size(), 1);
    DecodeTwoSensorLog(QByteArray(), 5, grid);
    EXPECT_TRUE(grid.rows.isEmpty());
}

TEST_F(Ds1337Test, DecodeLogChoosesByDevice) {
    const QByteArray data = Record("05 64 07 07 03 09", {1, 2}, 0);
    LogGrid grid;
    EXPECT_TRUE(DecodeLog(data, {3, 5, 6}, grid));
    EXPECT_EQ(grid.header.size(), 7);
    EXPECT_FALSE(DecodeLog(data, {5, 5, 22}, grid));
    EXPECT_EQ(grid.header.size(), 7);  // unchanged
    EXPECT_TRUE(DecodeLog(data + data, {5, 10, 24}, grid));
    EXPECT_EQ(grid.header.size(), 13);

    EXPECT_TRUE(HasOnBoardLog({3, 3, 1}));
    EXPECT_TRUE(HasOnBoardLog({5, 5, 23}));
    EXPECT_FALSE(HasOnBoardLog({5, 10, 23}));
    EXPECT_TRUE(HasOnBoardLog({5, 10, 24}));
    EXPECT_FALSE(HasOnBoardLog({5, 8, 30}));
    EXPECT_TRUE(ReadsLogParameters({5, 8, 30}));
}

TEST_F(Ds1337Test, ExportWritesTheHeaderOnceAndAppendsRows) {
    LogGrid grid;
    DecodeTwoSensorLog(
        Record("05 64 07 07 03 09", {725, 1000}, 5) + Record("10 52 01 01 02 26", {1, 2}, 0), 5,
        grid);
    const QString file = FilePath("log.csv");
    ASSERT_TRUE(ExportLogCsv(grid, 3, file));
    ASSERT_TRUE(ExportLogCsv(grid, 3, file));
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray rows =
        "1,\"3/7/2009 4:05:00 PM\",\"72.5\",\"100.0\",\"Closed\",\"Open\",\"On\"\r\n"
        "2,\"2/1/2026 12:10:00 AM\",\"0.1\",\"0.2\",\"Open\",\"Open\",\"Off\"\r\n";
    EXPECT_EQ(in.readAll(),
              "\"Record Number\",\"Date/Time\",\"Sensor 1\",\"Sensor 2\",\"Door 1\","
              "\"Door 2\",\"Power\"\r\n" +
                  rows + rows);

    // Eight-sensor devices: twelve texts per row, empty where a row is short.
    DecodeEightSensorLog(Record("05 15 07 07 03 09", {0, 0, 0, 0, 0, 0, 0, 0}, 0), grid);
    const QString eight = FilePath("eight.csv");
    ASSERT_TRUE(ExportLogCsv(grid, 5, eight));
    QFile in8(eight);
    ASSERT_TRUE(in8.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = in8.readAll().split('\n');
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].contains("\"Sensor 8\",\"Door 1\""));
    EXPECT_EQ(lines[1],
              "1,\"Invalid Date/Time format\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\","
              "\"\",\"\",\"\"\r");

    QString error;
    EXPECT_FALSE(ExportLogCsv(grid, 5, FilePath("missing/dir/x.csv"), &error));
    EXPECT_FALSE(error.isEmpty());
}

// A full program directory: the last downloaded log and an export keep what
// they held, no half-written rows, and both work again once there is room.
TEST_F(Ds1337Test, FullDiskKeepsTheDownloadedLogAndTheExportWhole) {
    SmallDisk disk(256 * 1024);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    MoveProgramDir(disk.Path());
    QString path, error;
    const QByteArray oldLog(5000, '\x01');
    ASSERT_TRUE(SaveDownloadedLog(oldLog, path, &error)) << error.toStdString();
    EXPECT_EQ(path, FilePath(DownloadFileName()));
    LogGrid grid;
    QByteArray records;
    for (int r = 0; r < 100; ++r) records += Record("05 64 07 07 03 09", {725, 1000}, 5);
    DecodeTwoSensorLog(records, 5, grid);
    const QString csv = FilePath("log.csv");
    ASSERT_TRUE(ExportLogCsv(grid, 3, csv));
    const QByteArray csvBefore = ReadAllOrMissing(csv);
    const QByteArray rows = csvBefore.mid(csvBefore.indexOf("\r\n") + 2);
    ASSERT_GT(rows.size(), 4096);  // more than the slack of the file's last page

    ASSERT_TRUE(disk.Fill());
    EXPECT_FALSE(SaveDownloadedLog(QByteArray(6000, '\x02'), path, &error));
    EXPECT_TRUE(error.contains("No space left on device")) << error.toStdString();
    EXPECT_EQ(ReadAllOrMissing(path), oldLog);
    EXPECT_FALSE(ExportLogCsv(grid, 3, csv, &error));
    EXPECT_TRUE(error.contains("No space left on device")) << error.toStdString();
    EXPECT_EQ(ReadAllOrMissing(csv), csvBefore);

    disk.Free();
    ASSERT_TRUE(SaveDownloadedLog(QByteArray(6000, '\x02'), path, &error)) << error.toStdString();
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray(6000, '\x02'));
    ASSERT_TRUE(ExportLogCsv(grid, 3, csv));
    EXPECT_EQ(ReadAllOrMissing(csv), csvBefore + rows);
}
