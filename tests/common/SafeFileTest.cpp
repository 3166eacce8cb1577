#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/SafeFile.h"
#include "support/SmallDisk.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

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
    EXPECT_EQ(ReadAll(path), QByteArray("short"));  // no tail of the longer file
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
    EXPECT_EQ(ReadAll(path), QByteArray("a,b\n1,2\n"));
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
    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(Entries(disk.Path()),
              (QStringList{QStringLiteral(".filler"), QStringLiteral("FernlogConfig.dat")}));

    // Once there is room again the same call succeeds.
    disk.Free();
    EXPECT_TRUE(SafeFile::Replace(path, QByteArray(1499, 'n'), &error)) << error.toStdString();
    EXPECT_EQ(ReadAll(path), QByteArray(1499, 'n'));
}
