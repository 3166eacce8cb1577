// The configuration port's byte formats, checked byte by byte.
#include <gtest/gtest.h>

#include <QMap>

#include "protocol/Address.h"
#include "tarnset/Wire.h"

namespace {

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(text);
}

TEST(Wire, RequestsAreTheFixedBytes) {
    EXPECT_EQ(Wire::BuildDiscoveryRequest(), Hex("000000F6"));
    EXPECT_EQ(Wire::BuildSetupRecordRequest(), Hex("000100E0"));
    EXPECT_EQ(Wire::kConfigPort, 30718);
}

TEST(Wire, PatchChangesOnlyTheWrittenOffsets) {
    QByteArray original(128, '\0');
    for (int i = 0; i < original.size(); ++i) original[i] = char(0x80 + i % 61);
    QByteArray record = original;
    ASSERT_TRUE(Wire::PatchSetupRecord(record, {10, 1, 2, 254}));
    ASSERT_EQ(record.size(), original.size());
    const QMap<int, quint8> written{{1, 0x00}, {3, 0xC0},  {4, 10},    {5, 1},     {6, 2},
                                    {7, 254},  {20, 0x4C}, {21, 0x02}, {68, 0x4C}, {69, 0x02}};
    for (int i = 0; i < record.size(); ++i) {
        if (written.contains(i))
            EXPECT_EQ(quint8(record[i]), written[i]) << "offset " << i;
        else
            EXPECT_EQ(record[i], original[i]) << "offset " << i;
    }
}

TEST(Wire, PatchNeedsSeventyBytes) {
    QByteArray exact(70, '\x11');
    EXPECT_TRUE(Wire::PatchSetupRecord(exact, {1, 2, 3, 4}));
    EXPECT_EQ(quint8(exact[69]), 0x02);
    QByteArray shortRecord(69, '\x11');
    QString error;
    EXPECT_FALSE(Wire::PatchSetupRecord(shortRecord, {1, 2, 3, 4}, &error));
    EXPECT_EQ(shortRecord, QByteArray(69, '\x11'));  // untouched
    EXPECT_TRUE(error.contains(QLatin1String("69"))) << error.toStdString();
}

TEST(Wire, ResetDatagramCarriesTheLastTwoAnswerBytes) {
    QByteArray answer(30, '\0');
    answer.replace(24, 6, Hex("00204A0102AB"));
    const auto datagram = Wire::BuildResetDatagram(answer);
    ASSERT_TRUE(datagram.has_value());
    EXPECT_EQ(*datagram, Hex("000000FC") + QByteArray("TARN-SET") + Hex("0000") + Hex("02AB") +
                             Hex("00000000"));
    EXPECT_EQ(datagram->size(), 20);
    // A longer answer: still its last two bytes.
    const auto longer = Wire::BuildResetDatagram(answer + Hex("CAFE"));
    ASSERT_TRUE(longer.has_value());
    EXPECT_EQ(longer->mid(14, 2), Hex("CAFE"));
    // Without two MAC bytes there is nothing that names the device.
    EXPECT_FALSE(Wire::BuildResetDatagram(QByteArray(25, '\x07')).has_value());
    EXPECT_TRUE(Wire::BuildResetDatagram(QByteArray(26, '\x07')).has_value());
}

TEST(Wire, MacTextFromOffset24ToTheEnd) {
    QByteArray answer(30, '\0');
    answer.replace(24, 6, Hex("00204A0A0BFF"));
    EXPECT_EQ(Wire::FormatMac(answer), QStringLiteral("00-20-4A-0A-0B-FF"));
    EXPECT_EQ(Wire::FormatMac(answer).size(), 17);
    EXPECT_EQ(Wire::FormatMac(QByteArray(24, '\x01')), QString());
    EXPECT_EQ(Wire::FormatMac(QByteArray()), QString());
    EXPECT_EQ(Wire::FormatMac(QByteArray(25, '\x05')), QStringLiteral("05"));
    EXPECT_EQ(Wire::FormatMac(QByteArray(1500, '\x01')).size(), (1500 - 24) * 3 - 1);
}

TEST(Wire, TypedMacAndAddress) {
    const auto mac = Wire::ParseMac(QStringLiteral("00-20-4a-0B-fe-99"));
    ASSERT_TRUE(mac.has_value());
    EXPECT_EQ(Wire::MacForIp(*mac), QStringLiteral("00:20:4a:0b:fe:99"));
    EXPECT_TRUE(Wire::ParseMac(QStringLiteral("00:20:4A:0B:FE:99")).has_value());
    for (const char* bad : {"00-20-4A-0B-FE-9", "00-20-4A-0B-FE-9G", "00-20:4A-0B-FE-99",
                            "0020-4A-0B-FE-99-", "00-20-4A-0B-FE-99; rm", "+0-20-4A-0B-FE-99", ""})
        EXPECT_FALSE(Wire::ParseMac(QString::fromLatin1(bad)).has_value()) << bad;

    // Typed addresses follow the suite's one rule.
    EXPECT_TRUE(Protocol::ParseIPv4(QStringLiteral("127.0.0.2")).has_value());
    for (const char* bad : {"127.0.0", "127.0.0.256", "127.0.0.-1", "127.0.0.2 ; ls", "a.b.c.d",
                            "127..0.2", "1234.0.0.1", "", "127.0.0.041"})
        EXPECT_FALSE(Protocol::ParseIPv4(QString::fromLatin1(bad)).has_value()) << bad;
}

}  // namespace
