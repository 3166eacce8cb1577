#pragma once

#include <QString>

#include "core/SensorState.h"

// Turns a sensor's decoded verdict into alarm records: one open record and
// one e-mail per alarm, closed on the first normal reading.
namespace Alarms {

struct SensorReading {
    qint64 sensorId = 0;
    qint64 deviceId = 0;
    QString deviceName;
    QString sensorName;
    QString sensorType;
    QString notes;
    QString units;
    QString emailList;  // the device's EmailAddress
    int port = -1;      // the sensor's port on the device
    float value = 0;
    int minutes = 0;
    int status = 0;
    QString readingText;
};

// Open circuit, short circuit, not connected (1000), or a status byte of 1
// or more. No data is neither alarm nor normal.
bool IsAlarmCondition(float value, int status);

// Opens or closes the sensor's alarm record as the reading demands, and
// returns the row status from the sensor's active records.
// While the database cannot be read or does not take writes, the rule works
// on what the program knows: every alarm is told and mailed when it starts
// and its end told when it ends, and the records wait in the journal
// (core/Journal.h) to be written with their real times.
SensorState::RowStatus ProcessAlarm(const SensorReading& reading);

// The outbox receipt kind of an alarm e-mail for a written record: its
// delivery writes the record's EmailSent.
QString MailReceipt();

// What people did since the last call (from a command, a window, the web:
// the audit trail's new rows) is told in the service log, one line each, and
// the grid's marks follow it at once. The first call only notes where the
// trail ends. The running program calls it every few seconds.
void TakeUpActions();

// Held for a polling cycle: the acknowledgements and silences that mark the
// grid are read once, at its start, rather than once per sensor, and what
// the cycle itself changes (an acknowledgement dropped) is kept in step.
// Outside a cycle each sensor asks the store itself.
class CycleHandling {
  public:
    CycleHandling();
    ~CycleHandling();
    CycleHandling(const CycleHandling&) = delete;
    CycleHandling& operator=(const CycleHandling&) = delete;
};

// Back to the state of a fresh start: nothing known of the records.
void Reset();

}  // namespace Alarms
