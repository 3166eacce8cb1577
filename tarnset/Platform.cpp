#include "tarnset/Platform.h"

#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QProcess>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <QtEndian>
#include <bit>

#include "tarnset/Wire.h"

namespace Platform {
namespace {

struct Route {
    QString iface;
    quint32 destination = 0;
    quint32 gateway = 0;
    quint32 mask = 0;
};

// /proc/net/route prints the address's bytes (network order) as one
// host-order hex number.
quint32 RouteWord(const QString& hex) {
    bool ok = false;
    const quint32 raw = hex.toUInt(&ok, 16);
    return ok ? qFromBigEndian(raw) : 0;
}

QList<Route> Routes() {
    QList<Route> routes;
    QFile file(QStringLiteral("/proc/net/route"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return routes;
    QTextStream in(&file);
    in.readLine();  // heading
    while (!in.atEnd()) {
        const QStringList f = in.readLine().split(QLatin1Char('\t'), Qt::SkipEmptyParts);
        if (f.size() < 8) continue;
        const int flags = f[3].toInt(nullptr, 16);
        if (!(flags & 0x1)) continue;  // route not up
        routes.append({f[0].trimmed(), RouteWord(f[1]), RouteWord(f[2]), RouteWord(f[7])});
    }
    return routes;
}

CommandRunner& Runner() {
    static CommandRunner runner;
    return runner;
}

CommandResult RunProcess(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    CommandResult result;
    if (!process.waitForStarted(5000)) {
        result.errorText = process.errorString();
        return result;
    }
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
        result.errorText = QStringLiteral("%1 did not finish within 5 seconds").arg(program);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.errorText = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return result;
}

}  // namespace

NetworkDetails ReadNetworkDetails() {
    NetworkDetails details;
    for (const Route& r : Routes()) {
        if (r.destination == 0 && r.mask == 0) {
            details.interfaceName = r.iface;
            details.gateway = QHostAddress(r.gateway).toString();
            break;
        }
    }
    if (details.interfaceName.isEmpty()) {
        details.problem = QStringLiteral("No default route: no default gateway");
        return details;
    }
    const QNetworkInterface iface = QNetworkInterface::interfaceFromName(details.interfaceName);
    for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
            details.address = entry.ip().toString();
            details.mask = entry.netmask().toString();
            break;
        }
    }
    if (details.address.isEmpty())
        details.problem = QStringLiteral("No IPv4 address on %1").arg(details.interfaceName);
    return details;
}

QString InterfaceFor(const QString& address) {
    const QHostAddress target(address);
    bool ok = false;
    const quint32 t = target.toIPv4Address(&ok);
    if (!ok) return QString();
    QString best;
    int bestBits = -1;
    for (const Route& r : Routes()) {
        if ((t & r.mask) != r.destination) continue;
        const int bits = std::popcount(r.mask);
        if (bits > bestBits) {
            bestBits = bits;
            best = r.iface;
        }
    }
    return best;
}

void SetCommandRunner(CommandRunner runner) {
    Runner() = std::move(runner);
}

CommandResult RunCommand(const QString& program, const QStringList& args) {
    return Runner() ? Runner()(program, args) : RunProcess(program, args);
}

bool SetArpEntry(const QString& address, const QString& mac, QString* error) {
    const auto octets = Wire::ParseAddress(address);
    const auto bytes = Wire::ParseMac(mac);
    if (!octets || !bytes) {
        if (error) *error = QStringLiteral("invalid address or MAC address");
        return false;
    }
    if (QHostAddress(address).isLoopback()) {
        if (error) *error = QStringLiteral("%1 is a loopback address").arg(address);
        return false;
    }
    const QString iface = InterfaceFor(address);
    if (iface.isEmpty()) {
        if (error) *error = QStringLiteral("no network interface reaches %1").arg(address);
        return false;
    }
    const QStringList args = {
        QStringLiteral("neigh"), QStringLiteral("replace"), address, QStringLiteral("lladdr"),
        Wire::MacForIp(*bytes),  QStringLiteral("dev"),     iface};
    const CommandResult result = RunCommand(QStringLiteral("ip"), args);
    if (result.exitCode == 0) return true;
    if (error) {
        *error = result.errorText.isEmpty()
                     ? QStringLiteral("ip exited with status %1").arg(result.exitCode)
                     : result.errorText;
    }
    return false;
}

void Knock(const QString& address, int timeoutMs) {
    QTcpSocket socket;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress(address), 1);
    if (socket.state() != QAbstractSocket::UnconnectedState) loop.exec();
    socket.abort();
}

}  // namespace Platform
