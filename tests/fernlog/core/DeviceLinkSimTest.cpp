// The device link against simulated devices on loopback.
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>

#include "common/EventLog.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "protocol/Commands.h"
#include "support/FernlogFixtures.h"
#include "support/SimDevices.h"

using namespace DeviceLink;
using namespace Protocol;

namespace {
struct RecordingView : LinkView {
    QList<Colour> colours;
    int maximum = -1;
    bool busy = false;
    int busyChanges = 0;
    void SetConnectionColour(Colour c) override { colours << c; }
    void SetBusyCursor(bool b) override {
        busy = b;
        ++busyChanges;
    }
    void SetProgressMaximum(int m) override { maximum = m; }
    void SetProgressValue(int) override {}
    void HideProgress() override {}
    void ShowDownloadProgress(const QString&) override {}
    QString ChosenDeviceName() const override { return QString(); }
};
}  // namespace

class DeviceLinkTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        ConfigParameters.TCPTimeOut = 2;
        devsim::DeviceConfig config = Keeper("127.0.0.2");
        config.port = 0;  // an ephemeral port: no fixed port needed
        device = &devices.Start(config);
        ASSERT_TRUE(device->isListening());
    }
    void TearDown() override {
        devices.clear();
        FernlogTest::TearDown();
    }

    bool Transact(const QByteArray& command, QByteArray& answer, int expected = 60) {
        QByteArray request;
        BuildRequest(request, command);
        timer.start();
        return ReadFromCV("127.0.0.2", device->port(), request, answer, expected);
    }
    qint64 Elapsed() const { return timer.elapsed(); }

    SimDevices devices;
    devsim::Device* device = nullptr;
    QElapsedTimer timer;
};

TEST_F(DeviceLinkTest, IdentifyAndReadingsSucceedAndLeaveClosedConnection) {
    QByteArray answer;
    ASSERT_TRUE(Transact(CmdIdentify(), answer));
    EXPECT_EQ(answer.size(), 60);
    EXPECT_EQ(answer.left(4), CmdIdentify());
    ASSERT_TRUE(Decoding::ParseMessage(CmdIdentify(), answer));
    EXPECT_EQ(Decoding::DeviceFamily, 5);
    EXPECT_EQ(Decoding::FirmwareBuild, 23);

    device->setPortValue(0, 72.5);
    device->setPortMinutes(0, 300);
    ASSERT_TRUE(Transact(CmdReadings(), answer));
    ASSERT_TRUE(Decoding::ParseMessage(CmdReadings(), answer));
    EXPECT_FLOAT_EQ(Decoding::Readings[0], 72.5f);
    EXPECT_FLOAT_EQ(Decoding::Readings[1], 300.0f);
    EXPECT_EQ(StatusList::Lines(), QStringList{"Connection closed"});
    EXPECT_EQ(device->connectionCount(), 2);  // a fresh connection per transaction
}

// Nothing is taken until 60 bytes are there; then everything that arrived.
TEST_F(DeviceLinkTest, SplitAndLongAnswersAreTakenWhole) {
    devsim::FaultSettings split;
    split.fault = devsim::Fault::Split;
    split.pieces = 4;
    split.pauseMs = 100;
    device->setFault(split);
    QByteArray answer;
    EXPECT_TRUE(Transact(CmdReadings(), answer));
    EXPECT_EQ(answer.size(), 60);

    devsim::FaultSettings longer;
    longer.fault = devsim::Fault::Long;
    longer.extraBytes = 60;
    device->setFault(longer);
    EXPECT_TRUE(Transact(CmdIdentify(), answer));
    EXPECT_GE(answer.size(), 60);
    EXPECT_EQ(answer.left(4), CmdIdentify());
}

