#pragma once

#include <QString>
#include <vector>

#include "core/StatusGrid.h"

// What a headless run's service log says about polling, beside the events
// the modules tell it themselves: the status list's lines by how much a
// reader wants them (every connection only when tracing), device errors in
// plain words, and how many devices answered, after the first cycle and
// whenever that changes. The status list itself keeps its own texts.
namespace ServiceLog {

// The status list's listener of a headless run.
void StatusLine(const QString& line);

// The status list's "Communication Error" line in plain words
// ("communication error: connection refused"); other lines as they are.
QString PlainStatusLine(const QString& line);

// A device that took the connection but sent no answer in time.
void NoAnswer(const QString& address, int seconds);

// "2 of 3 devices answered; 11 sensors read", from the status grid; empty
// without rows.
QString CycleSummary(const std::vector<GridRow>& rows);
// Called after every polling cycle: the number of devices and sensors
// polled, when it differs from the cycle before, and the summary, when it
// is new.
void AfterCycle();

// A reading as the log prints it: with its unit when it is a number.
QString ReadingWithUnit(const QString& reading, const QString& units);

// Back to the state of a fresh start: no summary told yet.
void Reset();

}  // namespace ServiceLog
