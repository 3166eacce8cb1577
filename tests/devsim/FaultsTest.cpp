// Each fault mode does what its name says, on the wire.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include "RawClient.h"
#include "devsim/Simulator.h"

using namespace devsim;

namespace {

class DevsimFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        device = sim.addDevice(QStringLiteral("127.0.0.5"), Model::QX700_5);
        ASSERT_NE(device, nullptr);
        good = transact(device, request(kIdentify)).data;
        ASSERT_EQ(good.size(), 60);
    }
    FaultSettings with(Fault f) {
        FaultSettings s;
        s.fault = f;
        return s;
    }
    Simulator sim;
    Device* device = nullptr;
    QByteArray good;  // the fault-free identification answer
};

}  // namespace

TEST_F(DevsimFaults, BusyAnswersTheBusyReplyAndActsOnNothing) {
    device->setFault(Fault::Busy);
    EXPECT_EQ(transact(device, request(kIdentify)).data, hex("B5 5E B5 5E") + QByteArray(56, '\0'));

    QByteArray write = device->page(3);
    write.replace(0, 3, hex("DD CC BB"));
    write[8] = 'Z';
    EXPECT_EQ(transact(device, write).data.left(4), hex("B5 5E B5 5E"));
    EXPECT_NE(device->page(3)[8], 'Z');

    device->clearFault();
    EXPECT_EQ(transact(device, request(kIdentify)).data, good);
}

TEST_F(DevsimFaults, RefuseStopsConnectionsUntilCleared) {
    const quint16 port = device->port();
    device->resetCounters();
    device->setFault(Fault::Refuse);
    const Reply r = transact(device, request(kIdentify), 60, 1000);
    EXPECT_FALSE(r.connected);
    EXPECT_EQ(r.error, QAbstractSocket::ConnectionRefusedError);
    EXPECT_EQ(device->connectionCount(), 0);

    device->clearFault();
    EXPECT_EQ(device->port(), port);
    EXPECT_EQ(transact(device, request(kIdentify)).data, good);
    EXPECT_EQ(device->connectionCount(), 1);
}

TEST_F(DevsimFaults, SilentAcceptsReadsAndNeverAnswers) {
    device->resetCounters();
    device->setFault(Fault::Silent);
    const Reply r = transact(device, request(kIdentify), 60, 400);
    EXPECT_TRUE(r.connected);
    EXPECT_FALSE(r.closedByPeer);
    EXPECT_TRUE(r.data.isEmpty());
    EXPECT_GE(r.elapsedMs, 350);
    EXPECT_EQ(device->requestCount(kIdentify), 1);
}

TEST_F(DevsimFaults, ShortSendsTheHeadOnlyAndStaysOpen) {
    auto s = with(Fault::Short);
    s.shortLength = 17;
    device->setFault(s);
    const Reply r = transact(device, request(kIdentify), 60, 400);
    EXPECT_EQ(r.data, good.left(17));
    EXPECT_FALSE(r.closedByPeer);
}

TEST_F(DevsimFaults, SplitSendsPiecesWithPauses) {
    auto s = with(Fault::Split);
    s.pieces = 4;
    s.pauseMs = 120;
    device->setFault(s);
    const Reply r = transact(device, request(kIdentify), 60, 3000);
    EXPECT_EQ(r.data, good);
    ASSERT_EQ(r.arrivals.size(), 4);
    EXPECT_GE(r.arrivals.last() - r.arrivals.first(), 3 * 120 - 20);
}

TEST_F(DevsimFaults, LongAppendsBytesAfterACorrectAnswer) {
    auto s = with(Fault::Long);
    s.extraBytes = 45;
    device->setFault(s);
    const Reply r = transact(device, request(kIdentify), 105, 1000, 150);
    ASSERT_EQ(r.data.size(), 105);
    EXPECT_EQ(r.data.left(60), good);
}

TEST_F(DevsimFaults, WrongEchoChangesOnlyTheEcho) {
    device->setFault(Fault::WrongEcho);
    const Reply r = transact(device, request(kIdentify));
    ASSERT_EQ(r.data.size(), 60);
    EXPECT_NE(r.data.left(4), kIdentify);
    EXPECT_EQ(r.data.mid(1), good.mid(1));
}

TEST_F(DevsimFaults, ErrorTextKeepsEchoAndLength) {
    auto s = with(Fault::ErrorText);
    s.errorText = "Error";
    device->setFault(s);
    const Reply r = transact(device, request(kReadings));
    ASSERT_EQ(r.data.size(), 60);
    EXPECT_EQ(r.data.left(4), kReadings);
    EXPECT_TRUE(r.data.contains("Error"));
}

