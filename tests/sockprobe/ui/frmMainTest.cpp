// The sockprobe window, driven as a user would, with the client sending to
// the loopback address. Every wait is bounded.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHostAddress>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <memory>

#include "common/Dialogs.h"
#include "sockprobe/PortCheck.h"
#include "sockprobe/ui/frmMain.h"
#include "support/FixedPorts.h"

namespace {

const QString kText = QStringLiteral("This message brought to you by Corvane.");
const QString kTcpListening = QStringLiteral("Listening on Port 10001 using the TCP protocol.");
const QString kUdpListening = QStringLiteral("Listening on Port 30718 using the UDP protocol.");
const QString kConnecting =
    QStringLiteral("Attempting to connect to server at IP address:  127.0.0.1");
const QString kNoConnect =
    QStringLiteral("Will not attempt connecting to server.  Listener not ready");
const QString kNoSend = QStringLiteral("Will not send test data.  Listener not ready");
constexpr int kWaitMs = 10000;

class SockprobeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The check binds both ports on every address.
        const auto everywhere = QHostAddress::parseSubnet(QStringLiteral("0.0.0.0/0"));
        SKIP_IF_PORTS_HELD({FixedPorts::Protocol::Tcp, 10001, everywhere},
                           {FixedPorts::Protocol::Udp, 30718, everywhere});
        Dialogs::SetHandler([this](const Dialogs::Request& request) {
            messages_ << request.text;
            return Dialogs::Reply{};
        });
        window_ = std::make_unique<frmMain>();
        Action("mnuLoopbackIP")->trigger();
    }

    void TearDown() override {
        window_.reset();
        Dialogs::SetHandler({});
    }

    QAction* Action(const char* name) {
        auto* action = window_->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(action, nullptr) << name;
        return action;
    }

    QStringList Lines() const {
        auto* list = window_->findChild<QListWidget*>(QStringLiteral("lstOutput"));
        QStringList lines;
        for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
        return lines;
    }

    void StartTest() {
        auto* button = window_->findChild<QPushButton*>(QStringLiteral("cmdStart"));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Waits until `count` lines read "Success!".
    bool WaitForSuccesses(int count) {
        return QTest::qWaitFor([&] { return Lines().count(QStringLiteral("Success!")) >= count; },
                               kWaitMs);
    }

    std::unique_ptr<frmMain> window_;
    QStringList messages_;
};

// One protocol's lines of a good run: the listening and connecting lines
// first, then the socket events in the order they arrive, with the received
// count, the text and "Success!" together.
void ExpectExchange(const QStringList& lines, const QString& listening, bool tcp) {
    SCOPED_TRACE(lines.join(QLatin1Char('\n')).toStdString());
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], listening);
    EXPECT_EQ(lines[1], kConnecting);
    QStringList expected = {QStringLiteral("Sending test data."), QStringLiteral("Test data sent."),
                            QStringLiteral("Received 39 bytes."), kText,
                            QStringLiteral("Success!")};
    if (tcp) {
        expected << QStringLiteral("Connection request received.")
                 << QStringLiteral("Connection request accepted.");
    }
    QStringList events = lines.mid(2);
    events.sort();
    expected.sort();
    EXPECT_EQ(events, expected);
    const qsizetype received = lines.indexOf(QStringLiteral("Received 39 bytes."));
    ASSERT_GE(received, 0);
    EXPECT_EQ(lines.mid(received, 3), (QStringList{lines[received], kText, "Success!"}));
    if (tcp) {
        EXPECT_LT(lines.indexOf(QStringLiteral("Connection request received.")),
                  lines.indexOf(QStringLiteral("Connection request accepted.")));
    }
}

TEST_F(SockprobeTest, StartsWithLocalIpChosenAndTheChoicesExcludeEachOther) {
    frmMain fresh;
    auto* local = fresh.findChild<QAction*>(QStringLiteral("mnuLocalIP"));
    auto* loopback = fresh.findChild<QAction*>(QStringLiteral("mnuLoopbackIP"));
    ASSERT_TRUE(local && loopback);
    EXPECT_TRUE(local->isChecked());
    EXPECT_FALSE(loopback->isChecked());
    loopback->trigger();
    EXPECT_FALSE(local->isChecked());
    EXPECT_TRUE(loopback->isChecked());
}

