// Identification and readings answers, byte for byte, as each model and
// firmware build sends them.
#include <gtest/gtest.h>

#include <QSet>

#include "RawClient.h"
#include "devsim/Scenario.h"
#include "devsim/Simulator.h"

using namespace devsim;

namespace {

// Expected readings answer from (wire word, minutes, status) per port.
QByteArray readingsBytes(const std::array<std::array<int, 3>, 10>& ports, int flag, char unit) {
    QByteArray a = kReadings;
    for (const auto& [value, minutes, status] : ports) {
        a.append(char((value >> 8) & 0xFF)).append(char(value & 0xFF));
        a.append(char(minutes >> 8)).append(char(minutes & 0xFF));
        a.append(char(status));
    }
    a.append(QByteArray(4, '\0'));
    a.append(char(flag)).append(unit);
    return a;
}

}  // namespace

struct IdCase {
    Model model;
    int family, number, build;
};

TEST(DevsimAnswers, IdentificationOfEveryModel) {
    const IdCase cases[] = {
        {Model::QX700_5, 5, 5, 23}, {Model::QX700_8, 5, 8, 23},  {Model::QX700_10, 5, 10, 24},
        {Model::QX720, 1, 20, 12},  {Model::QX740, 5, 40, 23},   {Model::Zolo603, 3, 3, 4},
        {Model::Zolo604, 3, 4, 5},  {Model::Zolo605, 3, 5, 300},
    };
    Simulator sim;
    for (const auto& c : cases) {
        Device* d = addDevice(sim, c.model, quint16(c.build));
        const Reply r = transact(d, request(kIdentify));
        QByteArray expected = kIdentify + QByteArray::fromHex(QStringLiteral("%1%2%3")
                                                                  .arg(c.family, 4, 16, QChar('0'))
                                                                  .arg(c.number, 4, 16, QChar('0'))
                                                                  .arg(c.build, 4, 16, QChar('0'))
                                                                  .toLatin1());
        expected.append(QByteArray(50, '\0'));
        EXPECT_EQ(r.data.toHex(' '), expected.toHex(' ')) << modelInfo(c.model).name;
        EXPECT_FALSE(r.closedByPeer) << "the device leaves closing to the client";
    }
}

TEST(DevsimAnswers, QX7005Build23SendsTenthsOnPorts0To7) {
    Simulator sim;
    Device* d = addDevice(sim, Model::QX700_5, 23);
    for (int p = 0; p < 10; ++p) d->setPort(p, {0, 0, 0});
    d->setPort(0, {72.5, 300, 0});
    d->setPort(3, {-20.0, 2, 1});
    d->setPort(7, {1000, 0, 0});        // not connected: 10000 on a tenths port
    d->setPort(6, {9999, 0, 0});        // does not fit in tenths: sent as 1000.0
    d->setPort(5, {-999, 0, 0});        // shorted
    d->setPort(4, {999, 0, 0});         // open
    d->setPort(8, {72.5, 65535, 255});  // a door port is never in tenths
    d->setPort(9, {9999, 0, 0});
    const Reply r = transact(d, request(kReadings));
    const auto expected = readingsBytes({{{725, 300, 0},
                                          {0, 0, 0},
                                          {0, 0, 0},
                                          {-200, 2, 1},
                                          {9990, 0, 0},
                                          {-9990, 0, 0},
                                          {10000, 0, 0},
                                          {10000, 0, 0},
                                          {72, 65535, 255},
                                          {9999, 0, 0}}},
                                        10, 'F');
    EXPECT_EQ(r.data.toHex(' '), expected.toHex(' '));
    // The worked examples: 02 D5 at port 0, FF 38 for -20.0, 01 2C minutes.
    EXPECT_EQ(r.data.mid(4, 4), hex("02 D5 01 2C"));
    EXPECT_EQ(r.data.mid(19, 2), hex("FF 38"));
}

TEST(DevsimAnswers, OlderBuildsAndOtherModelsSendWholeUnits) {
    Simulator sim;
    struct Case {
        Model model;
        quint16 build;
        int tenthsPorts;  // how many leading ports carry tenths
    } cases[] = {
        {Model::QX700_5, 22, 0}, {Model::QX700_10, 24, 8}, {Model::QX700_8, 23, 0},
        {Model::QX740, 23, 0},   {Model::QX720, 12, 0},    {Model::Zolo603, 4, 0},
        {Model::Zolo605, 5, 2},  {Model::Zolo604, 9, 2},
    };
    for (const auto& c : cases) {
        Device* d = addDevice(sim, c.model, c.build, 'C');
        for (int p = 0; p < 10; ++p) d->setPort(p, {-12.5, quint16(p), 0});
        const Reply r = transact(d, request(kReadings));
        ASSERT_EQ(r.data.size(), 60) << modelInfo(c.model).name;
        for (int p = 0; p < 10; ++p) {
            const int expected = p < c.tenthsPorts ? -125 : -12;  // whole units round to even
            EXPECT_EQ(qint16((quint8(r.data[4 + 5 * p]) << 8) | quint8(r.data[5 + 5 * p])),
                      expected)
                << modelInfo(c.model).name << " port " << p;
        }
        EXPECT_EQ(quint8(r.data[58]), c.tenthsPorts ? 10 : 0) << modelInfo(c.model).name;
        EXPECT_EQ(r.data[59], 'C');
    }
}

