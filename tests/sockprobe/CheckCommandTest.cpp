// sockprobe without a window: --check prints the run and ends with its
// verdict; without a display and without --check it says where to go.
#include <gtest/gtest.h>

#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>

#include "support/FixedPorts.h"

namespace {
struct Ran {
    int status = -1;
    QString out, err;
};

Ran RunSockprobe(const QStringList& args, bool display) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!display) env.remove(QString::fromLatin1(name));
    }
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SOCKPROBE_PATH), args);
    Ran ran;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        return ran;
    }
    ran.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    ran.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    ran.err = QString::fromLocal8Bit(p.readAllStandardError());
    return ran;
}
}  // namespace

TEST(SockprobeCheck, ChecksWithoutAWindowAndPointsToItWithoutADisplay) {
    const auto everywhere = QHostAddress::parseSubnet(QStringLiteral("0.0.0.0/0"));
    SKIP_IF_PORTS_HELD({FixedPorts::Protocol::Tcp, 10001, everywhere},
                       {FixedPorts::Protocol::Udp, 30718, everywhere});
    Ran ran = RunSockprobe({"--check", "--loopback"}, false);
    EXPECT_EQ(ran.status, 0) << ran.out.toStdString() << ran.err.toStdString();
    EXPECT_TRUE(ran.out.contains("Listening on Port 10001 using the TCP protocol."))
        << ran.out.toStdString();
    EXPECT_TRUE(ran.out.trimmed().endsWith("Result: TCP port 10001 passed, UDP port 30718 passed."))
        << ran.out.toStdString();

    // Port 10001 taken by another listener: the TCP half fails.
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 10001));
    ran = RunSockprobe({"--check", "--loopback"}, false);
    EXPECT_EQ(ran.status, 1) << ran.out.toStdString();
    EXPECT_TRUE(ran.out.contains("Result: TCP port 10001 failed")) << ran.out.toStdString();
    holder.close();

    ran = RunSockprobe({}, false);
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err,
              "sockprobe: no display to open the window on; sockprobe --check runs the check "
              "without one\n");
}
