#include "SmallDisk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace {
const char kFillerName[] = "/.filler";
}

SmallDisk::SmallDisk(qint64 bytes) {
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0,
                options.constData()) == 0) {
        mounted_ = true;
    } else {
        reason_ = QStringLiteral("cannot mount a small tmpfs for the full-disk case (%1)")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
}

bool SmallDisk::Fill() {
    const QByteArray path = QFile::encodeName(dir_.path() + QLatin1String(kFillerName));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) return false;
    const QByteArray block(4096, 'x');
    // Whole blocks first, then single bytes until not even one fits.
    while (::write(fd, block.constData(), block.size()) > 0) {
    }
    while (::write(fd, "x", 1) > 0) {
    }
    ::close(fd);
    return true;
}

void SmallDisk::Free() {
    QFile::remove(dir_.path() + QLatin1String(kFillerName));
}

bool SmallDisk::SetReadOnly(bool readOnly) {
    if (!mounted_) return false;
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    return ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", flags, nullptr) ==
           0;
}
