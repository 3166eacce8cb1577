#include "db/ServerDatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include "common/Clock.h"
#include "common/Dialogs.h"
#include "db/ErrorLog.h"

namespace ServerDatabase {
namespace {

using Database::Connection;
using Database::OpenRecordset;

void ShowFailure(const QString& lead, const QString& description) {
    Dialogs::Message(lead + description, Dialogs::Buttons::Ok, Dialogs::Icon::Critical);
}

const QString kSensorByPort =
    QStringLiteral("SELECT * FROM tblSensors WHERE ServerIDNum = ? AND PortNum = ?");

// Opens a query and moves to its last row, as the callers expect.
bool OpenAtLast(const QString& table, const QString& sql, const QVariantList& values,
                Recordset& rows, int& count, QString& error) {
    count = 0;
    if (!OpenRecordset(table, sql, values, rows, &error)) return false;
    count = rows.RecordCount();
    if (count > 0) rows.MoveLast();
    return true;
}

bool ExecOnce(const QString& sql, const QVariantList& values, QString& error) {
    Connection connection;
    if (!connection.Open() || !connection.Exec(sql, values)) {
        error = connection.Error();
        return false;
    }
    return true;
}
}  // namespace

bool GetSensorNotes(qint64 serverId, int port, QString& notes) {
    notes.clear();
    Recordset rows;
    QString error;
    if (!OpenRecordset(QStringLiteral("tblSensors"), kSensorByPort, {serverId, port}, rows,
                       &error)) {
        ShowFailure(QStringLiteral("Error adding server, the error is "), error);
        return false;
    }
    if (rows.RecordCount() > 0) notes = rows.Text(QStringLiteral("SensorNotes"));
    return true;
}

bool AddSensor(qint64 serverId, const QString& name, int port, const QString& notes,
               const QString& type) {
    QString error;
    bool exists = false;
    {
        Recordset rows;
        if (!OpenRecordset(QStringLiteral("tblSensors"), kSensorByPort, {serverId, port}, rows,
                           &error)) {
            ShowFailure(QStringLiteral("Error adding server, the error is "), error);
            return false;
        }
        exists = rows.RecordCount() > 0;
    }
    const bool ok =
        exists ? ExecOnce(QStringLiteral("UPDATE tblSensors SET SensorName = ?, SensorNotes = ?"
                                         " WHERE ServerIDNum = ? AND PortNum = ?"),
                          {name, notes, serverId, port}, error)
               : ExecOnce(QStringLiteral("INSERT INTO tblSensors (ServerIDNum, SensorName, PortNum,"
                                         " SensorNotes, SensorType) VALUES (?, ?, ?, ?, ?)"),
                          {serverId, name, port, notes, type}, error);
    if (!ok) {
        ShowFailure(QStringLiteral("Error adding server, the error is "), error);
        return false;
    }
    return true;
}

bool SensorExists(qint64 serverId, int port) {
    Recordset rows;
    QString error;
    if (!OpenRecordset(QStringLiteral("tblSensors"), kSensorByPort, {serverId, port}, rows,
                       &error)) {
        return false;
    }
    return rows.RecordCount() > 0;
}

bool CountNamedSensors(int& count) {
    Recordset rows;
    QString error;
    if (!OpenAtLast(QStringLiteral("tblSensors"),
                    QStringLiteral("SELECT * FROM tblSensors WHERE LENGTH(SensorName) <> 0"), {},
                    rows, count, error)) {
        return false;
    }
    return count > 0;
}

bool LoadSensors(qint64 serverId, Recordset& sensors, int& count) {
    QString error;
    if (!OpenAtLast(QStringLiteral("tblSensors"),
                    QStringLiteral("SELECT * FROM tblSensors WHERE ServerIDNum = ?"
                                   " AND LENGTH(SensorName) <> 0 ORDER BY PortNum"),
                    {serverId}, sensors, count, error)) {
        return false;
    }
    return count > 0;
}

bool ListSensors(qint64 serverId, QList<SensorEntry>& sensors) {
    sensors.clear();
    Recordset rows;
    int count = 0;
    if (!LoadSensors(serverId, rows, count)) return false;
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) {
        sensors << SensorEntry{
            rows.Value(QStringLiteral("IDNum")).toLongLong(),
            rows.Value(QStringLiteral("PortNum")).toInt(), rows.Text(QStringLiteral("SensorName")),
            rows.Text(QStringLiteral("SensorNotes")), rows.Text(QStringLiteral("SensorType"))};
    }
    return true;
}

bool GetServerRecord(qint64 serverId, Recordset& server) {
    int count = 0;
    QString error;
    if (!OpenAtLast(QStringLiteral("tblServers"),
                    QStringLiteral("SELECT * FROM tblServers WHERE IDNum = ?"), {serverId}, server,
                    count, error)) {
        return false;
    }
    if (count == 0) {
        server.Release();
        return false;
    }
    return true;
}

