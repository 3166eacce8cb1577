#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "core/AlarmHandling.h"

// One sensor's readings over a period, read from its data log files, for
// charts and reports: the readings in time order with the gaps marked, the
// summary of each day, and who signed off a day as reviewed.
//
// Times are those the files hold: the wall-clock time as written, held as
// UTC (as core/HistoryExport reads them); `from` and `to` are compared by
// their date and time as given.
namespace SensorHistory {

struct History {
    QString unit;
    QString device, name;  // as its description file holds them
    // nullopt marks a gap: a reading that is a fault or no data, or a
    // silence of more than kGapPeriods update periods between readings
    // (stamped one update period after the last reading before it).
    std::vector<std::pair<QDateTime, std::optional<double>>> points;
};

// Update periods without a reading that make a gap.
constexpr int kGapPeriods = 3;

// From the folders the running program writes to, with its update period.
// False with the reason when there are no data logs of the sensor, or a
// file of them cannot be read.
bool Read(qint64 sensorId, const QDateTime& from, const QDateTime& to, History& out,
          QString* error = nullptr);
// The same from `directories`, a gap being more than kGapPeriods times
// `updateSeconds` without a reading, and more than kGapPeriods times the
// spacing of the readings just before (an update period that was longer
// then). A valid `to` is taken as not later than now: the clock is read
// only without one. Safe on a worker thread then: it reads files only.
bool Read(const QStringList& directories, int updateSeconds, qint64 sensorId, const QDateTime& from,
          const QDateTime& to, History& out, QString* error = nullptr);

// The running program's update period in seconds, as Read uses it.
int UpdateSeconds();

// The minimum, maximum and mean of one day's measured values.
struct Day {
    QDate date;
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
    int readings = 0;
};
// Per day of the points, oldest first; days without a value are left out.
std::vector<Day> Days(const History& history);

// A day of a sensor signed off as reviewed: one row of the alarm-handling
// store, written with its audit row. A day is reviewed once; a second
// sign-off of it is refused, naming who did the first.
struct DayReview {
    qint64 sensorId = 0;
    QDate date;
    QString by;
    QDateTime at;  // UTC
};
bool SignOffDay(qint64 sensorId, const QDate& date, const AlarmHandling::Actor& actor,
                QString* error = nullptr);
// The reviews of a sensor from `since` (when valid), oldest day first.
bool ListDayReviews(qint64 sensorId, QList<DayReview>& reviews, const QDate& since = QDate(),
                    QString* error = nullptr);

}  // namespace SensorHistory
