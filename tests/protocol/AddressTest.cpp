// The one IPv4 rule: what it takes, what it refuses and that its message
// names the text.
#include <gtest/gtest.h>

#include "protocol/Address.h"

namespace {

using Protocol::ParseIPv4;

TEST(Address, PlainDecimalOnlyAndRebuiltForUse) {
    const auto a = ParseIPv4(QStringLiteral("127.0.0.41"));
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->Text(), QStringLiteral("127.0.0.41"));
    EXPECT_EQ(a->Value(), 0x7F000029u);
    EXPECT_EQ(Protocol::IPv4FromValue(0xC0000207u).Text(), QStringLiteral("192.0.2.7"));
    EXPECT_TRUE(ParseIPv4(QStringLiteral("0.0.0.0")).has_value());
    EXPECT_TRUE(ParseIPv4(QStringLiteral("255.255.255.255")).has_value());

    // What other readers take in another sense: octal, hexadecimal, short
    // forms, other scripts' digits, signs and blanks.
    for (const char* bad : {"127.0.0.041", "010.0.0.7", "127.0.0.00", "0x0a.0.0.1", "10.1",
                            "2130706433", "127.0.0.256", "127.0.0.-1", "+1.0.0.1", "127.0.0.2 ",
                            " 127.0.0.2", "127..0.2", "1234.0.0.1", "1.2.3.4.5", "", "::1",
                            "localhost", "127.0.0.2; reboot", "127.0.0.2:10001"}) {
        QString error;
        EXPECT_FALSE(ParseIPv4(QString::fromLatin1(bad), &error).has_value()) << bad;
        EXPECT_TRUE(error.contains(QStringLiteral("'%1'").arg(QLatin1String(bad)))) << bad;
    }
    EXPECT_FALSE(ParseIPv4(QStringLiteral("127.0.0.\u0664\u0661")).has_value());  // Arabic 41

    QString error;
    ParseIPv4(QStringLiteral("192.168.001.50"), &error);
    EXPECT_EQ(error, QStringLiteral("'192.168.001.50' is not a valid IP address: the number 001 "
                                    "has a leading zero, which other programs read as an octal "
                                    "number.  Please write it without leading zeros."));
}

}  // namespace
