#include <QFile>

#include "common/Clock.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"
#include "support/Fixtures.h"

namespace db = ServerDatabase;

class ServerDatabaseTest : public ProgramDirTest {
  protected:
    void SetUp() override {
        ProgramDirTest::SetUp();
        ProvisionDatabase();
        Clock::SetForTest(QDateTime(QDate(2026, 12, 7), QTime(3, 0, 0)));
    }
    qint64 AddTestServer(const QString& name, const QString& ip) {
        EXPECT_TRUE(db::AddServer(name, "Model QX700-5: Refrigerator/Freezer Keeper", ip, "notes",
                                  1, "pw", "a@example,b@example,", -1));
        return Rows("SELECT max(IDNum) FROM tblServers").value(0).toLongLong();
    }
    DialogScript dialogs;
};

TEST_F(ServerDatabaseTest, EmptyServerTableThenInsertAndDuplicateAddressRefused) {
    db::Recordset servers;
    int count = -1;
    EXPECT_TRUE(db::RecordServers(servers, count));
    EXPECT_EQ(count, 0);
    servers.Release();

    const qint64 id = AddTestServer("Freezer 'A'", "127.0.0.2");
    EXPECT_EQ(
        Rows("SELECT ServerName, ServerIPAddress, Enabled, EmailAddress, Comm FROM tblServers"),
        QStringList{"Freezer 'A'|127.0.0.2|1|a@example,b@example,|-1"});
    EXPECT_TRUE(dialogs.Shown().empty());

    EXPECT_FALSE(db::AddServer("Other", "m", "127.0.0.2", "", 1, "", "", 0));
    EXPECT_EQ(dialogs.Texts(), QStringList{"The IP address for this server is not unique.  "
                                           "Please verify the desired IP address."});
    EXPECT_EQ(Rows("SELECT count(*) FROM tblServers"), QStringList{"1"});

    QString owner;
    EXPECT_FALSE(db::IsIPAddressUnique("127.0.0.2", owner));
    EXPECT_EQ(owner, "Freezer 'A'");
    EXPECT_TRUE(db::IsIPAddressUnique("127.0.0.3", owner));

    db::Recordset server;
    ASSERT_TRUE(db::GetServerRecord(id, server));
    EXPECT_EQ(server.Text("ServerName"), "Freezer 'A'");
    EXPECT_FALSE(db::GetServerRecord(id + 100, server));

    QVariant value;
    EXPECT_TRUE(db::GetFieldByID(id, "tblServers", "EmailAddress", value));
    EXPECT_EQ(value.toString(), "a@example,b@example,");
    EXPECT_FALSE(db::GetFieldByID(id + 100, "tblServers", "EmailAddress", value));
    EXPECT_FALSE(db::GetFieldByID(id, "tblServers; DROP TABLE tblServers", "ServerName", value));
}

TEST_F(ServerDatabaseTest, UpdateServerAndEmailListStoreTextExactly) {
    const qint64 id = AddTestServer("Lab", "127.0.0.2");
    EXPECT_TRUE(db::UpdateServer(id, "Lab'; DELETE FROM tblServers; --", "Model QX740", "127.0.0.9",
                                 "n", 0, "p", "x@example,", 0));
    EXPECT_TRUE(db::UpdateServerEmail(id, "y@example,\r\nz@example,"));
    EXPECT_EQ(
        Rows("SELECT ServerName, ServerIPAddress, Enabled, Comm, EmailAddress FROM tblServers"),
        QStringList{"Lab'; DELETE FROM tblServers; --|127.0.0.9|0|0|y@example,\r\nz@example,"});
}

