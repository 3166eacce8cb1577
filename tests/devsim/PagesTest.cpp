// Configuration pages: factory contents, write with echo and read back,
// factory reset.
#include <gtest/gtest.h>

#include "RawClient.h"
#include "devsim/Simulator.h"

using namespace devsim;

namespace {

QByteArray pageRead(int n) {
    return request(hex("AA BB CC") + char(n));
}

QByteArray padded(const char* text, int width) {
    QByteArray b(text);
    return b + QByteArray(width - b.size(), ' ');
}

int word(const QByteArray& page, int position) {
    return qint16((quint8(page[position - 1]) << 8) | quint8(page[position]));
}

}  // namespace

TEST(DevsimPages, NamePageHoldsNameUnitAndAddress) {
    Simulator sim;
    DeviceConfig c;
    c.address = QHostAddress(QStringLiteral("127.0.0.4"));
    c.port = 0;
    c.model = Model::QX700_5;
    c.unit = 'C';
    c.name = QStringLiteral("Walk-in freezer");
    Device* qx = sim.addDevice(c);
    c.model = Model::Zolo605;
    c.name.clear();
    c.unit = 'F';
    Device* zolo = sim.addDevice(c);
    ASSERT_TRUE(qx && zolo);

    const Reply q = transact(qx, pageRead(2));
    ASSERT_EQ(q.data.size(), 60);
    EXPECT_EQ(q.data.left(4), hex("AA BB CC 02"));
    EXPECT_EQ(q.data.mid(8, 20), padded("Walk-in freezer", 20));
    EXPECT_EQ(q.data[28], 'C');
    EXPECT_EQ(q.data.mid(29, 20), padded("127.0.0.4", 20));
    EXPECT_EQ(q.data.mid(49), QByteArray(11, '\0'));

    // Zolo devices keep the name on page 1.
    const Reply z = transact(zolo, pageRead(1));
    EXPECT_EQ(z.data.left(4), hex("AA BB CC 01"));
    EXPECT_EQ(z.data.mid(8, 20), padded("Zolo 605", 20));
    EXPECT_EQ(z.data[28], 'F');
}

TEST(DevsimPages, FactoryPagesFollowEachModelsLayout) {
    Simulator sim;
    Device* qx5 = sim.addDevice(QStringLiteral("127.0.0.2"), Model::QX700_5);  // build 24: tenths
    Device* qx8 = sim.addDevice(QStringLiteral("127.0.0.2"), Model::QX700_8);
    Device* qx40 = sim.addDevice(QStringLiteral("127.0.0.2"), Model::QX740);
    Device* zolo = sim.addDevice(QStringLiteral("127.0.0.2"), Model::Zolo605);
    ASSERT_TRUE(qx5 && qx8 && qx40 && zolo);

    const QByteArray p0 = transact(qx5, pageRead(0)).data;
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(word(p0, 9 + 6 * k), 320) << k;  // 32.0 F in tenths
        EXPECT_EQ(word(p0, 11 + 6 * k), 900) << k;
        EXPECT_EQ(word(p0, 13 + 6 * k), 5) << k;
    }
    EXPECT_EQ(transact(qx5, pageRead(7)).data.mid(8, 40),
              padded("Door 1", 20) + padded("Door 2", 20));

    // Humidity limits on the odd ports, whole numbers; the water sensor's name on page 7.
    const QByteArray q8 = transact(qx8, pageRead(0)).data;
    EXPECT_EQ(word(q8, 9), 32);
    EXPECT_EQ(word(q8, 15), 20);
    EXPECT_EQ(word(q8, 17), 80);
    EXPECT_EQ(transact(qx8, pageRead(7)).data.mid(8, 20), padded("Water Sensor", 20));

    const QByteArray q40 = transact(qx40, pageRead(0)).data;
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(word(q40, 33 + 6 * j), 0) << "power normally on";
        EXPECT_EQ(word(q40, 37 + 6 * j), 5);
    }

    const QByteArray z0 = transact(zolo, pageRead(0)).data;
    EXPECT_EQ(word(z0, 9), 320);
    EXPECT_EQ(word(z0, 17), 900);
    EXPECT_EQ(word(z0, 21), 5);
    // Relay, reminder 30 min, buzzer on, two-stage off.
    EXPECT_EQ(transact(zolo, pageRead(4)).data.mid(8, 4), hex("00 1E 01 00"));
}

