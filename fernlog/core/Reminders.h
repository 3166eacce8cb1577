#pragma once

#include <QString>

// Reminders and escalation of alarms nobody has acknowledged (off unless
// RemindMinutes or EscalateMinutes in FernlogOptions.ini say otherwise). The
// schedule is kept in the alarm-handling store, so a restart neither loses
// an escalation nor sends the reminders it missed in a burst: one goes out
// when due, the next a period later.
namespace Reminders {

// Once per polling cycle, after the devices: the reminders and escalations
// that have come due are handed to the outbox.
void AfterCycle();

// Where an alarm's recovery notice goes beyond the device's alarm list: its
// escalation list, once it was escalated (empty otherwise).
QString EscalatedTo(qint64 alarmId, qint64 deviceId);

}  // namespace Reminders
