// The registry's own logic: name page images, the choice of configuration
// window, tree node texts and the checks of typed input.
#include "protocol/Commands.h"
#include "registry/Registry.h"
#include "support/FernlogFixtures.h"

using namespace Registry;

class RegistryTest : public FernlogTest {};

TEST_F(RegistryTest, NamePageImageChangesOnlyItsFields) {
    QByteArray page = Protocol::CmdPage(2);
    for (int i = 4; i < 60; ++i) page += char(0x80 + i);
    const QByteArray image =
        ComposeNamePage(page, "  A very long device name indeed ", 'C', "127.0.0.44");
    ASSERT_EQ(image.size(), 60);
    EXPECT_EQ(image.left(4), QByteArray::fromHex("DDCCBB02"));
    EXPECT_EQ(image.mid(4, 4), page.mid(4, 4));
    EXPECT_EQ(image.mid(8, 20), "A very long device n");
    EXPECT_EQ(image.at(28), 'C');
    EXPECT_EQ(image.mid(29, 20), "127.0.0.44          ");
    EXPECT_EQ(image.mid(49), page.mid(49));

    // The name goes in the device's code page, as the configuration windows
    // write it: "€" is 0x80 there. What it has no byte for is refused first.
    const QByteArray other =
        ComposeNamePage(page, QString::fromUtf8("Kühl \"Nord\", €"), 'F', "127.0.0.2");
    EXPECT_EQ(other.mid(8, 20), QByteArray("K\xfchl \"Nord\", \x80      "));
    EXPECT_EQ(PageName(other), QString::fromUtf8("Kühl \"Nord\", €"));
    EXPECT_TRUE(NameFitsDevice(QString::fromUtf8("Kühl \"Nord\", €")));
    EXPECT_FALSE(NameFitsDevice(QString::fromUtf8("Kühlraum Ω")));
    EXPECT_TRUE(NameFitsDevice(QString::fromUtf8("A name of twenty char Ω")));  // kept: 20
    EXPECT_EQ(PageUnit(other), QChar('F'));
    EXPECT_EQ(NamePageNumber(3), 1);
    EXPECT_EQ(NamePageNumber(5), 2);
}

TEST_F(RegistryTest, ConfigurationWindowByIdentification) {
    EXPECT_EQ(ConfigWindowFor(3, 5), Window::frmZolo);
    EXPECT_EQ(ConfigWindowFor(3, 20), Window::frmZolo);
    EXPECT_EQ(ConfigWindowFor(5, 5), Window::frmQX705);
    EXPECT_EQ(ConfigWindowFor(5, 10), Window::frmQX705);
    EXPECT_EQ(ConfigWindowFor(5, 8), Window::frmQX708);
    EXPECT_EQ(ConfigWindowFor(5, 40), Window::frmQX740);
    EXPECT_EQ(ConfigWindowFor(7, 20), Window::frmQX720);
    EXPECT_EQ(ConfigWindowFor(5, 4), Window::None);
    EXPECT_EQ(ConfigWindowFor(0, 0), Window::None);
}

TEST_F(RegistryTest, TreeNodesAndKeys) {
    EXPECT_EQ(NodeText("Kitchen", "127.0.0.2"), "Kitchen              @ IP 127.0.0.2");
    EXPECT_EQ(NodeText("Twenty-one characters", "127.0.0.2"),
              "Twenty-one character @ IP 127.0.0.2");
    EXPECT_EQ(NodeKey(12), "SERVER12");
    EXPECT_EQ(ServerIdFromKey("SERVER12"), 12);
    EXPECT_EQ(ServerIdFromKey("MainNode"), -1);
    EXPECT_EQ(ServerIdFromKey("SERVER"), -1);
}

TEST_F(RegistryTest, TypedInputChecks) {
    EXPECT_TRUE(IsValidIPAddress("127.0.0.2"));
    EXPECT_TRUE(IsValidIPAddress("255.255.255.0"));
    for (const char* bad : {"", "localhost", "127.0.0", "127.0.0.256", "127.0.0.2 ", "1.2.3.4.5",
                            "01.2.3.4", "::1", "127.0.0.2:10001", "10.1", "0x0a.0.0.1"}) {
        EXPECT_FALSE(IsValidIPAddress(bad)) << bad;
    }
    QString error;
    EXPECT_FALSE(IsValidIPAddress("010.0.0.7", &error));
    EXPECT_TRUE(
        error.startsWith("'010.0.0.7' is not a valid IP address: the number 010 has a "
                         "leading zero"))
        << error.toStdString();

    EXPECT_EQ(JoinEmailList({"a@b.c", "\"Ann, O'Neil\" <x@y.z>"}),
              "a@b.c,\"Ann, O'Neil\" <x@y.z>,");
    EXPECT_EQ(SplitEmailList("a@b.c,d@e.f,"), QStringList({"a@b.c", "d@e.f"}));
    EXPECT_TRUE(SplitEmailList("").isEmpty());
    EXPECT_TRUE(LooksLikeEmailAddress("a@b.c"));
    EXPECT_FALSE(LooksLikeEmailAddress("a@bc"));

    int rate = 0;
    EXPECT_EQ(CheckUpdateRate("", rate), RateCheck::Empty);
    EXPECT_EQ(CheckUpdateRate("0", rate), RateCheck::OutOfRange);
    EXPECT_EQ(CheckUpdateRate("61", rate), RateCheck::OutOfRange);
    EXPECT_EQ(CheckUpdateRate("x", rate), RateCheck::OutOfRange);
    EXPECT_EQ(CheckUpdateRate("1", rate), RateCheck::Ok);
    EXPECT_EQ(rate, 1);
    EXPECT_EQ(CheckUpdateRate("60", rate), RateCheck::Ok);
    EXPECT_EQ(rate, 60);
}
