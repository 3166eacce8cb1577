// One page's fields between an image and the boxes, without a device: the
// tenths rule, unused ports, empty boxes, refusals, bytes outside the fields.
#include <QByteArray>

#include "common/Dialogs.h"
#include "pages/PageMaps.h"
#include "pages/PageTransfer.h"
#include "pages/PageValues.h"
#include "support/FernlogFixtures.h"

using namespace Pages;

namespace {
// A downloaded page: the read echo, then bytes that no field names.
QByteArray Page(int n) {
    QByteArray page(60, '\0');
    for (int i = 4; i < 60; ++i) page[i] = char(0x40 + i);
    page.replace(0, 4, QByteArray::fromHex("AABBCC") + char(n));
    return page;
}
QByteArray Readings(int resolution) {
    QByteArray a(60, '\0');
    a.replace(0, 4, QByteArray::fromHex("3FCDDC00"));
    a[58] = char(resolution);
    return a;
}
}  // namespace

class PageTransferTest : public FernlogTest {};

TEST_F(PageTransferTest, LimitsFollowTheDevicesTenthsFlag) {
    PageSession s = NewSession(Window::frmQX705, "127.0.0.2", 1);
    QByteArray p0 = Page(0);
    WriteWord(p0, QX7xxPage0::LowerLimit(0), 35);    // 00 23
    WriteWord(p0, QX7xxPage0::UpperLimit(0), -100);  // FF 9C
    WriteByte(p0, QX7xxPage0::kRelayLogic, 1);       // a flag is written back as 0 or 1
    s.form.ports[0].name = "Freezer";

    ParseLimits(s, Readings(10), kReadingsPage);
    ASSERT_TRUE(s.Tenths);
    ParseLimits(s, p0, 0);
    EXPECT_EQ(s.form.ports[0].lower, "3.5");
    EXPECT_EQ(s.form.ports[0].upper, "-10.0");

    // Typing 3.5 writes 00 23 again; nothing else of the page moves.
    QByteArray out = p0;
    ASSERT_TRUE(InsertLimits(s, out, 0));
    EXPECT_EQ(out, p0);
    s.form.ports[0].lower = "-13.25";  // -132.5 in tenths: half to even
    ASSERT_TRUE(InsertLimits(s, out, 0));
    EXPECT_EQ(out.mid(8, 2).toHex(' '), "ff 7c");

    ParseLimits(s, Readings(0), kReadingsPage);
    ASSERT_FALSE(s.Tenths);
    ParseLimits(s, p0, 0);
    EXPECT_EQ(s.form.ports[0].lower, "35");
    EXPECT_EQ(s.form.ports[0].upper, "-100");

    // The other windows never use tenths.
    PageSession q = NewSession(Window::frmQX708, "127.0.0.2", 1);
    q.form.ports[0].name = "Zone";
    ParseLimits(q, Readings(10), kReadingsPage);
    ParseLimits(q, p0, 0);
    EXPECT_EQ(q.form.ports[0].lower, "35");
}

TEST_F(PageTransferTest, UnnamedPortsShowNoLimitsAndEmptyBoxesKeepTheDevicesValues) {
    PageSession s = NewSession(Window::frmQX740, "127.0.0.2", 1);
    QByteArray p0 = Page(0);
    WriteWord(p0, QX7xxPage0::LowerLimit(1), 20);
    WriteWord(p0, QX7xxPage0::PowerTime(0), 9);
    s.form.ports[0].name = "Rack";
    ParseLimits(s, p0, 0);
    EXPECT_EQ(s.form.ports[1].lower, "");  // no name: the port is not in use
    EXPECT_EQ(s.form.ports[4].time, "");
    EXPECT_NE(s.form.ports[0].lower, "");

    s.form.ports[0].lower.clear();
    s.form.ports[0].upper = "  ";
    QByteArray out = p0;
    ASSERT_TRUE(InsertLimits(s, out, 0));
    EXPECT_EQ(out, p0);
}