TEST_F(SockprobeTest, FullRunSendsTheTextOverTcpThenUdp) {
    StartTest();
    ASSERT_TRUE(WaitForSuccesses(2)) << Lines().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Check().Running(); }, kWaitMs));
    const QStringList lines = Lines();
    const qsizetype udp = lines.indexOf(kUdpListening);
    ASSERT_GT(udp, 0);
    ExpectExchange(lines.mid(0, udp), kTcpListening, true);
    ExpectExchange(lines.mid(udp, lines.size() - udp - 1), kUdpListening, false);
    EXPECT_EQ(lines.last(), "Result: TCP port 10001 passed, UDP port 30718 passed.");
    EXPECT_TRUE(messages_.isEmpty());

    // Both ports are free again once the run is over.
    QTcpServer tcp;
    EXPECT_TRUE(tcp.listen(QHostAddress::AnyIPv4, 10001));
    QUdpSocket udpSocket;
    EXPECT_TRUE(udpSocket.bind(QHostAddress::AnyIPv4, 30718));
    tcp.close();
    udpSocket.close();

    // A second run starts from an empty list and fresh sockets.
    StartTest();
    ASSERT_TRUE(WaitForSuccesses(2));
    EXPECT_EQ(Lines().size(), lines.size());
    EXPECT_EQ(Lines().first(), kTcpListening);
}

TEST_F(SockprobeTest, HeldTcpPortFailsTheTcpRunOnlyAndANextRunStartsClean) {
    auto blocker = std::make_unique<QTcpServer>();
    ASSERT_TRUE(blocker->listen(QHostAddress::AnyIPv4, 10001));

    StartTest();
    ASSERT_TRUE(WaitForSuccesses(1)) << Lines().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Check().Running(); }, kWaitMs));
    QStringList lines = Lines();
    ASSERT_GE(lines.size(), 4);
    const QString failure =
        QStringLiteral("Error activating listener with the TCP protocol.  The error is ");
    EXPECT_TRUE(lines[0].startsWith(failure)) << lines[0].toStdString();
    EXPECT_GT(lines[0].size(), failure.size()) << "no description";
    EXPECT_EQ(lines[1], kNoConnect);
    EXPECT_EQ(lines[2], kNoSend);
    ExpectExchange(lines.mid(3, lines.size() - 4), kUdpListening, false);
    // The list does not end on the UDP run's "Success!" as if all had passed.
    EXPECT_EQ(lines.last(), "Result: TCP port 10001 failed, UDP port 30718 passed.");

    blocker.reset();
    StartTest();
    ASSERT_TRUE(WaitForSuccesses(2)) << Lines().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Check().Running(); }, kWaitMs));
    lines = Lines();
    const qsizetype udp = lines.indexOf(kUdpListening);
    ASSERT_GT(udp, 0);
    ExpectExchange(lines.mid(0, udp), kTcpListening, true);
    EXPECT_TRUE(messages_.isEmpty());
}

// A program that holds the UDP port while allowing others to share it must
// still make the listener fail, or the datagram could go to that program.
// The failure is not followed by a claim to be listening.
TEST_F(SockprobeTest, HeldUdpPortFailsTheUdpRun) {
    QUdpSocket blocker;
    ASSERT_TRUE(blocker.bind(QHostAddress::AnyIPv4, 30718,
                             QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));

    StartTest();
    ASSERT_TRUE(WaitForSuccesses(1)) << Lines().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Check().Running(); }, kWaitMs));
    // Let any stray datagram arrive before looking.
    QTest::qWait(100);
    const QStringList lines = Lines();
    const QString failure =
        QStringLiteral("Error initializing network socket for UDP.  The error is ");
    const qsizetype udp = lines.indexOf(QRegularExpression(
        QStringLiteral("^") + QRegularExpression::escape(failure) + QStringLiteral(".+")));
    ASSERT_GT(udp, 0) << lines.join(QLatin1Char('\n')).toStdString();
    ExpectExchange(lines.mid(0, udp), kTcpListening, true);
    EXPECT_EQ(lines.mid(udp + 1),
              (QStringList{kNoConnect, kNoSend,
                           "Result: TCP port 10001 passed, UDP port 30718 failed."}));
    EXPECT_FALSE(blocker.hasPendingDatagrams());
}

