#include "SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace SafeFile {

namespace {

QString Reason(int errnum) {
    return QString::fromLocal8Bit(std::strerror(errnum));
}

// Syncs the folder's entry list, so that a rename is on disk too. Some file
// systems refuse to sync a folder; that is no reason to report a failure.
void SyncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

QString Message(const QString& what, const QString& path, int errnum) {
    return what + QStringLiteral(" ") + QDir::toNativeSeparators(path) + QStringLiteral(": ") +
           Reason(errnum);
}

// Writes all of `size` bytes at `offset`; false with errno set otherwise.
bool WriteAllAt(int fd, const char* data, qint64 size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, static_cast<size_t>(size), offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

// The folder part of a path, for the owner of the folder a link lies in.
QByteArray FolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

// The file a chain of symbolic links ends at (the path itself when it is
// no link), so that replacing it keeps the links; a dangling link names the
// file it would create. A link is followed only when it and the file it
// leads to belong to the user running the program, and the superuser
// follows none in a folder that belongs to someone else: whoever may plant
// a link in the program's folder must not make it overwrite their choice of
// file. False with the reason otherwise.
bool FollowLinks(const QString& path, QString& target, QString* error) {
    const auto refuse = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot write ") + QDir::toNativeSeparators(path) +
                     QStringLiteral(": ") + why;
        return false;
    };
    const uid_t user = ::geteuid();
    QByteArray current = QFile::encodeName(path);
    bool followed = false;
    for (int hops = 0;; ++hops) {
        struct stat link {};
        if (::lstat(current.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) break;
        if (hops == 40) return refuse(Reason(ELOOP));
        if (link.st_uid != user) {
            return refuse(QStringLiteral("it is a symbolic link that belongs to another user"));
        }
        struct stat folder {};
        if (user == 0 &&
            (::stat(FolderOf(current).constData(), &folder) != 0 || folder.st_uid != 0)) {
            return refuse(QStringLiteral(
                "it is a symbolic link in a folder that belongs to another user, which the "
                "superuser does not follow"));
        }
        QByteArray next(4096, Qt::Uninitialized);
        const ssize_t n = ::readlink(current.constData(), next.data(), size_t(next.size()));
        if (n < 0 || n >= next.size()) return refuse(Reason(n < 0 ? errno : ENAMETOOLONG));
        next.truncate(n);
        current = next.startsWith('/') ? next : FolderOf(current) + '/' + next;
        followed = true;
    }
    struct stat end {};
    if (followed && ::lstat(current.constData(), &end) == 0 && end.st_uid != user) {
        return refuse(QStringLiteral("it is a symbolic link to %1, which belongs to another user")
                          .arg(QDir::toNativeSeparators(QFile::decodeName(current))));
    }
    target = QFile::decodeName(current);
    return true;
}

// What Replace checks before it writes: the links followed as allowed, and a
// write-protected file refused. `old` gets the target's status when it
// `exists`.
bool CheckTarget(const QString& path, QString& target, struct stat& old, bool& exists,
                 QString* error) {
    if (!FollowLinks(path, target, error)) return false;
    const QByteArray name = QFile::encodeName(target);
    // A file its owner made read-only stays as it is; a rename would replace
    // it all the same. Mode bits count too: root may write any file.
    exists = ::stat(name.constData(), &old) == 0;
    if (!exists || !S_ISREG(old.st_mode)) return true;
    int refused = 0;
    if (::access(name.constData(), W_OK) != 0) {
        refused = errno;  // EACCES, or EROFS on a read-only file system
    } else if ((old.st_mode & 0222) == 0) {
        refused = EACCES;
    }
    if (refused == 0) return true;
    if (error) *error = Message(QStringLiteral("Cannot write"), path, refused);
    return false;
}
}  // namespace

Writer::Writer(const QString& path, Mode mode) : path_(path), target_(path), mode_(mode) {}

Writer::~Writer() {
    Discard();
}

bool Writer::Fail(const QString& what, int errnum) {
    if (error_.isEmpty()) error_ = Message(what, path_, errnum);
    return false;
}

bool Writer::Open(QString* error) {
    Discard();
    error_.clear();
    written_ = 0;
    struct stat old {};
    bool exists = false;
    if (!CheckTarget(path_, target_, old, exists, &error_)) {
        if (error) *error = error_;
        return false;
    }
    // mkstemp picks a name nobody else uses, in the target's own folder so
    // that the final rename stays on one file system.
    const QFileInfo info(target_);
    QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                           info.fileName() + QStringLiteral(".XXXXXX"));
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) {
        Fail(QStringLiteral("Cannot write"), errno);
        if (error) *error = error_;
        return false;
    }
    temp_ = QFile::decodeName(pattern);
    // mkstemp makes the file private; a replaced file gets the usual
    // permissions (or the old file's, when there is one).
    mode_t mode;
    if (exists) {
        mode = old.st_mode & 07777;
        if (mode_ == Mode::Private) mode &= 0600;
    } else if (mode_ == Mode::Private) {
        mode = 0600;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
    return true;
}

