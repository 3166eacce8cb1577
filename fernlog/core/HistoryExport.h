#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "core/DataLogs.h"
#include "db/ServerDatabase.h"

// The readings of the per-sensor monthly data logs as CSV text: a header
// line, then one line per reading (time, device, sensor, value, unit,
// status), sensor by sensor in ID order, each sensor's readings in time
// order. UTF-8, lines ended by CR LF, fields quoted only when they hold a
// comma, a quote or a line break.
namespace HistoryExport {

// Which readings to export. Times are inclusive; an invalid one is open.
struct Filter {
    std::optional<qint64> sensorId;
    std::optional<QString> device;  // as the description files hold it
    QDateTime from;
    QDateTime to;
};

// "yyyy-MM-dd", "yyyy-MM-dd HH:mm" or "yyyy-MM-dd HH:mm:ss" (a 'T' may
// stand for the blank). A bare date is the start of the day, or with
// `endOfDay` its last second. The wall-clock time as typed, held as UTC
// like the times read from the files. nullopt for anything else.
std::optional<QDateTime> ParseTime(const QString& text, bool endOfDay);

// The folders the program writes the data logs of a program directory to:
// the directory itself, then the log directory of its settings file when
// one is set and is another folder. A settings file that cannot be read,
// or a log directory that is missing, adds a warning and leaves it out.
QStringList LogDirectories(const QString& programDir, QStringList* warnings = nullptr);

struct Summary {
    qint64 rows = 0;
    int sensors = 0;       // sensors with at least one row
    QStringList warnings;  // damaged files whose whole records were exported
};

using Sink = std::function<bool(const QByteArray&)>;
using AlarmPeriods = QList<ServerDatabase::AlarmPeriod>;

// The alarm records of the program directory's database, to mark the
// readings taken during an alarm. Without a database, or when it cannot be
// read, none, with a warning saying that no reading is marked.
AlarmPeriods ReadAlarmPeriods(QStringList* warnings = nullptr);

// Whether a reading stamped `when` (wall-clock time held as UTC) was taken
// during one of `periods` of its sensor. The reading that raised an alarm
// is logged moments before its record is opened, and the one that ended it
// moments before it is closed: a period runs from just before its start to
// just before its end, or on while open.
bool DuringAlarm(const AlarmPeriods& periods, qint64 sensorId, const QDateTime& when);

// Writes the CSV of the readings in `directories` that pass `filter` to
// `sink`, piece by piece. False with the reason in *error for an unknown
// sensor or device (the device named without regard to case; the error
// lists the names there are), a description file of the wrong size, no
// readings to export (then `sink` got nothing), a file that cannot be read,
// or a sink that refused a piece. Where the folders hold the same month of a
// sensor, the copy with more readings is read. An ordinary reading taken
// during one of `alarms` has the status "ALARM".
bool Export(const QStringList& directories, const Filter& filter, const Sink& sink,
            Summary& summary, QString* error = nullptr, const AlarmPeriods& alarms = {});

// The same into a file, replaced only when everything was written.
bool ExportToFile(const QStringList& directories, const Filter& filter, const QString& path,
                  Summary& summary, QString* error = nullptr, const AlarmPeriods& alarms = {});

// The folders the running program writes to: the program directory and
// the log directory in use (not the settings file, which the settings
// dialog may have changed since).
QStringList CurrentDirectories();

// The main window's export of one sensor: its history into `path`, and the
// sentence telling the user how it went.
bool ExportSensorHistory(qint64 sensorId, const QString& path, QString& message);

// The readings of one sensor, as the export reads them: the same choice
// of copies, the same times (wall-clock time held as UTC, compared as
// written), in time order.
struct Reading {
    qint64 key;  // seconds of the wall-clock time, for ordering
    QDateTime when;
    float value;
};
struct SensorLog {
    bool described = false;  // its description file was there
    DataLogs::DescriptionRecord description;
    std::vector<Reading> readings;
    QStringList warnings;
};
// Between `from` and `to` (inclusive; an invalid one is open). False with
// the reason when the folders hold no data log of the sensor, or a file
// cannot be read or has the wrong size.
bool ReadSensor(const QStringList& directories, qint64 sensorId, const QDateTime& from,
                const QDateTime& to, SensorLog& out, QString* error = nullptr);

// The unit as people write it: the description keeps "%RH" cut to "%R".
QString UnitText(const QString& stored);

// The parts of a line, for the tests and the window's own texts.
QString CsvField(const QString& text);
// "OK" for an ordinary value ("ALARM" when taken during an alarm), else
// what the special value means ("Sensor Open", "Sensor Shorted", "Not
// Connected", "No Data").
QString StatusText(float value, bool duringAlarm = false);

}  // namespace HistoryExport
