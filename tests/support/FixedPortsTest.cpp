// The holder of a fixed port, read off /proc: the tables as the kernel
// prints them, which bindings collide, and real sockets of another process.
#include <QProcess>
#include <QTcpServer>
#include <QUdpSocket>
#include <QtEndian>

#include "support/FixedPorts.h"

using FixedPorts::Collides;
using FixedPorts::HeldBy;
using FixedPorts::ParseTable;
using FixedPorts::Protocol;

namespace {

QPair<QHostAddress, int> Subnet(const char* text) {
    return QHostAddress::parseSubnet(QString::fromLatin1(text));
}

// Another process holding a loopback port: a socket of `kind` ("tcp" or
// "udp") on 127.0.0.1, its port printed once bound; it ends with its input.
class Holder {
  public:
    explicit Holder(const char* kind) {
        const QString type = QLatin1String(kind) == QLatin1String("tcp")
                                 ? QStringLiteral("SOCK_STREAM")
                                 : QStringLiteral("SOCK_DGRAM");
        process_.start(
            QStringLiteral("python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import socket, sys\n"
                            "s = socket.socket(socket.AF_INET, socket.%1)\n"
                            "s.bind(('127.0.0.1', 0))\n"
                            "%2\n"
                            "print(s.getsockname()[1], flush=True)\n"
                            "sys.stdin.read()\n")
                 .arg(type, type == QLatin1String("SOCK_STREAM") ? QStringLiteral("s.listen(1)")
                                                                 : QStringLiteral("pass"))});
        if (process_.waitForStarted(5000) && process_.waitForReadyRead(10000))
            port_ = static_cast<quint16>(process_.readLine().trimmed().toUInt());
    }
    ~Holder() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(2000);
    }
    quint16 Port() const { return port_; }
    qint64 Pid() const { return process_.processId(); }

  private:
    QProcess process_;
    quint16 port_ = 0;
};

}  // namespace

// As an x86 kernel prints them: each 32-bit word in little-endian order.
TEST(FixedPorts, TablesAsTheKernelPrintsThem) {
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN) GTEST_SKIP() << "sample rows of a little-endian kernel";
    const QByteArray text =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode\n"
        "   0: 0200007F:2711 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 "
        "       0 48213 1 0000000000000000 100 0 0 10 0\n"
        "   1: 00000000000000000000000000000000:2711 00000000000000000000000000000000:0000 0A "
        "00000000:00000000 00:00000000 00000000     0        0 48214 1 0000000000000000 100 0 0 "
        "10 0\n"
        "   2: 0000000000000000FFFF00000300007F:77FE 00000000000000000000000000000000:0000 07 "
        "00000000:00000000 00:00000000 00000000   105        0 777 2 0000000000000000 0\n"
        "   3: garbage\n"
        "   4: 0200007G:2711 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 1 1\n";
    const QList<FixedPorts::Socket> rows = ParseTable(text);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].address, QHostAddress(QStringLiteral("127.0.0.2")));
    EXPECT_EQ(rows[0].port, 10001);
    EXPECT_EQ(rows[0].state, 0x0A);
    EXPECT_EQ(rows[0].uid, 1000u);
    EXPECT_EQ(rows[0].inode, 48213u);
    EXPECT_TRUE(rows[1].address.isEqual(QHostAddress(QHostAddress::AnyIPv6),
                                        QHostAddress::StrictConversion));
    EXPECT_TRUE(rows[2].address.isEqual(QHostAddress(QStringLiteral("::ffff:127.0.0.3")),
                                        QHostAddress::StrictConversion))
        << rows[2].address.toString().toStdString();
    EXPECT_EQ(rows[2].port, 30718);
    EXPECT_EQ(rows[2].state, 0x07);
}

TEST(FixedPorts, WhichBindingsCollide) {
    const auto loopback = Subnet("127.0.0.0/8");
    const auto one = Subnet("127.0.0.3/32");
    const auto everywhere = Subnet("0.0.0.0/0");
    struct Case {
        const char* held;
        QPair<QHostAddress, int> subnet;
        bool collides;
    } cases[] = {
        {"127.0.0.2", loopback, true},   {"127.0.0.2", one, false},
        {"10.1.2.3", loopback, false},   {"10.1.2.3", everywhere, true},
        {"0.0.0.0", one, true},          {"::", loopback, true},
        {"::", everywhere, true},        {"::1", loopback, false},
        {"::ffff:127.0.0.3", one, true}, {"::ffff:127.0.0.4", one, false},
        {"fe80::1", everywhere, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Collides(QHostAddress(QString::fromLatin1(c.held)), c.subnet), c.collides)
            << c.held << " against " << c.subnet.first.toString().toStdString() << '/'
            << c.subnet.second;
}

// Another process's sockets are named with their address, protocol and
// process; this process's own are no reason to skip.
TEST(FixedPorts, NamesTheProcessThatHoldsThePort) {
    Holder tcp("tcp");
    Holder udp("udp");
    ASSERT_NE(tcp.Port(), 0) << "python3 did not bind a TCP port";
    ASSERT_NE(udp.Port(), 0) << "python3 did not bind a UDP port";
    const auto loopback = QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8"));

    EXPECT_EQ(HeldBy({{Protocol::Tcp, tcp.Port(), loopback}}),
              QStringLiteral("127.0.0.1:%1/tcp (pid %2 python3)").arg(tcp.Port()).arg(tcp.Pid()));
    EXPECT_EQ(HeldBy({{Protocol::Udp, udp.Port(), loopback}}),
              QStringLiteral("127.0.0.1:%1/udp (pid %2 python3)").arg(udp.Port()).arg(udp.Pid()));
    // A bound UDP socket is not a TCP listener, nor the other way round.
    EXPECT_EQ(HeldBy({{Protocol::Udp, tcp.Port(), Subnet("127.0.0.1/32")},
                      {Protocol::Tcp, udp.Port(), Subnet("127.0.0.1/32")}}),
              QString());
    // Another loopback address is not held.
    EXPECT_EQ(HeldBy({{Protocol::Tcp, tcp.Port(), Subnet("127.0.0.2/32")}}), QString());

    QTcpServer own;
    ASSERT_TRUE(own.listen(QHostAddress::LocalHost));
    QUdpSocket ownUdp;
    ASSERT_TRUE(ownUdp.bind(QHostAddress::LocalHost));
    EXPECT_EQ(HeldBy({{Protocol::Tcp, own.serverPort(), loopback},
                      {Protocol::Udp, ownUdp.localPort(), loopback}}),
              QString());
}
