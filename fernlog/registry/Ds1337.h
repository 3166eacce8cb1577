#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "protocol/Identification.h"

// The device's real-time clock (DS1337 register format: BCD, 12-hour mode
// with an AM/PM bit) and its on-board log: setting and reading the clock
// and log parameters, downloading the log, decoding it into a grid and
// exporting that grid as comma-separated text.
namespace Ds1337 {

// Clock and log fields of the CmdLog00/CmdLog02 requests and answers.
namespace ClockLayout {
constexpr int kSeconds = 5;  // the seven clock registers, in chip order
constexpr int kMinutes = 6;
constexpr int kHours = 7;
constexpr int kWeekday = 8;
constexpr int kDate = 9;
constexpr int kMonth = 10;
constexpr int kYear = 11;
constexpr int kLogRate = 12;  // minutes between log records
constexpr int kLogSize = 13;  // two bytes, high first: bytes in the log
}  // namespace ClockLayout

// Byte 5 of the CmdReadLog request: 1 resets the log record pointer.
constexpr int kResetFlag = 5;

// The hours register.
constexpr int kTwelveHourBit = 64;
constexpr int kPmBit = 32;

// One log record, positions from the record's first byte. Records carry no
// seconds register.
namespace LogRecord {
constexpr int kMinutes = 1;
constexpr int kFirstSensor = 7;  // 16-bit values, high byte first
constexpr int kTwoSensorSize = 11;
constexpr int kTwoSensorStatus = 11;
constexpr int kEightSensorSize = 23;
constexpr int kEightSensorStatus = 23;
// Status bits.
constexpr int kDoor1Closed = 1;
constexpr int kDoor2Closed = 2;
constexpr int kPowerOn = 4;
}  // namespace LogRecord

// The device's answer texts.
QString UploadFailedText();  // "Upload failed"
QString ResetTimeText();     // "Reset Time"

// Two decimal digits, tens in the high nibble (0-99).
int ToBCD(int n);

// Writes the clock registers of Clock::Now() into bytes 5-11 of `request`
// (60 bytes). Hour 0 is written as 12 AM and the PM bit follows the hour:
// the chip knows no hour 0 in 12-hour mode.
bool EncodeClock(QByteArray& request);

// The date and time of the clock registers whose minutes register is at
// `p` (the seconds at p - 1, read as 0 before the data's start), as general
// date text. False and "Reset Time" when a register is not BCD or the hours
// register is not in 12-hour mode; " Reset Time" is appended to a text that
// is no valid date.
bool DecodeClockText(const QByteArray& data, int p, QString& text);

// Sets the device's clock to now and its log rate. True with the device's
// answer in `result`; false with "Upload failed" in it.
bool StoreDateTime(const QString& ipAddress, int updateRate, QByteArray& result);

// The clock text, log rate and log size of a CmdLog02 answer. The size is
// read unsigned: a log of 32768 bytes or more is not a negative number.
void DecodeLogParameters(const QByteArray& answer, QString& dateText, int& updateRate,
                         qint32& logSize);

// Reads the device's clock and log parameters. When the device does not
// answer, `dateText` says so and the other two are left as they were.
bool ReadLogParameters(const QString& ipAddress, QString& dateText, int& updateRate,
                       qint32& logSize);

// Downloads `expectedLength` bytes of log. False with "Fail" in `data` when
// the size is not above 0, the device does not send it all or is busy.
bool DownloadLog(const QString& ipAddress, QByteArray& data, int resetFlag, int expectedLength);

// The file that keeps the last downloaded log, in the program directory.
QString DownloadFileName();  // "LastDownloadedDataLogFile.bin"
// Replaces the file completely with `data`, unchanged. False with the reason
// in `error`; `path` is the file's full path either way.
bool SaveDownloadedLog(const QByteArray& data, QString& path, QString* error = nullptr);

// Which devices keep a clock and a log, and how their log is laid out.
enum class LogKind { None, TwoSensor, EightSensor };
LogKind LogKindOf(const Protocol::Identification& id);
bool ReadsLogParameters(const Protocol::Identification& id);
// Whether the registry window offers the data-log frame for the device.
bool HasOnBoardLog(const Protocol::Identification& id);

// A decoded log: the header texts and, per record, the record number
// followed by the other columns' texts.
struct LogGrid {
    QStringList header;
    QList<QStringList> rows;
};

bool DecodeTwoSensorLog(const QByteArray& data, int firmwareBuild, LogGrid& grid);
bool DecodeEightSensorLog(const QByteArray& data, LogGrid& grid);
// Chooses the decoder by the device's identification; false, and the grid
// unchanged, for a device without a log.
bool DecodeLog(const QByteArray& data, const Protocol::Identification& id, LogGrid& grid);

// Appends the grid's rows to `fileName` as comma-separated lines (CR LF),
// with the header line first when the file is empty. A write that fails
// leaves the file as it was.
bool ExportLogCsv(const LogGrid& grid, int deviceFamily, const QString& fileName,
                  QString* error = nullptr);

// The log grid as the registry window shows it.
class LogGridModel : public QAbstractTableModel {
  public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetGrid(const LogGrid& grid);
    const LogGrid& Grid() const { return grid_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    LogGrid grid_;
};

}  // namespace Ds1337