TEST_F(DeviceLinkTest, ErrorTextWrongEchoAndBusyFailButKeepTheAnswer) {
    QByteArray answer;
    devsim::FaultSettings error;
    error.fault = devsim::Fault::ErrorText;
    error.errorText = "eRrOr";
    device->setFault(error);
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_EQ(answer.size(), 60);

    device->setFault(devsim::Fault::WrongEcho);
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_EQ(answer.size(), 60);

    device->setFault(devsim::Fault::Busy);
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_EQ(answer.left(4), ReplyBusy());

    device->setFault(devsim::Fault::Garbage);
    EXPECT_FALSE(Transact(CmdReadings(), answer));
}

// A short answer is not kept, and costs the answer time-out and no more.
TEST_F(DeviceLinkTest, ShortOrBrokenAnswerTimesOutEmpty) {
    QByteArray answer;
    device->setFault(devsim::Fault::Short);
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_TRUE(answer.isEmpty());
    EXPECT_GE(Elapsed(), 1900);
    EXPECT_LT(Elapsed(), 4000);

    device->setFault(devsim::Fault::CloseMidAnswer);
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_TRUE(answer.isEmpty());
    EXPECT_LT(Elapsed(), 4000);
}

TEST_F(DeviceLinkTest, RefusedConnectionIsReportedAndBounded) {
    device->setFault(devsim::Fault::Refuse);
    QByteArray answer;
    EXPECT_FALSE(Transact(CmdIdentify(), answer));
    EXPECT_TRUE(answer.isEmpty());
    EXPECT_LT(Elapsed(), 1000);  // no answer can come: no connect wait, no answer wait
    EXPECT_EQ(StatusList::Lines(), QStringList{"Connection closed"});

    // Mid-transaction the line showed why.
    QStringList seen;
    StatusList::SetListener([&](const QString& line) { seen << line; });
    Transact(CmdIdentify(), answer);
    StatusList::SetListener({});
    EXPECT_TRUE(seen.contains("Connection could not be established"));
    EXPECT_TRUE(seen.contains(
        QRegularExpression("^Communication ErrorError Number: 10061\\.  Description .+")))
        << seen.join('\n').toStdString();
    EXPECT_FALSE(StatusList::Lines().join("").contains("Communication Error"));
}

TEST_F(DeviceLinkTest, OutOfRangeTimeOutIsUsedAsThreeSeconds) {
    device->setFault(devsim::Fault::Silent);
    RecordingView view;
    SetView(Window::frmMain, &view);
    for (int given : {1, 10}) {
        ConfigParameters.TCPTimeOut = static_cast<qint16>(given);
        QByteArray answer;
        EXPECT_FALSE(Transact(CmdReadings(), answer));
        EXPECT_EQ(ConfigParameters.TCPTimeOut, 3);
        EXPECT_EQ(view.maximum, 30);  // the progress bar counts tenths of the wait
        EXPECT_GE(Elapsed(), 2900);
        EXPECT_LT(Elapsed(), 5000);
    }
    SetView(Window::frmMain, nullptr);
    EXPECT_EQ(view.colours.first(), Colour::Green);
    EXPECT_EQ(view.colours.last(), Colour::LightGrey);
    EXPECT_FALSE(view.busy);
}

// Tests shorten the answer wait; the settings' rule stays as it was.
TEST_F(DeviceLinkTest, ShortenedAnswerWaitEndsASilentExchangeSoon) {
    device->setFault(devsim::Fault::Silent);
    Timings quick;
    quick.answerMs = 300;
    Waits::SetForTest(quick);
    ConfigParameters.TCPTimeOut = 10;
    QByteArray answer;
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_GE(Elapsed(), 300);
    EXPECT_LT(Elapsed(), 1500);
    EXPECT_EQ(ConfigParameters.TCPTimeOut, 3);
}

