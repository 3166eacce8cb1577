#include "db/Database.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "common/ProgramDir.h"

namespace Database {
namespace {

// The identity of the file the connection has open: a file deleted or
// replaced under the same name has another one. While the connection holds
// the old file open, its inode cannot be reused for a new file.
struct FileIdentity {
    QString path;
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> Identify(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return FileIdentity{path, static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
#else
    const QFileInfo info(path);
    if (!info.isFile()) return std::nullopt;
    return FileIdentity{path, 0, static_cast<quint64>(info.birthTime().toMSecsSinceEpoch())};
#endif
}

// Another program (an SQLite tool) may hold the file locked: a statement
// waits this long for it. Once one has waited in vain, the next ones of its
// kind fail at once until the database takes one again (a write frees
// both kinds): a lock that lasts must not stall every operation of a cycle.
constexpr int kBusyWaitMs = 3000;

struct Shared {
    const QString name = QStringLiteral("zolo");
    std::optional<FileIdentity> file;  // set while open
    QHash<QString, QSqlQuery> statements;
    int opens = 0;
    bool readsLocked = false;
    bool writesLocked = false;
    int busyWaitMs = kBusyWaitMs;  // what the open connection waits
};

Shared& TheShared() {
    static Shared shared;
    return shared;
}

bool IsLockError(const QSqlError& error) {
    // SQLITE_BUSY and SQLITE_LOCKED, extended codes included.
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 5 || code == 6;
}

int WantedBusyWait(const Shared& shared) {
    return shared.readsLocked || shared.writesLocked ? 0 : kBusyWaitMs;
}

// Notes how a statement of one kind fared and sets the connection's wait.
void NoteLock(bool write, bool succeeded, const QSqlError& error) {
    Shared& shared = TheShared();
    if (succeeded) {
        shared.readsLocked = false;
        if (write) shared.writesLocked = false;
    } else if (IsLockError(error)) {
        (write ? shared.writesLocked : shared.readsLocked) = true;
    }
    const int wanted = WantedBusyWait(shared);
    if (wanted == shared.busyWaitMs || !shared.file) return;
    QSqlQuery pragma(QSqlDatabase::database(shared.name, false));
    if (pragma.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(wanted))) {
        shared.busyWaitMs = wanted;
    }
}

void Close() {
    Shared& shared = TheShared();
    // Statements first: removing a connection that queries still use leaks it.
    shared.statements.clear();
    shared.file.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(shared.name, false);
        if (db.isValid()) db.close();
    }
    if (QSqlDatabase::contains(shared.name)) QSqlDatabase::removeDatabase(shared.name);
}

bool EnsureOpen(QString& error) {
    Shared& shared = TheShared();
    const QString path = Path();
    const std::optional<FileIdentity> file = Identify(path);
    if (!file) {
        Close();
        error = QStringLiteral("The database ") + path + QStringLiteral(" was not found.");
        return false;
    }
    if (shared.file == file) return true;

    Close();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), shared.name);
    db.setDatabaseName(path);
    shared.busyWaitMs = WantedBusyWait(shared);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(shared.busyWaitMs));
    if (!db.open()) {
        error = db.lastError().text();
        db = QSqlDatabase();
        Close();
        return false;
    }
    // Opening alone does not read the file; this fails for a file that is
    // not a database.
    {
        QSqlQuery probe(db);
        const bool read = probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        NoteLock(false, read, probe.lastError());
        if (!read) {
            error = probe.lastError().text();
            probe = QSqlQuery();
            db = QSqlDatabase();
            Close();
            return false;
        }
    }
    shared.file = file;
    ++shared.opens;
    // Qt's SQL globals are gone before function statics at exit, and a query
    // destroyed after them keeps its result: the prepared statements go with
    // the application instead.
    static const bool closesWithApplication = (qAddPostRoutine(Close), true);
    Q_UNUSED(closesWithApplication);
    return true;
}

// The prepared statement for `sql`, bound and run. Statements are prepared
// once per connection. `write`: an action statement rather than a query.
QSqlQuery* Run(const QString& sql, const QVariantList& values, bool write, QString& error) {
    Shared& shared = TheShared();
    auto it = shared.statements.find(sql);
    if (it == shared.statements.end()) {
        QSqlQuery query(QSqlDatabase::database(shared.name, false));
        query.setForwardOnly(true);
        if (!query.prepare(sql)) {
            error = query.lastError().text();
            NoteLock(write, false, query.lastError());
            return nullptr;
        }
        it = shared.statements.insert(sql, query);
    }
    QSqlQuery& query = it.value();
    for (int i = 0; i < values.size(); ++i) query.bindValue(i, values[i]);
    if (!query.exec()) {
        error = query.lastError().text();
        NoteLock(write, false, query.lastError());
        query.finish();
        return nullptr;
    }
    NoteLock(write, true, QSqlError());
    return &query;
}
}  // namespace