TEST(DevsimPages, WriteIsEchoedStoredAndReadBack) {
    Simulator sim;
    Device* d = sim.addDevice(QStringLiteral("127.0.0.2"), Model::QX700_5);
    ASSERT_NE(d, nullptr);
    QByteArray image = transact(d, pageRead(3)).data;
    ASSERT_EQ(image.size(), 60);
    image.replace(0, 3, hex("DD CC BB"));
    image.replace(8, 20, padded("Freezer top", 20));
    image[55] = char(0xA5);  // bytes no field covers travel too
    image[59] = char(0xFF);

    const Reply w = transact(d, image);
    EXPECT_EQ(w.data.toHex(' '), image.toHex(' '));

    const Reply r = transact(d, pageRead(3));
    EXPECT_EQ(r.data.left(4), hex("AA BB CC 03"));
    EXPECT_EQ(r.data.mid(4), image.mid(4));
    EXPECT_EQ(d->page(3).mid(8, 20), padded("Freezer top", 20));
    // Other pages untouched.
    EXPECT_EQ(transact(d, pageRead(4)).data.mid(8, 20), padded("Temperature 3", 20));

    // Factory reset answers with its echo and brings the names back.
    const Reply reset = transact(d, request(hex("DE AD DE AD")));
    EXPECT_EQ(reset.data, request(hex("DE AD DE AD")));
    EXPECT_EQ(transact(d, pageRead(3)).data.mid(8, 20), padded("Temperature 1", 20));
}

TEST(DevsimPages, NamePageWriteChangesTheReportedUnit) {
    Simulator sim;
    Device* d = sim.addDevice(QStringLiteral("127.0.0.2"), Model::Zolo604);
    ASSERT_NE(d, nullptr);
    QByteArray image = d->page(1);
    image.replace(0, 3, hex("DD CC BB"));
    image[28] = 'C';
    ASSERT_EQ(transact(d, image).data, image);
    EXPECT_EQ(transact(d, request(hex("3F CD DC 00"))).data[59], 'C');

    // A letter that is no unit is not taken: the page keeps the unit in force.
    image[28] = 'X';
    ASSERT_EQ(transact(d, image).data, image);
    EXPECT_EQ(d->page(1)[28], 'C');
    EXPECT_EQ(transact(d, request(hex("3F CD DC 00"))).data[59], 'C');

    // Factory reset returns to the unit the device was made with.
    transact(d, request(hex("DE AD DE AD")));
    EXPECT_EQ(transact(d, request(hex("3F CD DC 00"))).data[59], 'F');
}

TEST(DevsimPages, WriteToAPageThatDoesNotExistIsIgnored) {
    Simulator sim;
    Device* d = sim.addDevice(QStringLiteral("127.0.0.2"), Model::QX740);
    ASSERT_NE(d, nullptr);
    QByteArray bad = d->page(0);
    bad.replace(0, 4, hex("DD CC BB 10"));
    const Reply r = transact(d, bad, 60, 250);
    EXPECT_TRUE(r.connected);
    EXPECT_TRUE(r.data.isEmpty());
    EXPECT_TRUE(d->page(16).isEmpty());
    EXPECT_EQ(d->requestCount(hex("DD CC BB 10")), 1);
}

TEST(DevsimPages, StoredCorrectionsAreAddedToTemperatureReadings) {
    Simulator sim;
    Device* qx = sim.addDevice(QStringLiteral("127.0.0.2"), Model::QX700_5);  // build 24
    DeviceConfig c;
    c.address = QHostAddress(QStringLiteral("127.0.0.2"));
    c.port = 0;
    c.model = Model::QX700_5;
    c.build = 22;
    Device* old = sim.addDevice(c);
    Device* zolo = sim.addDevice(QStringLiteral("127.0.0.2"), Model::Zolo605);
    ASSERT_TRUE(qx && old && zolo);
    qx->setPortValue(1, 40.0);
    qx->setPortValue(2, 9999);  // not connected stays so
    QByteArray p12 = qx->page(12);
    p12[10] = char(0xFF);  // port 1: -0.3
    p12[11] = char(0xFD);
    p12[13] = 5;  // port 2: 0.5
    qx->setPage(12, p12);
    const QByteArray r = transact(qx, request(hex("3F CD DC 00"))).data;
    EXPECT_EQ(word(r, 10), 397);
    EXPECT_EQ(word(r, 15), 10000);

    // Before build 23 there is no correction page to apply.
    old->setPortValue(1, 40.0);
    old->setPage(12, p12);
    EXPECT_EQ(word(transact(old, request(hex("3F CD DC 00"))).data, 10), 40);

    QByteArray z0 = zolo->page(0);
    z0[27] = 12;  // port 1: 1.2, bytes 27-28
    zolo->setPage(0, z0);
    zolo->setPortValue(1, -5.0);
    zolo->setPortValue(2, 1);  // a door is never corrected
    const QByteArray zr = transact(zolo, request(hex("3F CD DC 00"))).data;
    EXPECT_EQ(word(zr, 10), -38);
    EXPECT_EQ(word(zr, 15), 1);
}
