#include "Snapshot.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>

namespace Snapshot {
namespace {

bool Fail(QString* error, const QString& reason) {
    if (error) *error = reason;
    return false;
}

QString Reason(sqlite3* db) {
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
}

// Closes on every way out.
struct Handle {
    sqlite3* db = nullptr;
    ~Handle() { sqlite3_close(db); }
};

}  // namespace

bool Take(const QString& path, QByteArray& bytes, QString* error, int busyWaitMs) {
    bytes.clear();
    if (!QFileInfo(path).isFile()) return Fail(error, QStringLiteral("it does not exist"));
    Handle source;
    // Read and write, never create: a journal left by a writer that died
    // must be rolled back before the file can be read at all (a read-only
    // connection could not). Where the file may only be read, SQLite opens
    // it read-only.
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &source.db, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK) {
        return Fail(error, Reason(source.db));
    }
    sqlite3_busy_timeout(source.db, busyWaitMs);
    Handle copy;
    if (sqlite3_open(":memory:", &copy.db) != SQLITE_OK) return Fail(error, Reason(copy.db));
    // A database in memory takes a backup only of its own page size.
    sqlite3_stmt* statement = nullptr;
    int pageSize = 0;
    if (sqlite3_prepare_v2(source.db, "PRAGMA page_size", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        pageSize = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    if (pageSize <= 0) return Fail(error, Reason(source.db));
    const QByteArray pragma = "PRAGMA page_size = " + QByteArray::number(pageSize);
    if (sqlite3_exec(copy.db, pragma.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        return Fail(error, Reason(copy.db));
    }
    sqlite3_backup* backup = sqlite3_backup_init(copy.db, "main", source.db, "main");
    if (!backup) return Fail(error, Reason(copy.db));
    // All pages in one step: the source is read under one shared lock.
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE) {
        return Fail(error, QString::fromUtf8(sqlite3_errstr(stepped)) +
                               (stepped == SQLITE_BUSY || stepped == SQLITE_LOCKED
                                    ? QStringLiteral(" (a writer kept it longer than %1 s)")
                                          .arg(busyWaitMs / 1000.0)
                                    : QString()));
    }
    if (finished != SQLITE_OK) return Fail(error, Reason(copy.db));
    sqlite3_int64 size = 0;
    unsigned char* image = sqlite3_serialize(copy.db, "main", &size, 0);
    if (!image) return Fail(error, QStringLiteral("out of memory"));
    bytes = QByteArray(reinterpret_cast<const char*>(image), qsizetype(size));
    sqlite3_free(image);
    return true;
}

}  // namespace Snapshot
