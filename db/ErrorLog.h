#pragma once

#include <QString>

// The error log: every trapped run-time error becomes one row of tblErrors.
namespace ErrorLog {

// Writes the entry with the current time exactly as given. Never shows
// anything and never fails its caller: any failure (database missing or
// locked) only makes the result false, and the entry goes to standard error
// instead, once per function text until the database takes entries again.
bool RecordError(const QString& function, const QString& cause);
// The same for an error its caller has already told the service log in its
// own words: the entry is written, the service log does not get it twice.
bool RecordToldError(const QString& function, const QString& cause);

// Back to the state of a fresh start: nothing told on standard error yet.
void Reset();

}  // namespace ErrorLog
