#include "tarnset/Wire.h"

#include <QStringList>

namespace Wire {

QByteArray BuildDiscoveryRequest() {
    QByteArray request(DiscoveryRequest::kLength, '\0');
    request[DiscoveryRequest::kQuery] = char(DiscoveryRequest::kQueryValue);
    return request;
}

QByteArray BuildSetupRecordRequest() {
    return QByteArray::fromHex("000100E0");
}

bool PatchSetupRecord(QByteArray& record, const std::array<quint8, 4>& address, QString* error) {
    using namespace SetupRecord;
    if (record.size() < kMinLength) {
        if (error) {
            *error = QStringLiteral("The setup record is %1 bytes long; at least %2 are needed.")
                         .arg(record.size())
                         .arg(kMinLength);
        }
        return false;
    }
    for (int i = 0; i < 4; ++i) record[kAddress + i] = char(address[size_t(i)]);
    record[kFixed20] = char(kFixedLowValue);
    record[kFixed68] = char(kFixedLowValue);
    record[kFixed21] = char(kFixedHighValue);
    record[kFixed69] = char(kFixedHighValue);
    record[kHeader3] = char(kHeader3Value);
    record[kHeader1] = char(kHeader1Value);
    return true;
}

std::optional<QByteArray> BuildResetDatagram(const QByteArray& discoveryAnswer) {
    using namespace ResetDatagram;
    if (discoveryAnswer.size() < DiscoveryAnswer::kMac + 2) return std::nullopt;
    QByteArray datagram(kLength, '\0');
    datagram[kCommand] = char(kCommandValue);
    datagram.replace(kTag, kTagLength, QByteArray(kTagText, kTagLength));
    datagram[kMacTail] = discoveryAnswer[discoveryAnswer.size() - 2];
    datagram[kMacTail + 1] = discoveryAnswer[discoveryAnswer.size() - 1];
    return datagram;
}

QString FormatMac(const QByteArray& answer) {
    QStringList pairs;
    for (int i = DiscoveryAnswer::kMac; i < answer.size(); ++i)
        pairs << QStringLiteral("%1").arg(quint8(answer[i]), 2, 16, QLatin1Char('0')).toUpper();
    return pairs.join(QLatin1Char('-'));
}

std::optional<std::array<quint8, 6>> ParseMac(const QString& text) {
    const QString t = text.trimmed();
    if (t.size() != 17) return std::nullopt;
    const QChar separator = t[2];
    if (separator != QLatin1Char('-') && separator != QLatin1Char(':')) return std::nullopt;
    std::array<quint8, 6> mac{};
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && t[3 * i - 1] != separator) return std::nullopt;
        bool ok = false;
        const QString pair = t.mid(3 * i, 2);
        if (!pair[0].isLetterOrNumber() || !pair[1].isLetterOrNumber()) return std::nullopt;
        const uint value = pair.toUInt(&ok, 16);
        if (!ok) return std::nullopt;
        mac[size_t(i)] = quint8(value);
    }
    return mac;
}

QString MacForIp(const std::array<quint8, 6>& mac) {
    QStringList pairs;
    for (quint8 b : mac) pairs << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
    return pairs.join(QLatin1Char(':'));
}

}  // namespace Wire
