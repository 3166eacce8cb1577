// The corvane-sim program: help text, serving two devices, stopping on
// SIGINT; and its --device option.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>

#include "RawClient.h"
#include "devsim/DeviceOption.h"

using namespace devsim;

namespace {

// Waits in the event loop (not in the process) for a condition, bounded.
template <typename F>
bool waitFor(F done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        spin(20);
    }
    return true;
}

}  // namespace

TEST(CorvaneSim, HelpExplainsTheDeviceOption) {
    QProcess p;
    p.start(QStringLiteral(CORVANE_SIM_PATH), {QStringLiteral("--help")});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(p.readAllStandardOutput());
    for (const char* part : {"--device", "ADDRESS,MODEL", "QX700-5", "Zolo605",
                             "build=", "unit=", "port=", "--scenario", "lively", "SIGINT"})
        EXPECT_TRUE(text.contains(QLatin1String(part))) << part;
}

TEST(CorvaneSim, RefusesBadDevicesWithAReason) {
    for (const char* option :
         {"127.0.0.2,QX999", "192.0.2.11,QX700-5", "127.0.0.2,QX700-5,unit=K"}) {
        QProcess p;
        p.start(QStringLiteral(CORVANE_SIM_PATH),
                {QStringLiteral("--device"), QLatin1String(option)});
        ASSERT_TRUE(p.waitForFinished(10000)) << option;
        EXPECT_NE(p.exitCode(), 0) << option;
        EXPECT_TRUE(p.readAllStandardError().contains("--device")) << option;
    }
}

TEST(CorvaneSim, ServesTwoDevicesAndStopsOnSigint) {
    QProcess p;
    p.start(QStringLiteral(CORVANE_SIM_PATH),
            {QStringLiteral("--device"), QStringLiteral("127.0.0.2,QX700-5,build=23,port=0"),
             QStringLiteral("--device"), QStringLiteral("127.0.0.3,Zolo605,unit=C,port=0"),
             QStringLiteral("--tick"), QStringLiteral("50")});
    ASSERT_TRUE(p.waitForStarted(5000));

    QByteArray out;
    const QRegularExpression listening(QStringLiteral("on (127\\.0\\.0\\.\\d+):(\\d+)"));
    QList<QPair<QString, quint16>> endpoints;
    ASSERT_TRUE(waitFor(
        [&] {
            out += p.readAllStandardOutput();
            return out.count("listening") >= 2;
        },
        10000))
        << out.constData();
    for (const auto& line : QString::fromLocal8Bit(out).split(QLatin1Char('\n'))) {
        const auto m = listening.match(line);
        if (m.hasMatch()) endpoints.append({m.captured(1), quint16(m.captured(2).toUInt())});
    }
    ASSERT_EQ(endpoints.size(), 2);
    EXPECT_EQ(endpoints[0].first, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(endpoints[1].first, QStringLiteral("127.0.0.3"));

    const QByteArray ids[] = {hex("0005 0005 0017"), hex("0003 0005 0006")};
    const char units[] = {'F', 'C'};
    for (int i = 0; i < 2; ++i) {
        const QHostAddress address(endpoints[i].first);
        const Reply id = transact(address, endpoints[i].second, request(hex("2A CD DC BA")));
        EXPECT_EQ(id.data.mid(4, 6), ids[i]);
        const Reply readings = transact(address, endpoints[i].second, request(hex("3F CD DC 00")));
        ASSERT_EQ(readings.data.size(), 60);
        EXPECT_EQ(readings.data.left(4), hex("3F CD DC 00"));
        EXPECT_EQ(quint8(readings.data[58]), 10);
        EXPECT_EQ(readings.data[59], units[i]);
    }

    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(waitFor([&] { return p.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    out += p.readAllStandardOutput();
    EXPECT_TRUE(out.contains("stopping on SIGINT"));
    // Nothing listens there any more.
    EXPECT_FALSE(transact(QHostAddress(endpoints[0].first), endpoints[0].second,
                          request(hex("2A CD DC BA")), 60, 1000)
                     .connected);
}

TEST(CorvaneSim, DeviceOptionParsing) {
    QString error;
    const auto c = parseDeviceOption(
        QStringLiteral(
            "127.0.0.9,qx700-10,build=24,unit=c,port=0,family=5,model=10,flag=0,name=Lab"),
        10001, &error);
    ASSERT_TRUE(c.has_value()) << error.toStdString();
    EXPECT_EQ(c->model, Model::QX700_10);
    EXPECT_EQ(c->build, 24);
    EXPECT_EQ(c->unit, 'C');
    EXPECT_EQ(c->port, 0);
    EXPECT_EQ(c->resolutionFlag, 0);
    EXPECT_EQ(c->name, QStringLiteral("Lab"));

    const auto d = parseDeviceOption(QStringLiteral("127.0.0.2,Zolo 604"), 10001, &error);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->model, Model::Zolo604);
    EXPECT_EQ(d->port, 10001);
    EXPECT_FALSE(d->build.has_value());

    for (const char* bad :
         {"127.0.0.2", "127.0.0.2,QX700-5,build=x", "127.0.0.2,QX700-5,port=70000",
          "127.0.0.2,QX700-5,colour=red", "::ffff:192.0.2.12,QX740", "not-an-address,QX740",
          "127.0.0.2,QX700-5,flag=256"})
        EXPECT_FALSE(parseDeviceOption(QLatin1String(bad), 10001, &error).has_value()) << bad;
}
