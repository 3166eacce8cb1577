#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/FolderLock.h"

// A writer waits for another process's writer (here: another open of the
// lock file, which flock treats alike) and gives up, saying so; one nested
// inside this process's own goes on at once.
TEST(FolderLockTest, WriterWaitsForAnotherAndGoesOnUnderItsOwn) {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(FolderLock::kWriteLockName));
    {
        const FolderLock::WriteLock outer(dir.path());
        ASSERT_TRUE(outer.Held());
        const FolderLock::WriteLock inner(dir.path(), 0);
        EXPECT_TRUE(inner.Held());
        const int other = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(other, 0);
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
    const int other = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    const FolderLock::WriteLock refused(dir.path(), 200);
    EXPECT_FALSE(refused.Held());
    EXPECT_EQ(refused.Error(),
              "the files of " + QDir::toNativeSeparators(dir.path()) +
                  " are being changed by another command or by fernlog itself, for longer than "
                  "0.2 s; nothing was changed, try again");
    ::close(other);
    EXPECT_TRUE(FolderLock::WriteLock(dir.path(), 0).Held());
}

TEST(FolderLockTest, SecondProgramLockNamesTheFirstsPid) {
    QTemporaryDir dir;
    FolderLock::ProgramLock first, second;
    ASSERT_TRUE(first.Acquire(dir.path()));
    QString error;
    EXPECT_FALSE(second.Acquire(dir.path(), &error));
    EXPECT_EQ(error, QStringLiteral("another fernlog (PID %1) is running on the folder %2")
                         .arg(::getpid())
                         .arg(QDir::toNativeSeparators(dir.path())));
}
