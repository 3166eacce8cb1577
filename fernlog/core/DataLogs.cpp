#include "core/DataLogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>
#include <cstring>
#include <limits>

#include "common/Ansi.h"
#include "common/Clock.h"
#include "common/SafeFile.h"
#include "db/ErrorLog.h"

namespace DataLogs {
namespace {

void AppendSingle(QByteArray& out, float value) {
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    char raw[4];
    qToLittleEndian(bits, raw);
    out.append(raw, 4);
}

float SingleAt(const QByteArray& in, int offset) {
    const quint32 bits = qFromLittleEndian<quint32>(in.constData() + offset);
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

QString InDir(const QString& directory, const QString& name) {
    return QDir(directory).filePath(name);
}

// Writes the last record of a file at a byte offset; the file is created
// when missing, and a torn record after it is cut off. A write that fails
// part-way leaves the file as it was, never a torn record of its own.
bool WriteRecord(const QString& path, qint64 offset, const QByteArray& record, QString& error) {
    return SafeFile::WriteTail(path, offset, record, &error);
}

// A directory that cannot be written (an unplugged log drive) fails every
// writer of every sensor in every cycle. The error log keeps the first
// failure of each writer in each directory and, once writing works again,
// how many followed: it stays readable and the database bounded.
struct Outage {
    QString function;
    int repeats = 0;
};

QHash<QString, Outage>& Outages() {
    static QHash<QString, Outage> outages;
    return outages;
}

QString OutageKey(const QString& directory, const char* writer) {
    return QDir::cleanPath(directory) + QLatin1Char('|') + QLatin1String(writer);
}

void Failed(const QString& directory, const char* writer, const QString& function,
            const QString& cause) {
    auto it = Outages().find(OutageKey(directory, writer));
    if (it != Outages().end()) {
        ++it->repeats;
        return;
    }
    ErrorLog::RecordError(function, cause);
    Outages().insert(OutageKey(directory, writer), Outage{function, 0});
}

void Succeeded(const QString& directory, const char* writer) {
    if (Outages().isEmpty()) return;
    const auto it = Outages().constFind(OutageKey(directory, writer));
    if (it == Outages().constEnd()) return;
    if (it->repeats > 0) {
        ErrorLog::RecordError(it->function,
                              QStringLiteral("%1 more failures of this kind until writing worked "
                                             "again at %2.")
                                  .arg(it->repeats)
                                  .arg(Clock::GeneralDateText()));
    }
    Outages().erase(it);
}

// The start of the last hourly period of each file, with the file size it
// was read at: the next reading of the same hour needs no date parsing.
struct PeriodStart {
    qint64 size = -1;
    QDateTime start;
};

QHash<QString, PeriodStart>& PeriodStarts() {
    static QHash<QString, PeriodStart> starts;
    return starts;
}

// Whole records in a file. A torn record at the end (a write cut short) is
// not counted, so the next record overwrites it.
qint64 RecordCount(const QString& path, int length) {
    const QFileInfo info(path);
    return info.exists() ? info.size() / length : 0;
}

// Hour boundaries crossed between two moments.
qint64 HourBoundaries(const QDateTime& from, const QDateTime& to) {
    auto hourStart = [](const QDateTime& t) {
        return QDateTime(t.date(), QTime(t.time().hour(), 0));
    };
    return hourStart(from).secsTo(hourStart(to)) / 3600;
}
}  // namespace

QString DescriptionFileName(qint64 sensorId) {
    return QStringLiteral("Sensor-%1.dat").arg(sensorId);
}

QString AverageFileName(qint64 sensorId) {
    return QStringLiteral("Sensor-%1 Average.dat").arg(sensorId);
}

QString InstantaneousFileName(qint64 sensorId, const QDateTime& when) {
    return QStringLiteral("Sensor-%1 Instantaneous Data Created %2-%3.dat")
        .arg(sensorId)
        .arg(when.date().month())
        .arg(when.date().year());
}

QByteArray EncodeDescription(const QString& deviceName, const QString& sensorName,
                             const QString& units) {
    return Ansi::Field(deviceName, 20) + Ansi::Field(sensorName, 20) + Ansi::Field(units, 2);
}

QByteArray EncodeAverage(const AverageRecord& record) {
    QByteArray out = Ansi::Field(record.dateText, kDateTextLength);
    AppendSingle(out, record.total);
    AppendSingle(out, record.minimum);
    AppendSingle(out, record.maximum);
    char raw[4];
    qToLittleEndian(record.count, raw);
    out.append(raw, 4);
    return out;
}

std::optional<AverageRecord> DecodeAverage(const QByteArray& bytes) {
    if (bytes.size() != kAverageLength) return std::nullopt;
    AverageRecord r;
    r.dateText = Ansi::Trimmed(bytes.left(kDateTextLength));
    r.total = SingleAt(bytes, 25);
    r.minimum = SingleAt(bytes, 29);
    r.maximum = SingleAt(bytes, 33);
    r.count = qFromLittleEndian<qint32>(bytes.constData() + 37);
    return r;
}

QByteArray EncodeInstant(const QDateTime& when, float value) {
    QByteArray out = Ansi::Field(Clock::GeneralDateText(when), kDateTextLength);
    AppendSingle(out, value);
    return out;
}

bool SaveSensorDatToFile(const QString& directory, qint64 sensorId, const QString& sensorName,
                         const QString& deviceName, const QString& units) {
    const QString name = DescriptionFileName(sensorId);
    QString error;
    // Always exactly one record, written over the old one in place: a
    // truncated file would lose the description if the write then failed.
    if (!WriteRecord(InDir(directory, name), 0, EncodeDescription(deviceName, sensorName, units),
                     error)) {
        Failed(directory, "description", QStringLiteral("Function: SaveSensorDatToFile() ") + name,
               error);
        return false;
    }
    Succeeded(directory, "description");
    return true;
}

bool SaveAverage(const QString& directory, qint64 sensorId, float value) {
    return SaveAverage(directory, sensorId, value, Clock::Now());
}

bool SaveAverage(const QString& directory, qint64 sensorId, float value, const QDateTime& now) {
    const QString name = AverageFileName(sensorId);
    const QString path = InDir(directory, name);
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : 0;
    const qint64 n = size / kAverageLength;
    QDateTime periodStart;

    AverageRecord record;
    qint64 index = n;  // 0-based index of the record to write
    bool newPeriod = true;
    if (n > 0) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.seek((n - 1) * kAverageLength)) {
            if (auto last = DecodeAverage(file.read(kAverageLength))) {
                const PeriodStart known = PeriodStarts().value(path);
                const QDateTime start =
                    known.size == size ? known.start : Clock::FromGeneralDateText(last->dateText);
                // A period whose date cannot be read is closed, not extended;
                // so is one dated after now (the clock was set back) and one
                // whose count cannot grow any more (a damaged file).
                if (start.isValid() && HourBoundaries(start, now) == 0 && last->count >= 0 &&
                    last->count < std::numeric_limits<qint32>::max()) {
                    periodStart = start;
                    record = *last;
                    newPeriod = false;
                    index = n - 1;
                }
            }
        }
    }
    if (newPeriod) {
        record.dateText = Clock::GeneralDateText(now);
        record.total = record.minimum = record.maximum = value;
        record.count = 1;
    } else {
        record.total += value;
        record.count += 1;
        if (value > record.maximum) record.maximum = value;
        if (value < record.minimum) record.minimum = value;
    }
    QString error;
    if (!WriteRecord(path, index * kAverageLength, EncodeAverage(record), error)) {
        PeriodStarts().remove(path);
        Failed(directory, "average", QStringLiteral("Error saving data to ") + name, error);
        return false;
    }
    PeriodStarts().insert(path, {(index + 1) * kAverageLength, newPeriod ? now : periodStart});
    Succeeded(directory, "average");
    return true;
}