bool Writer::Write(const QByteArray& bytes) {
    if (fd_ < 0 || !error_.isEmpty()) return false;
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(QStringLiteral("Cannot write"), errno);
        }
        if (n == 0) return Fail(QStringLiteral("Cannot write"), ENOSPC);
        data += n;
        left -= n;
        written_ += n;
    }
    return true;
}

bool Writer::Commit(QString* error) {
    auto failed = [&] {
        if (error) *error = error_;
        Discard();
        return false;
    };
    if (fd_ < 0) {
        if (error_.isEmpty()) Fail(QStringLiteral("Cannot write"), EBADF);
        return failed();
    }
    if (!error_.isEmpty()) return failed();
    if (::fsync(fd_) != 0) {
        Fail(QStringLiteral("Cannot write"), errno);
        return failed();
    }
    // A file system that accepted every write may still have stored less.
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || st.st_size != written_) {
        Fail(QStringLiteral("Cannot write"), ENOSPC);
        return failed();
    }
    if (::close(fd_) != 0) {
        fd_ = -1;
        Fail(QStringLiteral("Cannot write"), errno);
        return failed();
    }
    fd_ = -1;
    if (::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(target_).constData()) !=
        0) {
        Fail(QStringLiteral("Cannot replace"), errno);
        return failed();
    }
    temp_.clear();
    SyncFolder(QFileInfo(target_).absolutePath());
    return true;
}

void Writer::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.isEmpty()) {
        ::unlink(QFile::encodeName(temp_).constData());
        temp_.clear();
    }
}

bool Replace(const QString& path, const QByteArray& contents, QString* error, Mode mode) {
    Writer writer(path, mode);
    if (!writer.Open(error)) return false;
    writer.Write(contents);
    return writer.Commit(error);
}

bool KeepCopy(const QString& path, const QByteArray& contents, QString* error) {
    QString copy = path + QStringLiteral(".bad");
    for (int n = 2; QFileInfo::exists(copy); ++n) {
        QFile existing(copy);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == contents) return true;
        copy = path + QStringLiteral(".bad") + QString::number(n);
    }
    return Replace(copy, contents, error, Mode::Private);
}

bool Replaceable(const QString& path, QString* error) {
    QString target;
    struct stat old {};
    bool exists = false;
    return CheckTarget(path, target, old, exists, error);
}

bool WriteTail(const QString& path, qint64 offset, const QByteArray& bytes, QString* error) {
    QString target;
    if (!FollowLinks(path, target, error)) return false;
    // Not followed any further: a link put there since is refused, not used.
    const QByteArray name = QFile::encodeName(target);
    auto fail = [&](int errnum) {
        if (error) *error = Message(QStringLiteral("Cannot write"), path, errnum);
        return false;
    };
    // Whether this call creates the file decides what a failure leaves:
    // nothing, rather than an empty file.
    bool created = false;
    int fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        created = fd >= 0;
        // Created by someone else in between: written like any existing file.
        if (fd < 0 && errno == EEXIST)
            fd = ::open(name.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int errnum = errno;
        ::close(fd);
        return fail(errnum);
    }
    const qint64 oldSize = st.st_size;
    if (offset < 0 || offset > oldSize) offset = oldSize;
    const qint64 end = offset + bytes.size();

    // What the write will cover of the old contents, to put it back.
    QByteArray overwritten(static_cast<qsizetype>(std::min(oldSize, end) - offset),
                           Qt::Uninitialized);
    if (!overwritten.isEmpty()) {
        const ssize_t got =
            ::pread(fd, overwritten.data(), static_cast<size_t>(overwritten.size()), offset);
        if (got != overwritten.size()) {
            const int errnum = got < 0 ? errno : EIO;
            ::close(fd);
            return fail(errnum);
        }
    }

    int errnum = 0;
    if (!WriteAllAt(fd, bytes.constData(), bytes.size(), offset) ||
        (oldSize > end && ::ftruncate(fd, end) != 0)) {
        errnum = errno;
        // Undone as far as it goes: a file system that just refused a write
        // still takes a cut and bytes over blocks it already holds.
        if (::ftruncate(fd, oldSize) == 0) {
            WriteAllAt(fd, overwritten.constData(), overwritten.size(), offset);
        }
    }
    if (::close(fd) != 0 && errnum == 0) errnum = errno;
    if (errnum != 0) {
        if (created) ::unlink(name.constData());
        return fail(errnum);
    }
    return true;
}

}  // namespace SafeFile
