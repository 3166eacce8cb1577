#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/SensorState.h"
#include "support/FernlogFixtures.h"

using namespace Decoding;
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
    EXPECT_EQ(GridStatus(72, 0).colour, Colour::Green);
    EXPECT_EQ(GridStatus(kNoData, 0).word, "NO DATA");
    EXPECT_EQ(GridStatus(kNoData, 0).colour, Colour::White);
    EXPECT_EQ(GridStatus(kNoData, 1).word, "ALARM");
    EXPECT_EQ(GridStatus(80, 2).colour, Colour::Red);
}
