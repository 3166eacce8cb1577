// Downloads and uploads against simulated devices: per model a round trip
// that changes every kind of field and compares the device's page memory
// byte for byte with the expected image (built with the simulator's own
// byte helpers, not the protocol library), then busy, failing and refused
// transfers, and the calibration against a device that applies it.
#include <QHostAddress>
#include <array>
#include <memory>

#include "core/Settings.h"
#include "pages/Calibration.h"
#include "pages/PageTransfer.h"
#include "support/FernlogFixtures.h"
#include "support/SimDevices.h"

using namespace Pages;
using devsim::putText;
using devsim::putWord;

namespace {
using Memory = std::array<QByteArray, devsim::kPageCount>;

QByteArray Head(const char* hex, int page) {
    return QByteArray::fromHex(hex) + char(page);
}
QByteArray Read(int page) {
    return Head("AABBCC", page);
}
QByteArray Write(int page) {
    return Head("DDCCBB", page);
}
}  // namespace

class PageTransferSimTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        ConfigParameters.TCPTimeOut = 2;
        CalibrationWaitMs = 10;
    }
    void TearDown() override {
        devices.clear();
        FernlogTest::TearDown();
    }

    PageSession Start(Window window, devsim::Model model, std::optional<quint16> build = {}) {
        devsim::DeviceConfig config;
        config.address = QHostAddress(QStringLiteral("127.0.0.2"));
        config.model = model;
        config.build = build;
        config.port = 0;
        device = &devices.Start(config);
        PageSession s = NewSession(window, "127.0.0.2", 7);
        s.port = device->port();
        return s;
    }
    Memory Pages() const {
        Memory m;
        for (int n = 0; n < devsim::kPageCount; ++n) m[size_t(n)] = device->page(n);
        return m;
    }
    void ExpectMemory(const Memory& expected) const {
        for (int n = 0; n < devsim::kPageCount; ++n)
            EXPECT_EQ(device->page(n).toHex(' '), expected[size_t(n)].toHex(' ')) << "page " << n;
    }
    int Writes() const {
        int count = 0;
        for (int n = 0; n < devsim::kPageCount; ++n) count += device->requestCount(Write(n));
        return count;
    }
    void Fault(devsim::Fault fault, const QByteArray& command, int count = -1) {
        devsim::FaultSettings f;
        f.fault = fault;
        f.onlyCommand = command;
        f.count = count;
        device->setFault(f);
    }
    QStringList SensorRows() const {
        return Rows(
            "SELECT PortNum, SensorName, SensorNotes, SensorType FROM tblSensors"
            " WHERE ServerIDNum = 7 ORDER BY PortNum");
    }

    SimDevices devices;
    devsim::Device* device = nullptr;
};

TEST_F(PageTransferSimTest, QX705RoundTripChangesOnlyItsFields) {
    PageSession s = Start(Window::frmQX705, devsim::Model::QX700_5);  // build 24, tenths
    device->setPortValue(0, 39.5);
    ASSERT_TRUE(GetLimits(s));
    const PageForm& f = s.form;
    EXPECT_EQ(f.ports[0].name, "Temperature 1");
    EXPECT_EQ(f.ports[0].lower, "32.0");
    EXPECT_EQ(f.ports[0].upper, "90.0");
    EXPECT_EQ(f.ports[0].time, "5");
    EXPECT_EQ(f.ports[0].reading, "39.5");
    EXPECT_EQ(f.ports[8].time, "5");
    EXPECT_EQ(f.ports[9].reading, "Closed");
    EXPECT_EQ(f.correction[0], "0.0");
    EXPECT_EQ(f.erroneousBits, "8");
    EXPECT_EQ(f.erroneousCount, "3");
    EXPECT_EQ(f.relayLogic, 0);
    EXPECT_TRUE(f.relayOptionsEnabled);
    EXPECT_FALSE(f.rev23Visible);  // build 24
    EXPECT_EQ(f.status, QStringList{"Download complete"});

    Memory expected = Pages();
    s.form.ports[0].lower = "-10.5";
    putWord(expected[0], 9, -105);
    s.form.ports[0].upper = "3.45";  // 34.5 tenths: to even
    putWord(expected[0], 11, 34);
    s.form.ports[1].lower.clear();  // kept
    s.form.ports[2].time = "7";
    putWord(expected[0], 25, 7);
    s.form.ports[3].name.clear();
    putText(expected[4], 29, 20, "");
    s.form.ports[4].name = "Freezer/Back";
    putText(expected[5], 9, 20, "Freezer/Back");
    s.form.ports[9].name = "A door with a very long name";
    putText(expected[7], 29, 20, "A door with a very l");
    s.form.ports[8].time = "12";
    putWord(expected[1], 9, 12);
    s.form.relayLogic = 1;
    expected[0][56] = 1;
    s.form.correction[0] = "-.3";
    putWord(expected[12], 9, -3);
    s.form.erroneousBits = "200";
    expected[12][24] = char(200);
    s.form.ports[0].notes = "Check daily";

    ASSERT_TRUE(SaveLimits(s));
    ExpectMemory(expected);
    EXPECT_EQ(s.form.status.last(), "Upload complete");
    EXPECT_EQ(Writes(), 8);
    EXPECT_EQ(device->lastRequest().left(4), Write(7));
    EXPECT_EQ(device->lastRequest().size(), 60);

    const QStringList rows = SensorRows();
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows[0], "0|Temperature 1|Check daily|Temperature Sensor Port 1");
    EXPECT_EQ(rows[3], "3|||Temperature Sensor Port 4");
    EXPECT_EQ(rows[9], "9|A door with a very l||Door Sensor 2");

    // The next download shows the notes again, except for the unnamed port.
    ASSERT_TRUE(GetLimits(s));
    EXPECT_EQ(s.form.ports[0].notes, "Check daily");
    EXPECT_EQ(s.form.ports[3].lower, "");
}

