#include "registry/Ds1337.h"

#include <QFileInfo>
#include <cmath>

#include "common/Clock.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/DeviceLink.h"
#include "protocol/Bytes.h"
#include "protocol/Commands.h"

namespace Ds1337 {
namespace {

using Protocol::ByteAt;

// The value of a BCD byte; false when a nibble is above 9.
bool FromBCD(int byte, int& value) {
    const int tens = (byte >> 4) & 0x0F;
    const int units = byte & 0x0F;
    if (tens > 9 || units > 9) return false;
    value = 10 * tens + units;
    return true;
}

void PutByte(QByteArray& data, int position, int value) {
    data[position - 1] = static_cast<char>(value & 0xFF);
}

QString SensorText(double value) {
    if (value == 1000) return QStringLiteral(" N\\C");
    if (value == 999) return QStringLiteral("Open");
    if (value == -999) return QStringLiteral("Short");
    return QString::number(value, 'f', 1);
}

void AddStatus(QStringList& row, int status) {
    using namespace LogRecord;
    row << ((status & kDoor1Closed) ? QStringLiteral("Closed") : QStringLiteral("Open"))
        << ((status & kDoor2Closed) ? QStringLiteral("Closed") : QStringLiteral("Open"))
        << ((status & kPowerOn) ? QStringLiteral("On") : QStringLiteral("Off"));
}

int RecordCount(const QByteArray& data, int recordSize) {
    return static_cast<int>(std::lround(static_cast<double>(data.size()) / recordSize));
}

// A last record cut short by the download: its bytes would decode into a
// date and values that the device never stored.
QStringList IncompleteRow(int record) {
    return {QString::number(record), QStringLiteral("Incomplete record")};
}

QString CsvText(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QString UploadFailedText() {
    return QStringLiteral("Upload failed");
}

QString ResetTimeText() {
    return QStringLiteral("Reset Time");
}

int ToBCD(int n) {
    return (n % 10) + 16 * ((n - n % 10) / 10);
}

bool EncodeClock(QByteArray& request) {
    using namespace ClockLayout;
    const QDateTime now = Clock::Now();
    const int hour24 = now.time().hour();
    const int hour12 = hour24 % 12 == 0 ? 12 : hour24 % 12;
    PutByte(request, kSeconds, 0);
    PutByte(request, kMinutes, ToBCD(now.time().minute()));
    PutByte(request, kHours, ToBCD(hour12) + (hour24 >= 12 ? kPmBit : 0) + kTwelveHourBit);
    PutByte(request, kWeekday, now.date().dayOfWeek() % 7 + 1);  // Sunday = 1
    PutByte(request, kDate, ToBCD(now.date().day()));
    PutByte(request, kMonth, ToBCD(now.date().month()));
    PutByte(request, kYear, ToBCD(now.date().year() - 2000));
    return true;
}

bool DecodeClockText(const QByteArray& data, int p, QString& text) {
    int seconds = 0, minutes = 0, hour = 0, day = 0, month = 0, year = 0;
    int h = ByteAt(data, p + 1) - kTwelveHourBit;
    QString suffix = QStringLiteral("AM");
    if (h >= kPmBit) {
        suffix = QStringLiteral("PM");
        h -= kPmBit;
    }
    // Register p + 2, the day of the week, is not shown.
    if (ByteAt(data, p + 1) < kTwelveHourBit || !FromBCD(ByteAt(data, p - 1), seconds) ||
        !FromBCD(ByteAt(data, p), minutes) || !FromBCD(h, hour) ||
        !FromBCD(ByteAt(data, p + 3), day) || !FromBCD(ByteAt(data, p + 4), month) ||
        !FromBCD(ByteAt(data, p + 5), year)) {
        text = ResetTimeText();
        return false;
    }
    text = QStringLiteral("%1/%2/%3 %4:%5:%6 %7")
               .arg(month)
               .arg(day)
               .arg(2000 + year)
               .arg(hour)
               .arg(minutes, 2, 10, QLatin1Char('0'))
               .arg(seconds, 2, 10, QLatin1Char('0'))
               .arg(suffix);
    if (!Clock::FromGeneralDateText(text).isValid()) text += QLatin1Char(' ') + ResetTimeText();
    return true;
}

bool StoreDateTime(const QString& ipAddress, int updateRate, QByteArray& result) {
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdLog00());
    EncodeClock(request);
    int high = 0, low = 0;
    Protocol::SplitWord(updateRate, high, low);
    PutByte(request, ClockLayout::kLogRate, low);
    QByteArray answer;
    if (DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, request, answer,
                               Protocol::kAnswerLength)) {
        result = answer;
        return true;
    }
    result = UploadFailedText().toLatin1();
    return false;
}

void DecodeLogParameters(const QByteArray& answer, QString& dateText, int& updateRate,
                         qint32& logSize) {
    DecodeClockText(answer, ClockLayout::kMinutes, dateText);
    updateRate = Protocol::ValueAt(answer, ClockLayout::kLogRate, 1);
    logSize = Protocol::ValueAt(answer, ClockLayout::kLogSize, 2) & 0xFFFF;
}

bool ReadLogParameters(const QString& ipAddress, QString& dateText, int& updateRate,
                       qint32& logSize) {
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdLog02());
    QByteArray answer;
    if (DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, request, answer,
                               Protocol::kAnswerLength) &&
        answer.left(4) == request.left(4)) {
        DecodeLogParameters(answer, dateText, updateRate, logSize);
    } else {
        dateText = QStringLiteral("Failed to read date and time from ") + ipAddress;
    }
    return true;
}

