// The command-line mode, run as a program against simulated devices in this
// process: its output, its messages and its exit status.
#include <QProcess>

#include "TarnsetFixture.h"

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

// Runs tarnset while this process keeps serving its simulated devices.
ProgramRun Tarnset(const QStringList& args,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TARNSET_PATH), args);
    ProgramRun run;
    if (!p.waitForStarted(5000)) return run;
    WaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(2000);
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(p.readAllStandardError());
    return run;
}

const QStringList kLoopback = {QStringLiteral("--broadcast"), QStringLiteral("127.255.255.255")};

using CliTest = TarnsetTest;

TEST_F(CliTest, HelpVersionAndBadArguments) {
    const ProgramRun help = Tarnset({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* part : {"discover", "set-ip", "dhcp", "test", "manual", "--broadcast",
                             "--wait", "--json", "--yes", "Exit status"})
        EXPECT_TRUE(help.out.contains(QLatin1String(part))) << part;
    const ProgramRun version = Tarnset({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("Corvane Tarnset 1.0.0\n"));

    const QList<QStringList> bad = {
        {"--frobnicate"},
        {"discover", "--wait"},
        {"discover", "--wait", "0"},
        {"discover", "--wait", "33"},
        {"discover", "--broadcast", "everyone"},
        {"discover", "--yes"},
        {"explode"},
        {"set-ip", "127.0.0.142"},
        {"set-ip", "127.0.0.142", "127.0.0.x"},
        {"test", "127.0.0.142; reboot"},
        {"dhcp"},
        {"manual", "00-20-4A-01-02-0", "127.0.0.145"},
        {"test", "127.0.0.142", "--json"},
    };
    // No command and no display: a hint instead of Qt's abort.
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        bare.remove(QString::fromLatin1(name));
    const ProgramRun window = Tarnset({}, bare);
    EXPECT_EQ(window.exitCode, 2);
    EXPECT_TRUE(window.err.contains(QLatin1String("no display"))) << window.err.toStdString();

    for (const QStringList& args : bad) {
        const ProgramRun r = Tarnset(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(QLatin1String("tarnset: "))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST_F(CliTest, DiscoverPrintsOneLinePerAnswerOrJson) {
    const ProgramRun none = Tarnset(
        QStringList{QStringLiteral("discover"), QStringLiteral("--wait"), QStringLiteral("1")} +
        kLoopback);
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_TRUE(none.err.contains(QLatin1String("No Corvane servers were detected")));

    AddDevice(QStringLiteral("127.0.0.142"));
    AddDevice(QStringLiteral("127.0.0.143"));
    const ProgramRun two = Tarnset(
        QStringList{QStringLiteral("discover"), QStringLiteral("--wait"), QStringLiteral("1")} +
        kLoopback);
    EXPECT_EQ(two.exitCode, 0) << two.err.toStdString();
    QStringList lines = two.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << two.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QLatin1String("1\t127.0.0.")));
    EXPECT_TRUE(lines[1].startsWith(QLatin1String("2\t127.0.0.")));
    lines.sort();
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("\t00-20-4A-00-00-8E")) ||
                lines[1].endsWith(QLatin1String("\t00-20-4A-00-00-8E")));

    const ProgramRun json =
        Tarnset(QStringList{QStringLiteral("discover"), QStringLiteral("--json"),
                            QStringLiteral("--wait"), QStringLiteral("1")} +
                kLoopback);
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_TRUE(json.out.contains(QLatin1String("\"mac\": \"00-20-4A-00-00-8F\"")));
    EXPECT_TRUE(json.out.trimmed().startsWith(QLatin1Char('[')));
}

TEST_F(CliTest, SetIpDhcpAndTest) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    // Without --yes and without a terminal the confirmation is answered no.
    ProgramRun r = Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.142"),
                                       QStringLiteral("127.0.0.149")} +
                           kLoopback);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("--yes")));
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.142")));
    // The octet checks: the message, and a bad-argument status.
    r = Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("127.0.0.255"), QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QLatin1String("reserved by the network")));

    r = Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("127.0.0.149"), QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.149")));
    EXPECT_TRUE(r.err.contains(QLatin1String("The IP address has been changed.")));

    r = Tarnset({QStringLiteral("test"), QStringLiteral("127.0.0.149")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains(QLatin1String("Successfully communicated with IP address: "
                                     "127.0.0.149  Model: QX700-5 rev 24")));
    r = Tarnset({QStringLiteral("test"), QStringLiteral("127.0.0.142")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("Error reading from 127.0.0.142")));

    r = Tarnset(QStringList{QStringLiteral("dhcp"), QStringLiteral("127.0.0.149")} + kLoopback);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String("This server has been reset to DHCP mode")));
    EXPECT_NE(device->address(), QHostAddress(QStringLiteral("127.0.0.149")));
    r = Tarnset(QStringList{QStringLiteral("dhcp"), QStringLiteral("127.0.0.149")} + kLoopback);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("127.0.0.149 did not answer the discovery")));
}

}  // namespace