TEST_F(SockprobeTest, StartIsRefusedWhileARunIsGoing) {
    auto* button = window_->findChild<QPushButton*>(QStringLiteral("cmdStart"));
    bool enabledDuringRun = true;
    QObject::connect(&window_->Check(), &Sockprobe::PortCheck::LineAdded, window_.get(),
                     [&](const QString& line) {
                         if (line != kConnecting) return;
                         enabledDuringRun = enabledDuringRun && button->isEnabled();
                         window_->Check().Run(false);
                     });
    StartTest();
    ASSERT_TRUE(WaitForSuccesses(2)) << Lines().join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Check().Running(); }, kWaitMs));
    EXPECT_FALSE(enabledDuringRun);
    EXPECT_TRUE(button->isEnabled());
    const QStringList lines = Lines();
    const qsizetype udp = lines.indexOf(kUdpListening);
    ASSERT_GT(udp, 0);
    ExpectExchange(lines.mid(0, udp), kTcpListening, true);
    ExpectExchange(lines.mid(udp, lines.size() - udp - 1), kUdpListening, false);
}

// Closing the window in the middle of a run ends the run and frees both
// ports at once.
TEST_F(SockprobeTest, ClosingDuringARunStopsItAndFreesThePorts) {
    QObject::connect(&window_->Check(), &Sockprobe::PortCheck::LineAdded, window_.get(),
                     [&](const QString& line) {
                         if (line == kConnecting) window_->close();
                     });
    StartTest();
    EXPECT_EQ(Lines(), (QStringList{kTcpListening, kConnecting}));
    QTcpServer tcp;
    EXPECT_TRUE(tcp.listen(QHostAddress::AnyIPv4, 10001)) << tcp.errorString().toStdString();
    QUdpSocket udp;
    EXPECT_TRUE(udp.bind(QHostAddress::AnyIPv4, 30718, QAbstractSocket::DontShareAddress));
    QTest::qWait(100);
    EXPECT_EQ(Lines().size(), 2);
}

// A foreign text that reaches the listener is shown with a message box and
// is no success.
TEST_F(SockprobeTest, DifferentTextIsReportedInAMessageBox) {
    QUdpSocket sender;
    QObject::connect(&window_->Check(), &Sockprobe::PortCheck::LineAdded, window_.get(),
                     [&](const QString& line) {
                         if (line != kUdpListening) return;
                         sender.writeDatagram(QByteArray("Wrong text"), QHostAddress::LocalHost,
                                              30718);
                     });
    StartTest();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages_.isEmpty(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Check().Running(); }, kWaitMs));
    EXPECT_EQ(messages_, QStringList{QStringLiteral(
                             "Wrong text is not the same as This message brought to you by "
                             "Corvane.")});
    const QStringList lines = Lines();
    const qsizetype wrong = lines.indexOf(QStringLiteral("Wrong text"));
    ASSERT_GT(wrong, 0) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[wrong - 1], QStringLiteral("Received 10 bytes."));
    EXPECT_NE(lines.value(wrong + 1), QStringLiteral("Success!"));
}

TEST_F(SockprobeTest, CopiesEveryLineWithCrLf) {
    StartTest();
    ASSERT_TRUE(WaitForSuccesses(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Check().Running(); }, kWaitMs));
    QGuiApplication::clipboard()->setText(QStringLiteral("stale"));
    Action("mnuCopy")->trigger();
    const QString text = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(text.startsWith(kTcpListening + QStringLiteral("\r\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("UDP port 30718 passed.\r\n")));
    EXPECT_EQ(text.count(QStringLiteral("\r\n")), Lines().size());
    EXPECT_EQ(text, Lines().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

TEST_F(SockprobeTest, CopyingAnEmptyListEmptiesTheClipboard) {
    QGuiApplication::clipboard()->setText(QStringLiteral("stale"));
    Action("mnuCopy")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString());
}

}  // namespace