QString FileName() {
    return QStringLiteral("zolo.mdb");
}

QString Path() {
    return ProgramDir::File(FileName());
}

void CloseConnection() {
    Close();
    // A fresh start: the next statement waits for a lock again.
    TheShared().readsLocked = false;
    TheShared().writesLocked = false;
}

int OpenCount() {
    return TheShared().opens;
}

bool Connection::Open() {
    open_ = EnsureOpen(error_);
    return open_;
}

QSqlDatabase Connection::Db() const {
    return QSqlDatabase::database(TheShared().name, false);
}

bool Connection::Exec(const QString& sql, const QVariantList& values) {
    if (!open_ || !TheShared().file) {
        error_ = QStringLiteral("The database is not open.");
        return false;
    }
    QSqlQuery* query = Run(sql, values, true, error_);
    if (!query) return false;
    insertId_ = query->lastInsertId().toLongLong();
    rowsAffected_ = query->numRowsAffected();
    query->finish();
    return true;
}

bool Connection::Begin() {
    QSqlDatabase db = Db();
    if (!open_ || !db.transaction()) {
        error_ = open_ ? db.lastError().text() : QStringLiteral("The database is not open.");
        return false;
    }
    return true;
}

bool Connection::Commit() {
    QSqlDatabase db = Db();
    if (!db.commit()) {
        error_ = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

void Connection::Rollback() {
    Db().rollback();
}

QVariant Recordset::Value(const QString& column) const {
    if (EndOfFile()) return {};
    const auto pending = pending_.constFind(column);
    if (pending != pending_.constEnd()) return pending.value();
    return rows_[static_cast<size_t>(position_)].value(column);
}

void Recordset::SetValue(const QString& column, const QVariant& value) {
    pending_.insert(column, value);
}

bool Recordset::Update() {
    if (EndOfFile() || !connection_) {
        error_ = QStringLiteral("No current record.");
        return false;
    }
    if (pending_.isEmpty()) return true;
    const QString key = KeyColumn(table_);
    QSqlRecord& row = rows_[static_cast<size_t>(position_)];
    QStringList sets;
    QVariantList values;
    for (auto it = pending_.constBegin(); it != pending_.constEnd(); ++it) {
        if (!IsPlainName(it.key()) || row.indexOf(it.key()) < 0) {
            error_ = QStringLiteral("Item not found in this collection: ") + it.key();
            return false;
        }
        sets << it.key() + QStringLiteral(" = ?");
        values << it.value();
    }
    values << row.value(key);
    if (!connection_->Exec(QStringLiteral("UPDATE ") + table_ + QStringLiteral(" SET ") +
                               sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE ") + key +
                               QStringLiteral(" = ?"),
                           values)) {
        error_ = connection_->Error();
        return false;
    }
    for (auto it = pending_.constBegin(); it != pending_.constEnd(); ++it) {
        row.setValue(it.key(), it.value());
    }
    pending_.clear();
    return true;
}

void Recordset::Release() {
    rows_.clear();
    pending_.clear();
    position_ = -1;
    connection_.reset();
}

bool OpenRecordset(const QString& table, const QString& sql, const QVariantList& values,
                   Recordset& out, QString* error) {
    out.Release();
    auto connection = std::make_unique<Connection>();
    if (!connection->Open()) {
        if (error) *error = connection->Error();
        return false;
    }
    QString reason;
    std::vector<QSqlRecord> rows;
    QSqlQuery* query = Run(sql, values, false, reason);
    if (!query) {
        if (error) *error = reason;
        return false;
    }
    while (query->next()) rows.push_back(query->record());
    const bool failed = query->lastError().isValid();
    if (failed) reason = query->lastError().text();
    // Ends the read, so that nothing is locked between operations.
    query->finish();
    if (failed) {
        if (error) *error = reason;
        return false;
    }
    out.connection_ = std::move(connection);
    out.table_ = table;
    out.rows_ = std::move(rows);
    out.MoveFirst();
    return true;
}

QString KeyColumn(const QString& table) {
    return table == QLatin1String("tblErrors") ? QStringLiteral("ErrorID")
                                               : QStringLiteral("IDNum");
}

bool IsPlainName(const QString& name) {
    if (name.isEmpty() || name.size() > 64) return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('_')) return false;
    }
    return true;
}

}  // namespace Database