bool SaveInstantaneous(const QString& directory, qint64 sensorId, float value) {
    return SaveInstantaneous(directory, sensorId, value, Clock::Now());
}

bool SaveInstantaneous(const QString& directory, qint64 sensorId, float value,
                       const QDateTime& now) {
    const QString name = InstantaneousFileName(sensorId, now);
    const QString path = InDir(directory, name);
    QString error;
    if (!WriteRecord(path, RecordCount(path, kInstantLength) * kInstantLength,
                     EncodeInstant(now, value), error)) {
        Failed(directory, "instant", QStringLiteral("Error saving data to ") + name, error);
        return false;
    }
    Succeeded(directory, "instant");
    return true;
}

void Reset() {
    Outages().clear();
    PeriodStarts().clear();
}

bool SaveReading(const QString& directory, qint64 sensorId, const QString& sensorName,
                 const QString& deviceName, const QString& units, float value) {
    return SaveReading(directory, sensorId, sensorName, deviceName, units, value, Clock::Now());
}

bool SaveReading(const QString& directory, qint64 sensorId, const QString& sensorName,
                 const QString& deviceName, const QString& units, float value,
                 const QDateTime& when) {
    const bool description =
        SaveSensorDatToFile(directory, sensorId, sensorName, deviceName, units);
    const bool average = SaveAverage(directory, sensorId, value, when);
    const bool instant = SaveInstantaneous(directory, sensorId, value, when);
    return description && average && instant;
}

}  // namespace DataLogs