TEST_F(ServerDatabaseTest, AddSensorTwiceKeepsOneRowWithFirstType) {
    EXPECT_TRUE(db::AddSensor(1, "Freezer", 3, "first notes", "Temperature"));
    EXPECT_TRUE(db::AddSensor(1, "Freezer 2", 3, "second notes", "Humidity"));
    EXPECT_EQ(
        Rows("SELECT ServerIDNum, SensorName, PortNum, SensorNotes, SensorType FROM tblSensors"),
        QStringList{"1|Freezer 2|3|second notes|Temperature"});
    QString notes;
    EXPECT_TRUE(db::GetSensorNotes(1, 3, notes));
    EXPECT_EQ(notes, "second notes");
    EXPECT_TRUE(db::GetSensorNotes(1, 4, notes));
    EXPECT_EQ(notes, "");
    EXPECT_TRUE(db::SensorExists(1, 3));
    EXPECT_FALSE(db::SensorExists(1, 4));
}

TEST_F(ServerDatabaseTest, UnnamedSensorsAreNeitherListedNorCounted) {
    int count = -1;
    EXPECT_FALSE(db::CountNamedSensors(count));  // none named yet
    EXPECT_EQ(count, 0);
    db::AddSensor(1, "Door", 5, "", "Door");
    db::AddSensor(1, "", 2, "", "Temperature");
    db::AddSensor(1, "Probe", 0, "", "Temperature");
    db::AddSensor(2, "Other", 1, "", "Water");
    EXPECT_TRUE(db::CountNamedSensors(count));
    EXPECT_EQ(count, 3);

    db::Recordset sensors;
    ASSERT_TRUE(db::LoadSensors(1, sensors, count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(sensors.Text("SensorName"), "Door");  // positioned on the last row
    sensors.MoveFirst();
    EXPECT_EQ(sensors.Text("SensorName"), "Probe");  // ordered by port
    EXPECT_FALSE(db::LoadSensors(3, sensors, count));
    EXPECT_EQ(count, 0);
}

TEST_F(ServerDatabaseTest, DeleteServerKeepsAlarmAndFailureRows) {
    const qint64 keep = AddTestServer("Keep", "127.0.0.3");
    const qint64 id = AddTestServer("Gone", "127.0.0.2");
    db::AddSensor(id, "S1", 1, "", "Temperature");
    db::AddSensor(id, "S2", 2, "", "Temperature");
    db::AddSensor(keep, "K1", 1, "", "Temperature");
    db::AddAlarmRecord(7, Clock::Now(), "Gone", "S1", "200", 5, -1);
    db::AddServerFailure(id, "Gone");
    EXPECT_TRUE(db::DeleteServer(id));
    EXPECT_EQ(Rows("SELECT ServerName FROM tblServers"), QStringList{"Keep"});
    EXPECT_EQ(Rows("SELECT SensorName FROM tblSensors"), QStringList{"K1"});
    EXPECT_EQ(Rows("SELECT count(*) FROM tblAlarms"), QStringList{"1"});
    EXPECT_EQ(Rows("SELECT count(*) FROM tblServerFailures"), QStringList{"1"});
}

TEST_F(ServerDatabaseTest, AlarmRecordsOpenCountAndClose) {
    ASSERT_TRUE(db::AddAlarmRecord(11, Clock::Now(), "Lab's", "Freezer", "-999", 12, -1));
    EXPECT_EQ(Rows("SELECT SensorIDNum, AlarmStart, AlarmEnd, AlarmActive, Server, Sensor, "
                   "CurrentData, TOL FROM tblAlarms"),
              QStringList{"11|2026-12-07 03:00:00|<null>|-1|Lab's|Freezer|-999|12"});
    int active = -1;
    EXPECT_TRUE(db::RecordActiveAlarms(11, active));
    EXPECT_EQ(active, 1);

    db::Recordset open;
    int count = 0;
    ASSERT_TRUE(db::RecordOpenAlarms("tblAlarms", "SensorIDNum", 11, "AlarmEnd", open, count));
    ASSERT_EQ(count, 1);
    open.SetValue("AlarmEnd", Clock::DbStamp());
    open.SetValue("AlarmActive", 0);
    open.SetValue("EmailSent", "It's sent");
    ASSERT_TRUE(open.Update());
    open.Release();

    EXPECT_TRUE(db::RecordActiveAlarms(11, active));
    EXPECT_EQ(active, 0);
    EXPECT_TRUE(db::RecordOpenAlarms("tblAlarms", "SensorIDNum", 11, "AlarmEnd", open, count));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Rows("SELECT EmailSent FROM tblAlarms"), QStringList{"It's sent"});
    EXPECT_FALSE(
        db::RecordOpenAlarms("tblAlarms", "SensorIDNum = 1 OR 1", 11, "AlarmEnd", open, count));
}

TEST_F(ServerDatabaseTest, BackOnlineClosesOnlyTheFirstOpenFailure) {
    db::AddServerFailure(4, "Dev");
    Clock::AdvanceForTest(60);
    db::AddServerFailure(4, "Dev");
    db::AddServerFailure(5, "Other");
    Clock::AdvanceForTest(60);
    EXPECT_TRUE(db::RecordServerBackOnline(4));
    EXPECT_EQ(
        Rows("SELECT ServerIDNum, OffLine, BackOnLine, EmailSent FROM tblServerFailures"),
        (QStringList{"4|2026-12-07 03:00:00|2026-12-07 03:02:00|False",
                     "4|2026-12-07 03:01:00|False|False", "5|2026-12-07 03:01:00|False|False"}));
    EXPECT_TRUE(db::RecordServerBackOnline(9));  // nothing open: nothing changes

    db::Recordset rows;
    int count = 0;
    EXPECT_TRUE(db::ServerFailureRows(4, db::FailureRows::OpenNotMailed, rows, count));
    EXPECT_EQ(count, 1);
    rows.SetValue("EmailSent", "2026-12-07 03:02:00");
    ASSERT_TRUE(rows.Update());
    EXPECT_TRUE(db::ServerFailureRows(4, db::FailureRows::OpenNotMailed, rows, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(db::ServerFailureRows(4, db::FailureRows::OpenMailed, rows, count));
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(db::ServerFailureRows(4, db::FailureRows::NotOffLineNotMailed, rows, count));
    EXPECT_EQ(count, 0);
}

TEST_F(ServerDatabaseTest, LogFileBackupErrorsOpenUntilBackOnline) {
    ASSERT_TRUE(db::AddLogFileBackupError("Failed to write log files to backup directory /x"));
    db::Recordset open;
    int count = 0;
    ASSERT_TRUE(db::RecordOpenBackupFileErrors(open, count));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(open.Text("FirstError"), "2026-12-07 03:00:00");
    EXPECT_EQ(open.Text("EmailSent"), "False");
    open.SetValue("BackOnLine", Clock::DbStamp());
    ASSERT_TRUE(open.Update());
    ASSERT_TRUE(db::RecordOpenBackupFileErrors(open, count));
    EXPECT_EQ(count, 0);
}

TEST_F(ServerDatabaseTest, ListingsAreNewestFirst) {
    for (int hour : {5, 1, 9}) {
        Clock::SetForTest(QDateTime(QDate(2026, 12, 7), QTime(hour, 0, 0)));
        db::AddAlarmRecord(1, Clock::Now(), "s", "x", QString::number(hour), 0, -1);
        ErrorLog::RecordError("f", QString::number(hour));
    }
    // Across a day boundary the text order must still hold.
    Clock::SetForTest(QDateTime(QDate(2026, 12, 10), QTime(0, 0, 0)));
    ErrorLog::RecordError("f", "10th");
    db::Recordset rows;
    ASSERT_TRUE(db::OpenListing(db::Listing::Alarms, rows));
    QStringList order;
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) order << rows.Text("CurrentData");
    EXPECT_EQ(order, (QStringList{"9", "5", "1"}));
    ASSERT_TRUE(db::OpenListing(db::Listing::Errors, rows));
    order.clear();
    for (rows.MoveFirst(); !rows.EndOfFile(); rows.MoveNext()) order << rows.Text("Cause");
    EXPECT_EQ(order, (QStringList{"10th", "9", "5", "1"}));
}

TEST_F(ServerDatabaseTest, ResolutionColumnAddedWhenMissing) {
    ASSERT_TRUE(db::EnsureResolutionColumn());  // already there: nothing to do
    // An older database whose alarm table lacks the column.
    Rows("ALTER TABLE tblAlarms DROP COLUMN Resolution");
    const QString probe = "SELECT name FROM pragma_table_info('tblAlarms') WHERE name='Resolution'";
    EXPECT_TRUE(Rows(probe).isEmpty());
    ASSERT_TRUE(db::EnsureResolutionColumn());
    EXPECT_EQ(Rows(probe), QStringList{"Resolution"});
}

// Each failure style: a message box for the registry's operations, the error
// log for the monitoring core's, silence for the rest.
TEST_F(ServerDatabaseTest, MissingDatabaseTakesEachOperationsFailurePath) {
    QFile::remove(FilePath("zolo.mdb"));
    int count = 0;
    db::Recordset rows;
    EXPECT_FALSE(db::AddSensor(1, "a", 1, "", "t"));
    EXPECT_FALSE(db::AddServer("a", "m", "127.0.0.2", "", 1, "", "", 0));
    EXPECT_FALSE(db::UpdateServer(1, "a", "m", "127.0.0.2", "", 1, "", "", 0));
    EXPECT_FALSE(db::UpdateServerEmail(1, "x,"));
    EXPECT_FALSE(db::DeleteServer(1));
    QString owner;
    EXPECT_FALSE(db::IsIPAddressUnique("127.0.0.2", owner));
    const QStringList texts = dialogs.Texts();
    ASSERT_EQ(texts.size(), 6);
    EXPECT_TRUE(texts[0].startsWith("Error adding server, the error is "));
    EXPECT_TRUE(texts[1].startsWith("Error adding server, the error is "));
    EXPECT_TRUE(texts[2].startsWith("Error in UpdateServer is "));
    EXPECT_TRUE(texts[3].startsWith("Error updating email addresses.  The error is: "));
    EXPECT_TRUE(texts[4].startsWith("Error in DeleteServer is "));
    EXPECT_TRUE(
        texts[5].startsWith("Error verifing that the IP address 127.0.0.2 is unique.  "
                            "The error is:  "));

    EXPECT_FALSE(db::CountNamedSensors(count));
    EXPECT_FALSE(db::LoadSensors(1, rows, count));
    EXPECT_FALSE(db::RecordServers(rows, count));
    EXPECT_FALSE(db::AddAlarmRecord(1, Clock::Now(), "a", "b", "c", 0, -1));
    QString reason;
    EXPECT_FALSE(db::RecordServerBackOnline(1, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(dialogs.Shown().size(), 6u);  // nothing more was shown
    EXPECT_FALSE(QFile::exists(FilePath("zolo.mdb")));
}

TEST_F(ServerDatabaseTest, ServerRowsForTheRegistry) {
    const qint64 first = AddTestServer("Freezer \"A\", north", "127.0.0.2");
    ASSERT_TRUE(db::AddServer("Cellar", "", "127.0.0.3", "", 0, "", "", 0));
    // Flags written by older versions as text.
    Rows("UPDATE tblServers SET Enabled = 'True', Comm = 'False' WHERE IDNum = 2");

    db::ServerRow row;
    ASSERT_TRUE(db::ReadServer(first, row));
    EXPECT_EQ(row.id, first);
    EXPECT_EQ(row.name, "Freezer \"A\", north");
    EXPECT_EQ(row.model, "Model QX700-5: Refrigerator/Freezer Keeper");
    EXPECT_EQ(row.ip, "127.0.0.2");
    EXPECT_EQ(row.notes, "notes");
    EXPECT_EQ(row.password, "pw");
    EXPECT_EQ(row.emailList, "a@example,b@example,");
    EXPECT_EQ(row.enabled, 1);
    EXPECT_EQ(row.comm, -1);

    QList<db::ServerRow> rows;
    ASSERT_TRUE(db::ListServers(rows));
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].name, "Cellar");
    EXPECT_EQ(rows[1].enabled, -1);
    EXPECT_EQ(rows[1].comm, 0);

    QString error;
    EXPECT_FALSE(db::ReadServer(99, row, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(dialogs.Shown().empty());
}
