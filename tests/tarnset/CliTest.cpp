// The command-line mode, run as a program against simulated devices in this
// process: its output, its messages and its exit status.
#include <sys/resource.h>

#include <QProcess>

#include "TarnsetFixture.h"

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out, err;
};

// The environment of a tarnset run here: the waits the in-process tests
// use, which the simulated devices keep to.
QProcessEnvironment ShortWaits() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(Link::kTestTimingsVariable),
               QStringLiteral("discovery=600,reboot=700,setup=400,connect=1500,exchange=1000,"
                              "knock=200"));
    return env;
}

// Runs tarnset while this process keeps serving its simulated devices.
ProgramRun Tarnset(const QStringList& args, const QProcessEnvironment& env = ShortWaits()) {
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

    // A test's wait that does not parse is refused like an option.
    QProcessEnvironment badWait = ShortWaits();
    badWait.insert(QString::fromLatin1(Link::kTestTimingsVariable), QStringLiteral("reboot=0"));
    const ProgramRun refused =
        Tarnset({QStringLiteral("test"), QStringLiteral("127.0.0.142")}, badWait);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, QStringLiteral("tarnset: TARNSET_TEST_TIMINGS: reboot must be 1-600000 "
                                          "milliseconds, not '0' (see tarnset --help)\n"));

    for (const QStringList& args : bad) {
        const ProgramRun r = Tarnset(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith(QLatin1String("tarnset: "))) << r.err.toStdString();
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
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

    // The result alone on standard output: the device's address, checked by
    // its MAC; progress and messages on standard error, without the window's
    // prompts, and the record only with --verbose.
    r = Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("127.0.0.149"), QStringLiteral("--yes"),
                            QStringLiteral("--verbose")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.149")));
    EXPECT_EQ(r.out, QStringLiteral("127.0.0.149\n"));
    EXPECT_TRUE(r.err.contains(QLatin1String(
        "tarnset: Setting the IP address from 127.0.0.142 to 127.0.0.149.  Please wait.\n")));
    EXPECT_TRUE(r.err.contains(QLatin1String("tarnset: debug: Len: 128 ,0,0,0,C0,7F,0,0,95,")));
    for (const QString& line : r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith(QLatin1String("tarnset: "))) << line.toStdString();
    for (const char* windowOnly : {"Click on", "The IP address has been changed."})
        EXPECT_FALSE(r.err.contains(QLatin1String(windowOnly))) << windowOnly;

    r = Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.149"),
                            QStringLiteral("127.0.0.142"), QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("127.0.0.142\n"));
    EXPECT_FALSE(r.err.contains(QLatin1String("Len:")));

    r = Tarnset({QStringLiteral("test"), QStringLiteral("127.0.0.142")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Successfully communicated with IP address: 127.0.0.142  "
                                    "Model: QX700-5 rev 24\n"));
    EXPECT_EQ(r.err, QStringLiteral("tarnset: Testing Communication to:  127.0.0.142\n"
                                    "tarnset: Successfully communicated with 127.0.0.142\n"));
    r = Tarnset({QStringLiteral("test"), QStringLiteral("127.0.0.149")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QLatin1String("tarnset: Error reading from 127.0.0.149\n")));

    // dhcp asks like set-ip, and prints the address the device took.
    r = Tarnset(QStringList{QStringLiteral("dhcp"), QStringLiteral("127.0.0.142")} + kLoopback);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("[no: give --yes to confirm]")));
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.142")));
    r = Tarnset(QStringList{QStringLiteral("dhcp"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String("This server has been reset to DHCP mode")));
    EXPECT_NE(device->address(), QHostAddress(QStringLiteral("127.0.0.142")));
    EXPECT_EQ(r.out, device->address().toString() + QLatin1Char('\n'));
    r = Tarnset(QStringList{QStringLiteral("dhcp"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("127.0.0.142 did not answer the discovery")));
}

// Text another reader takes in another sense never reaches a device: the
// device at 127.0.0.33, which "127.0.0.041" means to QHostAddress and ip,
// is not asked anything.
TEST_F(CliTest, LeadingZerosAndOtherFormsReachNoDevice) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.33"));
    const std::pair<QStringList, const char*> runs[] = {
        {{"test", "127.0.0.041"}, "127.0.0.041"},
        {{"test", "10.1"}, "10.1"},
        {{"test", "0x0a.0.0.1"}, "0x0a.0.0.1"},
        {{"set-ip", "127.0.0.041", "127.0.0.45", "--yes"}, "127.0.0.041"},
        {{"set-ip", "127.0.0.33", "127.0.0.045", "--yes"}, "127.0.0.045"},
        {{"dhcp", "127.0.0.041", "--yes"}, "127.0.0.041"},
        {{"manual", "00-20-4A-00-00-21", "127.0.0.041", "--yes"}, "127.0.0.041"},
        {{"discover", "--broadcast", "127.255.255.0255"}, "127.255.255.0255"},
    };
    for (const auto& [args, text] : runs) {
        const bool own = args.contains(QStringLiteral("--broadcast")) || args[0] == "test";
        const ProgramRun r = Tarnset(own ? args : args + kLoopback);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(
            QStringLiteral("'%1' is not a valid IP address").arg(QLatin1String(text))))
            << args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
    EXPECT_EQ(device->connectionCount(), 0);
    EXPECT_EQ(device->configPort()->discoveryRequests(), 0);
    EXPECT_TRUE(device->configPort()->writeBacks().isEmpty());
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.33")));
}

