#pragma once

#include <QSqlDatabase>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <memory>
#include <vector>

// Connections to the system database "zolo.mdb" and the recordsets that the
// database layer hands to its callers. Every Connection is a handle on one
// connection that stays open between operations, with its prepared
// statements: opening and probing per operation cost most of a polling
// cycle. Each write is still its own committed transaction. The file is
// looked at on every Open, and a file that was deleted or replaced is
// noticed and the connection reopened. A statement waits up to 3 s for a
// lock held by another program; after one waited in vain, statements of its
// kind fail at once until the database takes one again.
namespace Database {

QString FileName();  // "zolo.mdb"
QString Path();      // in the program directory

// A handle on the open connection. Opening fails (it never creates a file)
// when the database is missing or is not a database.
class Connection {
  public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Open();
    const QString& Error() const { return error_; }
    QSqlDatabase Db() const;

    // Runs one action statement with bound values.
    bool Exec(const QString& sql, const QVariantList& values = {});
    // The key of the row the last INSERT of Exec added, and how many rows
    // the last Exec changed.
    qint64 LastInsertId() const { return insertId_; }
    int RowsAffected() const { return rowsAffected_; }

    // A transaction over several statements; failures carry the database's
    // own error text.
    bool Begin();
    bool Commit();
    void Rollback();

  private:
    QString error_;
    bool open_ = false;
    qint64 insertId_ = 0;
    int rowsAffected_ = 0;
};

// Closes the kept connection (the next Open reopens it) and forgets a lock
// met so far. For tests and for the end of the program.
void CloseConnection();
// How often the connection was (re)opened since the program started.
int OpenCount();

// The rows of one query, copied out, with a handle on the kept connection
// until the holder releases it. The current row can be edited and written
// back by the table's key column.
class Recordset {
  public:
    Recordset() = default;
    Recordset(Recordset&&) noexcept = default;
    Recordset& operator=(Recordset&&) noexcept = default;

    int RecordCount() const { return static_cast<int>(rows_.size()); }
    bool IsOpen() const { return connection_ != nullptr; }
    bool EndOfFile() const { return position_ < 0 || position_ >= RecordCount(); }
    int Position() const { return position_; }

    void MoveFirst() { position_ = rows_.empty() ? -1 : 0; }
    void MoveLast() { position_ = RecordCount() - 1; }
    void MoveNext() { ++position_; }
    void Move(int index) { position_ = index; }

    // Value of a column of the current row; invalid past the end.
    QVariant Value(const QString& column) const;
    QString Text(const QString& column) const { return Value(column).toString(); }

    // Changes a column of the current row; Update() writes the changes.
    void SetValue(const QString& column, const QVariant& value);
    bool Update();
    const QString& Error() const { return error_; }

    void Release();

  private:
    friend bool OpenRecordset(const QString&, const QString&, const QVariantList&, Recordset&,
                              QString*);
    std::unique_ptr<Connection> connection_;
    QString table_;
    std::vector<QSqlRecord> rows_;
    int position_ = -1;
    QVariantMap pending_;
    QString error_;
};

// Opens `sql` (a SELECT on `table`) with bound values into `out`, positioned
// on the first row. False with the reason in `error` on any failure.
bool OpenRecordset(const QString& table, const QString& sql, const QVariantList& values,
                   Recordset& out, QString* error);

// The key column by which rows of a table are written back.
QString KeyColumn(const QString& table);

// Table and column names cannot be bound; callers pass only fixed names, and
// this refuses anything else.
bool IsPlainName(const QString& name);

}  // namespace Database
