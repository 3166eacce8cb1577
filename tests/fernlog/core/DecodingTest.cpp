#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/SensorState.h"
#include "protocol/Commands.h"
#include "support/FernlogFixtures.h"

using namespace Decoding;

namespace {
QByteArray Identification(int family, int model, int build) {
    QByteArray a;
    Protocol::BuildRequest(a, Protocol::CmdIdentify());
    a[4] = char(family >> 8), a[5] = char(family & 255);
    a[6] = char(model >> 8), a[7] = char(model & 255);
    a[8] = char(build >> 8), a[9] = char(build & 255);
    return a;
}

// A readings answer with the same value bytes on every port unless set.
QByteArray ReadingsAnswer(int flag, char unit) {
    QByteArray a;
    Protocol::BuildRequest(a, Protocol::CmdReadings());
    a[58] = char(flag);
    a[59] = unit;
    return a;
}

void SetPort(QByteArray& a, int port, int hi, int lo, int minHi = 0, int minLo = 0,
             int status = 0) {
    const int s = 5 + 5 * port - 1;  // 0-based
    a[s] = char(hi), a[s + 1] = char(lo), a[s + 2] = char(minHi), a[s + 3] = char(minLo);
    a[s + 4] = char(status);
}
}  // namespace

class DecodingTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
    }
};

TEST_F(DecodingTest, ValuesAreSignedBigEndianAndTenthsDependOnFamilyAndBuild) {
    ASSERT_TRUE(ParseMessage(Protocol::CmdIdentify(), Identification(5, 5, 23)));
    EXPECT_EQ(DeviceFamily, 5);
    EXPECT_EQ(DeviceModel, 5);
    EXPECT_EQ(FirmwareBuild, 23);

    QByteArray a = ReadingsAnswer(10, 'F');
    for (int p = 0; p < 10; ++p) SetPort(a, p, 0x02, 0xD5);
    SetPort(a, 3, 0xFF, 0x38, 0x01, 0x2C, 1);
    ASSERT_TRUE(ParseMessage(Protocol::CmdReadings(), a));
    EXPECT_FLOAT_EQ(Readings[0], 72.5f);
    EXPECT_FLOAT_EQ(Readings[3 * 7], 72.5f);
    EXPECT_FLOAT_EQ(Readings[3 * 8], 725.0f);  // ports 8 and 9 are whole units
    EXPECT_FLOAT_EQ(Readings[3 * 3], -20.0f);  // FF 38 is -200, in tenths
    EXPECT_FLOAT_EQ(Readings[3 * 3 + 1], 300.0f);
    EXPECT_FLOAT_EQ(Readings[3 * 3 + 2], 1.0f);
    EXPECT_EQ(TempUnit, "F");

    // Build 22 of the same family, or no tenths flag: nothing is divided.
    ParseMessage(Protocol::CmdIdentify(), Identification(5, 5, 22));
    ParseMessage(Protocol::CmdReadings(), a);
    EXPECT_FLOAT_EQ(Readings[0], 725.0f);
    EXPECT_FLOAT_EQ(Readings[9], -200.0f);

    // Family 3 from build 5: only ports 0 and 1 are in tenths; build 4: none.
    ParseMessage(Protocol::CmdIdentify(), Identification(3, 4, 5));
    QByteArray z = ReadingsAnswer(10, 'C');
    for (int p = 0; p < 10; ++p) SetPort(z, p, 0x00, 0xC8);
    ParseMessage(Protocol::CmdReadings(), z);
    EXPECT_FLOAT_EQ(Readings[0], 20.0f);
    EXPECT_FLOAT_EQ(Readings[3], 20.0f);
    EXPECT_FLOAT_EQ(Readings[6], 200.0f);
    ParseMessage(Protocol::CmdIdentify(), Identification(3, 4, 4));
    ParseMessage(Protocol::CmdReadings(), z);
    EXPECT_FLOAT_EQ(Readings[0], 200.0f);
    EXPECT_EQ(DegreeText(), QString(QChar(0xB0)) + "C");
}

TEST_F(DecodingTest, ShortAnswersAndOutOfRangeNumbersAreRecordedNotCrashing) {
    ParseMessage(Protocol::CmdIdentify(), Identification(5, 8, 20));
    // Family decodes, model 0x8000 does not fit: family keeps its new value.
    EXPECT_FALSE(ParseMessage(Protocol::CmdIdentify(), Identification(3, 0x8000, 9)));
    EXPECT_EQ(DeviceFamily, 3);
    EXPECT_EQ(DeviceModel, 8);
    EXPECT_EQ(FirmwareBuild, 20);
    EXPECT_FALSE(ParseMessage(Protocol::CmdIdentify(), QByteArray("\x2A\xCD\xDC\xBA\x00", 5)));

    Readings.fill(7);
    EXPECT_FALSE(ParseMessage(Protocol::CmdReadings(), ReadingsAnswer(0, 'F').left(40)));
    EXPECT_FLOAT_EQ(Readings[0], 7.0f);  // nothing decoded
    TempUnit = "F";
    QByteArray a = ReadingsAnswer(0, 'C');
    SetPort(a, 0, 0, 50);
    EXPECT_FALSE(ParseMessage(Protocol::CmdReadings(), a.left(59)));
    EXPECT_FLOAT_EQ(Readings[0], 50.0f);  // the ports came before the fault
    EXPECT_EQ(TempUnit, "F");
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors"),
              QStringList({"ParseMessage", "ParseMessage", "ParseMessage", "ParseMessage"}));

    EXPECT_TRUE(ParseMessage(Protocol::CmdPage(3), QByteArray()));  // other commands: no-op
}

TEST_F(DecodingTest, PortUnitsByModelText) {
    TempUnit = "F";
    const QString deg = QString(QChar(0xB0)) + "F";
    EXPECT_EQ(PortUnits("Model QX700-5: Refrigerator/Freezer Keeper", 0), deg);
    EXPECT_EQ(PortUnits("Model QX700-5: Refrigerator/Freezer Keeper", 8), "");
    EXPECT_EQ(PortUnits("Model QX700-10", 9), "");
    EXPECT_EQ(PortUnits("Zolo 604", 2), "");
    EXPECT_EQ(PortUnits("Zolo 603", 4), deg);
    EXPECT_EQ(PortUnits("Model QX700-8", 6), deg);
    EXPECT_EQ(PortUnits("Model QX700-8", 7), "%RH");
    EXPECT_EQ(PortUnits("Model QX700-8", 8), "");
    EXPECT_EQ(PortUnits("Model QX740", 3), deg);
    EXPECT_EQ(PortUnits("Model QX720", 4), "");
    EXPECT_EQ(PortUnits("Something else", 0), "");
}

using namespace SensorState;
