#include "Decoding.h"
#include "DeviceLink.h"
#include "Fixtures.h"
#include "SensorState.h"

using namespace Decoding;

namespace {
QByteArray Identification(int family, int model, int build) {
    QByteArray a;
    DeviceLink::BuildRequest(a, DeviceLink::CmdIdentify());
    a[4] = char(family >> 8), a[5] = char(family & 255);
    a[6] = char(model >> 8), a[7] = char(model & 255);
    a[8] = char(build >> 8), a[9] = char(build & 255);
    return a;
}

// A readings answer with the same value bytes on every port unless set.
QByteArray ReadingsAnswer(int flag, char unit) {
    QByteArray a;
    DeviceLink::BuildRequest(a, DeviceLink::CmdReadings());
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

class DecodingTest : public ProgramDirTest {
  protected:
    void SetUp() override {
        ProgramDirTest::SetUp();
        ProvisionDatabase();
        Readings.fill(0);
    }
};

TEST_F(DecodingTest, ValuesAreSignedBigEndianAndTenthsDependOnFamilyAndBuild) {
    ASSERT_TRUE(ParseMessage(DeviceLink::CmdIdentify(), Identification(5, 5, 23)));
    EXPECT_EQ(DeviceFamily, 5);
    EXPECT_EQ(DeviceModel, 5);
    EXPECT_EQ(FirmwareBuild, 23);

    QByteArray a = ReadingsAnswer(10, 'F');
    for (int p = 0; p < 10; ++p) SetPort(a, p, 0x02, 0xD5);
    SetPort(a, 3, 0xFF, 0x38, 0x01, 0x2C, 1);
    ASSERT_TRUE(ParseMessage(DeviceLink::CmdReadings(), a));
    EXPECT_FLOAT_EQ(Readings[0], 72.5f);
    EXPECT_FLOAT_EQ(Readings[3 * 7], 72.5f);
    EXPECT_FLOAT_EQ(Readings[3 * 8], 725.0f);  // ports 8 and 9 are whole units
    EXPECT_FLOAT_EQ(Readings[3 * 3], -20.0f);  // FF 38 is -200, in tenths
    EXPECT_FLOAT_EQ(Readings[3 * 3 + 1], 300.0f);
    EXPECT_FLOAT_EQ(Readings[3 * 3 + 2], 1.0f);
    EXPECT_EQ(TempUnit, "F");

    // Build 22 of the same family, or no tenths flag: nothing is divided.
    ParseMessage(DeviceLink::CmdIdentify(), Identification(5, 5, 22));
    ParseMessage(DeviceLink::CmdReadings(), a);
    EXPECT_FLOAT_EQ(Readings[0], 725.0f);
    EXPECT_FLOAT_EQ(Readings[9], -200.0f);

    // Family 3 from build 5: only ports 0 and 1 are in tenths; build 4: none.
    ParseMessage(DeviceLink::CmdIdentify(), Identification(3, 4, 5));
    QByteArray z = ReadingsAnswer(10, 'C');
    for (int p = 0; p < 10; ++p) SetPort(z, p, 0x00, 0xC8);
    ParseMessage(DeviceLink::CmdReadings(), z);
    EXPECT_FLOAT_EQ(Readings[0], 20.0f);
    EXPECT_FLOAT_EQ(Readings[3], 20.0f);
    EXPECT_FLOAT_EQ(Readings[6], 200.0f);
    ParseMessage(DeviceLink::CmdIdentify(), Identification(3, 4, 4));
    ParseMessage(DeviceLink::CmdReadings(), z);
    EXPECT_FLOAT_EQ(Readings[0], 200.0f);
    EXPECT_EQ(DegreeText(), QString(QChar(0xB0)) + "C");
}

TEST_F(DecodingTest, ShortAnswersAndOutOfRangeNumbersAreRecordedNotCrashing) {
    ParseMessage(DeviceLink::CmdIdentify(), Identification(5, 8, 20));
    // Family decodes, model 0x8000 does not fit: family keeps its new value.
    EXPECT_FALSE(ParseMessage(DeviceLink::CmdIdentify(), Identification(3, 0x8000, 9)));
    EXPECT_EQ(DeviceFamily, 3);
    EXPECT_EQ(DeviceModel, 8);
    EXPECT_EQ(FirmwareBuild, 20);
    EXPECT_FALSE(ParseMessage(DeviceLink::CmdIdentify(), QByteArray("\x2A\xCD\xDC\xBA\x00", 5)));

    Readings.fill(7);
    EXPECT_FALSE(ParseMessage(DeviceLink::CmdReadings(), ReadingsAnswer(0, 'F').left(40)));
    EXPECT_FLOAT_EQ(Readings[0], 7.0f);  // nothing decoded
    TempUnit = "F";
    QByteArray a = ReadingsAnswer(0, 'C');
    SetPort(a, 0, 0, 50);
    EXPECT_FALSE(ParseMessage(DeviceLink::CmdReadings(), a.left(59)));
    EXPECT_FLOAT_EQ(Readings[0], 50.0f);  // the ports came before the fault
    EXPECT_EQ(TempUnit, "F");
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors"),
              QStringList({"ParseMessage", "ParseMessage", "ParseMessage", "ParseMessage"}));

    EXPECT_TRUE(ParseMessage(DeviceLink::CmdPage(3), QByteArray()));  // other commands: no-op
}

TEST_F(DecodingTest, ByteHelpers) {
    const QByteArray b("\xFF\x38\x00\xC8\x7F", 5);
    EXPECT_FLOAT_EQ(SignedWord(b, 1), -200.0f);
    EXPECT_EQ(ValueAt(b, 3, 2), 200);
    EXPECT_EQ(ValueAt(b, 1, 1), 255);
    EXPECT_EQ(ValueAt(b, 5, 2), 0x7F00);  // past the end reads as 0
    int hi = -1, lo = -1;
    EXPECT_TRUE(SplitWord(-200, hi, lo));
    EXPECT_EQ(hi, 0xFF);
    EXPECT_EQ(lo, 0x38);
    SplitWord(300, hi, lo);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(lo, 0x2C);
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

TEST(SensorStateTest, ReadingTextBySpecialValueAndType) {
    QString t = "before";
    EXPECT_TRUE(ReadingText(1000, "Temperature", t));
    EXPECT_EQ(t, "Not Connected");
    EXPECT_TRUE(ReadingText(9999, "Door Sensor", t));
    EXPECT_EQ(t, "Not Connected");
    ReadingText(999, "Temperature", t);
    EXPECT_EQ(t, "Sensor Open");
    ReadingText(-999, "Temperature", t);
    EXPECT_EQ(t, "Sensor Shorted");
    EXPECT_FALSE(ReadingText(kNoData, "Temperature", t));
    EXPECT_EQ(t, "No Data");

    ReadingText(0, "door sensor", t);
    EXPECT_EQ(t, "Open");
    ReadingText(2, "door sensor", t);
    EXPECT_EQ(t, "Open");  // neither 0 nor 1: unchanged
    ReadingText(1, "Dry Contact Input", t);
    EXPECT_EQ(t, "Closed");
    ReadingText(1, "Water Sensor Input", t);
    EXPECT_EQ(t, "Water Detected");
    ReadingText(0, "Power Sensor", t);
    EXPECT_EQ(t, "Power Off");
    ReadingText(1, "Power Sensor", t);
    EXPECT_EQ(t, "Power On");
    ReadingText(45, "Humidity", t);
    EXPECT_EQ(t, "45");
    ReadingText(72.5f, "Temperature", t);
    EXPECT_EQ(t, "72.5");
    ReadingText(-20.3f, "Temperature", t);
    EXPECT_EQ(t, "-20.3");
}

TEST(SensorStateTest, CauseSentences) {
    QString c;
    ComposeCause(c, 1, "Dev", "Freezer", "Temperature", "72.5", QString(QChar(0xB0)) + "F", "");
    EXPECT_EQ(c, QString("Freezer is out of limits and is currently reading: 72.5 \u00B0F and has "
                         "been out of limits for: 1 minute.\r\r"));
    ComposeCause(c, 0, "Dev", "F", "Temperature", "80", "", "");
    EXPECT_TRUE(c.endsWith("for: 0 minute.\r\r"));
    ComposeCause(c, 2, "Dev", "F", "Temperature", "80", "", "check compressor");
    EXPECT_TRUE(c.endsWith("for: 2 minutes.\r\rNotes for F:\rcheck compressor"));

    ComposeCause(c, 5, "Dev", "Back", "Door Sensor", "Open", "", "notes ignored");
    EXPECT_EQ(c, "The door has been open for: 5 minutes.\r");
    ComposeCause(c, 1, "Dev", "Back", "Door Sensor", "Closed", "", "");
    EXPECT_EQ(c, "The door is closed.\r");
    // Door comes before dry contact.
    ComposeCause(c, 1, "Dev", "Back", "door sensor / dry contact", "Open", "", "");
    EXPECT_EQ(c, "The door is open.\r");
    ComposeCause(c, 3, "Dev", "Relay", "Dry Contact Input", "Closed", "", "");
    EXPECT_EQ(c, "The Relay input has been closed for: 3 minutes.\r");
    ComposeCause(c, 0, "Dev", "Sump", "Water Sensor Input", "Water Detected", "", "");
    EXPECT_EQ(c, "Water has been detected.\r");
    ComposeCause(c, 9, "Dev", "UPS", "Power Sensor", "Power Off", "", "");
    EXPECT_EQ(c, "Power has been off for: 9 minutes.\r");

    ComposeCause(c, 9, "Dev", "P", "Temperature", "Sensor Open", "", "");
    EXPECT_EQ(c, " The sensor has open circuited.\r\r");
    ComposeCause(c, 9, "Dev", "P", "Temperature", "-999", "", "");
    EXPECT_EQ(c, " The sensor has short circuited.\r\r");
    ComposeCause(c, 9, "Dev", "P", "Temperature", "Not Connected", "", "");
    EXPECT_EQ(c, " The sensor is not connected.\r\r");
    ComposeCause(c, 9, "Lab", "P", "Temperature", "-999991", "", "");
    EXPECT_EQ(c, " Data was not returned by: Lab.\r\r");
}

TEST(SensorStateTest, GridStatusWordAndColour) {
    EXPECT_EQ(GridStatus(72, 0).word, "Normal");
    EXPECT_EQ(GridStatus(72, 0).colour, qRgb(0, 255, 0));
    EXPECT_EQ(GridStatus(kNoData, 0).word, "NO DATA");
    EXPECT_EQ(GridStatus(kNoData, 0).colour, qRgb(255, 255, 255));
    EXPECT_EQ(GridStatus(kNoData, 1).word, "ALARM");
    EXPECT_EQ(GridStatus(80, 2).colour, qRgb(255, 0, 0));
}
