#include "protocol/Address.h"

#include <QStringList>

namespace Protocol {

quint32 IPv4::Value() const {
    return quint32(octets[0]) << 24 | quint32(octets[1]) << 16 | quint32(octets[2]) << 8 |
           octets[3];
}

QString IPv4::Text() const {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(octets[0])
        .arg(octets[1])
        .arg(octets[2])
        .arg(octets[3]);
}

IPv4 IPv4FromValue(quint32 value) {
    return IPv4{{quint8(value >> 24), quint8(value >> 16), quint8(value >> 8), quint8(value)}};
}

std::optional<IPv4> ParseIPv4(const QString& text, QString* error) {
    const auto fail = [&](const QString& why) -> std::optional<IPv4> {
        if (error) *error = why;
        return std::nullopt;
    };
    const QString general =
        QStringLiteral(
            "'%1' is not a valid IP address.  Please enter four numbers from 0 to 255 "
            "separated by dots.")
            .arg(text);
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4) return fail(general);
    IPv4 address;
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        // Only ASCII digits: QString::toInt would also take other scripts'
        // digits, a sign or blanks.
        if (p.isEmpty() || p.size() > 3) return fail(general);
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return fail(general);
        const int value = p.toInt();
        if (value > 255) return fail(general);
        if (p.size() > 1 && p[0] == QLatin1Char('0')) {
            return fail(QStringLiteral("'%1' is not a valid IP address: the number %2 has a "
                                       "leading zero, which other programs read as an octal "
                                       "number.  Please write it without leading zeros.")
                            .arg(text, p));
        }
        address.octets[size_t(i)] = quint8(value);
    }
    return address;
}

}  // namespace Protocol