bool RecordServers(Recordset& servers, int& count) {
    QString error;
    if (!OpenAtLast(QStringLiteral("tblServers"), QStringLiteral("SELECT * FROM tblServers"), {},
                    servers, count, error)) {
        ErrorLog::RecordError(QStringLiteral("RecordServers()"), error);
        return false;
    }
    return true;
}

bool AddServer(const QString& name, const QString& model, const QString& ip, const QString& notes,
               int enabled, const QString& password, const QString& emailList, int comm,
               QString* errorOut) {
    const QString lead = QStringLiteral("Error adding server, the error is ");
    Connection connection;
    if (!connection.Open()) {
        if (errorOut) *errorOut = connection.Error();
        ShowFailure(lead, connection.Error());
        return false;
    }
    Recordset servers;
    int count = 0;
    if (RecordServers(servers, count) && count > 0) {
        Recordset same;
        QString error;
        if (!OpenRecordset(QStringLiteral("tblServers"),
                           QStringLiteral("SELECT * FROM tblServers WHERE ServerIPAddress = ?"),
                           {ip}, same, &error)) {
            if (errorOut) *errorOut = error;
            ShowFailure(lead, error);
            return false;
        }
        if (same.RecordCount() > 0) {
            const QString text = QStringLiteral(
                "The IP address for this server is not unique.  "
                "Please verify the desired IP address.");
            if (errorOut) *errorOut = text;
            Dialogs::Message(text, Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
            return false;
        }
    }
    servers.Release();
    if (!connection.Exec(QStringLiteral("INSERT INTO tblServers (ServerName, ServerModel,"
                                        " ServerIPAddress, ServerNotes, Enabled, UserPassword,"
                                        " EmailAddress, Comm) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                         {name, model, ip, notes, QString::number(enabled), password, emailList,
                          QString::number(comm)})) {
        if (errorOut) *errorOut = connection.Error();
        ShowFailure(lead, connection.Error());
        return false;
    }
    return true;
}

bool UpdateServer(qint64 serverId, const QString& name, const QString& model, const QString& ip,
                  const QString& notes, int enabled, const QString& password,
                  const QString& emailList, int comm, QString* errorOut) {
    QString error;
    if (!ExecOnce(QStringLiteral("UPDATE tblServers SET ServerName = ?, ServerModel = ?,"
                                 " ServerIPAddress = ?, ServerNotes = ?, Enabled = ?,"
                                 " UserPassword = ?, EmailAddress = ?, Comm = ? WHERE IDNum = ?"),
                  {name, model, ip, notes, QString::number(enabled), password, emailList,
                   QString::number(comm), serverId},
                  error)) {
        if (errorOut) *errorOut = error;
        ShowFailure(QStringLiteral("Error in UpdateServer is "), error);
        return false;
    }
    return true;
}

bool UpdateServerEmail(qint64 serverId, const QString& emailList, QString* errorOut) {
    QString error;
    if (!ExecOnce(QStringLiteral("UPDATE tblServers SET EmailAddress = ? WHERE IDNum = ?"),
                  {emailList, serverId}, error)) {
        if (errorOut) *errorOut = error;
        ShowFailure(QStringLiteral("Error updating email addresses.  The error is: "), error);
        return false;
    }
    return true;
}

bool IsIPAddressUnique(const QString& ip, QString& ownerName, qint64 exceptServerId) {
    ownerName.clear();
    Recordset rows;
    QString error;
    if (!OpenRecordset(
            QStringLiteral("tblServers"),
            QStringLiteral("SELECT * FROM tblServers WHERE ServerIPAddress = ? AND IDNum <> ?"),
            {ip, exceptServerId}, rows, &error)) {
        ShowFailure(QStringLiteral("Error verifing that the IP address ") + ip +
                        QStringLiteral(" is unique.  The error is:  "),
                    error);
        return false;
    }
    if (rows.RecordCount() == 0) return true;
    ownerName = rows.Text(QStringLiteral("ServerName"));
    return false;
}

bool DeleteServer(qint64 serverId) {
    Connection connection;
    bool ok = connection.Open();
    if (ok) {
        // Both deletes or neither: a server must not lose half its rows.
        ok = connection.Begin();
        if (ok) {
            ok = connection.Exec(QStringLiteral("DELETE FROM tblSensors WHERE ServerIDNum = ?"),
                                 {serverId}) &&
                 connection.Exec(QStringLiteral("DELETE FROM tblServers WHERE IDNum = ?"),
                                 {serverId});
            if (ok) {
                ok = connection.Commit();
            } else {
                connection.Rollback();
            }
        }
    }
    if (!ok) {
        ShowFailure(QStringLiteral("Error in DeleteServer is "), connection.Error());
        return false;
    }
    return true;
}

namespace {
// Boolean text columns hold -1/0 (or "True"/"False" in older files).
int StoredFlag(const QVariant& value) {
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return -1;
    return text.toInt();
}

ServerRow RowOf(const Recordset& rows) {
    ServerRow row;
    row.id = rows.Value(QStringLiteral("IDNum")).toLongLong();
    row.name = rows.Text(QStringLiteral("ServerName"));
    row.model = rows.Text(QStringLiteral("ServerModel"));
    row.ip = rows.Text(QStringLiteral("ServerIPAddress"));
    row.notes = rows.Text(QStringLiteral("ServerNotes"));
    row.password = rows.Text(QStringLiteral("UserPassword"));
    row.emailList = rows.Text(QStringLiteral("EmailAddress"));
    row.enabled = StoredFlag(rows.Value(QStringLiteral("Enabled")));
    row.comm = StoredFlag(rows.Value(QStringLiteral("Comm")));
    return row;
}
}  // namespace

bool ReadServer(qint64 serverId, ServerRow& server, QString* error) {
    Recordset rows;
    QString reason;
    if (!OpenRecordset(QStringLiteral("tblServers"),
                       QStringLiteral("SELECT * FROM tblServers WHERE IDNum = ?"), {serverId}, rows,
                       &reason) ||
        rows.RecordCount() == 0) {
        if (error) *error = reason.isEmpty() ? QStringLiteral("No such server") : reason;
        return false;
    }
    server = RowOf(rows);
    return true;
}

bool ListServers(QList<ServerRow>& servers, QString* error) {
    servers.clear();
    Recordset rows;
    QString reason;
    if (!OpenRecordset(QStringLiteral("tblServers"),
                       QStringLiteral("SELECT * FROM tblServers ORDER BY IDNum"), {}, rows,
                       &reason)) {
        ErrorLog::RecordError(QStringLiteral("RecordServers()"), reason);
        if (error) *error = reason;
        return false;
    }
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) servers << RowOf(rows);
    return true;
}

