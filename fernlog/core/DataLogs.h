#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The three binary files kept per sensor: a one-record description, hourly
// statistics and a monthly file of every reading. Fixed-length records,
// blank-padded ANSI text, little-endian numbers. Every file is opened,
// written and closed again for each reading.
namespace DataLogs {

constexpr int kDescriptionLength = 42;
constexpr int kAverageLength = 41;
constexpr int kInstantLength = 29;
constexpr int kDateTextLength = 25;

// The hourly statistics record.
struct AverageRecord {
    QString dateText;  // general date text of the period's first reading
    float total = 0;
    float minimum = 0;
    float maximum = 0;
    qint32 count = 0;
};

QString DescriptionFileName(qint64 sensorId);
QString AverageFileName(qint64 sensorId);
QString InstantaneousFileName(qint64 sensorId, const QDateTime& when);

QByteArray EncodeDescription(const QString& deviceName, const QString& sensorName,
                             const QString& units);
QByteArray EncodeAverage(const AverageRecord& record);
std::optional<AverageRecord> DecodeAverage(const QByteArray& bytes);
QByteArray EncodeInstant(const QDateTime& when, float value);

// The writers; each is false when its file cannot be written. The first
// failure of a writer in a directory is recorded; later ones are counted and
// the count recorded when that writer works there again.
bool SaveSensorDatToFile(const QString& directory, qint64 sensorId, const QString& sensorName,
                         const QString& deviceName, const QString& units);
// `when` is the reading's time; without it, now.
bool SaveAverage(const QString& directory, qint64 sensorId, float value);
bool SaveAverage(const QString& directory, qint64 sensorId, float value, const QDateTime& when);
bool SaveInstantaneous(const QString& directory, qint64 sensorId, float value);
bool SaveInstantaneous(const QString& directory, qint64 sensorId, float value,
                       const QDateTime& when);

// Back to the state of a fresh start: no outage being counted.
void Reset();

// All three, in their order; true when all three were written.
bool SaveReading(const QString& directory, qint64 sensorId, const QString& sensorName,
                 const QString& deviceName, const QString& units, float value);
bool SaveReading(const QString& directory, qint64 sensorId, const QString& sensorName,
                 const QString& deviceName, const QString& units, float value,
                 const QDateTime& when);

// Reading the files back (the history export). Each decoder takes exactly
// one record and is nullopt for any other length.
struct DescriptionRecord {
    QString deviceName;
    QString sensorName;
    QString units;  // as stored: cut to 2 characters, "" for none
};
std::optional<DescriptionRecord> DecodeDescription(const QByteArray& bytes);

struct InstantRecord {
    QString dateText;
    QDateTime when;  // as written, held as UTC; invalid when the text is no date
    float value = 0;
};
std::optional<InstantRecord> DecodeInstant(const QByteArray& bytes);

// The sensor ID of a description file name ("Sensor-12.dat").
std::optional<qint64> DescriptionFileSensor(const QString& fileName);

// The sensor and month of a monthly file name.
struct InstantFileKey {
    qint64 sensorId = 0;
    int month = 0;
    int year = 0;
};
std::optional<InstantFileKey> InstantaneousFileKey(const QString& fileName);

}  // namespace DataLogs
