#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// Plain POSIX tar (ustar) archives of regular files, so that what the
// program writes can be listed and unpacked with the system's own tar.
// Only what the program needs: regular files with a short name, mode,
// owner and time; no directories, links or long names.
namespace Tar {

struct Entry {
    QString name;  // at most 100 bytes in UTF-8 (a prefix makes it a path)
    QByteArray data;
    int mode = 0644;  // permission bits
    qint64 uid = 0;
    qint64 gid = 0;
    qint64 mtime = 0;  // seconds since 1970, UTC
    char type = '0';   // '0' (or NUL, in old archives) a regular file
};

// The archive: each entry's header and data, then the two empty blocks
// that end it. An entry whose name does not fit is left out; Fits() tells.
QByteArray Encode(const std::vector<Entry>& entries);
bool Fits(const Entry& entry);

// Whether `head`, the first bytes of a file, begin a tar archive: to tell a
// file that is none before reading all of it.
bool LooksLikeArchive(const QByteArray& head);

// The entries of an archive, each with its name as the header gives it (a
// prefix joined with '/'). False with the reason when it is no tar archive,
// a header's checksum is wrong, or it ends inside an entry or before its end
// blocks.
bool Decode(const QByteArray& archive, std::vector<Entry>& entries, QString* error = nullptr);

}  // namespace Tar