TEST_F(DeviceLinkTest, LogDownloadIsAcceptedOnLengthAlone) {
    if (!device->hasLog()) GTEST_SKIP() << "simulated model keeps no log";
    for (int i = 0; i < 5; ++i) device->appendLogRecord();
    QByteArray answer;
    EXPECT_TRUE(Transact(CmdReadLog(), answer, device->logSize()));
    EXPECT_EQ(answer.size(), device->logSize());
    EXPECT_NE(answer.left(4), CmdReadLog());
}

// A device that sends without end is read up to a bound, not kept whole.
TEST_F(DeviceLinkTest, HugeAnswerIsBounded) {
    devsim::FaultSettings huge;
    huge.fault = devsim::Fault::Huge;
    huge.hugeBytes = 1 << 20;
    device->setFault(huge);
    QByteArray answer;
    Transact(CmdReadings(), answer);
    EXPECT_GE(answer.size(), 60);
    EXPECT_LE(answer.size(), 60 + 64 * 1024 + 60);
    device->clearFault();
    EXPECT_TRUE(Transact(CmdReadings(), answer));  // the next transaction starts clean
    EXPECT_EQ(answer.size(), 60);
}

TEST_F(DeviceLinkTest, ShutdownEndsTheWaitAndRefusesNestedTransactions) {
    device->setFault(devsim::Fault::Silent);
    bool nested = true;
    QTimer::singleShot(200, [&] {
        QByteArray inner;
        QByteArray request;
        BuildRequest(request, CmdIdentify());
        nested = ReadFromCV("127.0.0.2", device->port(), request, inner, 60);
    });
    QTimer::singleShot(400, [] { ProgramRunning = false; });
    QByteArray answer;
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_LT(Elapsed(), 1500);
    EXPECT_FALSE(nested);

    // The stop also halts the timers that wake a wait; the wait still ends.
    ProgramRunning = true;
    QTimer::singleShot(300, [] {
        ProgramRunning = false;
        StopWatchDog();
    });
    EXPECT_FALSE(Transact(CmdReadings(), answer));
    EXPECT_LT(Elapsed(), 1500);
    EXPECT_EQ(Rows("SELECT myFunction, Cause FROM tblErrors"),
              QStringList{"Error in ReadFromCV is |Another transaction is in progress."});
}

// A stored address with a leading zero means 127.0.0.2 to Qt (octal 002)
// but is refused by the suite's rule: the device there hears nothing, the
// status list says why, the error and service logs say it once.
TEST_F(DeviceLinkTest, AStoredAddressWithALeadingZeroReachesNoDevice) {
    QStringList logged;
    EventLog::SetSink([&](const QString& line) { logged << line; });
    QByteArray request, answer;
    BuildRequest(request, CmdIdentify());
    for (int cycle = 0; cycle < 2; ++cycle)
        EXPECT_FALSE(ReadFromCV("127.0.0.002", device->port(), request, answer, 60));
    EXPECT_EQ(device->connectionCount(), 0);
    const QString why = QStringLiteral(
        "'127.0.0.002' is not a valid IP address: the number 002 has a leading zero, which "
        "other programs read as an octal number.  Please write it without leading zeros.");
    EXPECT_TRUE(
        StatusList::Lines().contains(QStringLiteral("Address 127.0.0.002: not used.  ") + why))
        << StatusList::Lines().join('\n').toStdString();
    EXPECT_EQ(Rows("SELECT myFunction, Cause FROM tblErrors"),
              QStringList{QStringLiteral("OpenWinSocket()|") + why});
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].endsWith(QStringLiteral("OpenWinSocket(): ") + why))
        << logged[0].toStdString();
    EventLog::SetSink({});
}

TEST_F(DeviceLinkTest, InvalidAddressIsRecordedWithoutLookup) {
    QByteArray request, answer;
    BuildRequest(request, CmdIdentify());
    ConfigParameters.TCPTimeOut = 2;
    EXPECT_FALSE(ReadFromCV("not-an-address", 10001, request, answer, 60));
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors"), QStringList{"OpenWinSocket()"});
}
