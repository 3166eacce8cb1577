// The real broadcast and the ARP entry, in a pair of network namespaces that
// this test makes (a veth link between them, 192.0.2.0/24 inside): tarnset
// runs in one, a simulated device in the other. Nothing leaves them. Skipped
// where namespaces cannot be made (no root, no iproute2).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

namespace {

struct Result {
    int exitCode = -1;
    QString out, err;
};

Result RunProgram(const QString& program, const QStringList& args, int timeoutMs = 20000) {
    QProcess p;
    p.start(program, args);
    Result r;
    if (!p.waitForStarted(5000)) {
        r.err = p.errorString();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

Result Ip(const QStringList& args) {
    return RunProgram(QStringLiteral("ip"), args);
}

class NamespacePair : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString id = QString::number(::getpid());
        a_ = QStringLiteral("tarnsetA") + id;
        b_ = QStringLiteral("tarnsetB") + id;
        const Result add = Ip({QStringLiteral("netns"), QStringLiteral("add"), a_});
        if (add.exitCode != 0)
            GTEST_SKIP() << "cannot create network namespaces (root and iproute2 needed): "
                         << add.err.trimmed().toStdString();
        made_ = true;
        const QString va = QStringLiteral("tsa") + id, vb = QStringLiteral("tsb") + id;
        const QList<QStringList> steps = {
            {"netns", "add", b_},
            // Made inside A with its peer inside B: no interface of this
            // machine's own namespace is touched.
            {"-n", a_, "link", "add", va, "type", "veth", "peer", "name", vb, "netns", b_},
            {"-n", b_, "link", "set", vb, "address", "00:20:4a:00:00:02"},
            {"-n", a_, "addr", "add", "192.0.2.1/24", "dev", va},
            {"-n", b_, "addr", "add", "192.0.2.2/24", "dev", vb},
            {"-n", a_, "link", "set", "lo", "up"},
            {"-n", b_, "link", "set", "lo", "up"},
            {"-n", a_, "link", "set", va, "up"},
            {"-n", b_, "link", "set", vb, "up"},
            // 255.255.255.255 leaves by the default route.
            {"-n", a_, "route", "add", "default", "dev", va},
        };
        for (const QStringList& step : steps) {
            const Result r = Ip(step);
            ASSERT_EQ(r.exitCode, 0) << step.join(' ').toStdString() << ": " << r.err.toStdString();
        }
    }

    void TearDown() override {
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            if (!sim_.waitForFinished(5000)) sim_.kill();
        }
        if (!made_) return;
        Ip({QStringLiteral("netns"), QStringLiteral("del"), a_});
        Ip({QStringLiteral("netns"), QStringLiteral("del"), b_});
    }

    QString a_, b_;
    bool made_ = false;
    QProcess sim_;
};

TEST_F(NamespacePair, DiscoverByTheRealBroadcastAndSetAnArpEntry) {
    sim_.start(QStringLiteral("ip"),
               {"netns", "exec", b_, CORVANE_SIM_PATH, "--config-port", "--config-any-sender",
                "--scenario", "static", "--device", "127.0.0.2,QX700-5"});
    ASSERT_TRUE(sim_.waitForStarted(5000));
    QByteArray out;
    QDeadlineTimer deadline(10000);
    while (!out.contains("configuration port") && !deadline.hasExpired() &&
           sim_.state() == QProcess::Running) {
        sim_.waitForReadyRead(200);
        out += sim_.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("MAC 00-20-4A-00-00-02"))
        << out.constData() << sim_.readAllStandardError().constData();

    // The default broadcast address, 255.255.255.255.
    const Result found =
        RunProgram(QStringLiteral("ip"), {"netns", "exec", a_, TARNSET_PATH, "discover"});
    EXPECT_EQ(found.exitCode, 0) << found.err.toStdString();
    EXPECT_EQ(found.out, QStringLiteral("1\t192.0.2.2\t00-20-4A-00-00-02\n"));

    // The manual procedure refuses what can be no device's address, and asks
    // before it makes the ARP entry.
    const std::pair<const char*, const char*> refused[] = {
        {"192.0.2.1", "192.0.2.1 is this computer's own address"},
        {"192.0.2.255", "192.0.2.255 is the broadcast address of "}};
    for (const auto& [address, why] : refused) {
        const Result r = RunProgram(
            QStringLiteral("ip"),
            {"netns", "exec", a_, TARNSET_PATH, "manual", "00-20-4A-00-00-02", address, "--yes"});
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(why))) << r.err.toStdString();
    }
    const Result unconfirmed =
        RunProgram(QStringLiteral("ip"),
                   {"netns", "exec", a_, TARNSET_PATH, "manual", "00-20-4A-00-00-02", "192.0.2.2"});
    EXPECT_EQ(unconfirmed.exitCode, 1) << unconfirmed.err.toStdString();
    EXPECT_TRUE(unconfirmed.err.contains(QLatin1String(
        "tarnset: Make a permanent ARP entry on this computer for 192.0.2.2 with the MAC "
        "address 00-20-4A-00-00-02? [no: give --yes to confirm]")))
        << unconfirmed.err.toStdString();
    EXPECT_FALSE(
        Ip({"-n", a_, "neigh", "show", "192.0.2.2"}).out.contains(QLatin1String("PERMANENT")));

    // Confirmed, the entry is made in A; the simulated device serves its
    // setup record on loopback only, so the connection that follows is
    // refused and reported, and the entry is taken back.
    const Result manual = RunProgram(
        QStringLiteral("ip"),
        {"netns", "exec", a_, TARNSET_PATH, "manual", "00-20-4A-00-00-02", "192.0.2.2", "--yes"});
    EXPECT_EQ(manual.exitCode, 1) << manual.err.toStdString();
    EXPECT_TRUE(manual.err.contains(
        QLatin1String("Could not establish a TCP/IP connection with 192.0.2.2")))
        << manual.err.toStdString();
    EXPECT_TRUE(manual.err.contains(
        QLatin1String("Made and removed again the ARP entry for 192.0.2.2 with the MAC address "
                      "00-20-4A-00-00-02")))
        << manual.err.toStdString();
    const Result neigh = Ip({"-n", a_, "neigh", "show", "192.0.2.2"});
    EXPECT_FALSE(neigh.out.contains(QLatin1String("PERMANENT"))) << neigh.out.toStdString();
}

}  // namespace