TEST_F(DevsimFaults, CloseMidAnswerSendsHalfAndHangsUp) {
    device->setFault(Fault::CloseMidAnswer);
    const Reply r = transact(device, request(kIdentify), 60, 1000);
    EXPECT_TRUE(r.closedByPeer);
    EXPECT_EQ(r.data, good.left(30));
}

TEST_F(DevsimFaults, DelayHoldsTheWholeAnswer) {
    auto s = with(Fault::Delay);
    s.delayMs = 300;
    device->setFault(s);
    const Reply r = transact(device, request(kIdentify), 60, 2000);
    EXPECT_EQ(r.data, good);
    ASSERT_FALSE(r.arrivals.isEmpty());
    EXPECT_GE(r.arrivals.first(), 280);
}

TEST_F(DevsimFaults, GarbageNeverEchoes) {
    device->setFault(Fault::Garbage);
    for (int i = 0; i < 5; ++i) {
        const Reply r = transact(device, request(kIdentify));
        ASSERT_EQ(r.data.size(), 60);
        EXPECT_NE(r.data[0], kIdentify[0]);
    }
}

TEST_F(DevsimFaults, HugeStreamsAMegabyteAfterAGoodHead) {
    device->setFault(Fault::Huge);
    const Reply r = transact(device, request(kIdentify), 1 << 20, 10000);
    ASSERT_EQ(r.data.size(), 1 << 20);
    EXPECT_EQ(r.data.left(60), good);
    EXPECT_FALSE(r.data.mid(60).toLower().contains("error"));
}

TEST_F(DevsimFaults, HugeAnswerStopsWhenThePeerGoesAway) {
    auto s = with(Fault::Huge);
    s.hugeBytes = qint64(1) << 34;  // far more than a test could take
    device->setFault(s);
    const Reply r = transact(device, request(kIdentify), 1 << 16, 2000);
    EXPECT_GE(r.data.size(), 1 << 16);
    // The client has gone; the device drops the stream and serves again.
    device->clearFault();
    spin(50);
    EXPECT_EQ(transact(device, request(kIdentify)).data, good);
}

TEST_F(DevsimFaults, FaultCanTargetOneCommandForACount) {
    FaultSettings s = with(Fault::Busy);
    s.onlyCommand = hex("AA BB CC 03");
    s.count = 1;
    device->setFault(s);
    EXPECT_EQ(transact(device, request(kIdentify)).data, good);
    EXPECT_EQ(transact(device, request(hex("AA BB CC 03"))).data.left(4), hex("B5 5E B5 5E"));
    EXPECT_EQ(transact(device, request(hex("AA BB CC 03"))).data.left(4), hex("AA BB CC 03"));
    EXPECT_EQ(device->fault().fault, Fault::None);
}

TEST_F(DevsimFaults, FaultSetWhileAConnectionIsOpenAppliesToItsNextRequest) {
    QTcpSocket socket;
    QByteArray got;
    QEventLoop loop;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        got += socket.readAll();
        if (got.size() >= 60) loop.quit();
    });
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    socket.connectToHost(device->address(), device->port());
    socket.write(request(kIdentify));
    loop.exec();
    ASSERT_EQ(got, good);

    device->setFault(Fault::Busy);
    got.clear();
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    socket.write(request(kIdentify));
    loop.exec();
    EXPECT_EQ(got.left(4), hex("B5 5E B5 5E"));
}

TEST_F(DevsimFaults, FloodingClientIsCutOffAndOthersAreStillServed) {
    // While an answer is held back, a client that keeps sending is dropped
    // instead of having its bytes pile up in the device.
    auto s = with(Fault::Delay);
    s.delayMs = 5000;
    device->setFault(s);
    device->resetCounters();
    QTcpSocket flood;
    bool dropped = false;
    QEventLoop loop;
    QObject::connect(&flood, &QTcpSocket::disconnected, [&] {
        dropped = true;
        loop.quit();
    });
    QObject::connect(&flood, &QTcpSocket::connected,
                     [&] { flood.write(request(kIdentify).repeated(7000)); });
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    flood.connectToHost(device->address(), device->port());
    loop.exec();
    EXPECT_TRUE(dropped);
    EXPECT_EQ(device->requestCount(), 1);
    flood.abort();

    device->clearFault();
    EXPECT_EQ(transact(device, request(kIdentify)).data, good);
}
