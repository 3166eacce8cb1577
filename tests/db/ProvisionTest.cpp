#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <map>

#include "db/Provision.h"
#include "support/Fixtures.h"

namespace {
QString Sqlite3(const QString& db, const QString& command) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {db, command});
    EXPECT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}
}  // namespace

using ProvisionTest = ProgramDirTest;

// The provisioned file is a plain SQLite database that the command-line tool
// reads, with every table and column that the program uses.
TEST_F(ProvisionTest, CommandLineToolListsTablesAndColumns) {
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty()) {
        GTEST_SKIP() << "sqlite3 command-line tool not installed";
    }
    ProvisionDatabase();
    const QString db = FilePath(QStringLiteral("zolo.mdb"));
    const QStringList tables =
        Sqlite3(db, QStringLiteral(".tables"))
            .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (const char* table : {"tblServers", "tblSensors", "tblAlarms", "tblErrors",
                              "tblServerFailures", "tblLogFileBackup"}) {
        EXPECT_TRUE(tables.contains(QLatin1String(table))) << table;
    }

    const std::map<QString, QStringList> columns = {
        {"tblServers",
         {"IDNum", "ServerName", "ServerModel", "ServerIPAddress", "ServerNotes", "Enabled",
          "UserPassword", "EmailAddress", "Comm"}},
        {"tblSensors",
         {"IDNum", "ServerIDNum", "SensorName", "PortNum", "SensorNotes", "SensorType"}},
        {"tblAlarms",
         {"IDNum", "SensorIDNum", "AlarmStart", "AlarmEnd", "AlarmActive", "EmailSent",
          "CauseOfAlarm", "Server", "Sensor", "CurrentData", "TOL", "Resolution"}},
        {"tblErrors", {"ErrorID", "myTime", "myFunction", "Cause"}},
        {"tblServerFailures",
         {"IDNum", "ServerName", "ServerIDNum", "OffLine", "BackOnLine", "EmailSent"}},
        {"tblLogFileBackup", {"FirstError", "BackOnLine", "EmailSent", "Error", "LatestAttempt"}},
    };
    for (const auto& [table, expected] : columns) {
        const QString info =
            Sqlite3(db, QStringLiteral("SELECT name FROM pragma_table_info('%1');").arg(table));
        const QStringList names = info.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& column : expected) {
            EXPECT_TRUE(names.contains(column))
                << table.toStdString() << "." << column.toStdString();
        }
    }
}

// Provisioning again keeps what the database already holds.
TEST_F(ProvisionTest, ProvisioningTwiceKeepsRows) {
    ProvisionDatabase();
    Sqlite3(FilePath(QStringLiteral("zolo.mdb")),
            QStringLiteral("INSERT INTO tblServers (ServerName) VALUES ('kept');"));
    ProvisionDatabase();
    EXPECT_EQ(Rows(QStringLiteral("SELECT ServerName FROM tblServers")), QStringList{"kept"});
}

// A new database appears complete under its own name, with nothing left
// beside it; a second run finds it and leaves it alone.
TEST_F(ProvisionTest, MissingDatabaseIsCreatedCompleteOnce) {
    bool created = false;
    QString error;
    ASSERT_TRUE(Provision::CreateMissingDatabase(Dir(), &created, &error)) << error.toStdString();
    EXPECT_TRUE(created);
    EXPECT_EQ(QDir(Dir()).entryList(QDir::Files | QDir::Hidden), QStringList{"zolo.mdb"});
    EXPECT_EQ(Rows(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                  "name LIKE 'tbl%'")),
              QStringList{"6"});
    Rows(QStringLiteral("INSERT INTO tblServers (ServerName) VALUES ('kept')"));
    ASSERT_TRUE(Provision::CreateMissingDatabase(Dir(), &created, &error));
    EXPECT_FALSE(created);
    EXPECT_EQ(Rows(QStringLiteral("SELECT ServerName FROM tblServers")), QStringList{"kept"});

    const QString nested = FilePath(QStringLiteral("state/fernlog"));
    ASSERT_TRUE(Provision::CreateMissingDatabase(nested, &created, &error));
    EXPECT_TRUE(created);
    EXPECT_TRUE(QFileInfo(QDir(nested).filePath(QStringLiteral("zolo.mdb"))).isFile());
}

// A file of that name that is no SQLite database is never changed: asked
// only when missing, provisioning leaves it; asked to complete it, it fails
// and says so.
TEST_F(ProvisionTest, ForeignFileIsNeverChanged) {
    const QByteArray foreign("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    QFile file(FilePath(QStringLiteral("zolo.mdb")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(foreign);
    file.close();

    bool created = true;
    QString error;
    EXPECT_TRUE(Provision::CreateMissingDatabase(Dir(), &created, &error));
    EXPECT_FALSE(created);
    EXPECT_FALSE(Provision::CreateDatabase(Dir(), &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), foreign);
    EXPECT_EQ(QDir(Dir()).entryList(QDir::Files | QDir::Hidden), QStringList{"zolo.mdb"});
}
