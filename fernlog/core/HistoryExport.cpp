#include "core/HistoryExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <limits>
#include <map>
#include <vector>

#include "common/Ansi.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/DataLogs.h"
#include "core/Decoding.h"
#include "core/SensorState.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "db/Database.h"

namespace HistoryExport {
namespace {

const QByteArray kHeader = "time,device,sensor,value,unit,status\r\n";
constexpr qsizetype kChunk = 64 * 1024;

// Times as the files hold them: wall-clock time without a zone. Sorting
// and filtering on this key, not on instants, keeps every reading exactly
// as it was stamped, even in an hour that a clock change repeats, and
// whether the filter's times are held as local time or as UTC.
qint64 WallKey(const QDate& date, const QTime& time) {
    return date.toJulianDay() * 86400 + time.msecsSinceStartOfDay() / 1000;
}

qint64 WallKey(const QDateTime& when) {
    return WallKey(when.date(), when.time());
}

QString IsoText(const QDateTime& when) {
    return QLocale::c().toString(when, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
}

// One month's file of a sensor, in the folder that holds the most of it.
struct MonthFile {
    QString path;
    qint64 size = 0;
};

struct SensorFiles {
    QString descriptionPath;
    std::map<std::pair<int, int>, MonthFile> months;  // (year, month)
    DataLogs::DescriptionRecord description;
};

void Collect(const QStringList& directories, std::map<qint64, SensorFiles>& sensors) {
    for (const QString& directory : directories) {
        const QDir dir(directory);
        const QFileInfoList files =
            dir.entryInfoList({QStringLiteral("Sensor-*.dat")}, QDir::Files, QDir::Name);
        for (const QFileInfo& file : files) {
            const QString name = file.fileName();
            if (const auto id = DataLogs::DescriptionFileSensor(name)) {
                SensorFiles& s = sensors[*id];
                if (s.descriptionPath.isEmpty()) s.descriptionPath = file.filePath();
            } else if (const auto key = DataLogs::InstantaneousFileKey(name)) {
                MonthFile& m = sensors[key->sensorId].months[{key->year, key->month}];
                // Both copies get the same readings; the one with fewer
                // missed some while its folder could not be written.
                const qint64 records = file.size() / DataLogs::kInstantLength;
                if (m.path.isEmpty() || records > m.size / DataLogs::kInstantLength) {
                    m = {file.filePath(), file.size()};
                }
            }
        }
    }
}

bool ReadDescription(SensorFiles& s, QString& error) {
    QFile file(s.descriptionPath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2")
                    .arg(QDir::toNativeSeparators(s.descriptionPath), file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(DataLogs::kDescriptionLength + 1);
    const auto decoded = DataLogs::DecodeDescription(bytes);
    if (!decoded) {
        error = QStringLiteral("%1 is %2 bytes long; a sensor description file is %3 bytes")
                    .arg(QDir::toNativeSeparators(s.descriptionPath))
                    .arg(QFileInfo(s.descriptionPath).size())
                    .arg(DataLogs::kDescriptionLength);
        return false;
    }
    s.description = *decoded;
    return true;
}

bool MonthInRange(int year, int month, const Filter& filter) {
    const QDate first(year, month, 1);
    if (filter.to.isValid() && WallKey(first, QTime(0, 0)) > WallKey(filter.to)) return false;
    if (filter.from.isValid() && WallKey(first.addMonths(1), QTime(0, 0)) <= WallKey(filter.from)) {
        return false;
    }
    return true;
}

// The readings of one file that pass the filter; the damage seen goes to
// `warnings`.
bool ReadMonth(const MonthFile& month, const Filter& filter, std::vector<Reading>& out,
               QStringList& warnings, QString& error) {
    QFile file(month.path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2")
                    .arg(QDir::toNativeSeparators(month.path), file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2")
                    .arg(QDir::toNativeSeparators(month.path), file.errorString());
        return false;
    }
    const qsizetype records = bytes.size() / DataLogs::kInstantLength;
    if (const qsizetype torn = bytes.size() % DataLogs::kInstantLength) {
        // A write cut short; the program overwrites it with the next reading.
        warnings << QStringLiteral(
                        "%1 ends in a torn record of %2 bytes; its %3 whole records "
                        "were exported")
                        .arg(QDir::toNativeSeparators(month.path))
                        .arg(torn)
                        .arg(records);
    }
    const qint64 from = filter.from.isValid() ? WallKey(filter.from) : 0;
    const qint64 to = filter.to.isValid() ? WallKey(filter.to) : std::numeric_limits<qint64>::max();
    int undated = 0;
    for (qsizetype i = 0; i < records; ++i) {
        const auto r = DataLogs::DecodeInstant(
            bytes.mid(i * DataLogs::kInstantLength, DataLogs::kInstantLength));
        if (!r || !r->when.isValid()) {
            ++undated;
            continue;
        }
        const qint64 key = WallKey(r->when);
        if (key < from || key > to) continue;
        out.push_back({key, r->when, r->value});
    }
    if (undated > 0) {
        warnings << QStringLiteral("%1 records of %2 have no readable date and were left out")
                        .arg(undated)
                        .arg(QDir::toNativeSeparators(month.path));
    }
    return true;
}

QString RangeText(const Filter& filter) {
    QString text;
    if (filter.from.isValid()) text += QStringLiteral(" from ") + IsoText(filter.from);
    if (filter.to.isValid()) text += QStringLiteral(" to ") + IsoText(filter.to);
    return text;
}

QString FoldersText(const QStringList& directories) {
    QStringList shown;
    for (const QString& d : directories) shown << QDir::toNativeSeparators(d);
    return shown.join(QStringLiteral(" or "));
}

// The program directory, and the log directory when it is set and is
// another folder, as the program chooses where to write its copies.
QStringList WithLogDirectory(const QString& programDir, const QString& stored,
                             QStringList* warnings) {
    const QString logDir = stored.trimmed();
    if (logDir.isEmpty()) return {programDir};
    const QFileInfo info(logDir);
    if (!info.isDir()) {
        if (warnings) {
            *warnings << QStringLiteral("the log directory %1 does not exist; only %2 is read")
                             .arg(QDir::toNativeSeparators(logDir),
                                  QDir::toNativeSeparators(programDir));
        }
        return {programDir};
    }
    if (info.canonicalFilePath() == QFileInfo(programDir).canonicalFilePath()) return {programDir};
    return {programDir, logDir};
}

// The quoted names, sorted without regard to case.
QString NamesText(QStringList names) {
    names.removeDuplicates();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    for (QString& name : names) name = QLatin1Char('"') + name + QLatin1Char('"');
    return names.join(QStringLiteral(", "));
}

bool Fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

std::optional<QDateTime> ParseTime(const QString& text, bool endOfDay) {
    const QString t = text.trimmed();
    const QDate date = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid() || t.size() < 10) return std::nullopt;
    if (t.size() == 10) {
        return QDateTime(date, endOfDay ? QTime(23, 59, 59) : QTime(0, 0), Qt::UTC);
    }
    if (t[10] != QLatin1Char(' ') && t[10] != QLatin1Char('T')) return std::nullopt;
    const QString clock = t.mid(11);
    QTime time = QTime::fromString(clock, QStringLiteral("HH:mm:ss"));
    if (!time.isValid()) time = QTime::fromString(clock, QStringLiteral("HH:mm"));
    if (!time.isValid()) return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

QStringList LogDirectories(const QString& programDir, QStringList* warnings) {
    const QString settingsPath = QDir(programDir).filePath(Settings::FileName());
    QFile file(settingsPath);
    if (!file.exists()) return {programDir};
    std::optional<ConfigRecord> record;
    if (file.open(QIODevice::ReadOnly)) record = Settings::Deserialize(file.readAll());
    if (!record) {
        if (warnings) {
            *warnings << QStringLiteral("cannot read the log directory from %1; only %2 is read")
                             .arg(QDir::toNativeSeparators(settingsPath),
                                  QDir::toNativeSeparators(programDir));
        }
        return {programDir};
    }
    return WithLogDirectory(programDir, record->LogDir.Text(), warnings);
}

QStringList CurrentDirectories() {
    return WithLogDirectory(ProgramDir::Path(), ServerData::LogDirInUse, nullptr);
}

QString UnitText(const QString& stored) {
    return stored == QLatin1String("%R") ? QStringLiteral("%RH") : stored;
}

bool ReadSensor(const QStringList& directories, qint64 sensorId, const QDateTime& from,
                const QDateTime& to, SensorLog& out, QString* error) {
    out = SensorLog{};
    std::map<qint64, SensorFiles> sensors;
    Collect(directories, sensors);
    const auto it = sensors.find(sensorId);
    if (it == sensors.end()) {
        return Fail(error, QStringLiteral("there are no data logs of sensor %1 in %2")
                               .arg(sensorId)
                               .arg(FoldersText(directories)));
    }
    SensorFiles& s = it->second;
    QString reason;
    if (!s.descriptionPath.isEmpty()) {
        if (!ReadDescription(s, reason)) return Fail(error, reason);
        out.described = true;
        out.description = s.description;
    }
    const Filter filter{sensorId, std::nullopt, from, to};
    for (const auto& [yearMonth, month] : s.months) {
        if (!MonthInRange(yearMonth.first, yearMonth.second, filter)) continue;
        if (!ReadMonth(month, filter, out.readings, out.warnings, reason)) {
            return Fail(error, reason);
        }
    }
    std::stable_sort(out.readings.begin(), out.readings.end(),
                     [](const Reading& a, const Reading& b) { return a.key < b.key; });
    return true;
}

bool ExportSensorHistory(qint64 sensorId, const QString& path, QString& message) {
    Filter filter;
    filter.sensorId = sensorId;
    Summary summary;
    QString error;
    QStringList warnings;
    const AlarmPeriods alarms = ReadAlarmPeriods(&warnings);
    if (!ExportToFile(CurrentDirectories(), filter, path, summary, &error, alarms)) {
        message = QStringLiteral("The history could not be exported: ") + error +
                  QStringLiteral(".  No file has been written.");
        return false;
    }
    message =
        (summary.rows == 1 ? QStringLiteral("%1 reading of sensor %2 has been exported to %3.")
                           : QStringLiteral("%1 readings of sensor %2 have been exported to %3."))
            .arg(summary.rows)
            .arg(sensorId)
            .arg(QDir::toNativeSeparators(path));
    for (const QString& warning : warnings + summary.warnings) {
        message += QStringLiteral("\n") + warning;
    }
    return true;
}

QString CsvField(const QString& text) {
    static const QString special = QStringLiteral(",\"\r\n");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); })) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString StatusText(float value, bool duringAlarm) {
    // The words of the status grid; for an ordinary value it gives the
    // number itself.
    QString text;
    SensorState::ReadingText(value, QString(), text);
    if (text != Decoding::NumberText(value)) return text;
    return duringAlarm ? QStringLiteral("ALARM") : QStringLiteral("OK");
}

AlarmPeriods ReadAlarmPeriods(QStringList* warnings) {
    AlarmPeriods periods;
    const QString path = Database::Path();
    QString error;
    if (!QFileInfo::exists(path)) {
        error = QStringLiteral("there is no %1").arg(QDir::toNativeSeparators(path));
    } else if (ServerDatabase::ListAlarmPeriods(periods, &error)) {
        return periods;
    } else {
        error = QStringLiteral("the alarm records of %1 cannot be read (%2)")
                    .arg(QDir::toNativeSeparators(path), error);
    }
    if (warnings) *warnings << error + QStringLiteral("; no reading is marked ALARM");
    return {};
}

bool DuringAlarm(const AlarmPeriods& periods, qint64 sensorId, const QDateTime& when) {
    // Shorter than the shortest update period (5 s), so that the readings
    // before and after an alarm stay outside it.
    constexpr qint64 kLogLead = 2;
    const qint64 at = WallKey(when);
    for (const ServerDatabase::AlarmPeriod& p : periods) {
        if (p.sensorId != sensorId) continue;
        if (at < WallKey(p.start) - kLogLead) continue;
        if (!p.end.isValid() || at < WallKey(p.end) - kLogLead) return true;
    }
    return false;
}

bool Export(const QStringList& directories, const Filter& filter, const Sink& sink,
            Summary& summary, QString* error, const AlarmPeriods& alarms) {
    summary = Summary{};
    std::map<qint64, SensorFiles> sensors;
    Collect(directories, sensors);

    // Everything that can refuse the export is settled before the first
    // byte goes out.
    if (sensors.empty()) {
        return Fail(error,
                    QStringLiteral("there are no data logs in %1").arg(FoldersText(directories)));
    }
    std::vector<qint64> chosen;
    if (filter.sensorId) {
        if (!sensors.count(*filter.sensorId)) {
            return Fail(error, QStringLiteral("there are no data logs of sensor %1 in %2")
                                   .arg(*filter.sensorId)
                                   .arg(FoldersText(directories)));
        }
        chosen.push_back(*filter.sensorId);
    } else {
        for (const auto& entry : sensors) chosen.push_back(entry.first);
    }
    QString reason;
    std::vector<qint64> kept;
    QStringList deviceNames;
    const QString wantedDevice =
        filter.device ? Ansi::Trimmed(Ansi::Field(*filter.device, 20)) : QString();
    for (const qint64 id : chosen) {
        SensorFiles& s = sensors[id];
        if (s.descriptionPath.isEmpty()) {
            // Without its description a sensor's readings are still worth
            // having; they cannot belong to a device asked for by name.
            if (filter.device) continue;
            if (!s.months.empty()) {
                summary.warnings << QStringLiteral(
                                        "there is no description file %1 in %2; the "
                                        "readings of sensor %3 have no device or "
                                        "sensor name")
                                        .arg(DataLogs::DescriptionFileName(id),
                                             FoldersText(directories))
                                        .arg(id);
            }
        } else if (!ReadDescription(s, reason)) {
            return Fail(error, reason);
        }
        // People type names as they say them, not as the registry spells
        // them.
        if (filter.device) {
            deviceNames << s.description.deviceName;
            if (s.description.deviceName.compare(wantedDevice, Qt::CaseInsensitive) != 0) continue;
        }
        kept.push_back(id);
    }
    if (filter.device && kept.empty()) {
        return Fail(error,
                    QStringLiteral("no sensor of the device \"%1\" has data logs in %2; "
                                   "the devices with data logs are %3")
                        .arg(*filter.device, FoldersText(directories), NamesText(deviceNames)));
    }

    bool headerSent = false;
    QByteArray pending;
    auto flush = [&] {
        const bool ok = pending.isEmpty() || sink(pending);
        pending.clear();
        return ok;
    };
    for (const qint64 id : kept) {
        const SensorFiles& s = sensors[id];
        std::vector<Reading> readings;
        for (const auto& [yearMonth, month] : s.months) {
            if (!MonthInRange(yearMonth.first, yearMonth.second, filter)) continue;
            if (!ReadMonth(month, filter, readings, summary.warnings, reason)) {
                return Fail(error, reason);
            }
        }
        if (readings.empty()) continue;
        // Records follow the clock; one set back leaves them out of order.
        std::stable_sort(readings.begin(), readings.end(),
                         [](const Reading& a, const Reading& b) { return a.key < b.key; });
        if (!headerSent) {
            pending += kHeader;
            headerSent = true;
        }
        const QString names = QLatin1Char(',') + CsvField(s.description.deviceName) +
                              QLatin1Char(',') + CsvField(s.description.sensorName) +
                              QLatin1Char(',');
        const QString unit = CsvField(UnitText(s.description.units));
        for (const Reading& r : readings) {
            const QString line = IsoText(r.when) + names + Decoding::NumberText(r.value) +
                                 QLatin1Char(',') + unit + QLatin1Char(',') +
                                 CsvField(StatusText(r.value, DuringAlarm(alarms, id, r.when))) +
                                 QStringLiteral("\r\n");
            pending += line.toUtf8();
            if (pending.size() >= kChunk && !flush()) {
                return Fail(error, QStringLiteral("the export could not be written"));
            }
        }
        summary.rows += static_cast<qint64>(readings.size());
        ++summary.sensors;
    }
    if (!headerSent) {
        QString what = QStringLiteral("there are no readings to export");
        if (filter.sensorId) what += QStringLiteral(" of sensor %1").arg(*filter.sensorId);
        if (filter.device) what += QStringLiteral(" of the device \"%1\"").arg(*filter.device);
        return Fail(error, what + RangeText(filter));
    }
    if (!flush()) return Fail(error, QStringLiteral("the export could not be written"));
    return true;
}

bool ExportToFile(const QStringList& directories, const Filter& filter, const QString& path,
                  Summary& summary, QString* error, const AlarmPeriods& alarms) {
    // A careless name must not put CSV text over one of the files it reads.
    const QFileInfo target(path);
    const QString name = target.fileName();
    const bool logName =
        DataLogs::DescriptionFileSensor(name) || DataLogs::InstantaneousFileKey(name) ||
        (name.startsWith(QLatin1String("Sensor-")) && name.endsWith(QLatin1String(" Average.dat")));
    if (logName) {
        const QString folder = QFileInfo(target.absolutePath()).canonicalFilePath();
        for (const QString& d : directories) {
            if (!folder.isEmpty() && folder == QFileInfo(d).canonicalFilePath()) {
                return Fail(error, QStringLiteral("%1 is a data log file; choose another name")
                                       .arg(QDir::toNativeSeparators(path)));
            }
        }
    }
    SafeFile::Writer writer(path);
    if (!writer.Open(error)) return false;
    if (!Export(
            directories, filter, [&](const QByteArray& bytes) { return writer.Write(bytes); },
            summary, error, alarms)) {
        if (error && !writer.ErrorString().isEmpty()) *error = writer.ErrorString();
        writer.Discard();
        return false;
    }
    return writer.Commit(error);
}

}  // namespace HistoryExport
