#include "db/Database.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

#include "common/ProgramDir.h"

namespace Database {
namespace {
QString NewConnectionName() {
    static std::atomic<quint64> counter{0};
    return QStringLiteral("zolo-%1").arg(++counter);
}

bool Bind(QSqlQuery& query, const QString& sql, const QVariantList& values) {
    if (!query.prepare(sql)) return false;
    for (const QVariant& value : values) query.addBindValue(value);
    return query.exec();
}
}  // namespace

QString FileName() {
    return QStringLiteral("zolo.mdb");
}

QString Path() {
    return ProgramDir::File(FileName());
}

Connection::Connection() : name_(NewConnectionName()) {}

Connection::~Connection() {
    {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (db.isValid()) db.close();
    }
    if (QSqlDatabase::contains(name_)) QSqlDatabase::removeDatabase(name_);
}

bool Connection::Open() {
    const QString path = Path();
    if (!QFileInfo(path).isFile()) {
        error_ = QStringLiteral("The database ") + path + QStringLiteral(" was not found.");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(path);
    // Another connection (a held recordset) may be writing: wait briefly.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=3000"));
    if (!db.open()) {
        error_ = db.lastError().text();
        return false;
    }
    // Opening alone does not read the file; this fails for a file that is
    // not a database.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        error_ = probe.lastError().text();
        return false;
    }
    open_ = true;
    return true;
}

QSqlDatabase Connection::Db() const {
    return QSqlDatabase::database(name_, false);
}

bool Connection::Exec(const QString& sql, const QVariantList& values) {
    if (!open_) {
        error_ = QStringLiteral("The database is not open.");
        return false;
    }
    QSqlQuery query(Db());
    if (!Bind(query, sql, values)) {
        error_ = query.lastError().text();
        return false;
    }
    return true;
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
    std::vector<QSqlRecord> rows;
    {
        QSqlQuery query(connection->Db());
        query.setForwardOnly(true);
        if (!Bind(query, sql, values)) {
            if (error) *error = query.lastError().text();
            return false;
        }
        while (query.next()) rows.push_back(query.record());
        if (query.lastError().isValid()) {
            if (error) *error = query.lastError().text();
            return false;
        }
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
