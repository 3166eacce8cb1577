#include "pages/PageValues.h"

#include "common/Ansi.h"
#include "pages/PageMaps.h"
#include "protocol/Bytes.h"

namespace Pages {
namespace {
bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
// Beyond every field, so that a huge number is refused rather than wrapped.
constexpr qint64 kHuge = 1'000'000'000'000LL;
}  // namespace

std::optional<qint64> ScaledNumber(const QString& text, int decimals) {
    const QString t = text.trimmed();
    int i = 0;
    const bool negative = t.startsWith(QLatin1Char('-'));
    if (negative) ++i;
    QString whole, fraction;
    bool point = false;
    for (; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c == QLatin1Char('.') && !point) {
            point = true;
        } else if (IsDigit(c)) {
            (point ? fraction : whole) += c;
        } else {
            return std::nullopt;
        }
    }
    if (whole.isEmpty() && fraction.isEmpty()) return std::nullopt;

    while (whole.size() > 1 && whole.startsWith(QLatin1Char('0'))) whole.remove(0, 1);
    if (whole.size() > 9) return negative ? -kHuge : kHuge;
    qint64 value = whole.isEmpty() ? 0 : whole.toLongLong();
    for (int d = 0; d < decimals; ++d)
        value = value * 10 + (d < fraction.size() ? fraction.at(d).digitValue() : 0);

    // Round what is left after the kept decimals, ties to even.
    const QString rest = fraction.mid(decimals);
    if (!rest.isEmpty()) {
        const int first = rest.at(0).digitValue();
        bool beyondHalf = false;
        for (int k = 1; k < rest.size(); ++k) beyondHalf |= rest.at(k) != QLatin1Char('0');
        if (first > 5 || (first == 5 && (beyondHalf || value % 2 != 0))) ++value;
    }
    return negative ? -value : value;
}

QString TenthsText(qint64 tenths) {
    const qint64 magnitude = tenths < 0 ? -tenths : tenths;
    QString text =
        QString::number(magnitude / 10) + QStringLiteral(".") + QString::number(magnitude % 10);
    if (tenths < 0) text.prepend(QLatin1Char('-'));
    return text;
}

int ReadWord(const QByteArray& image, int position) {
    return Protocol::ValueAt(image, position, 2);
}

int ReadByte(const QByteArray& image, int position) {
    return Protocol::ValueAt(image, position, 1);
}

void WriteWord(QByteArray& image, int position, int value) {
    if (position < 1 || position + 1 > image.size()) return;
    int high = 0, low = 0;
    Protocol::SplitWord(value, high, low);
    image[position - 1] = static_cast<char>(high);
    image[position] = static_cast<char>(low);
}

void WriteByte(QByteArray& image, int position, int value) {
    if (position < 1 || position > image.size()) return;
    image[position - 1] = static_cast<char>(value & 255);
}

QString ReadName(const QByteArray& image, int position) {
    return Ansi::Trimmed(image.mid(position - 1, kNameLength));
}

void WriteName(QByteArray& image, int position, const QString& name) {
    if (position < 1 || position - 1 + kNameLength > image.size()) return;
    image.replace(position - 1, kNameLength, Ansi::Field(name, kNameLength));
}

bool NameFits(const QString& name) {
    return Ansi::Decode(Ansi::Encode(name)) == name;
}

}  // namespace Pages

namespace Pages {

bool SignedNumberKey(QChar key) {
    return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QLatin1Char('.') ||
           key == QLatin1Char('-');
}

bool DigitKey(QChar key) {
    return key >= QLatin1Char('0') && key <= QLatin1Char('9');
}

bool NameKey(QChar key) {
    return key != QLatin1Char('/') && key != QLatin1Char('\\');
}

QString InvalidNameKeyMessage(QChar key) {
    return QString(key) + QStringLiteral(" is an invalid character.");
}

}  // namespace Pages
