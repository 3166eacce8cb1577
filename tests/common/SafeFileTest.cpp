#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "common/SafeFile.h"
#include "support/Fixtures.h"
#include "support/SmallDisk.h"

namespace {

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

}  // namespace

TEST(SafeFileTest, ReplacesWholeFileKeepingModeAndLeavingNoTemporary) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.dat"));
    ASSERT_TRUE(SafeFile::Replace(path, QByteArray(100, 'a')));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);

    QString error;
    ASSERT_TRUE(SafeFile::Replace(path, "short", &error)) << error.toStdString();
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray("short"));  // no tail of the longer file
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(dir.path()), QStringList{QStringLiteral("settings.dat")});
}

TEST(SafeFileTest, WriterShowsNothingUntilCommitAndDiscardsOnDestruction) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("export.csv"));
    {
        SafeFile::Writer writer(path);
        ASSERT_TRUE(writer.Open());
        ASSERT_TRUE(writer.Write("a,b\n"));
        EXPECT_FALSE(QFile::exists(path));
    }
    EXPECT_TRUE(Entries(dir.path()).isEmpty());

    SafeFile::Writer writer(path);
    ASSERT_TRUE(writer.Open());
    ASSERT_TRUE(writer.Write("a,b\n"));
    ASSERT_TRUE(writer.Write("1,2\n"));
    ASSERT_TRUE(writer.Commit());
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray("a,b\n1,2\n"));
}

TEST(SafeFileTest, MissingFolderIsNamedInTheError) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gone/file.dat"));
    QString error;
    EXPECT_FALSE(SafeFile::Replace(path, "x", &error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(path))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(path));
}

TEST(SafeFileTest, FullDiskLeavesOldFileWholeAndNoTemporary) {
    SmallDisk disk(64 * 1024);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    const QString path = disk.Path() + QStringLiteral("/FernlogConfig.dat");
    const QByteArray old(1499, 'o');
    ASSERT_TRUE(SafeFile::Replace(path, old));
    ASSERT_TRUE(disk.Fill());

    QString error;
    EXPECT_FALSE(SafeFile::Replace(path, QByteArray(1499, 'n'), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("No space left on device"))) << error.toStdString();
    EXPECT_EQ(ReadAllOrMissing(path), old);
    EXPECT_EQ(Entries(disk.Path()),
              (QStringList{QStringLiteral(".filler"), QStringLiteral("FernlogConfig.dat")}));

    // Once there is room again the same call succeeds.
    disk.Free();
    EXPECT_TRUE(SafeFile::Replace(path, QByteArray(1499, 'n'), &error)) << error.toStdString();
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray(1499, 'n'));
}

TEST(SafeFileTest, WriteTailAppendsOrRewritesTheEndAndCutsWhatFollowed) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Sensor-1 Average.dat"));
    ASSERT_TRUE(SafeFile::WriteTail(path, -1, "aaaa"));
    ASSERT_TRUE(SafeFile::WriteTail(path, -1, "bbbb"));
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray("aaaabbbb"));
    ASSERT_TRUE(SafeFile::WriteTail(path, 4, "cc"));  // the last record rewritten, its tail cut
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray("aaaacc"));
    ASSERT_TRUE(SafeFile::WriteTail(path, 100, "dd"));  // past the end: at the end, no hole
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray("aaaaccdd"));
}

#ifdef Q_OS_LINUX
#include <sys/resource.h>

#include <csignal>

namespace {
// Runs `write` with the file size limit at `limit` bytes: a write across it
// is cut short as on a disk that fills up mid-write.
template <class Write>
bool WithFileSizeLimit(rlim_t limit, Write&& write) {
    rlimit saved{};
    if (getrlimit(RLIMIT_FSIZE, &saved) != 0) return false;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool ok = write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    return ok;
}
}  // namespace

TEST(SafeFileTest, WriteTailCutShortPutsTheFileBackAsItWas) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.dat"));
    ASSERT_TRUE(SafeFile::WriteTail(path, -1, "0123456789"));

    // Overwrites 5..9 and would grow to 25: stopped at 15, the bytes it
    // covered come back and the file is its old length again.
    QString error;
    EXPECT_FALSE(WithFileSizeLimit(
        15, [&] { return SafeFile::WriteTail(path, 5, QByteArray(20, 'x'), &error); }));
    EXPECT_EQ(ReadAllOrMissing(path), QByteArray("0123456789"));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Cannot write ") + QDir::toNativeSeparators(path)))
        << error.toStdString();

    // A file this write would have created is not left behind, empty or cut.
    const QString fresh = dir.filePath(QStringLiteral("fresh.dat"));
    EXPECT_FALSE(WithFileSizeLimit(4, [&] { return SafeFile::WriteTail(fresh, -1, "12345678"); }));
    EXPECT_FALSE(QFile::exists(fresh));
}
#endif

TEST(SafeFileTest, ReadOnlyDiskKeepsFilesAndWorksOnceWritableAgain) {
    SmallDisk disk(64 * 1024);
    if (!disk.Available()) GTEST_SKIP() << disk.SkipReason().toStdString();
    const QString whole = disk.Path() + QStringLiteral("/report.xml");
    const QString log = disk.Path() + QStringLiteral("/mail.log");
    ASSERT_TRUE(SafeFile::Replace(whole, "old"));
    ASSERT_TRUE(SafeFile::WriteTail(log, -1, "line 1\n"));
    ASSERT_TRUE(disk.SetReadOnly(true));

    QString error;
    EXPECT_FALSE(SafeFile::Replace(whole, "new", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Read-only file system"))) << error.toStdString();
    EXPECT_FALSE(SafeFile::WriteTail(log, -1, "line 2\n", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Read-only file system"))) << error.toStdString();
    EXPECT_EQ(ReadAllOrMissing(whole), QByteArray("old"));
    EXPECT_EQ(ReadAllOrMissing(log), QByteArray("line 1\n"));

    ASSERT_TRUE(disk.SetReadOnly(false));
    EXPECT_TRUE(SafeFile::Replace(whole, "new"));
    EXPECT_TRUE(SafeFile::WriteTail(log, -1, "line 2\n"));
    EXPECT_EQ(ReadAllOrMissing(whole), QByteArray("new"));
    EXPECT_EQ(ReadAllOrMissing(log), QByteArray("line 1\nline 2\n"));
}

// A link of this user's that leads to another user's file is not followed,
// for a whole file or a record.
TEST(SafeFileTest, LinkToAnotherUsersFileIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser, to give a file to nobody";
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim"));
    ASSERT_TRUE(SafeFile::Replace(victim, "precious"));
    ASSERT_EQ(::chown(QFile::encodeName(victim).constData(), 65534, 65534), 0);
    const QString link = dir.filePath(QStringLiteral("log.dat"));
    ASSERT_TRUE(QFile::link(victim, link));
    const QString expected = QStringLiteral(
                                 "Cannot write %1: it is a symbolic link to %2, which "
                                 "belongs to another user")
                                 .arg(link, victim);
    QString error;
    EXPECT_FALSE(SafeFile::Replace(link, "x", &error));
    EXPECT_EQ(error, expected);
    EXPECT_FALSE(SafeFile::WriteTail(link, -1, "x", &error));
    EXPECT_EQ(error, expected);
    EXPECT_EQ(ReadAllOrMissing(victim), QByteArray("precious"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}