TEST_F(PageTransferSimTest, QX708AndQX720RoundTrips) {
    {
        PageSession s = Start(Window::frmQX708, devsim::Model::QX700_8);
        ASSERT_TRUE(GetLimits(s));
        EXPECT_EQ(s.form.ports[1].lower, "20");
        EXPECT_EQ(s.form.ports[8].name, "Water Sensor");
        EXPECT_EQ(s.form.ports[8].reading, "Water Not Detected");
        EXPECT_TRUE(s.form.status.isEmpty());
        Memory expected = Pages();
        s.form.ports[1].upper = "85";
        putWord(expected[0], 17, 85);
        s.form.ports[7].time = "2.5";  // halves to even
        putWord(expected[0], 13 + 42, 2);
        s.form.ports[8].time = "3";
        putWord(expected[1], 9, 3);
        s.form.ports[8].name = "Floor";
        putText(expected[7], 9, 20, "Floor");
        ASSERT_TRUE(SaveLimits(s));
        ExpectMemory(expected);
        EXPECT_EQ(Writes(), 7);
        EXPECT_TRUE(s.form.status.isEmpty());
        EXPECT_EQ(SensorRows().size(), 9);
    }
    {
        PageSession s = Start(Window::frmQX720, devsim::Model::QX720);
        ASSERT_TRUE(GetLimits(s));
        EXPECT_EQ(s.form.ports[4].name, "Dry Contact");
        EXPECT_EQ(s.form.ports[4].lower, "");  // no page fills it
        Memory expected = Pages();
        s.form.ports[4].name = "Alarm panel";
        putText(expected[7], 9, 20, "Alarm panel");
        s.form.ports[4].time = "1";
        putWord(expected[1], 9, 1);
        s.form.ports[4].lower = "99";  // the box exists, nothing writes it
        s.form.ports[3].lower = "-40";
        putWord(expected[0], 27, -40);
        ASSERT_TRUE(SaveLimits(s));
        ExpectMemory(expected);
        EXPECT_EQ(device->requestCount(Write(5)) + device->requestCount(Write(6)), 0);
        EXPECT_EQ(Writes(), 5);
        EXPECT_EQ(s.form.status.last(), "Upload complete");
    }
}

TEST_F(PageTransferSimTest, QX740RoundTripWithPowerPorts) {
    PageSession s = Start(Window::frmQX740, devsim::Model::QX740);
    ASSERT_TRUE(GetLimits(s));
    EXPECT_EQ(s.form.normalState[0], 0);
    EXPECT_EQ(s.form.ports[5].time, "5");
    EXPECT_EQ(s.form.ports[5].reading, "Power On");
    Memory expected = Pages();
    s.form.normalState[1] = 1;
    putWord(expected[0], 39, 1);
    s.form.ports[5].time = "9";
    putWord(expected[0], 43, 9);
    s.form.ports[8].time = "4";
    putWord(expected[1], 9, 4);
    s.form.ports[8].name = "Smoke";
    putText(expected[7], 9, 20, "Smoke");
    ASSERT_TRUE(SaveLimits(s));
    ExpectMemory(expected);
    EXPECT_EQ(Writes(), 7);
}