// ---------------------------------------------------------------------------
// Reading the files back

namespace DataLogs {

std::optional<DescriptionRecord> DecodeDescription(const QByteArray& bytes) {
    if (bytes.size() != kDescriptionLength) return std::nullopt;
    return DescriptionRecord{Ansi::Trimmed(bytes.left(20)), Ansi::Trimmed(bytes.mid(20, 20)),
                             Ansi::Trimmed(bytes.mid(40, 2))};
}

std::optional<InstantRecord> DecodeInstant(const QByteArray& bytes) {
    if (bytes.size() != kInstantLength) return std::nullopt;
    InstantRecord r;
    r.dateText = Ansi::Trimmed(bytes.left(kDateTextLength));
    r.when = Clock::FromGeneralDateTextAsWritten(r.dateText);
    r.value = SingleAt(bytes, kDateTextLength);
    return r;
}

namespace {
// A whole number of at most 18 digits (an IDNum, a year), nothing else.
std::optional<qint64> Digits(QStringView text) {
    if (text.isEmpty() || text.size() > 18) return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    }
    return text.toLongLong();
}
}  // namespace

std::optional<qint64> DescriptionFileSensor(const QString& fileName) {
    const QLatin1String head("Sensor-"), tail(".dat");
    if (!fileName.startsWith(head) || !fileName.endsWith(tail)) return std::nullopt;
    return Digits(
        QStringView(fileName).mid(head.size(), fileName.size() - head.size() - tail.size()));
}

std::optional<InstantFileKey> InstantaneousFileKey(const QString& fileName) {
    const QLatin1String head("Sensor-"), middle(" Instantaneous Data Created "), tail(".dat");
    if (!fileName.startsWith(head) || !fileName.endsWith(tail)) return std::nullopt;
    const qsizetype at = fileName.indexOf(middle, head.size());
    if (at < 0) return std::nullopt;
    const QStringView view(fileName);
    const QStringView monthYear =
        view.mid(at + middle.size(), view.size() - at - middle.size() - tail.size());
    const qsizetype dash = monthYear.indexOf(QLatin1Char('-'));
    if (dash < 0) return std::nullopt;
    const auto id = Digits(view.mid(head.size(), at - head.size()));
    const auto month = Digits(monthYear.left(dash));
    const auto year = Digits(monthYear.mid(dash + 1));
    // The writer puts the month without a leading zero and four year digits.
    if (!id || !month || !year || *month < 1 || *month > 12 ||
        monthYear.left(dash).startsWith(QLatin1Char('0')) || monthYear.size() - dash - 1 != 4) {
        return std::nullopt;
    }
    return InstantFileKey{*id, static_cast<int>(*month), static_cast<int>(*year)};
}

}  // namespace DataLogs
