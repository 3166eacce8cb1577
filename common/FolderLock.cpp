#include "FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <cerrno>

#include "ProgramDir.h"

namespace FolderLock {
namespace {

// The folder whose write lock this process holds, and how many holders
// share it; flock would make a second open of the same file in this process
// wait for the first.
QString& HeldFolder() {
    static QString folder;
    return folder;
}
int depth = 0;

QByteArray LockPath(const QString& folder, const char* name) {
    return QFile::encodeName(QDir(folder).filePath(QString::fromLatin1(name)));
}

// Opened without following a link: a link planted in the folder must not
// make the superuser create a file elsewhere.
int OpenLockFile(const QByteArray& path, int access) {
    int fd;
    do {
        fd = ::open(path.constData(), access | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    // Readable by all whatever the umask: one made by the superuser's
    // command must still lock the service's writes, which open it read-only.
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) ::fchmod(fd, 0644);
    return fd;
}
}  // namespace

ProgramLock::~ProgramLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool ProgramLock::Acquire(const QString& folder, QString* error) {
    const QByteArray path = LockPath(folder, kProgramLockName);
    bool writable = true;
    fd_ = OpenLockFile(path, O_RDWR);
    if (fd_ < 0 && errno == EACCES) {
        // Made by another user (the superuser's run): held all the same,
        // only the PID stays unwritten.
        writable = false;
        fd_ = OpenLockFile(path, O_RDONLY);
    }
    // Nothing can be written in such a folder, not even by a second program.
    if (fd_ < 0) return true;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        char text[32] = {};
        const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
        const qint64 pid = n > 0 ? QByteArray(text, int(n)).trimmed().toLongLong() : 0;
        ::close(fd_);
        fd_ = -1;
        if (error) {
            *error = (pid > 0 ? QStringLiteral("another fernlog (PID %1)").arg(pid)
                              : QStringLiteral("another fernlog")) +
                     QStringLiteral(" is running on the folder ") +
                     QDir::toNativeSeparators(folder);
        }
        return false;
    }
    if (writable) {
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(fd_, 0) == 0) {
            [[maybe_unused]] const ssize_t written = ::pwrite(fd_, pid.constData(), pid.size(), 0);
        }
    }
    return true;
}

WriteLock::WriteLock() : WriteLock(ProgramDir::Path()) {}

WriteLock::WriteLock(const QString& folder, int waitMs) : folder_(QDir::cleanPath(folder)) {
    if (depth > 0 && HeldFolder() == folder_) {
        ++depth;
        nested_ = held_ = true;
        return;
    }
    fd_ = OpenLockFile(LockPath(folder_, kWriteLockName), O_RDONLY);
    if (fd_ < 0) {
        held_ = true;
        return;
    }
    const QDeadlineTimer deadline(waitMs);
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK || deadline.hasExpired()) {
            error_ = QStringLiteral(
                         "the files of %1 are being changed by another command or by "
                         "fernlog itself, for longer than %2 s; nothing was changed, "
                         "try again")
                         .arg(QDir::toNativeSeparators(folder_))
                         .arg(waitMs / 1000.0);
            ::close(fd_);
            fd_ = -1;
            return;
        }
        QThread::msleep(20);
    }
    held_ = true;
    // While another folder's lock is held, this one is simply its own.
    if (depth == 0) {
        HeldFolder() = folder_;
        depth = 1;
        outer_ = true;
    }
}

WriteLock::~WriteLock() {
    if (nested_) --depth;
    if (outer_) {
        depth = 0;
        HeldFolder().clear();
    }
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace FolderLock
