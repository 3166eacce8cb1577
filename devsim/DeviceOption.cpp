#include "DeviceOption.h"

#include <QStringList>

namespace devsim {

namespace {

std::optional<quint16> number(const QString& text, int max) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 0 || v > max) return std::nullopt;
    return quint16(v);
}

}  // namespace

std::optional<DeviceConfig> parseDeviceOption(const QString& text, quint16 defaultPort,
                                              QString* error) {
    auto fail = [&](const QString& why) -> std::optional<DeviceConfig> {
        if (error) *error = QStringLiteral("--device %1: %2").arg(text, why);
        return std::nullopt;
    };
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < 2) return fail(QStringLiteral("expected ADDRESS,MODEL[,key=value...]"));

    DeviceConfig c;
    c.port = defaultPort;
    c.address = QHostAddress(parts[0].trimmed());
    if (c.address.isNull()) return fail(QStringLiteral("'%1' is not an address").arg(parts[0]));
    if (!c.address.isLoopback())
        return fail(QStringLiteral("only loopback addresses (127.x.x.x, ::1) are served"));
    const auto model = modelFromName(parts[1]);
    if (!model) return fail(QStringLiteral("unknown model '%1'").arg(parts[1]));
    c.model = *model;

    for (int i = 2; i < parts.size(); ++i) {
        const QString item = parts[i].trimmed();
        const int eq = item.indexOf(QLatin1Char('='));
        if (eq < 1) return fail(QStringLiteral("'%1' is not key=value").arg(item));
        const QString key = item.left(eq).toLower();
        const QString value = item.mid(eq + 1);
        if (key == QLatin1String("unit")) {
            const QString u = value.toUpper();
            if (u != QLatin1String("C") && u != QLatin1String("F"))
                return fail(QStringLiteral("unit must be C or F"));
            c.unit = u[0].toLatin1();
        } else if (key == QLatin1String("name")) {
            c.name = value;
        } else {
            const auto n = number(value, key == QLatin1String("flag") ? 255 : 65535);
            if (!n) return fail(QStringLiteral("'%1' needs a number in range").arg(key));
            if (key == QLatin1String("build"))
                c.build = *n;
            else if (key == QLatin1String("port"))
                c.port = *n;
            else if (key == QLatin1String("family"))
                c.family = *n;
            else if (key == QLatin1String("model"))
                c.number = *n;
            else if (key == QLatin1String("flag"))
                c.resolutionFlag = quint8(*n);
            else
                return fail(QStringLiteral("unknown key '%1'").arg(key));
        }
    }
    return c;
}

}  // namespace devsim
