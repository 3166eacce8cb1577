-- System database of fernlog (zolo.mdb). Booleans keep the old engine's
-- convention: True is -1, False is 0. Date-time columns hold
-- "yyyy-MM-dd HH:mm:ss" text so that descending orders list the newest first.

CREATE TABLE IF NOT EXISTS tblServers (
    IDNum           INTEGER PRIMARY KEY AUTOINCREMENT,
    ServerName      TEXT,
    ServerModel     TEXT,
    ServerIPAddress TEXT,
    ServerNotes     TEXT,
    Enabled         TEXT,
    UserPassword    TEXT,
    EmailAddress    TEXT,
    Comm            TEXT
);

CREATE TABLE IF NOT EXISTS tblSensors (
    IDNum       INTEGER PRIMARY KEY AUTOINCREMENT,
    ServerIDNum INTEGER,
    SensorName  TEXT,
    PortNum     INTEGER,
    SensorNotes TEXT,
    SensorType  TEXT
);

CREATE TABLE IF NOT EXISTS tblAlarms (
    IDNum        INTEGER PRIMARY KEY AUTOINCREMENT,
    SensorIDNum  INTEGER,
    AlarmStart   TEXT,
    AlarmEnd     TEXT,
    AlarmActive  INTEGER,
    EmailSent    TEXT,
    CauseOfAlarm TEXT,
    Server       TEXT,
    Sensor       TEXT,
    CurrentData  TEXT,
    TOL          INTEGER,
    Resolution   TEXT
);

CREATE TABLE IF NOT EXISTS tblErrors (
    ErrorID    INTEGER PRIMARY KEY AUTOINCREMENT,
    myTime     TEXT,
    myFunction TEXT,
    Cause      TEXT
);

CREATE TABLE IF NOT EXISTS tblServerFailures (
    IDNum       INTEGER PRIMARY KEY AUTOINCREMENT,
    ServerName  TEXT,
    ServerIDNum INTEGER,
    OffLine     TEXT,
    BackOnLine  TEXT,
    EmailSent   TEXT
);

CREATE TABLE IF NOT EXISTS tblLogFileBackup (
    IDNum         INTEGER PRIMARY KEY AUTOINCREMENT,
    FirstError    TEXT,
    BackOnLine    TEXT,
    EmailSent     TEXT,
    Error         TEXT,
    LatestAttempt TEXT
);

CREATE INDEX IF NOT EXISTS idxSensorsServerPort ON tblSensors (ServerIDNum, PortNum);
CREATE INDEX IF NOT EXISTS idxAlarmsSensor ON tblAlarms (SensorIDNum);
CREATE INDEX IF NOT EXISTS idxAlarmsStart ON tblAlarms (AlarmStart);
CREATE INDEX IF NOT EXISTS idxErrorsTime ON tblErrors (myTime);
CREATE INDEX IF NOT EXISTS idxFailuresServer ON tblServerFailures (ServerIDNum);
