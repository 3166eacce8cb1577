#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "db/Database.h"
#include "db/Provision.h"
#include "db/ServerDatabase.h"
#include "support/Fixtures.h"

namespace {
class DatabaseTest : public ProgramDirTest {
  protected:
    void SetUp() override {
        ProgramDirTest::SetUp();
        ProvisionDatabase();
    }
    void TearDown() override {
        Database::CloseConnection();
        ProgramDirTest::TearDown();
    }
    static bool AddError(const QString& cause) {
        Database::Connection connection;
        return connection.Open() &&
               connection.Exec(QStringLiteral("INSERT INTO tblErrors (myFunction, Cause) VALUES "
                                              "(?, ?)"),
                               {QStringLiteral("test"), cause});
    }
    // A second, fresh database moved over zolo.mdb, as a restore from a
    // backup would do.
    void ReplaceWithFreshDatabase() {
        QTemporaryDir other;
        QString error;
        ASSERT_TRUE(Provision::CreateDatabase(other.path(), &error)) << error.toStdString();
        QFile::remove(FilePath("zolo.mdb"));
        ASSERT_TRUE(QFile::rename(other.filePath("zolo.mdb"), FilePath("zolo.mdb")));
    }
};
}  // namespace

TEST_F(DatabaseTest, ConnectionStaysOpenAcrossOperationsAndEveryWriteIsCommitted) {
    const int opens = Database::OpenCount();
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(AddError(QString::number(i)));
    EXPECT_EQ(Database::OpenCount(), opens + 1);
    // Another connection sees every row at once: nothing waits in a transaction.
    EXPECT_EQ(Rows("SELECT count(*) FROM tblErrors"), QStringList{"20"});
}

TEST_F(DatabaseTest, ReplacedFileIsNoticedAndReopened) {
    ASSERT_TRUE(AddError("old"));
    const int opens = Database::OpenCount();
    ReplaceWithFreshDatabase();
    ASSERT_TRUE(AddError("new"));
    EXPECT_EQ(Database::OpenCount(), opens + 1);
    EXPECT_EQ(Rows("SELECT Cause FROM tblErrors"), QStringList{"new"});
}

TEST_F(DatabaseTest, DeletedOrGarbageFileFailsWithTheUsualTextsAndRecovers) {
    ASSERT_TRUE(AddError("before"));
    QFile::remove(FilePath("zolo.mdb"));
    Database::Connection missing;
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.Error(), "The database " + FilePath("zolo.mdb") + " was not found.");

    QFile junk(FilePath("zolo.mdb"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    Database::Connection garbage;
    EXPECT_FALSE(garbage.Open());
    EXPECT_FALSE(garbage.Error().isEmpty());

    QFile::remove(FilePath("zolo.mdb"));
    ProvisionDatabase();
    EXPECT_TRUE(AddError("after"));
    EXPECT_EQ(Rows("SELECT Cause FROM tblErrors"), QStringList{"after"});
}

// A transaction that cannot begin (another program holds the file) reports
// the database's own reason, not an empty one.
TEST_F(DatabaseTest, DeleteServerThatCannotBeginSaysWhy) {
    DialogScript dialogs;
    ASSERT_TRUE(ServerDatabase::AddServer("Lab", "Model QX700-5", "127.0.0.2", "", 1, "", "", 0));
    const QString name = QStringLiteral("holder");
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        holder.setDatabaseName(FilePath("zolo.mdb"));
        ASSERT_TRUE(holder.open());
        QSqlQuery lock(holder);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        EXPECT_FALSE(ServerDatabase::DeleteServer(1));
        lock.exec(QStringLiteral("ROLLBACK"));
        holder.close();
    }
    QSqlDatabase::removeDatabase(name);
    ASSERT_EQ(dialogs.Texts().size(), 1);
    EXPECT_TRUE(dialogs.Texts()[0].startsWith("Error in DeleteServer is "));
    EXPECT_GT(dialogs.Texts()[0].size(), QStringLiteral("Error in DeleteServer is ").size());
    EXPECT_EQ(Rows("SELECT count(*) FROM tblServers"), QStringList{"1"});
}
