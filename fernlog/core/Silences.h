#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QTime>
#include <optional>

#include "core/AlarmHandling.h"

// Silences and maintenance windows, kept in the alarm-handling store. While
// one covers a sensor or a device, everything is recorded as always, but no
// notice about it goes out (alarm, reminder, escalation, device failure);
// when it ends, an alarm still open and unacknowledged, or a device still
// failing, is told at once, saying it began or went on during it. Times are
// stored in UTC; a weekly window is in local time, as people plan them.
namespace Silences {

// Port of a whole device: a silence of the device, or a device failure.
constexpr int kDevice = -1;

// "Sun 02:00-04:00": a day (Mon..Sun, also the full name) and a period in
// local time; an end before the start runs into the next day.
struct Weekly {
    int day = 7;  // Qt's dayOfWeek: 1 Monday .. 7 Sunday
    QTime start, end;
    QString Text() const;
};
std::optional<Weekly> ParseWeekly(const QString& text);

struct Silence {
    qint64 id = 0;
    qint64 deviceId = 0;
    QString device;
    int port = kDevice;
    QDateTime from, until;
    QString by, comment;
};
struct Window {
    qint64 id = 0;
    qint64 deviceId = 0;
    QString device;
    QDateTime from, to;            // a one-off window; invalid for a weekly one
    std::optional<Weekly> weekly;  // a weekly window
    QString by, comment;
};

// Each add and remove is one transaction with its audit row; false with the
// reason (a window that ends before it starts, an empty name, an unknown
// id, or the store's refusal, which begins with AlarmHandling::StoreRefusal()).
bool AddSilence(qint64 deviceId, const QString& device, int port, const QDateTime& until,
                const AlarmHandling::Actor& actor, const QString& comment, qint64& id,
                QString* error = nullptr);
bool RemoveSilence(qint64 id, const AlarmHandling::Actor& actor, QString* error = nullptr);
// Silences in force or planned (not removed, not over), by id.
bool ListSilences(QList<Silence>& silences, QString* error = nullptr);

// A window's schedule from the texts a person gives: a one-off's `from` and
// `to` (as AlarmHandling::ParseTime reads them) or a `weekly` period, never
// both; false with the reason, which names each field as `prefix` and its
// name ("--from" for a command, "from" for a form).
bool ParseSchedule(const QString& from, const QString& to, const QString& weekly,
                   const QString& prefix, Window& window, QString* error = nullptr);

bool AddWindow(const Window& window, const AlarmHandling::Actor& actor, qint64& id,
               QString* error = nullptr);
bool RemoveWindow(qint64 id, const AlarmHandling::Actor& actor, QString* error = nullptr);
// Weekly windows and one-off windows not yet over, by id.
bool ListWindows(QList<Window>& windows, QString* error = nullptr);

// As `fernlog silences --json`, `fernlog maintenance list --json` and the
// web's JSON show them.
QJsonObject Json(const Silence& silence);
QJsonObject Json(const Window& window);

// Whether a silence or maintenance window covers the device's port at
// `now` (port kDevice: the device itself, as its failure notices ask); a
// silence of the device or its maintenance covers every port. `why` gets a
// sentence such as "Kitchen port 0 is silenced until 12/9/2026 2:00:00 AM
// (by ann)". An unreadable store covers nothing: a notice too many is
// better than one lost.
bool Covers(qint64 deviceId, int port, const QDateTime& now, QString* why = nullptr);

// The port of a sensor of the register (kDevice when it is not there).
int PortOf(qint64 deviceId, qint64 sensorId);

// What the read side shows, read in one query: the alarms acknowledged at
// `now` and the device ports covered.
struct State {
    QSet<qint64> acknowledged;  // tblAlarms.IDNum
    QSet<QPair<qint64, int>> covered;
    QSet<qint64> maintenance;  // devices in a maintenance window
    bool Silenced(qint64 deviceId, int port) const;
};
bool ReadState(const QDateTime& now, State& state, QString* error = nullptr);

// Once per polling cycle, after the devices: the ends that have come (also
// those passed while the program did not run) are noted in the store and
// told, each once.
void AfterCycle();

}  // namespace Silences
