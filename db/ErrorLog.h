#pragma once

#include <QString>

// The error log: every trapped run-time error becomes one row of tblErrors.
namespace ErrorLog {

// Writes the entry with the current time exactly as given. Never shows
// anything and never fails its caller: any failure (database missing or
// locked) only makes the result false.
bool RecordError(const QString& function, const QString& cause);

}  // namespace ErrorLog
