// Who else holds the devices' fixed ports. Tests that must own TCP 10001 or
// UDP 30718 run in a network namespace of their own where the machine allows
// it (scripts/in-netns); elsewhere a running simulator or another checkout's
// tests may hold the port, and such a test skips, naming the holder, instead
// of failing over something that is not its fault.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

namespace FixedPorts {

enum class Protocol { Tcp, Udp };

// One socket of a /proc/net table: its local address and port, owner and inode.
struct Socket {
    QHostAddress address;
    quint16 port = 0;
    int state = 0;
    uint uid = 0;
    quint64 inode = 0;
};

// The rows of /proc/net/{tcp,tcp6,udp,udp6} text; rows that do not parse
// are left out.
QList<Socket> ParseTable(const QByteArray& text);

// What a test means to bind: `port` of `protocol` on the addresses of
// `subnet` (127.0.0.0/8 for simulated devices on several loopback addresses,
// 0.0.0.0/0 for a listener on every address).
struct Want {
    Protocol protocol;
    quint16 port;
    QPair<QHostAddress, int> subnet;
};

// Whether a socket bound on `held` stops a bind on the addresses of `subnet`:
// an address inside it, or a wildcard on either side.
bool Collides(const QHostAddress& held, const QPair<QHostAddress, int>& subnet);

// The process that has the socket with this inode open (the first found), or
// 0 where no process that this user may look into has it.
qint64 PidOf(quint64 inode);

// Listening TCP sockets or bound UDP sockets of other processes in this
// network namespace that stop the binds, one per line part:
// "127.0.0.2:10001/tcp (pid 4711 corvane-sim)". Empty when all are free.
QString HeldBy(const QList<Want>& wants);

}  // namespace FixedPorts

// Skips the current test when another program holds a port it must own.
// For a SetUp() or a test body.
#define SKIP_IF_PORTS_HELD(...)                                                                 \
    do {                                                                                        \
        const QString held_ = ::FixedPorts::HeldBy({__VA_ARGS__});                              \
        if (!held_.isEmpty())                                                                   \
            GTEST_SKIP() << "a fixed port is held by another program: " << held_.toStdString(); \
    } while (false)

// The devices' ports on loopback addresses, as simulated devices bind them.
inline FixedPorts::Want LoopbackTcp10001() {
    return {FixedPorts::Protocol::Tcp, 10001, QHostAddress::parseSubnet("127.0.0.0/8")};
}
inline FixedPorts::Want LoopbackUdp30718() {
    return {FixedPorts::Protocol::Udp, 30718, QHostAddress::parseSubnet("127.0.0.0/8")};
}
