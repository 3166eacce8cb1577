#pragma once

#include <QString>

#include "db/ServerDatabase.h"

// The processing of one device's readings: for every named sensor, in port
// order, its grid row, its three data log files (and their copies in the
// log directory), and its alarm record.
namespace ServerData {

// The log directory taken from the settings at activation; empty when none.
extern QString LogDirInUse;

// The database cannot be read: the devices' sensors, names and e-mail lists
// are those it gave last. Set by the polling cycle.
extern bool DatabaseOut;

// Processes every named sensor of the device with the current readings;
// the device's name, model and e-mail list are those of its register row.
bool ProcessServerData(const ServerDatabase::ServerRow& server);

// After the copies were written into the log directory: books an outage
// (once, with one e-mail) when the directory holds no data files or the
// copies could not be written, and closes it when writing works again.
void CheckLogDirectory(const QString& logDir, bool copiesWritten);

// Sensor readings taken (any value but no data) since the start.
qint64 ReadingsTaken();

// Back to the state of a fresh start: no log directory in use.
void Reset();

}  // namespace ServerData