TEST_F(PageTransferTest, PowerNormalStateIsWrittenOnlyWhenChosen) {
    PageSession s = NewSession(Window::frmQX740, "127.0.0.2", 1);
    QByteArray p0 = Page(0);
    WriteWord(p0, QX7xxPage0::PowerNormalState(0), 1);
    WriteWord(p0, QX7xxPage0::PowerNormalState(1), 7);  // no list position
    ParseLimits(s, p0, 0);
    EXPECT_EQ(s.form.normalState[0], 1);
    EXPECT_EQ(s.form.normalState[1], -1);
    s.form.normalState[0] = 0;
    QByteArray out = p0;
    ASSERT_TRUE(InsertLimits(s, out, 0));
    EXPECT_EQ(out.mid(32, 2).toHex(' '), "00 00");
    EXPECT_EQ(out.mid(38, 2).toHex(' '), "00 07");  // nothing chosen: the device's value
    EXPECT_EQ(out.mid(34, 2), p0.mid(34, 2));       // the bytes between are not touched
}

TEST_F(PageTransferTest, RefusedBoxesNameTheBoxAndLeaveTheImageAlone) {
    PageSession s = NewSession(Window::frmQX705, "127.0.0.2", 1);
    s.Tenths = true;
    s.tenthsKnown = true;
    const QByteArray p0 = Page(0);
    struct Case {
        QString lower, time, expected;
    } cases[] = {
        {"-", "", "The Lower Limit of Temperature Sensor Port 1 (\"-\") is not a number."},
        {".", "", "The Lower Limit of Temperature Sensor Port 1 (\".\") is not a number."},
        {"1.2.3", "", "The Lower Limit of Temperature Sensor Port 1 (\"1.2.3\") is not a number."},
        {"3276.8", "",
         "The Lower Limit of Temperature Sensor Port 1 (\"3276.8\") must be from -3276.8 to "
         "3276.7."},
        {"1", "32768",
         "The Time of Temperature Sensor Port 1 (\"32768\") must be from 0 to 32767."},
        {"1", "-5", "The Time of Temperature Sensor Port 1 (\"-5\") must be from 0 to 32767."},
    };
    for (const Case& c : cases) {
        s.form.ports[0].lower = c.lower;
        s.form.ports[0].time = c.time;
        QByteArray out = p0;
        QString error;
        EXPECT_FALSE(InsertLimits(s, out, 0, &error)) << c.lower.toStdString();
        EXPECT_EQ(error, c.expected);
        EXPECT_EQ(out, p0);
    }
    // A lower limit typed above the upper would keep the port in alarm; a
    // pair the device already holds that way goes back as it is.
    QByteArray reversed = p0;
    WriteWord(reversed, QX7xxPage0::LowerLimit(0), 50);
    WriteWord(reversed, QX7xxPage0::UpperLimit(0), 40);
    s.form.ports[0].lower = "4.5";
    s.form.ports[0].time = "";
    {
        QString error;
        QByteArray out = reversed;
        EXPECT_FALSE(InsertLimits(s, out, 0, &error));
        EXPECT_EQ(error,
                  "The Lower Limit of Temperature Sensor Port 1 (4.5) is above its upper "
                  "limit (4.0).");
        EXPECT_EQ(out, reversed);
        s.form.ports[0].lower = "5.0";
        EXPECT_TRUE(InsertLimits(s, out, 0));
    }
    s.form.ports[0] = {};
    s.form.ports[0].type = "Temperature Sensor Port 1";
    s.form.erroneousBits = "256";
    QString error;
    QByteArray p12 = Page(12);
    EXPECT_FALSE(InsertLimits(s, p12, 12, &error));
    EXPECT_EQ(error, "The Erroneous Bit Change (bits) (\"256\") must be from 0 to 255.");
    s.form.erroneousBits = "255";
    s.form.correction[3] = "-3276.9";
    EXPECT_FALSE(InsertLimits(s, p12, 12, &error));
    EXPECT_EQ(error,
              "The Correction of Temperature Sensor Port 4 (\"-3276.9\") must be from -3276.8 to "
              "3276.7.");

    s.form.correction[3].clear();
    s.form.ports[2].name = QStringLiteral("Cold \u03a9");
    EXPECT_FALSE(CheckBoxes(s, false, &error));
    EXPECT_EQ(error, QStringLiteral("The Name of Temperature Sensor Port 3 (\"Cold \u03a9\") has "
                                    "characters the device cannot store."));
    // A calibration writes page 12 alone, so a bad name does not stop it.
    EXPECT_TRUE(CheckBoxes(s, true, &error));
}