bool DownloadLog(const QString& ipAddress, QByteArray& data, int resetFlag, int expectedLength) {
    data = QByteArrayLiteral("Fail");
    // Without a size any answer, or none, would pass for the whole log.
    if (expectedLength <= 0) return false;
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdReadLog());
    PutByte(request, kResetFlag, resetFlag);
    QByteArray answer;
    // The log is not echoed, so the busy reply would pass on its length. A
    // record begins with a BCD minutes register, which is never B5: a log
    // never begins as the busy reply does.
    if (DeviceLink::ReadFromCV(ipAddress, Protocol::kDevicePort, request, answer, expectedLength,
                               Window::frmTreeConfiguration) &&
        !answer.startsWith(Protocol::ReplyBusy())) {
        data = answer;
        return true;
    }
    return false;
}

QString DownloadFileName() {
    return QStringLiteral("LastDownloadedDataLogFile.bin");
}

bool SaveDownloadedLog(const QByteArray& data, QString& path, QString* error) {
    path = ProgramDir::File(DownloadFileName());
    // Written beside and renamed over the old file: a shorter log never
    // leaves bytes of a longer one, and a failed write leaves the old file.
    return SafeFile::Replace(path, data, error);
}

LogKind LogKindOf(const Protocol::Identification& id) {
    if (id.family == 3) return LogKind::TwoSensor;
    if (id.family == 5 && id.build >= 23) return LogKind::EightSensor;
    return LogKind::None;
}

bool ReadsLogParameters(const Protocol::Identification& id) {
    return LogKindOf(id) != LogKind::None;
}

bool HasOnBoardLog(const Protocol::Identification& id) {
    if (id.family == 3) return true;
    return id.family == 5 &&
           ((id.model == 5 && id.build >= 23) || (id.model == 10 && id.build >= 24));
}

bool DecodeTwoSensorLog(const QByteArray& data, int firmwareBuild, LogGrid& grid) {
    using namespace LogRecord;
    grid.header = QStringList{QStringLiteral("Record #"), QStringLiteral("Date/Time"),
                              QStringLiteral("Sensor 1"), QStringLiteral("Sensor 2"),
                              QStringLiteral("Door 1"),   QStringLiteral("Door 2"),
                              QStringLiteral("Power")};
    grid.rows.clear();
    const int records = RecordCount(data, kTwoSensorSize);
    for (int r = 1; r <= records; ++r) {
        const QByteArray record = data.mid(kTwoSensorSize * (r - 1), kTwoSensorSize);
        if (record.size() < kTwoSensorSize) {
            grid.rows << IncompleteRow(r);
            continue;
        }
        QString date;
        DecodeClockText(record, kMinutes, date);
        QStringList row{QString::number(r), date};
        for (int k = 0; k < 2; ++k) {
            double v = Protocol::ValueAt(record, kFirstSensor + 2 * k, 2);
            if (firmwareBuild >= 5) v /= 10;
            row << SensorText(v);
        }
        AddStatus(row, Protocol::ValueAt(record, kTwoSensorStatus, 1));
        grid.rows << row;
    }
    return true;
}