TEST_F(CliTest, AMoveOntoAnAddressAnotherDeviceHoldsIsRefused) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    AddDevice(QStringLiteral("127.0.0.143"));
    const ProgramRun r =
        Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("127.0.0.143"), QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QLatin1String(
        "tarnset: The IP address 127.0.0.143 is already used by the Corvane server with MAC "
        "address 00-20-4A-00-00-8F.  Please enter another value.\n")))
        << r.err.toStdString();
    EXPECT_TRUE(device->configPort()->writeBacks().isEmpty());
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.142")));
}

// This computer's own address is refused as a device's new address, as
// manual refuses it.
TEST_F(CliTest, SetIpRefusesThisComputersOwnAddress) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    const ProgramRun r =
        Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("127.0.0.1"), QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QLatin1String(
        "The IP address 127.0.0.1 can not be given to a Corvane server: 127.0.0.1 is this "
        "computer's own address.  Please enter another value.")))
        << r.err.toStdString();
    EXPECT_TRUE(device->configPort()->writeBacks().isEmpty());
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.142")));
}

// A peer that sends megabytes as its setup record: refused by its size,
// nothing written back, and the program's memory stays small.
TEST_F(CliTest, AnOversizedSetupRecordIsRefused) {
    devsim::ConfigPortSettings huge;
    huge.recordLength = 8 * 1024 * 1024;
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"), devsim::Model::QX700_5, huge);
    const ProgramRun r =
        Tarnset(QStringList{QStringLiteral("set-ip"), QStringLiteral("127.0.0.142"),
                            QStringLiteral("127.0.0.149"), QStringLiteral("--yes")} +
                kLoopback);
    EXPECT_EQ(r.exitCode, 1);
    // "is at least N" when it was still coming in as the wait ended, on a
    // busy machine.
    EXPECT_TRUE(
        r.err.contains(QLatin1String(" bytes long; a setup record is at most 4096 bytes.  "
                                     "Nothing was written back.")))
        << r.err.left(2000).toStdString();
    EXPECT_LT(r.err.size(), 4000);
    EXPECT_TRUE(device->configPort()->writeBacks().isEmpty());
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.142")));
    // The largest child this test has run: tarnset. Unbounded it took about
    // 95 bytes per byte received (760 MB here).
    struct rusage usage {};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 250 * 1024) << usage.ru_maxrss << " kB";
}

}  // namespace