TEST_F(PageTransferSimTest, ZoloRoundTripReadsEachPageAfresh) {
    PageSession s = Start(Window::frmZolo, devsim::Model::Zolo605);  // tenths
    device->setPortValue(1, -4.5);
    ASSERT_TRUE(GetLimits(s));
    EXPECT_TRUE(s.form.alarmConfigurationVisible);
    EXPECT_EQ(s.form.ports[0].lower, "32.0");
    EXPECT_EQ(s.form.ports[1].reading, "-4.5");
    EXPECT_EQ(s.form.ports[2].reading, "Closed");
    EXPECT_EQ(s.form.correction[0], "0.0");
    EXPECT_EQ(s.form.reminderDelay, "30");
    EXPECT_EQ(s.form.buzzer, 0);

    // Changed on the device after the download: the upload keeps it.
    QByteArray p0 = device->page(0);
    putWord(p0, 21, 44);
    device->setPage(0, p0);
    Memory expected = Pages();
    s.form.ports[1].upper = "41.5";
    putWord(expected[0], 17, 415);
    s.form.ports[3].time.clear();
    s.form.correction[1] = "1.2";
    putWord(expected[0], 27, 12);
    s.form.ports[2].name = "Back door";
    putText(expected[3], 9, 20, "Back door");
    s.form.buzzer = 1;
    expected[4][10] = 0;
    s.form.twoStageDelay = "10";
    expected[4][11] = 10;
    s.form.ports[2].time.clear();  // keeps the 44 written meanwhile
    ASSERT_TRUE(SaveLimits(s));
    ExpectMemory(expected);
    EXPECT_EQ(Writes(), 4);
    EXPECT_EQ(SensorRows().size(), 4);
}

TEST_F(PageTransferSimTest, ZoloWithoutAlarmOptionsNeverTouchesPageFour) {
    PageSession s = Start(Window::frmZolo, devsim::Model::Zolo604);
    ASSERT_TRUE(GetLimits(s));
    EXPECT_FALSE(s.form.alarmConfigurationVisible);
    EXPECT_EQ(device->requestCount(Read(4)), 0);
    const Memory before = Pages();
    s.form.relayLogic = 1;
    s.form.reminderDelay = "1";
    ASSERT_TRUE(SaveLimits(s));
    EXPECT_EQ(device->requestCount(Read(4)) + device->requestCount(Write(4)), 0);
    EXPECT_EQ(device->page(4), before[4]);

    // A page 4 that cannot be read on upload keeps its alarm options.
    PageSession z = Start(Window::frmZolo, devsim::Model::Zolo605);
    ASSERT_TRUE(GetLimits(z));
    const QByteArray page4 = device->page(4);
    z.form.reminderDelay = "99";
    Fault(devsim::Fault::Short, Read(4));
    EXPECT_FALSE(SaveLimits(z));
    EXPECT_EQ(device->page(4), page4);
    EXPECT_EQ(device->requestCount(Write(4)), 0);
    EXPECT_TRUE(z.form.status.contains("Failed to retreive alarm parameters"));
    EXPECT_EQ(z.form.status.last(), "Upload incomplete: page 4 was not written.");
    EXPECT_EQ(device->requestCount(Write(0)), 1);  // the rest went on
}

TEST_F(PageTransferSimTest, BusyOnTheFirstNamePageStopsBeforeTheLimits) {
    const std::pair<Window, devsim::Model> models[] = {
        {Window::frmQX705, devsim::Model::QX700_5},
        {Window::frmQX708, devsim::Model::QX700_8},
        {Window::frmQX720, devsim::Model::QX720},
        {Window::frmQX740, devsim::Model::QX740},
    };
    for (const auto& [window, model] : models) {
        PageSession s = Start(window, model);
        Fault(devsim::Fault::Busy, Read(3));
        EXPECT_FALSE(GetLimits(s)) << WindowName(window).toStdString();
        EXPECT_EQ(s.form.status, QStringList{BusyMessage(window)});
        EXPECT_EQ(device->requestCount(Read(0)), 0);
    }
    EXPECT_EQ(BusyMessage(Window::frmQX705),
              "This device is currently on the phone.  Please wait and try again later.");
    EXPECT_EQ(BusyMessage(Window::frmQX740),
              "This server is currently on the phone.  Please wait and try again later.");
}