bool GetFieldByID(qint64 id, const QString& table, const QString& column, QVariant& value) {
    if (!Database::IsPlainName(table)) return false;
    Recordset rows;
    QString error;
    if (!OpenRecordset(
            table, QStringLiteral("SELECT * FROM ") + table + QStringLiteral(" WHERE IDNum = ?"),
            {id}, rows, &error) ||
        rows.RecordCount() == 0) {
        return false;
    }
    value = rows.Value(column);
    return value.isValid();
}

bool AddAlarmRecord(qint64 sensorId, const QDateTime& start, const QString& serverName,
                    const QString& sensorName, const QString& currentData, qint64 tol, int active) {
    QString error;
    if (!ExecOnce(
            QStringLiteral("INSERT INTO tblAlarms (SensorIDNum, AlarmStart, AlarmActive,"
                           " Server, Sensor, CurrentData, TOL) VALUES (?, ?, ?, ?, ?, ?, ?)"),
            {sensorId, Clock::DbStamp(start), active, serverName, sensorName, currentData, tol},
            error)) {
        ErrorLog::RecordError(QStringLiteral("Error adding alarm record to tblAlarms"), error);
        return false;
    }
    return true;
}

bool RecordActiveAlarms(qint64 sensorId, int& count) {
    Recordset rows;
    QString error;
    // Any non-zero value counts as True.
    if (!OpenAtLast(
            QStringLiteral("tblAlarms"),
            QStringLiteral("SELECT * FROM tblAlarms WHERE SensorIDNum = ? AND AlarmActive <> 0"),
            {sensorId}, rows, count, error)) {
        ErrorLog::RecordError(QStringLiteral("RecordActiveAlarms"), error);
        return false;
    }
    return true;
}

bool SensorAlarmCounts(qint64 sensorId, int& open, int& active) {
    open = active = 0;
    Recordset rows;
    QString error;
    // Any non-zero value counts as True.
    if (!OpenRecordset(QStringLiteral("tblAlarms"),
                       QStringLiteral("SELECT count(*) - count(AlarmEnd) AS OpenCount, "
                                      "coalesce(sum(AlarmActive <> 0), 0) AS ActiveCount "
                                      "FROM tblAlarms WHERE SensorIDNum = ?"),
                       {sensorId}, rows, &error)) {
        ErrorLog::RecordError(QStringLiteral("RecordActiveAlarms"), error);
        return false;
    }
    open = rows.Value(QStringLiteral("OpenCount")).toInt();
    active = rows.Value(QStringLiteral("ActiveCount")).toInt();
    return true;
}