TEST(DevsimAnswers, ForcedResolutionFlagWithoutTenths) {
    // An old Zolo that marks byte 59 with 10 while sending whole units.
    Simulator sim;
    DeviceConfig c;
    c.address = QHostAddress(QStringLiteral("127.0.0.2"));
    c.port = 0;
    c.model = Model::Zolo603;
    c.build = 4;
    c.resolutionFlag = 10;
    Device* d = sim.addDevice(c);
    ASSERT_NE(d, nullptr);
    d->setPortValue(0, 41);
    const Reply r = transact(d, request(kReadings));
    EXPECT_EQ(r.data.mid(4, 2), hex("00 29"));
    EXPECT_EQ(quint8(r.data[58]), 10);
}

TEST(DevsimAnswers, SeveralDevicesAnswerEachFromItsOwnAddress) {
    Simulator sim;
    Device* a = sim.addDevice(QStringLiteral("127.0.0.2"), Model::QX700_8);
    Device* b = sim.addDevice(QStringLiteral("127.0.0.3"), Model::Zolo604);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(transact(a, request(kIdentify)).data.mid(4, 4), hex("0005 0008"));
    EXPECT_EQ(transact(b, request(kIdentify)).data.mid(4, 4), hex("0003 0004"));
    EXPECT_EQ(a->connectionCount(), 1);
    EXPECT_EQ(b->connectionCount(), 1);
    EXPECT_EQ(a->requestCount(kIdentify), 1);
    EXPECT_EQ(a->requestCount(kReadings), 0);
    EXPECT_EQ(sim.device(QHostAddress(QStringLiteral("127.0.0.3"))), b);

    const quint16 port = b->port();
    sim.removeDevice(b);
    const Reply gone =
        transact(QHostAddress(QStringLiteral("127.0.0.3")), port, request(kIdentify));
    EXPECT_FALSE(gone.connected);
}

TEST(DevsimAnswers, OnlyLoopbackAddressesAreServed) {
    Simulator sim;
    QString error;
    DeviceConfig c;
    c.address = QHostAddress(QStringLiteral("192.0.2.10"));
    c.port = 0;
    EXPECT_EQ(sim.addDevice(c, &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("loopback")));
    EXPECT_TRUE(sim.devices().isEmpty());
}

TEST(DevsimAnswers, RequestsOnOneConnectionAreAnsweredInOrderOnceComplete) {
    Simulator sim;
    Device* d = addDevice(sim, Model::Zolo605);
    // Two requests in one write, then a third split over two writes.
    const Reply r = transact(d, request(kIdentify) + request(kReadings), 120);
    ASSERT_EQ(r.data.size(), 120);
    EXPECT_EQ(r.data.left(4), kIdentify);
    EXPECT_EQ(r.data.mid(60, 4), kReadings);

    // 59 bytes are not a request: nothing comes back.
    const Reply partial = transact(d, request(kIdentify).left(59), 60, 300);
    EXPECT_TRUE(partial.connected);
    EXPECT_TRUE(partial.data.isEmpty());
    EXPECT_EQ(d->requestCount(), 2);
}

TEST(DevsimAnswers, UnknownCommandsAreIgnored) {
    Simulator sim;
    Device* d = addDevice(sim, Model::QX700_5, 22);
    for (const char* head : {"01020304", "AABBCC10", "DECADE02"}) {  // no log before build 23
        const Reply r = transact(d, request(QByteArray::fromHex(head)), 60, 250);
        EXPECT_TRUE(r.connected);
        EXPECT_TRUE(r.data.isEmpty()) << head;
    }
    EXPECT_EQ(d->requestCount(), 3);
}

TEST(DevsimAnswers, LivelyScenarioMovesValuesAndTheDeviceJudgesThem) {
    Simulator sim;
    Device* d = addDevice(sim, Model::QX700_5, 23);
    // One minute out of limits before port 0 alarms (factory: five).
    QByteArray p0 = d->page(0);
    putWord(p0, 13, 1);
    ASSERT_TRUE(d->setPage(0, p0));
    Scenario scenario(&sim, 2000);  // ticks are driven by hand, not by time
    QSet<double> seen;
    bool doorOpened = false, doorClosedAgain = false, alarm = false, alarmCleared = false;
    int firstAlarmTick = -1, outSince = -1;
    for (int t = 0; t < 2 * Scenario::kCycle; ++t) {
        scenario.tick();
        const int phase = scenario.ticks() % Scenario::kCycle;
        seen.insert(d->portState(1).value);
        const bool open = d->portState(8).value == 0;
        if (open) doorOpened = true;
        if (doorOpened && !open) doorClosedAgain = true;
        EXPECT_EQ(open, phase >= Scenario::kDoorOpen && phase < Scenario::kDoorClose) << phase;
        if (d->portState(0).value > 90.0 && outSince < 0) outSince = scenario.ticks();
        if (d->portState(0).status != 0) {
            if (!alarm) firstAlarmTick = scenario.ticks();
            alarm = true;
            EXPECT_GT(d->portState(0).value, 90.0);  // above the factory upper limit
            EXPECT_GE(d->portState(0).minutes, 1);
        } else if (alarm) {
            alarmCleared = true;
        }
    }
    EXPECT_GT(seen.size(), 5u);
    EXPECT_TRUE(doorOpened && doorClosedAgain);
    EXPECT_TRUE(alarm && alarmCleared);
    // The value left its limits at step 45; the device waited its minute.
    EXPECT_EQ(outSince % Scenario::kCycle, Scenario::kAlarmStart);
    EXPECT_EQ(firstAlarmTick - outSince, 30);
    // The alarm shows on the wire as the device sends it: tenths and status.
    for (int t = 0; t < 3 * Scenario::kCycle && d->portState(0).status == 0; ++t) scenario.tick();
    const Reply r = transact(d, request(kReadings));
    EXPECT_EQ(r.data.mid(4, 2), hex("03 B6"));  // 95.0 F
    EXPECT_EQ(r.data[8], char(1));
}
