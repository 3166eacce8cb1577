#include "SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
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

}  // namespace

Writer::Writer(const QString& path) : path_(path) {}

Writer::~Writer() {
    Discard();
}

bool Writer::Fail(const QString& what, int errnum) {
    if (error_.isEmpty()) {
        error_ = what + QStringLiteral(" ") + QDir::toNativeSeparators(path_) +
                 QStringLiteral(": ") + Reason(errnum);
    }
    return false;
}

bool Writer::Open(QString* error) {
    Discard();
    error_.clear();
    written_ = 0;
    // mkstemp picks a name nobody else uses, in the target's own folder so
    // that the final rename stays on one file system.
    const QFileInfo info(path_);
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
    struct stat old {};
    mode_t mode;
    if (::stat(QFile::encodeName(path_).constData(), &old) == 0) {
        mode = old.st_mode & 07777;
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
    if (::rename(QFile::encodeName(temp_).constData(), QFile::encodeName(path_).constData()) != 0) {
        Fail(QStringLiteral("Cannot replace"), errno);
        return failed();
    }
    temp_.clear();
    SyncFolder(QFileInfo(path_).absolutePath());
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

bool Replace(const QString& path, const QByteArray& contents, QString* error) {
    Writer writer(path);
    if (!writer.Open(error)) return false;
    writer.Write(contents);
    return writer.Commit(error);
}

}  // namespace SafeFile