bool DecodeEightSensorLog(const QByteArray& data, LogGrid& grid) {
    using namespace LogRecord;
    grid.header = QStringList{QStringLiteral("Record #"), QStringLiteral("Date/Time")};
    for (int k = 1; k <= 8; ++k) grid.header << QStringLiteral("Sensor %1").arg(k);
    grid.header << QStringLiteral("Door 1") << QStringLiteral("Door 2") << QStringLiteral("Power");
    grid.rows.clear();
    const int records = RecordCount(data, kEightSensorSize);
    for (int r = 1; r <= records; ++r) {
        const QByteArray record = data.mid(kEightSensorSize * (r - 1), kEightSensorSize);
        if (record.size() < kEightSensorSize) {
            grid.rows << IncompleteRow(r);
            continue;
        }
        QString date;
        if (!DecodeClockText(record, kMinutes, date)) {
            grid.rows << QStringList{QString::number(r),
                                     QStringLiteral("Invalid Date/Time format")};
            continue;
        }
        QStringList row{QString::number(r), date};
        for (int k = 0; k < 8; ++k) {
            row << SensorText(Protocol::ValueAt(record, kFirstSensor + 2 * k, 2) / 10.0);
        }
        // The status byte carries the same three bits as the two-sensor
        // record's.
        AddStatus(row, Protocol::ValueAt(record, kEightSensorStatus, 1));
        grid.rows << row;
    }
    return true;
}

bool DecodeLog(const QByteArray& data, const Protocol::Identification& id, LogGrid& grid) {
    switch (LogKindOf(id)) {
        case LogKind::TwoSensor:
            return DecodeTwoSensorLog(data, id.build, grid);
        case LogKind::EightSensor:
            return DecodeEightSensorLog(data, grid);
        case LogKind::None:
            break;
    }
    return false;
}

bool ExportLogCsv(const LogGrid& grid, int deviceFamily, const QString& fileName, QString* error) {
    const int texts = deviceFamily == 3 ? 6 : 12;
    QByteArray out;
    if (QFileInfo(fileName).size() == 0 && (deviceFamily == 3 || deviceFamily == 5)) {
        QStringList header{QStringLiteral("Record Number"), QStringLiteral("Date/Time")};
        for (int k = 1; k <= (deviceFamily == 3 ? 2 : 8); ++k) {
            header << QStringLiteral("Sensor %1").arg(k);
        }
        header << QStringLiteral("Door 1") << QStringLiteral("Door 2") << QStringLiteral("Power");
        QStringList fields;
        for (const QString& h : header) fields << CsvText(h);
        out += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    for (int r = 0; r < grid.rows.size(); ++r) {
        const QStringList& row = grid.rows[r];
        QStringList fields{QString::number(r + 1)};
        for (int c = 1; c <= texts; ++c) fields << CsvText(row.value(c));
        out += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    // All rows or none: a cut-short export would leave half a line for the
    // next export to run on from, or a header that stops the next one
    // writing its own.
    return SafeFile::WriteTail(fileName, -1, out, error);
}

void LogGridModel::SetGrid(const LogGrid& grid) {
    beginResetModel();
    grid_ = grid;
    endResetModel();
}

int LogGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(grid_.rows.size());
}

int LogGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(grid_.header.size());
}

QVariant LogGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= grid_.rows.size()) {
        return {};
    }
    return grid_.rows[index.row()].value(index.column());
}

QVariant LogGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return grid_.header.value(section);
    return {};
}

}  // namespace Ds1337