TEST_F(PageTransferSimTest, BusyOnTheLimitsPageStopsTheUpload) {
    PageSession s = Start(Window::frmQX720, devsim::Model::QX720);
    ASSERT_TRUE(GetLimits(s));
    const Memory before = Pages();
    s.form.ports[0].name = "Changed";
    Fault(devsim::Fault::Busy, Write(0));
    EXPECT_FALSE(SaveLimits(s));
    EXPECT_EQ(s.form.status.last(), BusyMessage(Window::frmQX720));
    EXPECT_EQ(Writes(), 1);
    ExpectMemory(before);
    EXPECT_TRUE(SensorRows().isEmpty());
}

TEST_F(PageTransferSimTest, APageThatFailsIsReportedAndThePartialUploadIsNoSuccess) {
    PageSession s = Start(Window::frmQX708, devsim::Model::QX700_8);
    // Page 5 arrives short on the download: it is never written back.
    Fault(devsim::Fault::Short, Read(5), 1);
    ASSERT_TRUE(GetLimits(s));
    EXPECT_EQ(s.form.status, QStringList{"Failed to download page 5 sensor names"});
    EXPECT_EQ(s.form.ports[4].name, "");

    Memory expected = Pages();
    s.form.ports[0].name = "Zone one";
    putText(expected[3], 9, 20, "Zone one");
    s.form.ports[2].name = "Zone two";  // page 4 will be refused
    s.form.ports[2].notes = "not stored";
    s.form.ports[6].name = "Zone four";
    putText(expected[6], 9, 20, "Zone four");
    Fault(devsim::Fault::Busy, Write(4));
    EXPECT_FALSE(SaveLimits(s));
    ExpectMemory(expected);
    EXPECT_EQ(device->requestCount(Write(5)), 0);
    EXPECT_TRUE(s.form.status.contains("Page 5 was not downloaded, so it was not written"));
    EXPECT_TRUE(s.form.status.contains("Failed to upload the sensor names"));
    EXPECT_EQ(s.form.status.last(), "Upload incomplete: pages 4, 5 were not written.");
    // Only the ports whose names reached the device are stored.
    const QStringList rows = SensorRows();
    EXPECT_EQ(rows.size(), 5);
    EXPECT_TRUE(rows.filter("Zone two").isEmpty());
    EXPECT_EQ(rows.filter("Zone four").size(), 1);
}

TEST_F(PageTransferSimTest, DevicesThatMisbehaveNeverHaveTheirPagesOverwritten) {
    // (Silent and half-answering devices end in the link's time-out like
    // a refused connection does, tested with the link.)
    const devsim::Fault faults[] = {devsim::Fault::Garbage, devsim::Fault::WrongEcho,
                                    devsim::Fault::Refuse};
    for (devsim::Fault fault : faults) {
        PageSession s = Start(Window::frmQX705, devsim::Model::QX700_5);
        device->setFault(fault);
        EXPECT_FALSE(GetLimits(s)) << devsim::faultName(fault).toStdString();
        EXPECT_TRUE(s.form.status.contains("Failed to download temperature limits"));
        device->clearFault();
        const Memory before = Pages();
        // Nothing was downloaded, so nothing is written back (page 12 too:
        // the device did not say that its firmware has none).
        s.form.ports[0].name = "Anything";
        EXPECT_FALSE(SaveLimits(s));
        EXPECT_EQ(Writes(), 0);
        ExpectMemory(before);
        EXPECT_EQ(s.form.status.last(),
                  "Upload incomplete: pages 12, 0, 1, 3, 4, 5, 6, 7 were not written.");
    }
}

TEST_F(PageTransferSimTest, RefusedBoxesSendNothing) {
    PageSession s = Start(Window::frmQX705, devsim::Model::QX700_5);
    ASSERT_TRUE(GetLimits(s));
    DialogScript dialogs;
    s.form.ports[7].name = "ok";
    s.form.ports[5].upper = "-";
    EXPECT_FALSE(SaveLimits(s));
    EXPECT_EQ(dialogs.Texts(),
              QStringList{"The Upper Limit of Temperature Sensor Port 6 (\"-\") is not a number."});
    EXPECT_EQ(Writes(), 0);
    EXPECT_TRUE(SensorRows().isEmpty());
}

TEST_F(PageTransferSimTest, QX705OldFirmwareHasNoCorrectionPage) {
    PageSession s = Start(Window::frmQX705, devsim::Model::QX700_5, 22);
    ASSERT_TRUE(GetLimits(s));
    EXPECT_FALSE(s.form.calibrationAllowed);
    EXPECT_FALSE(s.form.relayOptionsEnabled);
    EXPECT_EQ(device->requestCount(Read(12)), 0);
    EXPECT_EQ(s.form.ports[0].lower, "32");  // no tenths before build 23
    ASSERT_TRUE(SaveLimits(s));
    EXPECT_EQ(device->requestCount(Write(12)), 0);
    EXPECT_EQ(s.form.status.last(), "Upload complete");
}