TEST_F(PageTransferTest, ZoloPagesAndReadings) {
    PageSession s = NewSession(Window::frmZolo, "127.0.0.2", 1);
    QByteArray p0 = Page(0), p4 = Page(4), r = Readings(10);
    WriteWord(p0, ZoloPage0::Correction(1), -3);
    WriteWord(p0, ZoloPage0::DoorTime(1), 15);
    WriteByte(p4, ZoloPage4::kRelayLogic, 7);
    WriteByte(p4, ZoloPage4::kReminderDelay, 30);
    WriteByte(p4, ZoloPage4::kBuzzer, 2);
    WriteWord(r, 5, 405);    // port 0: 40.5
    WriteWord(r, 10, 9990);  // port 1: open probe
    WriteWord(r, 15, 0);     // door 1 open
    WriteWord(r, 20, 1);     // door 2 closed
    ParseLimits(s, r, kReadingsPage);
    EXPECT_EQ(s.form.ports[0].reading, "40.5");
    EXPECT_EQ(s.form.ports[1].reading, "Sensor Open");
    EXPECT_EQ(s.form.ports[2].reading, "Open");
    EXPECT_EQ(s.form.ports[3].reading, "Closed");
    ParseLimits(s, p0, 0);
    ParseLimits(s, p4, 4);
    EXPECT_EQ(s.form.correction[1], "-0.3");
    EXPECT_EQ(s.form.ports[3].time, "15");
    EXPECT_EQ(s.form.relayLogic, 1);
    EXPECT_EQ(s.form.reminderDelay, "30");
    EXPECT_EQ(s.form.buzzer, 1);  // anything but 1 disables the buzzer

    s.form.buzzer = 0;
    s.form.relayLogic = 1;
    s.form.twoStageDelay = "";
    QByteArray out = p4;
    ASSERT_TRUE(InsertLimits(s, out, 4));
    EXPECT_EQ(out.mid(8, 4).toHex(' '), "01 1e 01 4b");  // byte 12 kept: box empty

    // Without tenths the corrections are not read.
    r[58] = 0;
    ParseLimits(s, r, kReadingsPage);
    s.form.correction[1].clear();
    ParseLimits(s, p0, 0);
    EXPECT_EQ(s.form.correction[1], "");
    EXPECT_EQ(s.form.ports[0].reading, "405.0");
}

TEST_F(PageTransferTest, QX708ReadingsAreShownAsTheyComeAndUnknownPagesChangeNothing) {
    PageSession s = NewSession(Window::frmQX708, "127.0.0.2", 1);
    QByteArray r = Readings(10);
    WriteWord(r, 5, 72);
    WriteWord(r, 10, 45);
    WriteWord(r, 45, 1);  // water
    ParseLimits(s, r, kReadingsPage);
    EXPECT_EQ(s.form.ports[0].reading, "72");
    EXPECT_EQ(s.form.ports[1].reading, "45");
    EXPECT_EQ(s.form.ports[8].reading, "Water Detected");
    const PageForm before = s.form;
    ParseLimits(s, Page(12), 12);
    EXPECT_EQ(s.form.ports[0].lower, before.ports[0].lower);
    QByteArray p9 = Page(9), out = p9;
    EXPECT_TRUE(InsertLimits(s, out, 9));
    EXPECT_EQ(out, p9);
}