bool ListAlarmPeriods(QList<AlarmPeriod>& periods, QString* error) {
    periods.clear();
    Recordset rows;
    if (!OpenRecordset(QStringLiteral("tblAlarms"),
                       QStringLiteral("SELECT SensorIDNum, AlarmStart, AlarmEnd FROM tblAlarms"),
                       {}, rows, error)) {
        return false;
    }
    const auto stamp = [](const QVariant& value) {
        const QDateTime when = Clock::FromDbStamp(value.toString());
        return when.isValid() || value.isNull() ? when : value.toDateTime();
    };
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) {
        AlarmPeriod period;
        period.sensorId = rows.Value(QStringLiteral("SensorIDNum")).toLongLong();
        period.start = stamp(rows.Value(QStringLiteral("AlarmStart")));
        period.end = stamp(rows.Value(QStringLiteral("AlarmEnd")));
        if (period.start.isValid()) periods << period;
    }
    return true;
}

namespace {
AlarmRecord AlarmFromRow(const Recordset& rows) {
    const auto stamp = [](const QVariant& value) {
        const QDateTime when = Clock::FromDbStamp(value.toString());
        return when.isValid() || value.isNull() ? when : value.toDateTime();
    };
    AlarmRecord alarm;
    alarm.id = rows.Value(QStringLiteral("IDNum")).toLongLong();
    alarm.sensorId = rows.Value(QStringLiteral("SensorIDNum")).toLongLong();
    alarm.start = stamp(rows.Value(QStringLiteral("AlarmStart")));
    alarm.end = stamp(rows.Value(QStringLiteral("AlarmEnd")));
    alarm.active = rows.Value(QStringLiteral("AlarmActive")).toInt() != 0;
    alarm.emailSent = rows.Text(QStringLiteral("EmailSent")).trimmed();
    alarm.cause = rows.Text(QStringLiteral("CauseOfAlarm")).trimmed();
    alarm.server = rows.Text(QStringLiteral("Server")).trimmed();
    alarm.sensor = rows.Text(QStringLiteral("Sensor")).trimmed();
    alarm.currentData = rows.Text(QStringLiteral("CurrentData")).trimmed();
    alarm.resolution = rows.Text(QStringLiteral("Resolution"));
    return alarm;
}
}  // namespace

bool ListAlarmRecords(QList<AlarmRecord>& alarms, bool openOnly, const QDateTime& since,
                      QString* error) {
    alarms.clear();
    EnsureResolutionColumn();
    QString sql = QStringLiteral("SELECT * FROM tblAlarms WHERE 1 = 1");
    QVariantList values;
    if (openOnly) sql += QStringLiteral(" AND AlarmEnd IS NULL");
    if (since.isValid()) {
        sql += QStringLiteral(" AND AlarmStart >= ?");
        values << Clock::DbStamp(since);
    }
    sql += QStringLiteral(" ORDER BY AlarmStart DESC, IDNum DESC");
    Recordset rows;
    if (!OpenRecordset(QStringLiteral("tblAlarms"), sql, values, rows, error)) return false;
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) alarms << AlarmFromRow(rows);
    return true;
}

bool ReadAlarmRecord(qint64 alarmId, AlarmRecord& alarm, QString* error) {
    EnsureResolutionColumn();
    Recordset rows;
    if (!OpenRecordset(QStringLiteral("tblAlarms"),
                       QStringLiteral("SELECT * FROM tblAlarms WHERE IDNum = ?"), {alarmId}, rows,
                       error)) {
        return false;
    }
    if (rows.RecordCount() == 0) {
        if (error) *error = QStringLiteral("there is no alarm %1").arg(alarmId);
        return false;
    }
    alarm = AlarmFromRow(rows);
    return true;
}

bool ListAlarmsEndedSince(const QDateTime& since, QList<AlarmRecord>& alarms, QString* error) {
    alarms.clear();
    Recordset rows;
    if (!OpenRecordset(QStringLiteral("tblAlarms"),
                       QStringLiteral("SELECT * FROM tblAlarms WHERE AlarmEnd >= ?"
                                      " ORDER BY AlarmEnd, IDNum"),
                       {Clock::DbStamp(since)}, rows, error)) {
        return false;
    }
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) alarms << AlarmFromRow(rows);
    return true;
}

bool ListFailuresEndedSince(const QDateTime& since, QList<FailurePeriod>& failures,
                            QString* error) {
    failures.clear();
    Recordset rows;
    // An open row's BackOnLine is the text 'False', which sorts after every stamp.
    if (!OpenRecordset(QStringLiteral("tblServerFailures"),
                       QStringLiteral("SELECT * FROM tblServerFailures WHERE BackOnLine >= ?"
                                      " AND BackOnLine <> 'False' ORDER BY BackOnLine, IDNum"),
                       {Clock::DbStamp(since)}, rows, error)) {
        return false;
    }
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) {
        FailurePeriod failure;
        failure.serverId = rows.Value(QStringLiteral("ServerIDNum")).toLongLong();
        failure.server = rows.Text(QStringLiteral("ServerName")).trimmed();
        failure.offLine = Clock::FromDbStamp(rows.Text(QStringLiteral("OffLine")));
        failure.backOnLine = Clock::FromDbStamp(rows.Text(QStringLiteral("BackOnLine")));
        if (failure.backOnLine.isValid()) failures << failure;
    }
    return true;
}

