#include "core/SensorHistory.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <algorithm>
#include <limits>
#include <map>

#include "common/Clock.h"
#include "core/DataLogs.h"
#include "core/Decoding.h"
#include "core/HandlingStore.h"
#include "core/HistoryExport.h"
#include "core/Polling.h"

namespace SensorHistory {
namespace {

bool Fail(QString* error, const QString& reason) {
    if (error) *error = reason;
    return false;
}

// The wall-clock time as the files hold it.
QDateTime AsWritten(const QDateTime& when) {
    return QDateTime(when.date(), when.time(), Qt::UTC);
}

const char kReviewTable[] =
    "CREATE TABLE IF NOT EXISTS dayReviews (sensor INTEGER NOT NULL, day TEXT NOT NULL,"
    " by TEXT NOT NULL, at TEXT NOT NULL, PRIMARY KEY (sensor, day))";

// The sensor's description from the first folder that has it.
std::optional<DataLogs::DescriptionRecord> Description(qint64 sensorId) {
    for (const QString& directory : HistoryExport::CurrentDirectories()) {
        QFile file(QDir(directory).filePath(DataLogs::DescriptionFileName(sensorId)));
        if (!file.open(QIODevice::ReadOnly)) continue;
        if (auto d = DataLogs::DecodeDescription(file.read(DataLogs::kDescriptionLength + 1))) {
            return d;
        }
    }
    return std::nullopt;
}

}  // namespace

int UpdateSeconds() {
    return qMax(1, Polling::TicksPerUpdate) * Polling::kPollIntervalMs / 1000;
}

bool Read(qint64 sensorId, const QDateTime& from, const QDateTime& to, History& out,
          QString* error) {
    const QDateTime now = AsWritten(Clock::Now());
    const QDateTime end = to.isValid() && AsWritten(to) < now ? to : now;
    return Read(HistoryExport::CurrentDirectories(), UpdateSeconds(), sensorId, from, end, out,
                error);
}

bool Read(const QStringList& directories, int updateSeconds, qint64 sensorId, const QDateTime& from,
          const QDateTime& to, History& out, QString* error) {
    out = History{};
    HistoryExport::SensorLog log;
    if (!HistoryExport::ReadSensor(directories, sensorId, from, to, log, error)) return false;
    out.unit = HistoryExport::UnitText(log.description.units);
    out.device = log.description.deviceName;
    out.name = log.description.sensorName;
    // The spacing just before a step is the update period in force then,
    // which the settings may have changed since: a step is a gap when it is
    // far longer than both.
    const qint64 period = std::max(updateSeconds, 1);
    constexpr int kRecentSteps = 5;
    qint64 recent[kRecentSteps] = {};
    int steps = 0;
    qint64 limit = kGapPeriods * period;
    out.points.reserve(log.readings.size() + 16);
    const auto& readings = log.readings;
    for (size_t i = 0; i < readings.size(); ++i) {
        if (i > 0) {
            const qint64 step = readings[i].key - readings[i - 1].key;
            // The first step of the period has none before it: the one
            // after it stands in.
            const qint64 usual =
                steps > 0 ? *std::min_element(recent, recent + std::min(steps, kRecentSteps))
                : i + 1 < readings.size() ? std::min(step, readings[i + 1].key - readings[i].key)
                                          : step;
            limit = kGapPeriods * std::max(period, usual);
            if (step > limit) {
                out.points.emplace_back(readings[i - 1].when.addSecs(period), std::nullopt);
            }
            recent[steps++ % kRecentSteps] = step;
        }
        out.points.emplace_back(readings[i].when, Decoding::Measured(readings[i].value));
    }
    const HistoryExport::Reading* last = readings.empty() ? nullptr : &readings.back();
    // A sensor that stopped logging before the period ended ends in a gap.
    if (last) {
        const QDateTime end = to.isValid() ? AsWritten(to) : AsWritten(Clock::Now());
        if (last->when.secsTo(end) > limit) {
            out.points.emplace_back(last->when.addSecs(period), std::nullopt);
        }
    }
    return true;
}

std::vector<Day> Days(const History& history) {
    std::vector<Day> days;
    double total = 0;
    for (const auto& [when, value] : history.points) {
        if (!value) continue;
        const QDate date = when.date();
        if (days.empty() || days.back().date != date) {
            if (!days.empty()) days.back().mean = total / days.back().readings;
            days.push_back({date, *value, *value, 0, 0});
            total = 0;
        }
        Day& d = days.back();
        d.minimum = std::min(d.minimum, *value);
        d.maximum = std::max(d.maximum, *value);
        ++d.readings;
        total += *value;
    }
    if (!days.empty()) days.back().mean = total / days.back().readings;
    return days;
}

bool SignOffDay(qint64 sensorId, const QDate& date, const AlarmHandling::Actor& actor,
                QString* error) {
    if (!date.isValid()) return Fail(error, QStringLiteral("the day is no date"));
    if (date > Clock::Now().date()) {
        return Fail(error, QStringLiteral("%1 has not come yet").arg(date.toString(Qt::ISODate)));
    }
    const auto description = Description(sensorId);
    if (!description) {
        return Fail(error, QStringLiteral("there are no data logs of sensor %1").arg(sensorId));
    }
    const QString day = date.toString(Qt::ISODate);
    return AlarmHandling::WriteAudited(
        actor, QStringLiteral("day review"),
        [&](QSqlDatabase db, AlarmHandling::AuditEntry& entry, QString& reason, QString& refusal) {
            QSqlQuery query(db);
            if (!AlarmHandling::Run(query, QString::fromLatin1(kReviewTable), {}, reason) ||
                !AlarmHandling::Run(query,
                                    QStringLiteral("SELECT by FROM dayReviews WHERE sensor = ? "
                                                   "AND day = ?"),
                                    {sensorId, day}, reason)) {
                return false;
            }
            if (query.next()) {
                refusal = QStringLiteral("%1 of sensor %2 was already reviewed by %3")
                              .arg(day)
                              .arg(sensorId)
                              .arg(query.value(0).toString());
                return false;
            }
            if (!AlarmHandling::Run(
                    query,
                    QStringLiteral("INSERT INTO dayReviews (sensor, day, by, at) "
                                   "VALUES (?, ?, ?, ?)"),
                    {sensorId, day, actor.by.trimmed(), AlarmHandling::IsoText(Clock::Now())},
                    reason)) {
                return false;
            }
            entry.device = description->deviceName;
            entry.newValue = QStringLiteral("%1 of sensor %2 (%3) reviewed")
                                 .arg(day)
                                 .arg(sensorId)
                                 .arg(description->sensorName);
            return true;
        },
        error);
}

bool ListDayReviews(qint64 sensorId, QList<DayReview>& reviews, const QDate& since,
                    QString* error) {
    reviews.clear();
    // Without the store no day was ever reviewed; reading does not make it.
    if (!QFile::exists(AlarmHandling::Path())) return true;
    const auto db = AlarmHandling::Connection(error);
    if (!db) return false;
    QSqlQuery query(*db);
    QString reason;
    if (!AlarmHandling::Run(query, QString::fromLatin1(kReviewTable), {}, reason) ||
        !AlarmHandling::Run(
            query,
            QStringLiteral("SELECT day, by, at FROM dayReviews WHERE sensor = ? "
                           "AND day >= ? ORDER BY day"),
            {sensorId, since.isValid() ? since.toString(Qt::ISODate) : QStringLiteral("0000")},
            reason)) {
        return Fail(error, AlarmHandling::StoreRefusal() + reason);
    }
    while (query.next()) {
        reviews.append({sensorId, QDate::fromString(query.value(0).toString(), Qt::ISODate),
                        query.value(1).toString(),
                        QDateTime::fromString(query.value(2).toString(), Qt::ISODate)});
    }
    return true;
}

}  // namespace SensorHistory
