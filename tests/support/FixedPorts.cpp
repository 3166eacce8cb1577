#include "support/FixedPorts.h"

#include <dirent.h>
#include <unistd.h>

#include <QFile>
#include <QStringList>
#include <QtEndian>
#include <cstring>

namespace FixedPorts {

namespace {

constexpr int kTcpListen = 0x0A;

// The kernel prints each 32-bit word of the address as a number in the
// machine's own byte order; copying the number back gives the bytes as they
// are on the wire.
bool ParseAddress(const QByteArray& hex, QHostAddress& address) {
    if (hex.size() != 8 && hex.size() != 32) return false;
    quint8 bytes[16];
    for (int word = 0; word < hex.size() / 8; ++word) {
        bool ok = false;
        const quint32 value = hex.mid(word * 8, 8).toUInt(&ok, 16);
        if (!ok) return false;
        std::memcpy(bytes + word * 4, &value, 4);
    }
    if (hex.size() == 8) {
        quint32 networkOrder;
        std::memcpy(&networkOrder, bytes, 4);
        address.setAddress(qFromBigEndian(networkOrder));
    } else {
        address.setAddress(bytes);
    }
    return true;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    // /proc files report no size: read until the end.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Endpoint(const Socket& s) {
    const QString address = s.address.toString();
    return s.address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(address).arg(s.port)
               : QStringLiteral("%1:%2").arg(address).arg(s.port);
}

}  // namespace

QList<Socket> ParseTable(const QByteArray& text) {
    QList<Socket> sockets;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...
        if (f.size() < 10 || !f[0].endsWith(':')) continue;
        const int colon = f[1].indexOf(':');
        if (colon < 0) continue;
        Socket s;
        bool portOk = false, stateOk = false, uidOk = false, inodeOk = false;
        s.port = static_cast<quint16>(f[1].mid(colon + 1).toUInt(&portOk, 16));
        s.state = f[3].toInt(&stateOk, 16);
        s.uid = f[7].toUInt(&uidOk);
        s.inode = f[9].toULongLong(&inodeOk);
        if (!ParseAddress(f[1].left(colon), s.address) || !portOk || !stateOk || !uidOk || !inodeOk)
            continue;
        sockets << s;
    }
    return sockets;
}

bool Collides(const QHostAddress& held, const QPair<QHostAddress, int>& subnet) {
    // A dual-stack listener on [::] takes the IPv4 port as well.
    if (held.isEqual(QHostAddress(QHostAddress::AnyIPv6), QHostAddress::StrictConversion))
        return true;
    // IPv4-mapped addresses count as the IPv4 addresses they carry.
    bool isV4 = false;
    const quint32 v4 = held.toIPv4Address(&isV4);
    const QHostAddress address = isV4 ? QHostAddress(v4) : held;
    if (address.protocol() != subnet.first.protocol()) return false;
    return (isV4 && v4 == 0) || address.isInSubnet(subnet);
}

qint64 PidOf(quint64 inode) {
    const QByteArray wanted = "socket:[" + QByteArray::number(inode) + ']';
    DIR* proc = ::opendir("/proc");
    if (!proc) return 0;
    qint64 found = 0;
    while (!found) {
        const dirent* entry = ::readdir(proc);
        if (!entry) break;
        bool numeric = false;
        const qint64 pid = QByteArray(entry->d_name).toLongLong(&numeric);
        if (!numeric) continue;
        const QByteArray fdDir = "/proc/" + QByteArray(entry->d_name) + "/fd";
        DIR* fds = ::opendir(fdDir.constData());
        if (!fds) continue;  // another user's process
        while (const dirent* fd = ::readdir(fds)) {
            const QByteArray path = fdDir + '/' + fd->d_name;
            char target[64];
            const ssize_t n = ::readlink(path.constData(), target, sizeof target);
            if (n > 0 && QByteArray(target, static_cast<int>(n)) == wanted) {
                found = pid;
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return found;
}

QString HeldBy(const QList<Want>& wants) {
    QStringList holders;
    for (const Want& want : wants) {
        const bool tcp = want.protocol == Protocol::Tcp;
        const QString base = QStringLiteral("/proc/net/") + (tcp ? "tcp" : "udp");
        const QList<Socket> sockets =
            ParseTable(ReadFile(base)) + ParseTable(ReadFile(base + QStringLiteral("6")));
        for (const Socket& s : sockets) {
            if (s.port != want.port || (tcp && s.state != kTcpListen)) continue;
            if (!Collides(s.address, want.subnet)) continue;
            const qint64 pid = PidOf(s.inode);
            // The test's own sockets are its own business, not a reason to skip.
            if (pid == ::getpid()) continue;
            QString who;
            if (pid) {
                const QString name =
                    QString::fromLocal8Bit(ReadFile(QStringLiteral("/proc/%1/comm").arg(pid)))
                        .trimmed();
                who = QStringLiteral("pid %1 %2").arg(pid).arg(name);
            } else {
                who = QStringLiteral("uid %1, process not visible").arg(s.uid);
            }
            const QString line =
                QStringLiteral("%1/%2 (%3)")
                    .arg(Endpoint(s), tcp ? QStringLiteral("tcp") : QStringLiteral("udp"), who);
            if (!holders.contains(line)) holders << line;
        }
    }
    return holders.join(QStringLiteral(", "));
}

}  // namespace FixedPorts
