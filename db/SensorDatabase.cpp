#include "db/SensorDatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "common/Dialogs.h"
#include "db/Database.h"

namespace ServerDatabase {
namespace {
const QString kFailureLead = QStringLiteral("Error adding server, the error is ");

// Empty texts are stored as empty, not as Null.
QString Text(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

bool Fail(const QString& reason, QString* error) {
    Dialogs::Message(kFailureLead + reason, Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
    if (error) *error = reason;
    return false;
}
}  // namespace

bool GetSensorNotesByPort(qint64 serverId, QMap<int, QString>& notes, QString* error) {
    notes.clear();
    Database::Recordset rows;
    QString reason;
    if (!Database::OpenRecordset(QStringLiteral("tblSensors"),
                                 QStringLiteral("SELECT * FROM tblSensors WHERE ServerIDNum = ?"
                                                " ORDER BY IDNum"),
                                 {serverId}, rows, &reason)) {
        return Fail(reason, error);
    }
    // The first row of a port counts, as in GetSensorNotes.
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) {
        const int port = rows.Value(QStringLiteral("PortNum")).toInt();
        if (!notes.contains(port)) notes.insert(port, rows.Text(QStringLiteral("SensorNotes")));
    }
    return true;
}

bool AddSensors(qint64 serverId, const QList<SensorRow>& rows, QString* error) {
    Database::Connection connection;
    if (!connection.Open()) return Fail(connection.Error(), error);
    QSqlDatabase db = connection.Db();
    if (!db.transaction()) return Fail(db.lastError().text(), error);
    for (const SensorRow& row : rows) {
        QSqlQuery exists(db);
        exists.prepare(QStringLiteral(
            "SELECT COUNT(*) FROM tblSensors WHERE ServerIDNum = ? AND PortNum = ?"));
        exists.addBindValue(serverId);
        exists.addBindValue(row.port);
        if (!exists.exec() || !exists.next()) {
            const QString reason = exists.lastError().text();
            db.rollback();
            return Fail(reason, error);
        }
        const bool ok =
            exists.value(0).toInt() > 0
                ? connection.Exec(QStringLiteral("UPDATE tblSensors SET SensorName = ?,"
                                                 " SensorNotes = ? WHERE ServerIDNum = ?"
                                                 " AND PortNum = ?"),
                                  {Text(row.name), Text(row.notes), serverId, row.port})
                : connection.Exec(
                      QStringLiteral("INSERT INTO tblSensors (ServerIDNum,"
                                     " SensorName, PortNum, SensorNotes, SensorType)"
                                     " VALUES (?, ?, ?, ?, ?)"),
                      {serverId, Text(row.name), row.port, Text(row.notes), Text(row.type)});
        if (!ok) {
            db.rollback();
            return Fail(connection.Error(), error);
        }
    }
    if (!db.commit()) {
        const QString reason = db.lastError().text();
        db.rollback();
        return Fail(reason, error);
    }
    return true;
}

bool ListSensors(qint64 serverId, QList<SensorListing>& sensors, QString* error) {
    sensors.clear();
    Database::Recordset rows;
    if (!Database::OpenRecordset(QStringLiteral("tblSensors"),
                                 QStringLiteral("SELECT * FROM tblSensors WHERE ServerIDNum = ?"
                                                " ORDER BY PortNum, IDNum"),
                                 {serverId}, rows, error)) {
        return false;
    }
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) {
        sensors.append({rows.Value(QStringLiteral("IDNum")).toLongLong(),
                        rows.Value(QStringLiteral("PortNum")).toInt(),
                        rows.Text(QStringLiteral("SensorName")).trimmed(),
                        rows.Text(QStringLiteral("SensorNotes")),
                        rows.Text(QStringLiteral("SensorType")).trimmed()});
    }
    return true;
}

bool RemoveSensor(qint64 serverId, int port, QString* error) {
    Database::Connection connection;
    if (connection.Open() &&
        connection.Exec(
            QStringLiteral("DELETE FROM tblSensors WHERE ServerIDNum = ? AND PortNum = ?"),
            {serverId, port})) {
        return true;
    }
    if (error) *error = connection.Error();
    return false;
}

}  // namespace ServerDatabase
