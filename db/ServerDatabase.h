#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

#include "db/Database.h"

// The database layer of fernlog: every read and write of zolo.mdb. Each
// operation opens its own connection and closes it, except those that hand
// a recordset back; that recordset keeps its connection until released.
// Failures take the operation's own path: a message box, an entry in the
// error log, or a silent false. Nothing is thrown.
namespace ServerDatabase {

using Database::Recordset;

// Sensors, found by server and port together.
bool GetSensorNotes(qint64 serverId, int port, QString& notes);
bool AddSensor(qint64 serverId, const QString& name, int port, const QString& notes,
               const QString& type);
bool SensorExists(qint64 serverId, int port);
bool CountNamedSensors(int& count);                                 // false also when none is named
bool LoadSensors(qint64 serverId, Recordset& sensors, int& count);  // false also when none
// LoadSensors as rows: the named sensors of a server, by port.
struct SensorEntry {
    qint64 id = 0;
    int port = 0;
    QString name, notes, type;
};
bool ListSensors(qint64 serverId, QList<SensorEntry>& sensors);  // false also when none

// Servers.
bool GetServerRecord(qint64 serverId, Recordset& server);  // false when no row
bool RecordServers(Recordset& servers, int& count);
bool AddServer(const QString& name, const QString& model, const QString& ip, const QString& notes,
               int enabled, const QString& password, const QString& emailList, int comm,
               QString* error = nullptr);
bool UpdateServer(qint64 serverId, const QString& name, const QString& model, const QString& ip,
                  const QString& notes, int enabled, const QString& password,
                  const QString& emailList, int comm, QString* error = nullptr);
bool UpdateServerEmail(qint64 serverId, const QString& emailList, QString* error = nullptr);

// A row of tblServers as the registry window shows it.
struct ServerRow {
    qint64 id = -1;
    QString name, model, ip, notes, password, emailList;
    int enabled = 0;  // -1 or 1 for enabled, as stored
    int comm = 0;     // -1 when the device was last reached
};
// GetServerRecord as a row; false when there is none or it cannot be read.
bool ReadServer(qint64 serverId, ServerRow& server, QString* error = nullptr);
// RecordServers as rows, in the order they come back.
bool ListServers(QList<ServerRow>& servers, QString* error = nullptr);
// Whether no server other than `exceptServerId` uses `ip`; otherwise the
// name of one that does.
bool IsIPAddressUnique(const QString& ip, QString& ownerName, qint64 exceptServerId = -1);
bool DeleteServer(qint64 serverId);  // alarm and failure rows of the server stay
bool GetFieldByID(qint64 id, const QString& table, const QString& column, QVariant& value);

// Alarms. `active` is written as its integer (-1 for True).
bool AddAlarmRecord(qint64 sensorId, const QDateTime& start, const QString& serverName,
                    const QString& sensorName, const QString& currentData, qint64 tol, int active);
bool RecordActiveAlarms(qint64 sensorId, int& count);
// Both counts of a sensor's alarm records in one query: open (no AlarmEnd)
// and active (AlarmActive True). Errors are recorded as RecordActiveAlarms'.
bool SensorAlarmCounts(qint64 sensorId, int& open, int& active);
bool RecordOpenAlarms(const QString& table, const QString& keyColumn, qint64 id,
                      const QString& nullColumn, Recordset& open, int& count);
// Every alarm record's sensor and times; `end` is invalid while the alarm
// is open. False with the reason when the records cannot be read.
struct AlarmPeriod {
    qint64 sensorId = 0;
    QDateTime start, end;
};
bool ListAlarmPeriods(QList<AlarmPeriod>& periods, QString* error = nullptr);
// The alarm records without an end, oldest first, at most `limit` of them;
// false at once, without waiting, while another program holds the file
// locked.
struct OpenAlarm {
    qint64 id = 0;
    qint64 sensorId = 0;
    QString server, sensor, currentData;
    QDateTime start;
};
bool ListOpenAlarms(QList<OpenAlarm>& alarms, int limit, QString* error = nullptr);
// An alarm record whole, as the alarm commands list and show it; `end` is
// invalid while the alarm is open.
struct AlarmRecord {
    qint64 id = 0;
    qint64 sensorId = 0;
    QDateTime start, end;
    bool active = false;
    QString emailSent, cause, server, sensor, currentData, resolution;
};
// Alarm records, newest first: only open ones when `openOnly`, only those
// started at or after `since` when it is valid.
bool ListAlarmRecords(QList<AlarmRecord>& alarms, bool openOnly, const QDateTime& since,
                      QString* error = nullptr);
// One record by its IDNum; false with the reason when there is none.
bool ReadAlarmRecord(qint64 alarmId, AlarmRecord& alarm, QString* error = nullptr);
// Alarm records that ended at or after `since`, oldest end first.
bool ListAlarmsEndedSince(const QDateTime& since, QList<AlarmRecord>& alarms,
                          QString* error = nullptr);
// Adds the Resolution column to tblAlarms of databases provisioned without it.
bool EnsureResolutionColumn();
// Stores "Resolution Entered " + now + CR + text as the alarm's resolution.
bool SaveResolution(qint64 alarmId, const QString& text, QString* error = nullptr);

// Device failures.
// What an outage row held when it was closed.
struct ClosedFailure {
    QString offLine;  // stamp of the first failed cycle
    QString backOnLine;
    QString emailSent;  // stamp when the failure e-mail went out, else "False" or its error
};
// Closes the first open failure row of the server. Its failure is the
// caller's to handle: false with the reason in `error`. `closed` is set when
// a row was closed, and left alone when none was open.
bool RecordServerBackOnline(qint64 serverId, QString* error = nullptr,
                            std::optional<ClosedFailure>* closed = nullptr);
// Outages that ended at or after `since`, oldest end first.
struct FailurePeriod {
    qint64 serverId = 0;
    QString server;
    QDateTime offLine, backOnLine;
};
bool ListFailuresEndedSince(const QDateTime& since, QList<FailurePeriod>& failures,
                            QString* error = nullptr);
enum class FailureRows {
    OpenNotMailed,        // BackOnLine 'False' and EmailSent 'False'
    OpenMailed,           // BackOnLine 'False' and EmailSent <> 'False'
    NotOffLineNotMailed,  // OffLine 'False' and EmailSent 'False'
};
bool ServerFailureRows(qint64 serverId, FailureRows which, Recordset& rows, int& count);
struct OpenRecord;
// The last row ServerFailureRows finds, typed (`id` 0 when none).
bool ReadFailureRow(qint64 serverId, FailureRows which, OpenRecord& row);
bool AddServerFailure(qint64 serverId, const QString& serverName);

// Log directory outages.
bool AddLogFileBackupError(const QString& error);
bool RecordOpenBackupFileErrors(Recordset& open, int& count);
struct OpenRecord;
// How many log directory outages are open, and the last of them typed
// (`id` 0 when none; `start` is its FirstError).
bool ReadOpenBackupError(OpenRecord& last, int& count);

// The EmailSent column of one alarm, device failure or log directory row,
// written when its e-mail's delivery ended.
enum class MailedRow { Alarm, ServerFailure, LogFileBackup };
bool SetEmailSent(MailedRow which, qint64 rowId, const QString& text, QString* error = nullptr);

// The alarm and failure records as the record journal writes them, with
// the times things happened. Nothing is told here: the caller keeps what
// could not be written. `Gone`: the row no longer exists (its sensor or
// device was removed), so the write can never be made.
enum class Written { Done, Gone, Failed };
struct AlarmOpening {
    qint64 sensorId = 0;
    QString start;  // database stamp
    QString server, sensor, currentData;
    qint64 tol = 0;
    QString cause;
    std::optional<QString> emailSent;
};
Written InsertAlarm(const AlarmOpening& alarm, qint64& rowId, QString* error = nullptr);
struct FailureOpening {
    qint64 serverId = 0;
    QString serverName;
    QString offLine;  // database stamp
};
Written InsertFailure(const FailureOpening& failure, qint64& rowId, QString* error = nullptr);
// A row that an earlier run wrote for this opening (0 when none): a run
// killed between writing a record and noting it must not write it twice.
bool FindAlarm(const AlarmOpening& alarm, qint64& rowId, QString* error = nullptr);
bool FindFailure(const FailureOpening& failure, qint64& rowId, QString* error = nullptr);
// Sets columns of one alarm or failure row (fixed column names only).
Written UpdateRecord(MailedRow which, qint64 rowId, const QVariantMap& columns,
                     QString* error = nullptr);
// A sensor's open alarm record (the last one) or a device's open failure
// row (the first one, which coming back online closes); `id` 0 when none.
struct OpenRecord {
    qint64 id = 0;
    QString start;  // AlarmStart or OffLine
    QString emailSent;
};
bool ReadOpenAlarm(qint64 sensorId, OpenRecord& open, QString* error = nullptr);
bool ReadOpenFailure(qint64 serverId, OpenRecord& open, QString* error = nullptr);

// The main window's grids, newest first.
enum class Listing { Alarms, Errors, FailuresById, FailuresByOffLine };
bool OpenListing(Listing which, Recordset& rows, QString* error = nullptr);
QString ListingSql(Listing which);

// A listing as text: the grid's columns and, per row, each cell as it is
// shown (date-time columns as general date text, AlarmActive as
// True/False; stored CR line ends kept).
struct GridText {
    QStringList columns;
    QList<QStringList> rows;
};
bool ReadListing(Listing which, GridText& grid, QString* error = nullptr);

// One alarm record of the alarm view, as text; alarm 1 is the newest.
struct AlarmText {
    qint64 id = 0;
    QString start, end;  // general date text; end empty while open
    QString server, sensor, cause, resolution;
    QString emailSent;    // the send time as general date text, or the stored reason
    bool mailed = false;  // emailSent is a send time
};
// `count` is the number of alarm records; `alarm` is filled when `number` is
// 1..count. False only when the records cannot be read.
bool ReadAlarm(int number, AlarmText& alarm, int& count, QString* error = nullptr);

}  // namespace ServerDatabase
