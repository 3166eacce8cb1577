// Devices on their real data port: several addresses share port 10001.
#include <gtest/gtest.h>

#include "RawClient.h"
#include "devsim/Simulator.h"
#include "support/FixedPorts.h"

using namespace devsim;

TEST(DevsimPort10001, DevicesShareThePortOnDistinctAddresses) {
    SKIP_IF_PORTS_HELD(LoopbackTcp10001());
    Simulator sim;
    DeviceConfig c;  // port 10001 unless told otherwise
    c.address = QHostAddress(QStringLiteral("127.0.0.2"));
    c.model = Model::QX700_5;
    QString error;
    Device* a = sim.addDevice(c, &error);
    ASSERT_NE(a, nullptr) << error.toStdString();
    c.address = QHostAddress(QStringLiteral("127.0.0.3"));
    c.model = Model::Zolo603;
    Device* b = sim.addDevice(c, &error);
    ASSERT_NE(b, nullptr) << error.toStdString();
    EXPECT_EQ(a->port(), 10001);
    EXPECT_EQ(b->port(), 10001);

    // A second device on a taken address and port is refused with a reason.
    EXPECT_EQ(sim.addDevice(c, &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("127.0.0.3:10001")));

    const QByteArray identify = request(hex("2A CD DC BA"));
    EXPECT_EQ(transact(QHostAddress(QStringLiteral("127.0.0.2")), 10001, identify).data.mid(4, 4),
              hex("0005 0005"));
    EXPECT_EQ(transact(QHostAddress(QStringLiteral("127.0.0.3")), 10001, identify).data.mid(4, 4),
              hex("0003 0003"));
    // Nobody was asked at an address without a device.
    EXPECT_FALSE(
        transact(QHostAddress(QStringLiteral("127.0.0.4")), 10001, identify, 60, 1000).connected);
}
