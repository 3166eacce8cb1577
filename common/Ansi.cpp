#include "common/Ansi.h"

namespace Ansi {
namespace {
// Code page 1252 positions 0x80-0x9F; 0 marks the five unassigned bytes.
constexpr char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char EncodeOne(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] != 0 && kHigh[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}
}  // namespace

QByteArray Encode(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;  // one character outside the code page, one '?'
            out.append('?');
            continue;
        }
        out.append(EncodeOne(c.unicode()));
    }
    return out;
}

QString Decode(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if (u >= 0x80 && u < 0xA0) {
            const char16_t mapped = kHigh[u - 0x80];
            out.append(mapped ? QChar(mapped) : QChar(u));
        } else {
            out.append(QChar(u));
        }
    }
    return out;
}

QByteArray Field(const QString& text, int length) {
    QByteArray bytes = Encode(text).left(length);
    if (bytes.size() < length) bytes.append(QByteArray(length - bytes.size(), ' '));
    return bytes;
}

QString Trimmed(const QByteArray& field) {
    QByteArray bytes = field;
    // Fields of a new file are zero bytes; treat them like blanks.
    bytes.replace('\0', ' ');
    return Decode(bytes).trimmed();
}

}  // namespace Ansi
