#include "tarnset/Platform.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
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

QString InterfaceFor(const Protocol::IPv4& address) {
    const quint32 t = address.Value();
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

QString ArpTargetProblem(const Protocol::IPv4& address) {
    const quint32 a = address.Value();
    const QString text = address.Text();
    if ((a >> 24) == 127) return QStringLiteral("%1 is a loopback address").arg(text);
    if ((a >> 28) == 0xE) return QStringLiteral("%1 is a multicast address").arg(text);
    if ((a >> 24) == 0 || (a >> 28) == 0xF)
        return QStringLiteral("%1 is a reserved address").arg(text);
    return LocalAddressProblem(address);
}

QString LocalAddressProblem(const Protocol::IPv4& address) {
    const quint32 a = address.Value();
    const QString text = address.Text();
    for (const Route& r : Routes()) {
        if (r.gateway != 0 && r.gateway == a)
            return QStringLiteral("%1 is the gateway of %2").arg(text, r.iface);
    }
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            bool ok = false;
            const quint32 own = entry.ip().toIPv4Address(&ok);
            if (!ok) continue;
            if (own == a) return QStringLiteral("%1 is this computer's own address").arg(text);
            const quint32 mask = entry.netmask().toIPv4Address();
            // A /31 or /32 has no network or broadcast address of its own.
            if (std::popcount(mask) >= 31 || (own & mask) != (a & mask)) continue;
            if ((a & ~mask) == 0)
                return QStringLiteral("%1 is the network address of %2").arg(text, iface.name());
            if ((a & ~mask) == ~mask)
                return QStringLiteral("%1 is the broadcast address of %2").arg(text, iface.name());
        }
    }
    return QString();
}

QString IpProgram() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        const QFileInfo info(QString::fromLatin1(path));
        if (info.isFile() && info.isExecutable()) return info.absoluteFilePath();
    }
    return QString();
}

void SetCommandRunner(CommandRunner runner) {
    Runner() = std::move(runner);
}

CommandResult RunCommand(const QString& program, const QStringList& args) {
    return Runner() ? Runner()(program, args) : RunProcess(program, args);
}

bool SetArpEntry(const Protocol::IPv4& address, const std::array<quint8, 6>& mac, QString* error) {
    const auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    const QString problem = ArpTargetProblem(address);
    if (!problem.isEmpty()) return fail(problem);
    const QString iface = InterfaceFor(address);
    if (iface.isEmpty())
        return fail(QStringLiteral("no network interface reaches %1").arg(address.Text()));
    const QString ip = IpProgram();
    if (ip.isEmpty()) return fail(QStringLiteral("the ip command (iproute2) is not installed"));
    const QStringList args = {QStringLiteral("neigh"),
                              QStringLiteral("replace"),
                              address.Text(),
                              QStringLiteral("lladdr"),
                              Wire::MacForIp(mac),
                              QStringLiteral("dev"),
                              iface};
    const CommandResult result = RunCommand(ip, args);
    if (result.exitCode == 0) return true;
    return fail(result.errorText.isEmpty()
                    ? QStringLiteral("ip exited with status %1").arg(result.exitCode)
                    : result.errorText);
}

bool RemoveArpEntry(const Protocol::IPv4& address, QString* error) {
    const QString iface = InterfaceFor(address);
    const QString ip = IpProgram();
    if (iface.isEmpty() || ip.isEmpty()) {
        if (error) *error = QStringLiteral("no interface or no ip command");
        return false;
    }
    const CommandResult result = RunCommand(ip, {QStringLiteral("neigh"), QStringLiteral("del"),
                                                 address.Text(), QStringLiteral("dev"), iface});
    if (result.exitCode == 0) return true;
    if (error) *error = result.errorText;
    return false;
}

void Knock(const Protocol::IPv4& address, int timeoutMs) {
    QTcpSocket socket;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress(address.Value()), 1);
    if (socket.state() != QAbstractSocket::UnconnectedState) loop.exec();
    socket.abort();
}

}  // namespace Platform
