// Clock commands in DS1337 register format, log parameters and log download.
#include <gtest/gtest.h>

#include "RawClient.h"
#include "devsim/Ds1337.h"
#include "devsim/Simulator.h"

using namespace devsim;

namespace {

const QByteArray kLog00 = hex("DE CA DE 00");
const QByteArray kLog02 = hex("DE CA DE 02");
const QByteArray kReadLog = hex("DE CA DE 04");

// Set-clock request: seven registers and the log rate from byte 5.
QByteArray setClock(const char* registers, int rate) {
    return request(kLog00, hex(registers) + char(rate));
}

// The seconds register may have moved on by one while the test ran.
void expectClock(const QByteArray& answer, const char* registers) {
    const QByteArray want = hex(registers);
    ASSERT_GE(answer.size(), 11);
    EXPECT_LE(quint8(answer[4]) - quint8(want[0]), 1) << answer.toHex(' ').constData();
    EXPECT_EQ(answer.mid(5, 6).toHex(' '), want.mid(1).toHex(' '));
}

}  // namespace

TEST(DevsimClock, SetAndReadBackInRegisterFormat) {
    Simulator sim;
    Device* d = addDevice(sim, Model::Zolo605);
    ASSERT_NE(d, nullptr);
    // 16:05 on Saturday 7 March 2009, 12-hour mode with PM.
    const Reply set = transact(d, setClock("00 05 64 07 07 03 09", 10));
    ASSERT_EQ(set.data.size(), 60);
    EXPECT_EQ(set.data.left(4), kLog00);
    expectClock(set.data, "00 05 64 07 07 03 09");
    EXPECT_EQ(set.data[11], char(10));
    EXPECT_EQ(set.data.mid(12, 2), hex("00 00"));  // empty log
    EXPECT_EQ(set.data.mid(14), QByteArray(46, '\0'));

    const Reply read = transact(d, request(kLog02));
    EXPECT_EQ(read.data.left(4), kLog02);
    expectClock(read.data, "00 05 64 07 07 03 09");
    EXPECT_EQ(read.data[11], char(10));
    EXPECT_EQ(d->clock().date(), QDate(2009, 3, 7));
    EXPECT_EQ(d->logRate(), 10);
}

TEST(DevsimClock, HoursAcrossTheDay) {
    Simulator sim;
    Device* d = addDevice(sim, Model::QX700_5, 23);
    ASSERT_NE(d, nullptr);
    struct Case {
        const char* written;
        const char* readBack;
    } cases[] = {
        // The desktop writes midnight as hour 0 AM; the chip counts 12 AM.
        {"00 30 40 01 01 02 26", "00 30 52 01 01 02 26"},
        {"00 30 72 01 01 02 26", "00 30 72 01 01 02 26"},  // 12:30 PM
        {"00 59 71 04 31 12 99", "00 59 71 05 31 12 99"},  // weekday follows the date
        // 24-hour mode is kept as written, the way the chip keeps it.
        {"00 05 15 07 07 03 09", "00 05 15 07 07 03 09"},
    };
    for (const auto& c : cases) {
        const Reply r = transact(d, setClock(c.written, 5));
        expectClock(r.data, c.readBack);
    }
}

TEST(DevsimClock, InvalidRegistersAndRatesLeaveTheDeviceAsItWas) {
    Simulator sim;
    Device* d = addDevice(sim, Model::Zolo603);
    ASSERT_NE(d, nullptr);
    transact(d, setClock("00 05 64 07 07 03 09", 7));
    for (const char* bad : {"00 5A 64 07 07 03 09", "00 05 73 07 07 03 09", "00 05 64 07 31 02 09",
                            "00 05 64 07 07 13 09"}) {
        const Reply r = transact(d, setClock(bad, 0));
        EXPECT_EQ(r.data.left(4), kLog00) << bad;
        expectClock(r.data, "00 05 64 07 07 03 09");
        EXPECT_EQ(r.data[11], char(7)) << "rate 0 is refused";
    }
    transact(d, setClock("00 05 64 07 07 03 09", 61));
    EXPECT_EQ(d->logRate(), 7);
    transact(d, setClock("00 05 64 07 07 03 09", 60));
    EXPECT_EQ(d->logRate(), 60);
}

TEST(DevsimClock, DevicesWithoutALogIgnoreClockCommands) {
    Simulator sim;
    Device* d = addDevice(sim, Model::QX720);
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->hasLog());
    EXPECT_TRUE(transact(d, request(kLog02), 60, 250).data.isEmpty());
    EXPECT_TRUE(transact(d, request(kReadLog), 1, 250).data.isEmpty());
}

