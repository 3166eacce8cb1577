// fernlog backup and restore, run as a user runs them: a backup taken while
// fernlog --headless runs, restored into a new folder; and archives that
// restore refuses without writing anything.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTest>

#include "common/Tar.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/HeadlessProgram.h"

namespace {

int Mode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// What the commands show of a folder: its register, settings and alarms.
QString Shown(const QString& dir) {
    QString shown;
    for (const QStringList& command : {QStringList{"devices", "--json"},
                                       {"sensors", "--json"},
                                       {"settings"},
                                       {"alarms", "--json"}}) {
        const ProgramRun ran = RunFernlog(dir, command);
        shown += QStringLiteral("%1: %2 %3\n").arg(command.join(' ')).arg(ran.status).arg(ran.out);
    }
    return shown;
}

// Whether the program has read its folder and says what it polls.
bool Settled(HeadlessProgram& program) {
    return QTest::qWaitFor(
        [&] {
            const QString output = program.Output();
            return output.contains("Polling ") || output.contains("nothing is polled");
        },
        20000);
}

// A folder with a device, a named sensor, settings with a secret, and an
// alarm acknowledged in the handling store.
class BackupCommandsTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        ASSERT_EQ(RunFernlog(Dir(), {"device", "add", "Kitchen", "127.0.0.2", "--offline",
                                     "--disabled", "--emails", "chef@corvane.test"})
                      .status,
                  0);
        ASSERT_TRUE(ServerDatabase::AddSensor(1, "Freezer", 0, "by the door", "Temperature"));
        ASSERT_TRUE(ServerDatabase::AddAlarmRecord(1, QDateTime::currentDateTime().addSecs(-60),
                                                   "Kitchen", "Freezer", "12.5", 0, -1));
        ASSERT_EQ(RunFernlog(Dir(), {"alarm", "ack", "1", "--by", "Ann"}).status, 0);
        ASSERT_EQ(RunFernlog(Dir(), {"settings", "set", "OrgName=Cold Chain Ltd", "UpdateRate=5",
                                     "RetryMinutes=30"})
                      .status,
                  0);
        ASSERT_EQ(
            RunFernlog(Dir(), {"settings", "set", "SmtpPassword", "--password-stdin"}, "hunter2\n")
                .status,
            0);
    }
    QString Archive() const { return FilePath("site.tar"); }
};

}  // namespace

TEST_F(BackupCommandsTest, BackupOfARunningProgramRestoresIntoANewFolder) {
    const QString before = Shown(Dir());
    ASSERT_TRUE(before.contains("Cold Chain Ltd") && before.contains("acknowledged"))
        << before.toStdString();
    HeadlessProgram fernlog(Dir());
    ASSERT_TRUE(fernlog.Started());
    ASSERT_TRUE(Settled(fernlog)) << fernlog.Output().toStdString();

    ProgramRun ran = RunFernlog(Dir(), {"backup", Archive()});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    EXPECT_TRUE(ran.out.contains("zolo.mdb, FernlogHandling.db")) << ran.out.toStdString();
    EXPECT_EQ(Mode(Archive()), 0600);  // it holds the secrets
    const ProgramRun listed = RunProgram("tar", {"-tf", Archive()});
    EXPECT_EQ(listed.out,
              "FernlogBackup.txt\nzolo.mdb\nFernlogHandling.db\nFernlogConfig.dat\n"
              "FernlogOptions.ini\n")
        << listed.err.toStdString();
    // Not over the files of the running program, even when told to.
    const QByteArray settings = ReadAll(FilePath("FernlogConfig.dat"));
    ran = RunFernlog(Dir(), {"restore", Archive(), "--force"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("is running on the folder")) << ran.err.toStdString();
    EXPECT_EQ(ReadAll(FilePath("FernlogConfig.dat")), settings);
    ASSERT_TRUE(fernlog.Stop());

    const QString restored = Dir() + "/restored";
    ran = RunFernlog(restored, {"restore", Archive()});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    EXPECT_EQ(Shown(restored), before);
    for (const char* secret : {"FernlogConfig.dat", "FernlogOptions.ini", "FernlogHandling.db"}) {
        EXPECT_EQ(Mode(restored + "/" + secret), 0600) << secret;
    }
    HeadlessProgram there(restored);
    EXPECT_TRUE(Settled(there)) << there.Output().toStdString();
    EXPECT_TRUE(there.Stop());
    // A folder that holds a program's files is replaced only when asked.
    ran = RunFernlog(restored, {"restore", Archive()});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("already holds zolo.mdb")) << ran.err.toStdString();
    EXPECT_EQ(RunFernlog(restored, {"restore", Archive(), "--force"}).status, 0);
}

// Each is refused with one line, and nothing is written: not the folder, not
// a file outside it.
TEST_F(BackupCommandsTest, ArchivesThatAreNotSoundBackupsWriteNothing) {
    ASSERT_EQ(RunFernlog(Dir(), {"backup", Archive()}).status, 0);
    std::vector<Tar::Entry> genuine;
    ASSERT_TRUE(Tar::Decode(ReadAll(Archive()), genuine));
    const QString outside = Dir() + "/x";
    const auto with = [&](const QString& name) {
        std::vector<Tar::Entry> entries = genuine;
        entries.push_back({name, "planted", 0644});
        return Tar::Encode(entries);
    };
    QByteArray damaged = ReadAll(Archive());
    damaged[damaged.indexOf("SQLite format 3") + 200] ^= 1;
    const std::vector<std::pair<QString, QByteArray>> archives{
        {"climbs out", with("../x")},
        {"absolute", with(outside)},
        {"damaged", damaged},
        {"cut short", ReadAll(Archive()).left(3000)},
        {"not ours", Tar::Encode({{"notes.txt", "a plain tar", 0644}})},
        {"no tar at all", "zolo.mdb"},
    };
    const QString target = Dir() + "/site";
    for (const auto& [what, bytes] : archives) {
        const QString path = FilePath("archive.tar");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes));
        file.close();
        const ProgramRun ran = RunFernlog(target, {"restore", path, "--force"});
        EXPECT_EQ(ran.status, 2) << what.toStdString();
        EXPECT_EQ(ran.err.count('\n'), 1) << ran.err.toStdString();
        EXPECT_TRUE(ran.err.endsWith("nothing was restored\n")) << ran.err.toStdString();
        EXPECT_FALSE(QFile::exists(target)) << what.toStdString();
        EXPECT_FALSE(QFile::exists(outside)) << what.toStdString();
    }
    const ProgramRun missing = RunFernlog(target, {"restore", FilePath("none.tar")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "fernlog: the archive " + FilePath("none.tar") + " does not exist\n");
}