bool ListOpenAlarms(QList<OpenAlarm>& alarms, int limit, QString* error) {
    alarms.clear();
    // A connection of its own, read-only and without waiting for a lock:
    // a page asked for while another program holds the file gets no alarms
    // at once, and the program's own connection keeps its state.
    const QString name = QStringLiteral("zolo-reader");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(Database::Path());
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=0"));
        if (db.open()) {
            QSqlQuery rows(db);
            rows.prepare(QStringLiteral(
                "SELECT IDNum, SensorIDNum, Server, Sensor, CurrentData, AlarmStart "
                "FROM tblAlarms WHERE AlarmEnd IS NULL ORDER BY AlarmStart, IDNum LIMIT ?"));
            rows.addBindValue(limit);
            ok = rows.exec();
            while (ok && rows.next()) {
                OpenAlarm alarm;
                alarm.id = rows.value(0).toLongLong();
                alarm.sensorId = rows.value(1).toLongLong();
                alarm.server = rows.value(2).toString().trimmed();
                alarm.sensor = rows.value(3).toString().trimmed();
                alarm.currentData = rows.value(4).toString().trimmed();
                alarm.start = Clock::FromDbStamp(rows.value(5).toString());
                alarms << alarm;
            }
            if (!ok && error) *error = rows.lastError().text();
        } else if (error) {
            *error = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

bool RecordOpenAlarms(const QString& table, const QString& keyColumn, qint64 id,
                      const QString& nullColumn, Recordset& open, int& count) {
    count = 0;
    if (!Database::IsPlainName(table) || !Database::IsPlainName(keyColumn) ||
        !Database::IsPlainName(nullColumn)) {
        ErrorLog::RecordError(QStringLiteral("Error RecordOpenAlarms"),
                              QStringLiteral("Invalid table or column name."));
        return false;
    }
    QString error;
    if (!OpenAtLast(table,
                    QStringLiteral("SELECT * FROM ") + table + QStringLiteral(" WHERE ") +
                        keyColumn + QStringLiteral(" = ? AND ") + nullColumn +
                        QStringLiteral(" Is NULL"),
                    {id}, open, count, error)) {
        ErrorLog::RecordError(QStringLiteral("Error RecordOpenAlarms"), error);
        return false;
    }
    return true;
}

bool EnsureResolutionColumn() {
    Connection connection;
    if (!connection.Open()) return false;
    QSqlDatabase db = connection.Db();
    if (db.record(QStringLiteral("tblAlarms")).indexOf(QStringLiteral("Resolution")) >= 0) {
        return true;
    }
    return connection.Exec(QStringLiteral("ALTER TABLE tblAlarms ADD COLUMN Resolution TEXT"));
}

bool SaveResolution(qint64 alarmId, const QString& text, QString* error) {
    QString reason;
    if (!EnsureResolutionColumn()) {
        reason = QStringLiteral("The alarm table cannot take a resolution.");
    } else {
        Recordset alarm;
        if (OpenRecordset(QStringLiteral("tblAlarms"),
                          QStringLiteral("SELECT * FROM tblAlarms WHERE IDNum = ?"), {alarmId},
                          alarm, &reason)) {
            if (alarm.RecordCount() == 0) {
                reason = QStringLiteral("The alarm record no longer exists.");
            } else {
                alarm.SetValue(QStringLiteral("Resolution"), QStringLiteral("Resolution Entered ") +
                                                                 Clock::GeneralDateText() +
                                                                 QStringLiteral("\r") + text);
                if (!alarm.Update()) reason = alarm.Error();
            }
        }
    }
    if (error) *error = reason;
    return reason.isEmpty();
}

namespace {
QString MailedTable(MailedRow which) {
    return which == MailedRow::Alarm           ? QStringLiteral("tblAlarms")
           : which == MailedRow::ServerFailure ? QStringLiteral("tblServerFailures")
                                               : QStringLiteral("tblLogFileBackup");
}

Written Insert(const QString& sql, const QVariantList& values, qint64& rowId, QString* error) {
    Connection connection;
    if (!connection.Open() || !connection.Exec(sql, values)) {
        if (error) *error = connection.Error();
        return Written::Failed;
    }
    rowId = connection.LastInsertId();
    return Written::Done;
}

bool FindOne(const QString& table, const QString& sql, const QVariantList& values, qint64& rowId,
             QString* error) {
    rowId = 0;
    Recordset rows;
    if (!OpenRecordset(table, sql, values, rows, error)) return false;
    if (rows.RecordCount() > 0) rowId = rows.Value(QStringLiteral("IDNum")).toLongLong();
    return true;
}

bool ReadOpen(const QString& table, const QString& sql, const QString& startColumn, qint64 id,
              OpenRecord& open, QString* error) {
    open = OpenRecord();
    Recordset rows;
    if (!OpenRecordset(table, sql, {id}, rows, error)) return false;
    if (rows.RecordCount() > 0) {
        open.id = rows.Value(QStringLiteral("IDNum")).toLongLong();
        open.start = rows.Text(startColumn);
        open.emailSent = rows.Text(QStringLiteral("EmailSent"));
    }
    return true;
}
}  // namespace

bool SetEmailSent(MailedRow which, qint64 rowId, const QString& text, QString* error) {
    const QString table = MailedTable(which);
    QString reason;
    Recordset row;
    if (OpenRecordset(table,
                      QStringLiteral("SELECT * FROM ") + table + QStringLiteral(" WHERE IDNum = ?"),
                      {rowId}, row, &reason)) {
        if (row.RecordCount() == 0) {
            reason = QStringLiteral("The record %1 of %2 no longer exists.").arg(rowId).arg(table);
        } else {
            row.MoveFirst();
            row.SetValue(QStringLiteral("EmailSent"), text);
            if (!row.Update()) reason = row.Error();
        }
    }
    if (error) *error = reason;
    return reason.isEmpty();
}

Written InsertAlarm(const AlarmOpening& a, qint64& rowId, QString* error) {
    return Insert(QStringLiteral("INSERT INTO tblAlarms (SensorIDNum, AlarmStart, AlarmActive,"
                                 " Server, Sensor, CurrentData, TOL, CauseOfAlarm, EmailSent)"
                                 " VALUES (?, ?, -1, ?, ?, ?, ?, ?, ?)"),
                  {a.sensorId, a.start, a.server, a.sensor, a.currentData, a.tol, a.cause,
                   a.emailSent ? QVariant(*a.emailSent) : QVariant()},
                  rowId, error);
}

Written InsertFailure(const FailureOpening& f, qint64& rowId, QString* error) {
    return Insert(QStringLiteral("INSERT INTO tblServerFailures (ServerName, ServerIDNum, OffLine,"
                                 " BackOnLine, EmailSent) VALUES (?, ?, ?, 'False', 'False')"),
                  {f.serverName, f.serverId, f.offLine}, rowId, error);
}

bool FindAlarm(const AlarmOpening& a, qint64& rowId, QString* error) {
    return FindOne(QStringLiteral("tblAlarms"),
                   QStringLiteral("SELECT IDNum FROM tblAlarms WHERE SensorIDNum = ? AND"
                                  " AlarmStart = ? AND CurrentData = ? ORDER BY IDNum DESC"),
                   {a.sensorId, a.start, a.currentData}, rowId, error);
}

bool FindFailure(const FailureOpening& f, qint64& rowId, QString* error) {
    return FindOne(QStringLiteral("tblServerFailures"),
                   QStringLiteral("SELECT IDNum FROM tblServerFailures WHERE ServerIDNum = ? AND"
                                  " OffLine = ? ORDER BY IDNum DESC"),
                   {f.serverId, f.offLine}, rowId, error);
}

Written UpdateRecord(MailedRow which, qint64 rowId, const QVariantMap& columns, QString* error) {
    QStringList sets;
    QVariantList values;
    for (auto it = columns.constBegin(); it != columns.constEnd(); ++it) {
        if (!Database::IsPlainName(it.key())) {
            if (error) *error = QStringLiteral("Not a column name: ") + it.key();
            return Written::Failed;
        }
        sets << it.key() + QStringLiteral(" = ?");
        values << it.value();
    }
    values << rowId;
    const QString table = MailedTable(which);
    Connection connection;
    if (!connection.Open() ||
        !connection.Exec(QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") +
                             sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE IDNum = ?"),
                         values)) {
        if (error) *error = connection.Error();
        return Written::Failed;
    }
    if (connection.RowsAffected() > 0) return Written::Done;
    if (error)
        *error = QStringLiteral("The record %1 of %2 no longer exists.").arg(rowId).arg(table);
    return Written::Gone;
}

bool ReadOpenAlarm(qint64 sensorId, OpenRecord& open, QString* error) {
    return ReadOpen(QStringLiteral("tblAlarms"),
                    QStringLiteral("SELECT IDNum, AlarmStart, EmailSent FROM tblAlarms WHERE"
                                   " SensorIDNum = ? AND AlarmEnd IS NULL ORDER BY IDNum DESC"),
                    QStringLiteral("AlarmStart"), sensorId, open, error);
}

bool ReadOpenFailure(qint64 serverId, OpenRecord& open, QString* error) {
    return ReadOpen(QStringLiteral("tblServerFailures"),
                    QStringLiteral("SELECT IDNum, OffLine, EmailSent FROM tblServerFailures WHERE"
                                   " ServerIDNum = ? AND BackOnLine = 'False' ORDER BY IDNum"),
                    QStringLiteral("OffLine"), serverId, open, error);
}

bool RecordServerBackOnline(qint64 serverId, QString* error, std::optional<ClosedFailure>* closed) {
    Recordset rows;
    QString reason;
    // Ordered by key so that "the first one found" is always the oldest.
    if (!OpenRecordset(QStringLiteral("tblServerFailures"),
                       QStringLiteral("SELECT * FROM tblServerFailures WHERE ServerIDNum = ?"
                                      " AND BackOnLine = 'False' ORDER BY IDNum"),
                       {serverId}, rows, &reason)) {
        if (error) *error = reason;
        return false;
    }
    if (rows.RecordCount() == 0) return true;
    const QString now = Clock::DbStamp();
    rows.SetValue(QStringLiteral("BackOnLine"), now);
    if (!rows.Update()) {
        if (error) *error = rows.Error();
        return false;
    }
    if (closed) {
        *closed = ClosedFailure{rows.Text(QStringLiteral("OffLine")), now,
                                rows.Text(QStringLiteral("EmailSent"))};
    }
    return true;
}

bool ServerFailureRows(qint64 serverId, FailureRows which, Recordset& rows, int& count) {
    QString condition;
    switch (which) {
        case FailureRows::OpenNotMailed:
            condition = QStringLiteral(" AND BackOnLine = 'False' AND EmailSent = 'False'");
            break;
        case FailureRows::OpenMailed:
            condition = QStringLiteral(" AND BackOnLine = 'False' AND EmailSent <> 'False'");
            break;
        case FailureRows::NotOffLineNotMailed:
            condition = QStringLiteral(" AND OffLine = 'False' AND EmailSent = 'False'");
            break;
    }
    QString error;
    if (!OpenAtLast(
            QStringLiteral("tblServerFailures"),
            QStringLiteral("SELECT * FROM tblServerFailures WHERE ServerIDNum = ?") + condition,
            {serverId}, rows, count, error)) {
        ErrorLog::RecordError(QStringLiteral("RecordServerFailure"), error);
        return false;
    }
    return true;
}

bool ReadFailureRow(qint64 serverId, FailureRows which, OpenRecord& row) {
    row = OpenRecord();
    Recordset rows;
    int count = 0;
    if (!ServerFailureRows(serverId, which, rows, count)) return false;
    if (count > 0) {
        row.id = rows.Value(QStringLiteral("IDNum")).toLongLong();
        row.start = rows.Text(QStringLiteral("OffLine"));
        row.emailSent = rows.Text(QStringLiteral("EmailSent"));
    }
    return true;
}

bool AddServerFailure(qint64 serverId, const QString& serverName) {
    QString error;
    if (!ExecOnce(QStringLiteral("INSERT INTO tblServerFailures (ServerName, ServerIDNum, OffLine,"
                                 " BackOnLine, EmailSent) VALUES (?, ?, ?, 'False', 'False')"),
                  {serverName, serverId, Clock::DbStamp()}, error)) {
        ErrorLog::RecordError(QStringLiteral("RecordServerFailure"), error);
        return false;
    }
    return true;
}

bool AddLogFileBackupError(const QString& errorText) {
    QString error;
    if (!ExecOnce(QStringLiteral("INSERT INTO tblLogFileBackup (FirstError, BackOnLine, EmailSent,"
                                 " Error) VALUES (?, 'False', 'False', ?)"),
                  {Clock::DbStamp(), errorText}, error)) {
        ErrorLog::RecordError(QStringLiteral("Error adding alarm record to tblLogFileBackup"),
                              error);
        return false;
    }
    return true;
}

bool RecordOpenBackupFileErrors(Recordset& open, int& count) {
    QString error;
    if (!OpenAtLast(QStringLiteral("tblLogFileBackup"),
                    QStringLiteral("SELECT * FROM tblLogFileBackup"
                                   " WHERE FirstError <> 'False' AND BackOnLine = 'False'"),
                    {}, open, count, error)) {
        ErrorLog::RecordError(QStringLiteral("Error RecordOpenBackupFileErrors()"), error);
        return false;
    }
    return true;
}

bool ReadOpenBackupError(OpenRecord& last, int& count) {
    last = OpenRecord();
    Recordset open;
    if (!RecordOpenBackupFileErrors(open, count)) return false;
    if (count > 0) {
        last.id = open.Value(QStringLiteral("IDNum")).toLongLong();
        last.start = open.Text(QStringLiteral("FirstError"));
        last.emailSent = open.Text(QStringLiteral("EmailSent"));
    }
    return true;
}

QString ListingSql(Listing which) {
    switch (which) {
        case Listing::Alarms:
            return QStringLiteral("SELECT * FROM tblAlarms ORDER BY AlarmStart DESC, IDNum DESC");
        case Listing::Errors:
            return QStringLiteral("SELECT * FROM tblErrors ORDER BY myTime DESC, ErrorID DESC");
        case Listing::FailuresById:
            return QStringLiteral("SELECT * FROM tblServerFailures ORDER BY IDNum DESC");
        case Listing::FailuresByOffLine:
            return QStringLiteral("SELECT * FROM tblServerFailures ORDER BY OffLine DESC");
    }
    return {};
}

namespace {
QString CellText(const QString& column, const QVariant& value) {
    if (value.isNull()) return QString();
    if (column == QLatin1String("AlarmActive")) {
        return value.toInt() != 0 ? QStringLiteral("True") : QStringLiteral("False");
    }
    const QString text = value.toString();
    const QDateTime stamp = Clock::FromDbStamp(text);
    return stamp.isValid() ? Clock::GeneralDateText(stamp) : text;
}

QStringList ListingColumns(Listing which) {
    switch (which) {
        case Listing::Alarms:
            return {QStringLiteral("IDNum"),        QStringLiteral("AlarmStart"),
                    QStringLiteral("AlarmEnd"),     QStringLiteral("Server"),
                    QStringLiteral("Sensor"),       QStringLiteral("CurrentData"),
                    QStringLiteral("AlarmActive"),  QStringLiteral("EmailSent"),
                    QStringLiteral("CauseOfAlarm"), QStringLiteral("Resolution"),
                    QStringLiteral("SensorIDNum"),  QStringLiteral("TOL")};
        case Listing::Errors:
            return {QStringLiteral("ErrorID"), QStringLiteral("myTime"),
                    QStringLiteral("myFunction"), QStringLiteral("Cause")};
        case Listing::FailuresById:
        case Listing::FailuresByOffLine:
            break;
    }
    return {QStringLiteral("IDNum"),   QStringLiteral("ServerName"), QStringLiteral("ServerIDNum"),
            QStringLiteral("OffLine"), QStringLiteral("BackOnLine"), QStringLiteral("EmailSent")};
}

}  // namespace

bool OpenListing(Listing which, Recordset& rows, QString* error) {
    static const QString tables[] = {QStringLiteral("tblAlarms"), QStringLiteral("tblErrors"),
                                     QStringLiteral("tblServerFailures"),
                                     QStringLiteral("tblServerFailures")};
    QString reason;
    const bool ok =
        OpenRecordset(tables[static_cast<int>(which)], ListingSql(which), {}, rows, &reason);
    if (error) *error = reason;
    return ok;
}
bool ReadListing(Listing which, GridText& grid, QString* error) {
    Recordset rows;
    if (!OpenListing(which, rows, error)) return false;
    grid.columns = ListingColumns(which);
    grid.rows.clear();
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) {
        QStringList cells;
        for (const QString& column : grid.columns) cells << CellText(column, rows.Value(column));
        grid.rows << cells;
    }
    return true;
}

bool ReadAlarm(int number, AlarmText& alarm, int& count, QString* error) {
    EnsureResolutionColumn();
    Recordset rows;
    count = 0;
    if (!OpenListing(Listing::Alarms, rows, error)) return false;
    count = rows.RecordCount();
    if (number < 1 || number > count) return true;
    rows.Move(number - 1);
    alarm.id = rows.Value(QStringLiteral("IDNum")).toLongLong();
    alarm.start = CellText(QStringLiteral("AlarmStart"), rows.Value(QStringLiteral("AlarmStart")));
    alarm.end = CellText(QStringLiteral("AlarmEnd"), rows.Value(QStringLiteral("AlarmEnd")));
    alarm.server = rows.Text(QStringLiteral("Server"));
    alarm.sensor = rows.Text(QStringLiteral("Sensor"));
    alarm.cause = rows.Text(QStringLiteral("CauseOfAlarm"));
    alarm.resolution = rows.Text(QStringLiteral("Resolution"));
    const QString sent = rows.Text(QStringLiteral("EmailSent"));
    const QDateTime sentAt = Clock::FromDbStamp(sent);
    alarm.mailed = sentAt.isValid();
    alarm.emailSent = alarm.mailed ? Clock::GeneralDateText(sentAt) : sent;
    return true;
}

}  // namespace ServerDatabase