TEST(DevsimLog, TwoSensorRecordsOfAZolo) {
    Simulator sim;
    Device* d = addDevice(sim, Model::Zolo605);  // build 6: tenths
    ASSERT_NE(d, nullptr);
    d->setClock(QDateTime(QDate(2009, 3, 7), QTime(16, 5, 30)));
    d->setPortValue(0, -20.0);
    d->setPortValue(1, 1000);  // not connected
    d->setPortValue(2, 1);     // door 1 closed
    d->setPortValue(3, 0);     // door 2 open
    d->appendLogRecord();
    d->setPortValue(3, 1);
    d->setMainsPower(false);
    d->appendLogRecord();

    const Reply params = transact(d, request(kLog02));
    EXPECT_EQ(params.data.mid(12, 2), hex("00 16"));  // 22 bytes

    const Reply log = transact(d, request(kReadLog), 22, 2000, 150);
    ASSERT_EQ(log.data.size(), 22) << "exactly the log size, no echo";
    EXPECT_EQ(log.data.left(11).toHex(' '), hex("05 64 07 07 03 09 FF 38 27 10 05").toHex(' '));
    EXPECT_EQ(log.data.mid(11).toHex(' '), hex("05 64 07 07 03 09 FF 38 27 10 03").toHex(' '));

    // Without the reset flag the log stays; with it the pointer returns to 0.
    EXPECT_EQ(transact(d, request(kReadLog, hex("00")), 22).data.size(), 22);
    EXPECT_EQ(d->logSize(), 22);
    EXPECT_EQ(transact(d, request(kReadLog, hex("01")), 22).data.size(), 22);
    EXPECT_EQ(d->logSize(), 0);
    EXPECT_EQ(transact(d, request(kLog02)).data.mid(12, 2), hex("00 00"));
}

TEST(DevsimLog, OldZoloLogsWholeUnits) {
    Simulator sim;
    Device* d = addDevice(sim, Model::Zolo603, 4);
    ASSERT_NE(d, nullptr);
    d->setPortValue(0, 1000);
    d->setPortValue(1, 41);
    d->appendLogRecord();
    const QByteArray log = transact(d, request(kReadLog), 11).data;
    ASSERT_EQ(log.size(), 11);
    EXPECT_EQ(log.mid(6, 4), hex("03 E8 00 29"));
}

TEST(DevsimLog, EightSensorRecordsOfAQX7005) {
    Simulator sim;
    Device* d = addDevice(sim, Model::QX700_5, 23);
    ASSERT_NE(d, nullptr);
    d->setClock(QDateTime(QDate(2026, 12, 7), QTime(0, 30)));
    for (int p = 0; p < 8; ++p) d->setPortValue(p, p + 0.5);
    d->setPortValue(8, 1);
    d->setPortValue(9, 1);
    d->appendLogRecord();
    const Reply params = transact(d, request(kLog02));
    EXPECT_EQ(params.data.mid(12, 2), hex("00 17"));
    const QByteArray rec = transact(d, request(kReadLog), 23).data;
    ASSERT_EQ(rec.size(), 23);
    EXPECT_EQ(rec.left(6), hex("30 52 02 07 12 26"));  // 12:30 AM, Monday
    EXPECT_EQ(rec.mid(6, 16), hex("0005 000F 0019 0023 002D 0037 0041 004B"));
    EXPECT_EQ(rec[22], char(7));  // both doors closed, mains on
}

TEST(DevsimLog, FullLogDropsTheOldestAndStaysAWordLong) {
    Simulator sim;
    Device* d = addDevice(sim, Model::QX740, 23);
    ASSERT_NE(d, nullptr);
    d->setPortValue(0, 1);
    for (int i = 0; i < d->logCapacity(); ++i) d->appendLogRecord();
    d->setPortValue(0, 2);
    d->appendLogRecord();
    EXPECT_EQ(d->logSize(), d->logCapacity() * 23);
    EXPECT_LE(d->logSize(), 32767);
    const QByteArray sizeWord = transact(d, request(kLog02)).data.mid(12, 2);
    EXPECT_EQ((quint8(sizeWord[0]) << 8) | quint8(sizeWord[1]), d->logSize());
    const QByteArray log = transact(d, request(kReadLog), d->logSize(), 5000).data;
    ASSERT_EQ(log.size(), d->logSize());
    EXPECT_EQ(log.mid(log.size() - 17, 2), hex("00 14"));  // newest: 2.0 in tenths
    EXPECT_EQ(log.mid(6, 2), hex("00 0A"));
}
