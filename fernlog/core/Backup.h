#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <vector>

#include "common/Tar.h"

// A backup of the program directory's own files in one plain tar archive
// (tar -tvf lists it, tar -xf unpacks it): a manifest first, naming each
// file with its size and SHA-256, then the files with their modes. The two
// databases are consistent copies taken while the program may write them;
// the data log files are not part of it.
namespace Backup {

QString ManifestName();  // "FernlogBackup.txt"

// The files a backup holds, in the order they are taken: the journal of
// database writes that wait for zolo.mdb, the databases, then the outbox
// (after the database whose rows its receipts name), the settings and the
// options.
QStringList FileNames();
// The database files among them, whose journals must not outlive them.
QStringList DatabaseNames();

// The program directory's files as they are now, each with its mode and
// owner; files that do not exist are left out, except zolo.mdb, without
// which there is nothing to back up. The caller holds the folder's write
// lock. False with the reason.
bool Collect(std::vector<Tar::Entry>& files, QString* error = nullptr);

// The archive of `files`, made at `made` from the folder `origin`.
QByteArray Encode(const std::vector<Tar::Entry>& files, const QString& origin,
                  const QDateTime& made);

// The files of an archive that Encode wrote, each checked against the
// manifest. False with the reason, worded to follow "the archive FILE":
// not a tar archive or not a backup, damaged (a header, a size or a SHA-256
// that does not match, cut short), or holding a member that no program
// folder has (a path such as ../x or /etc/x, a link, another name).
bool Decode(const QByteArray& archive, std::vector<Tar::Entry>& files, QString* error = nullptr);

// Puts `files` into the program directory with their modes, each replacing
// the file there, and removes the backed-up files (and database journals)
// the archive does not hold, so that the folder holds what was backed up and
// nothing of what was there before. All files are written beside their
// places before the first one takes its place. The caller holds the
// folder's locks. False with the reason.
bool Place(const std::vector<Tar::Entry>& files, QString* error = nullptr);

}  // namespace Backup
