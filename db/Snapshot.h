#pragma once

#include <QByteArray>
#include <QString>

// A consistent copy of an SQLite database that another program may be
// writing: SQLite's online backup, read in one step under a shared lock, so
// the copy holds every committed transaction up to one moment and none
// half-way. The copy is in memory; nothing is written beside the file.
namespace Snapshot {

// The whole database file at `path` as it stood at one moment: its bytes,
// which make a database file of their own. Waits up to `busyWaitMs` for a
// writer to finish. False with the reason when the file is missing, is not
// a database or stays locked.
bool Take(const QString& path, QByteArray& bytes, QString* error = nullptr, int busyWaitMs = 5000);

}  // namespace Snapshot
