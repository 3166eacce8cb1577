#include "Tar.h"

#include <algorithm>
#include <cstring>

namespace Tar {
namespace {

constexpr int kBlock = 512;
// Field offsets and sizes of a ustar header.
constexpr int kName = 0, kNameSize = 100;
constexpr int kMode = 100, kUid = 108, kGid = 116, kNumberSize = 8;
constexpr int kSize = 124, kMtime = 136, kLongSize = 12;
constexpr int kChecksum = 148, kChecksumSize = 8;
constexpr int kType = 156;
constexpr int kMagic = 257;
constexpr int kPrefix = 345, kPrefixSize = 155;

bool Fail(QString* error, const QString& reason) {
    if (error) *error = reason;
    return false;
}

void PutOctal(char* field, int size, qint64 value) {
    // size-1 digits and a NUL, as tar writes them.
    const QByteArray digits = QByteArray::number(value, 8).rightJustified(size - 1, '0');
    std::memcpy(field, digits.constData(), size_t(qMin<qsizetype>(digits.size(), size - 1)));
    field[size - 1] = '\0';
}

// An octal field: leading blanks, digits, then blanks or NULs. -1 when it is
// not one.
qint64 Octal(const char* field, int size) {
    int i = 0;
    while (i < size && field[i] == ' ') ++i;
    qint64 value = 0;
    int digits = 0;
    for (; i < size && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) {
        if (value > (qint64(1) << 55)) return -1;
        value = value * 8 + (field[i] - '0');
    }
    for (; i < size; ++i) {
        if (field[i] != ' ' && field[i] != '\0') return -1;
    }
    return digits > 0 ? value : -1;
}

qint64 Checksum(const char* header) {
    qint64 sum = 0;
    for (int i = 0; i < kBlock; ++i) {
        const bool inField = i >= kChecksum && i < kChecksum + kChecksumSize;
        sum += inField ? ' ' : static_cast<unsigned char>(header[i]);
    }
    return sum;
}

QString Text(const char* field, int size) {
    return QString::fromUtf8(field, qsizetype(strnlen(field, size_t(size))));
}

}  // namespace

bool Fits(const Entry& entry) {
    const QByteArray name = entry.name.toUtf8();
    return !name.isEmpty() && name.size() <= kNameSize && !name.contains('\0');
}

QByteArray Encode(const std::vector<Entry>& entries) {
    QByteArray out;
    for (const Entry& e : entries) {
        if (!Fits(e)) continue;
        char header[kBlock] = {};
        const QByteArray name = e.name.toUtf8();
        std::memcpy(header + kName, name.constData(), size_t(name.size()));
        PutOctal(header + kMode, kNumberSize, e.mode & 07777);
        PutOctal(header + kUid, kNumberSize, std::clamp<qint64>(e.uid, 0, 07777777));
        PutOctal(header + kGid, kNumberSize, std::clamp<qint64>(e.gid, 0, 07777777));
        PutOctal(header + kSize, kLongSize, e.data.size());
        PutOctal(header + kMtime, kLongSize, qMax<qint64>(0, e.mtime));
        header[kType] = e.type;
        std::memcpy(header + kMagic,
                    "ustar\0"
                    "00",
                    8);
        // Six digits, a NUL and a blank: the form every tar reads.
        const QByteArray sum = QByteArray::number(Checksum(header), 8).rightJustified(6, '0');
        std::memcpy(header + kChecksum, sum.constData(), 6);
        header[kChecksum + 6] = '\0';
        header[kChecksum + 7] = ' ';
        out.append(header, kBlock);
        out.append(e.data);
        out.append(QByteArray((kBlock - e.data.size() % kBlock) % kBlock, '\0'));
    }
    out.append(QByteArray(2 * kBlock, '\0'));
    return out;
}

bool LooksLikeArchive(const QByteArray& head) {
    return head.size() >= kBlock && (head.mid(kMagic, 6) == QByteArray("ustar\0", 6) ||
                                     head.mid(kMagic, 8) == QByteArray("ustar  \0", 8));
}

bool Decode(const QByteArray& archive, std::vector<Entry>& entries, QString* error) {
    entries.clear();
    qsizetype at = 0;
    while (true) {
        if (archive.size() - at < kBlock) {
            return Fail(error, at == 0 ? QStringLiteral("it is no tar archive")
                                       : QStringLiteral("it ends before the end of the archive"));
        }
        const char* header = archive.constData() + at;
        if (std::all_of(header, header + kBlock, [](char c) { return c == '\0'; })) break;
        // POSIX ustar, or the older GNU form that tar still writes.
        const bool ustar = LooksLikeArchive(archive.mid(at, kBlock));
        const qint64 stored = Octal(header + kChecksum, kChecksumSize);
        if (!ustar) {
            return Fail(error, at == 0 ? QStringLiteral("it is no tar archive")
                                       : QStringLiteral("a header at byte %1 is damaged").arg(at));
        }
        if (stored != Checksum(header)) {
            return Fail(error, QStringLiteral("the header at byte %1 is damaged (its checksum "
                                              "does not match)")
                                   .arg(at));
        }
        Entry e;
        e.name = Text(header + kName, kNameSize);
        const QString prefix = Text(header + kPrefix, kPrefixSize);
        if (!prefix.isEmpty()) e.name = prefix + u'/' + e.name;
        e.mode = int(qMax<qint64>(0, Octal(header + kMode, kNumberSize)) & 07777);
        e.uid = Octal(header + kUid, kNumberSize);
        e.gid = Octal(header + kGid, kNumberSize);
        e.mtime = Octal(header + kMtime, kLongSize);
        e.type = header[kType];
        const qint64 size = Octal(header + kSize, kLongSize);
        if (size < 0) {
            return Fail(error, QStringLiteral("the header at byte %1 is damaged").arg(at));
        }
        at += kBlock;
        // Entries of every type are handed over with their data: the
        // caller decides which it takes.
        if (size > archive.size() - at) {
            return Fail(error, QStringLiteral("it ends inside '%1'").arg(e.name));
        }
        e.data = archive.mid(at, qsizetype(size));
        const qint64 padded = (size + kBlock - 1) / kBlock * kBlock;
        at += qMin<qint64>(padded, archive.size() - at);
        entries.push_back(std::move(e));
    }
    return true;
}

}  // namespace Tar
