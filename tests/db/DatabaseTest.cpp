#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <chrono>
#include <future>
#include <thread>

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

// Another program holds a write transaction open. The first write waits for
// it in vain; later writes do not wait again while reads go on; once the
// database takes a write, a short lock is waited for as before.
TEST_F(DatabaseTest, LastingLockCostsOneWaitAndShortLocksAreWaitedForAgain) {
    ASSERT_TRUE(AddError("before"));
    const QString name = QStringLiteral("holder");
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        holder.setDatabaseName(FilePath("zolo.mdb"));
        ASSERT_TRUE(holder.open());
        QSqlQuery lock(holder);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(AddError("first"));
        EXPECT_GE(timer.elapsed(), 2500);
        timer.restart();
        EXPECT_FALSE(AddError("second"));
        EXPECT_FALSE(AddError("third"));
        EXPECT_LT(timer.elapsed(), 1000);
        Database::Recordset rows;
        EXPECT_TRUE(
            Database::OpenRecordset("tblErrors", "SELECT * FROM tblErrors", {}, rows, nullptr));
        EXPECT_EQ(rows.RecordCount(), 1);
        rows.Release();
        lock.exec(QStringLiteral("ROLLBACK"));
        holder.close();
    }
    QSqlDatabase::removeDatabase(name);
    ASSERT_TRUE(AddError("after"));

    // A lock of a moment, held by another thread's connection, is outwaited.
    std::promise<void> locked;
    std::thread other([&locked, path = FilePath("zolo.mdb")] {
        const QString brief = QStringLiteral("brief");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), brief);
            db.setDatabaseName(path);
            db.open();
            QSqlQuery lock(db);
            lock.exec(QStringLiteral("BEGIN IMMEDIATE"));
            locked.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            lock.exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(brief);
    });
    locked.get_future().wait();
    EXPECT_TRUE(AddError("waited"));
    other.join();
    EXPECT_EQ(Rows("SELECT Cause FROM tblErrors"), (QStringList{"before", "after", "waited"}));
}
