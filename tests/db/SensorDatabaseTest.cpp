// Sensor rows of one server at a time: notes by port, and a window's rows
// stored all or none.
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "db/Database.h"
#include "db/SensorDatabase.h"
#include "db/ServerDatabase.h"
#include "support/Fixtures.h"

namespace db = ServerDatabase;

class SensorDatabaseTest : public ProgramDirTest {
  protected:
    void SetUp() override {
        ProgramDirTest::SetUp();
        ProvisionDatabase();
    }
    void Exec(const QString& sql) {
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", "sensor_test_raw");
            raw.setDatabaseName(Database::Path());
            ASSERT_TRUE(raw.open());
            QSqlQuery query(raw);
            ASSERT_TRUE(query.exec(sql));
        }
        QSqlDatabase::removeDatabase("sensor_test_raw");
    }
    DialogScript dialogs;
};

TEST_F(SensorDatabaseTest, RowsAreAddedOrUpdatedByServerAndPortKeepingTheFirstType) {
    ASSERT_TRUE(
        db::AddSensors(4, {{0, "Freezer", "Defrost on Mondays", "Temperature Sensor Port 1"},
                           {8, "Door", "", "Door Sensor 1"}}));
    ASSERT_TRUE(db::AddSensor(5, "Other server", 0, "not this one", "x"));
    ASSERT_TRUE(db::AddSensors(4, {{0, "Freezer 'A'", "", "changed type"}, {3, "", "", "T4"}}));
    EXPECT_EQ(
        Rows("SELECT ServerIDNum, PortNum, SensorName, SensorNotes, SensorType FROM tblSensors"
             " ORDER BY ServerIDNum, PortNum"),
        (QStringList{"4|0|Freezer 'A'||Temperature Sensor Port 1", "4|3|||T4",
                     "4|8|Door||Door Sensor 1", "5|0|Other server|not this one|x"}));

    QMap<int, QString> notes;
    ASSERT_TRUE(db::AddSensors(4, {{8, "Door", "Sticks", "Door Sensor 1"}}));
    ASSERT_TRUE(db::GetSensorNotesByPort(4, notes));
    EXPECT_EQ(notes.value(8), "Sticks");
    EXPECT_EQ(notes.value(0), "");
    EXPECT_FALSE(notes.contains(5));
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(SensorDatabaseTest, AFailingRowLeavesEveryRowAsItWasWithOneMessage) {
    ASSERT_TRUE(db::AddSensors(4, {{0, "Freezer", "old", "T1"}}));
    Exec(
        "CREATE TRIGGER refuse BEFORE INSERT ON tblSensors WHEN NEW.SensorName = 'boom'"
        " BEGIN SELECT RAISE(ABORT, 'refused by test'); END");
    QString error;
    EXPECT_FALSE(db::AddSensors(4, {{0, "Freezer 2", "new", "T1"}, {1, "boom", "", "T2"}}, &error));
    EXPECT_TRUE(error.contains("refused by test")) << error.toStdString();
    EXPECT_EQ(Rows("SELECT PortNum, SensorName, SensorNotes FROM tblSensors"),
              QStringList{"0|Freezer|old"});
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_TRUE(dialogs.Texts()[0].startsWith("Error adding server, the error is "));

    QFile::remove(Database::Path());
    QMap<int, QString> notes;
    EXPECT_FALSE(db::GetSensorNotesByPort(4, notes));
    EXPECT_EQ(dialogs.Texts().size(), 2);
}