TEST_F(PageTransferSimTest, QX705CalibrationWritesPageTwelveAloneAndReadsTheDeviceAgain) {
    PageSession s = Start(Window::frmQX705, devsim::Model::QX700_5);
    QByteArray p12 = device->page(12);
    putWord(p12, 9, 5);  // 0.5 stored
    device->setPage(12, p12);
    device->setPortValue(0, 3.5);  // the device shows 4.0
    ASSERT_TRUE(GetLimits(s));
    ASSERT_EQ(s.form.ports[0].reading, "4.0");
    ASSERT_EQ(s.form.correction[0], "0.5");
    Memory expected = Pages();

    DialogScript dialogs;
    s.form.actualTemp[0] = "3.2";
    s.form.ports[1].name = "not sent by a calibration";
    ASSERT_TRUE(StoreCalFactors(s));
    putWord(expected[12], 9, -3);
    ExpectMemory(expected);
    EXPECT_EQ(Writes(), 1);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text, "Upload calibration factors?");
    EXPECT_EQ(dialogs.Shown()[0].title, "Upload Calibration Factors");
    EXPECT_EQ(dialogs.Shown()[0].buttons, Dialogs::Buttons::OkCancel);
    EXPECT_EQ(dialogs.Shown()[0].icon, Dialogs::Icon::Question);
    // Read again: the corrected reading and the stored correction.
    EXPECT_EQ(s.form.ports[0].reading, "3.2");
    EXPECT_EQ(s.form.correction[0], "-0.3");
    EXPECT_EQ(s.form.ports[1].name, "Temperature 2");

    // Reset: eight zeros, the erroneous-reading values as in their boxes.
    s.form.erroneousCount = "4";
    ASSERT_TRUE(ResetCalFactors(s));
    putWord(expected[12], 9, 0);
    expected[12][25] = 4;
    ExpectMemory(expected);
    EXPECT_EQ(dialogs.Shown().back().text, "Reset all calibration factors to zero?");
    EXPECT_EQ(dialogs.Shown().back().title, "Reset Cal Factors");

    // Cancel sends nothing; OK with no actual temperature sends what is there.
    const int writes = Writes();
    dialogs.Answer(Dialogs::Answer::Cancel);
    EXPECT_FALSE(StoreCalFactors(s));
    EXPECT_EQ(Writes(), writes);
    ASSERT_TRUE(StoreCalFactors(s));
    EXPECT_EQ(Writes(), writes + 1);
    ExpectMemory(expected);
}

TEST_F(PageTransferSimTest, ZoloCalibration) {
    PageSession s = Start(Window::frmZolo, devsim::Model::Zolo605);
    device->setPortValue(0, 40.0);
    ASSERT_TRUE(GetLimits(s));
    DialogScript dialogs;
    EXPECT_FALSE(StoreCalFactors(s));
    EXPECT_EQ(dialogs.Texts(), QStringList{"Please enter the actual temperature"});
    EXPECT_EQ(Writes(), 0);

    Memory expected = Pages();
    s.form.actualTemp[0] = "41.2";
    s.form.actualTemp[1] = "-";  // not a number: that port keeps its correction
    s.form.ports[0].name = "not sent by a calibration";
    ASSERT_TRUE(StoreCalFactors(s));
    EXPECT_EQ(dialogs.Shown().back().text, "Upload Calibration Factors?");
    EXPECT_EQ(s.form.correction[0], "1.2");
    putWord(expected[0], 25, 12);
    ExpectMemory(expected);
    EXPECT_EQ(device->requestCount(Write(0)) + device->requestCount(Write(4)), 2);
    EXPECT_EQ(Writes(), 2);

    ASSERT_TRUE(GetLimits(s));
    EXPECT_EQ(s.form.ports[0].reading, "41.2");
    ASSERT_TRUE(ResetCalFactors(s));
    EXPECT_EQ(dialogs.Shown().back().text, "Reset both calibration factors to zero?");
    EXPECT_EQ(s.form.ports[0].reading, "40.0");
    EXPECT_EQ(s.form.correction[0], "0.0");

    // A failed correction upload leaves the computed values in the boxes.
    s.form.actualTemp[0] = "39";
    Fault(devsim::Fault::Busy, Write(0));
    EXPECT_FALSE(StoreCalFactors(s));
    EXPECT_EQ(s.form.correction[0], "-1.0");
    EXPECT_TRUE(s.form.status.contains("Failed to upload limits"));
}
