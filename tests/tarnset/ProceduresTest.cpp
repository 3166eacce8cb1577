// The procedures against simulated devices on loopback addresses: discovery
// by the loopback broadcast, the setup record, the reset to DHCP and the
// communication test on port 10001.
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "TarnsetFixture.h"
#include "tarnset/Platform.h"
#include "tarnset/Wire.h"

namespace {

using Dialogs::Answer;
using Procedures::Outcome;

const QString kNoServers = QStringLiteral(
    "No Corvane servers were detected on the network.\rYour network or computer may not be able "
    "to receive UDP data or may have the port 77FE blocked \rTry using the 'Manually Set IP' "
    "command from the Advanced menu");

QStringList Octets(const char* address) {
    return QString::fromLatin1(address).split(QLatin1Char('.'));
}

using DiscoveryTest = TarnsetTest;

TEST_F(DiscoveryTest, TwoDevicesAreListedInOrderOfArrival) {
    AddDevice(QStringLiteral("127.0.0.142"));
    AddDevice(QStringLiteral("127.0.0.143"), devsim::Model::Zolo605);
    EXPECT_EQ(Procedures::Discover(), Outcome::Done);
    ASSERT_EQ(view.rows.size(), 2u);
    ASSERT_EQ(Link::AnswerCount(), 1);
    QSet<QString> addresses;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(view.rows[i].number, QString::number(i + 1));
        EXPECT_EQ(view.rows[i].address, Link::Answers()[int(i)].sender);
        addresses.insert(view.rows[i].address);
        EXPECT_EQ(view.rows[i].mac,
                  QStringLiteral("00-20-4A-00-00-%1")
                      .arg(view.rows[i].address.section(QLatin1Char('.'), 3).toInt(), 2, 16)
                      .toUpper());
    }
    EXPECT_EQ(addresses,
              (QSet<QString>{QStringLiteral("127.0.0.142"), QStringLiteral("127.0.0.143")}));
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(view.status, QStringLiteral("All Corvanes have been found.  Click on an IP address "
                                          "you wish to change.  The selected server's background "
                                          "will turn yellow."));
    // The computer's side of the loopback network goes into the boxes.
    EXPECT_EQ(view.details[0], QStringLiteral("127.0.0.1"));
    EXPECT_EQ(view.octets[0] + view.octets[1] + view.octets[2], QStringLiteral("12700"));
    EXPECT_EQ(view.focused, 3);
    EXPECT_TRUE(view.findEnabled);
    EXPECT_FALSE(view.setIpEnabled);
    EXPECT_FALSE(view.rowItemsEnabled);
    EXPECT_EQ(view.progressMaximum, 6);
    EXPECT_EQ(view.progressValues.back(), 0);
}

TEST_F(DiscoveryTest, NothingAnswersGivesTheThreeLineMessage) {
    EXPECT_EQ(Procedures::Discover(), Outcome::Failed);
    EXPECT_EQ(dialogs->Texts(), QStringList{kNoServers});
    EXPECT_TRUE(view.rows.empty());
    EXPECT_EQ(view.resets, 1);
    EXPECT_TRUE(view.findEnabled);
}

TEST_F(DiscoveryTest, AnswersOfAnyLengthAreListed) {
    const int lengths[] = {0, 1, 24, 25, 30, 1500};
    int last = 142;
    for (int length : lengths) {
        devsim::ConfigPortSettings s;
        s.answerLength = length;
        AddDevice(QStringLiteral("127.0.0.%1").arg(last++), devsim::Model::QX700_5, s);
    }
    EXPECT_EQ(Procedures::Discover(), Outcome::Done);
    ASSERT_EQ(view.rows.size(), std::size(lengths));
    for (const Row& row : view.rows) {
        const int length = lengths[row.address.section(QLatin1Char('.'), 3).toInt() - 142];
        if (length <= 24)
            EXPECT_EQ(row.mac, QString()) << length;
        else if (length == 25)
            EXPECT_EQ(row.mac, QStringLiteral("00"));
        else if (length == 30)
            EXPECT_EQ(row.mac.size(), 17);
        else
            EXPECT_EQ(row.mac.size(), (length - 24) * 3 - 1);
    }
}

TEST_F(DiscoveryTest, A102ndAnswerIsIgnoredAndCounted) {
    devsim::ConfigPortSettings s;
    s.answerCount = 105;
    AddDevice(QStringLiteral("127.0.0.142"), devsim::Model::QX700_5, s);
    EXPECT_EQ(Procedures::Discover(), Outcome::Done);
    EXPECT_EQ(view.rows.size(), 101u);
    EXPECT_EQ(Link::AnswerCount(), 100);
    EXPECT_EQ(view.rows.back().number, QStringLiteral("101"));
    EXPECT_EQ(view.debug,
              QStringList{QStringLiteral("4 further answers ignored: the list holds 101")});
}

TEST_F(DiscoveryTest, AnotherComputerAddressIsReportedOnce) {
    AddDevice(QStringLiteral("127.0.0.142"));
    view.details[0] = QStringLiteral("192.0.2.10");
    Procedures::Discover();
    EXPECT_EQ(dialogs->Texts(), QStringList{QStringLiteral("More than one IP Address detected")});
    EXPECT_EQ(view.details[0], QStringLiteral("192.0.2.10"));
}

using StaticAddressTest = TarnsetTest;

TEST_F(StaticAddressTest, TheDeviceMovesAndOnlyTheWrittenBytesChange) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    const QByteArray sent = device->configPort()->setupRecord();
    EXPECT_EQ(Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), Octets("127.0.0.149")),
              Outcome::Done);
    ASSERT_EQ(dialogs->Texts(),
              QStringList{QStringLiteral("Change the IP address of this Corvane "
                                         "server from 127.0.0.142\rto 127.0.0.149")});
    EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("Set IP Address?"));
    ASSERT_EQ(device->configPort()->writeBacks().size(), 1);
    const QByteArray received = device->configPort()->writeBacks().first();
    ASSERT_EQ(received.size(), sent.size());
    const QSet<int> allowed{1, 3, 4, 5, 6, 7, 20, 21, 68, 69};
    for (int i = 0; i < sent.size(); ++i) {
        if (allowed.contains(i)) continue;
        EXPECT_EQ(received[i], sent[i]) << "offset " << i;
    }
    EXPECT_EQ(received.mid(1, 7), QByteArray::fromHex("0000C07F000095"));
    EXPECT_EQ(received.mid(20, 2), QByteArray::fromHex("4C02"));
    EXPECT_EQ(received.mid(68, 2), QByteArray::fromHex("4C02"));

    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.149")));
    ASSERT_EQ(view.rows.size(), 1u);  // rediscovered
    EXPECT_EQ(view.rows[0].address, QStringLiteral("127.0.0.149"));
    EXPECT_TRUE(view.statuses.contains(
        QStringLiteral("Setting the IP address from 127.0.0.142 to 127.0.0.149.  Please wait.")));
    EXPECT_TRUE(view.statuses.contains(
        QStringLiteral("Please wait while the server reboots (8 seconds).")));
    EXPECT_TRUE(view.statuses.contains(QStringLiteral("The IP address has been changed.")));
    ASSERT_EQ(view.bytes.size(), 128);
    EXPECT_EQ(view.bytes[3], QStringLiteral("4: C0"));
    EXPECT_EQ(view.bytes[7], QStringLiteral("8: 95"));
    EXPECT_TRUE(view.findEnabled);
    EXPECT_TRUE(view.setIpEnabled);
}

TEST_F(StaticAddressTest, TheSameAddressAsksForAStaticIp) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), Octets("127.0.0.142"));
    ASSERT_FALSE(dialogs->shown.empty());
    EXPECT_EQ(dialogs->shown[0].text,
              QStringLiteral("Set the Corvane server to a static IP of 127.0.0.142"));
    EXPECT_EQ(device->configPort()->writeBacks().size(), 1);
}

TEST_F(StaticAddressTest, BadOctetsSendNothing) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    const QString blank =
        QStringLiteral("Blank entries for the IP address are not valid. Please enter a new value.");
    const QString above =
        QStringLiteral("Do not set an IP octet to greater than 255. Please enter a new value.");
    const QString reserved = QStringLiteral(
        "The Fourth Octet of the IP address can not be set to 0 or 255 or greater.  These "
        "addresses are reserved by the network. Please enter a new value.");
    const std::pair<QStringList, QString> cases[] = {
        {{"127", "0", "", "5"}, blank},
        {{"127", "0", "0", "0"}, reserved},
        {{"127", "0", "0", "255"}, reserved},
        {{"127", "0", "256", "5"}, above},
        {{"127", "0", "0", "000"}, reserved},
        {{"127", "0", "0", "999"}, above},
        // Too many digits to be a number is above 255 too, not 0.
        {{"127", "9999999999999999999", "0", "5"}, above},
        // The suite's address rule: no leading zeros.
        {{"127", "0", "0", "041"},
         QStringLiteral("'127.0.0.041' is not a valid IP address: the number 041 has a leading "
                        "zero, which other programs read as an octal number.  Please write it "
                        "without leading zeros.")}};
    for (const auto& [octets, message] : cases) {
        dialogs->shown.clear();
        EXPECT_EQ(Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), octets),
                  Outcome::Invalid);
        EXPECT_EQ(dialogs->Texts(), QStringList{message}) << octets.join('.').toStdString();
    }
    EXPECT_TRUE(device->configPort()->writeBacks().isEmpty());
    EXPECT_TRUE(view.setIpEnabled);
}

TEST_F(StaticAddressTest, AnotherNetworkNeedsConfirmation) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    dialogs->Answer(Answer::No);
    // A documentation address: nothing is ever sent to it.
    EXPECT_EQ(Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), Octets("192.0.2.7")),
              Outcome::Declined);
    EXPECT_EQ(dialogs->Texts(),
              QStringList{QStringLiteral("You have selected an IP address which is outside of "
                                         "your current network.\rAre you sure you wish to use "
                                         "this IP address?")});
    EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("Confirm IP Address"));
    EXPECT_EQ(
        view.octets[0] + QLatin1Char('.') + view.octets[1] + QLatin1Char('.') + view.octets[2],
        QStringLiteral("127.0.0"));
    EXPECT_TRUE(device->configPort()->writeBacks().isEmpty());
}

TEST_F(StaticAddressTest, DecliningTheChangeSaysSo) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    dialogs->Answer(Answer::No);
    EXPECT_EQ(Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), Octets("127.0.0.149")),
              Outcome::Declined);
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[1].text, QStringLiteral("The IP address was not changed"));
    EXPECT_EQ(dialogs->shown[1].title, QStringLiteral("Corvane Tarnset"));
    EXPECT_TRUE(device->configPort()->writeBacks().isEmpty());
}

TEST_F(StaticAddressTest, ShortSilentSplitAndBrokenRecords) {
    using Fault = devsim::ConfigPortSettings::RecordFault;
    devsim::ConfigPortSettings shortRecord;
    shortRecord.recordLength = 60;
    devsim::Device* a =
        AddDevice(QStringLiteral("127.0.0.142"), devsim::Model::QX700_5, shortRecord);
    devsim::ConfigPortSettings silent;
    silent.recordFault = Fault::Silent;
    AddDevice(QStringLiteral("127.0.0.143"), devsim::Model::QX700_5, silent);
    devsim::ConfigPortSettings closing;
    closing.recordFault = Fault::CloseMidRecord;
    AddDevice(QStringLiteral("127.0.0.144"), devsim::Model::QX700_5, closing);
    devsim::ConfigPortSettings split;
    split.recordFault = Fault::Split;
    devsim::Device* d = AddDevice(QStringLiteral("127.0.0.145"), devsim::Model::QX700_5, split);

    const auto run = [&](const char* current, const char* wanted) {
        dialogs->shown.clear();
        const Outcome o =
            Procedures::SetStaticAddress(QString::fromLatin1(current), Octets(wanted));
        return std::make_pair(o, dialogs->Texts().value(1));
    };
    EXPECT_EQ(run("127.0.0.142", "127.0.0.152"),
              std::make_pair(Outcome::Failed,
                             QStringLiteral("The setup record is 60 bytes long; at least 70 are "
                                            "needed.")));
    EXPECT_TRUE(a->configPort()->writeBacks().isEmpty());
    EXPECT_EQ(run("127.0.0.143", "127.0.0.153"),
              std::make_pair(Outcome::Failed,
                             QStringLiteral("The Corvane server at IP address 127.0.0.143 did not "
                                            "return a setup record.  Please try again.")));
    EXPECT_EQ(run("127.0.0.144", "127.0.0.154"),
              std::make_pair(Outcome::Failed,
                             QStringLiteral("The setup record is 64 bytes long; at least 70 are "
                                            "needed.")));
    // A record in two pieces is still one record.
    EXPECT_EQ(run("127.0.0.145", "127.0.0.155").first, Outcome::Done);
    ASSERT_EQ(d->configPort()->writeBacks().size(), 1);
    EXPECT_EQ(d->configPort()->writeBacks()[0].size(), 128);
    EXPECT_EQ(d->address(), QHostAddress(QStringLiteral("127.0.0.155")));
    // Nobody listening.
    EXPECT_EQ(run("127.0.0.184", "127.0.0.156"),
              std::make_pair(Outcome::Failed,
                             QStringLiteral("Could not establish a TCP/IP connection with "
                                            "127.0.0.184")));
}

// The network keeps the device where it is (its new address is taken by a
// host that is no Corvane server): the window's texts stay, one line says
// the device was not found at its new address.
TEST_F(StaticAddressTest, AMoveThatDidNotHappenIsReported) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress(QStringLiteral("127.0.0.150")), 10001));
    ASSERT_EQ(Procedures::Discover(), Outcome::Done);
    dialogs->shown.clear();
    EXPECT_EQ(Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), Octets("127.0.0.150")),
              Outcome::Failed);
    EXPECT_EQ(device->configPort()->writeBacks().size(), 1);
    EXPECT_EQ(device->address(), QHostAddress(QStringLiteral("127.0.0.142")));
    EXPECT_TRUE(view.statuses.contains(QStringLiteral("The IP address has been changed.")));
    EXPECT_EQ(dialogs->Texts().last(),
              QStringLiteral("The Corvane server with MAC address 00-20-4A-00-00-8E still "
                             "answers at 127.0.0.142: its IP address was not changed."));
    EXPECT_TRUE(view.findEnabled);
}

// Another box at the new address is an occupant even when it carries the
// moving device's MAC text.
TEST_F(StaticAddressTest, ADeviceWithTheSameMacAtTheNewAddressHoldsIt) {
    devsim::ConfigPortSettings twin;
    twin.mac = QByteArray::fromHex("00204A00008E");
    devsim::Device* moving = AddDevice(QStringLiteral("127.0.0.142"));
    AddDevice(QStringLiteral("127.0.0.143"), devsim::Model::QX700_5, twin);
    ASSERT_EQ(Procedures::Discover(), Outcome::Done);
    dialogs->shown.clear();
    EXPECT_EQ(Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), Octets("127.0.0.143")),
              Outcome::Failed);
    EXPECT_EQ(dialogs->Texts(),
              QStringList{QStringLiteral("The IP address 127.0.0.143 is already used by the "
                                         "Corvane server with MAC address 00-20-4A-00-00-8E.  "
                                         "Please enter another value.")});
    EXPECT_TRUE(moving->configPort()->writeBacks().isEmpty());
}

// A peer that trickles its record past the wait: refused with the size
// received, nothing written back to it.
TEST_F(StaticAddressTest, ARecordStillArrivingAtTheDeadlineIsRefused) {
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress(QStringLiteral("127.0.0.160")), 30718));
    QByteArray heard;
    QTimer drip;
    QTcpSocket* client = nullptr;
    QObject::connect(&peer, &QTcpServer::newConnection, [&] {
        client = peer.nextPendingConnection();
        QObject::connect(client, &QTcpSocket::readyRead, [&] { heard += client->readAll(); });
        drip.start(20);
    });
    QObject::connect(&drip, &QTimer::timeout, [&] {
        if (client) client->write(QByteArray(4, '\x11'));
    });
    const Outcome outcome =
        Procedures::SetStaticAddress(QStringLiteral("127.0.0.160"), Octets("127.0.0.161"));
    drip.stop();
    EXPECT_EQ(outcome, Outcome::Failed);
    const QString last = dialogs->Texts().value(dialogs->Texts().size() - 1);
    EXPECT_TRUE(
        last.startsWith(QStringLiteral("The setup record from 127.0.0.160 was still "
                                       "arriving when the wait for it ended (")))
        << last.toStdString();
    EXPECT_TRUE(last.endsWith(QStringLiteral(" bytes received).  Nothing was written back.")));
    EXPECT_EQ(heard, Wire::BuildSetupRecordRequest());
}

using DhcpTest = TarnsetTest;

TEST_F(DhcpTest, TheDeviceMovesToThePoolAndIsMarked) {
    AddDevice(QStringLiteral("127.0.0.142"));
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.143"));
    ASSERT_EQ(Procedures::Discover(), Outcome::Done);
    int row = 0;
    for (size_t i = 0; i < view.rows.size(); ++i)
        if (view.rows[i].address == QStringLiteral("127.0.0.143")) row = int(i) + 1;
    ASSERT_GT(row, 0);
    EXPECT_EQ(Procedures::ResetToDhcp(row, QStringLiteral("127.0.0.143")), Outcome::Done);
    ASSERT_EQ(dialogs->Texts(),
              (QStringList{QStringLiteral("Reset the server at IP address 127.0.0.143 back to DHCP "
                                          "mode?"),
                           QStringLiteral("This server has been reset to DHCP mode")}));
    EXPECT_EQ(dialogs->shown[0].buttons, Dialogs::Buttons::OkCancel);
    EXPECT_EQ(device->configPort()->resetRequests(), 1);
    EXPECT_GE(device->address().toIPv4Address() & 0xFF, 200u);  // the pool
    EXPECT_NE(device->address(), QHostAddress(QStringLiteral("127.0.0.143")));
    ASSERT_EQ(view.highlighted.size(), 1u);
    EXPECT_EQ(view.rows[size_t(view.highlighted[0] - 1)].address, device->address().toString());
}

TEST_F(DhcpTest, NoDiscoveryAnswerAsksForDiscoveryFirst) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    EXPECT_EQ(Procedures::ResetToDhcp(1, QStringLiteral("127.0.0.142")), Outcome::Failed);
    EXPECT_TRUE(dialogs->Texts().value(1).startsWith(
        QLatin1String("There is no discovery answer for the server at 127.0.0.142.")));
    // A failed static-address attempt leaves a setup record in the table.
    Procedures::Discover();
    Procedures::SetStaticAddress(QStringLiteral("127.0.0.142"), Octets("127.0.0.0"));
    dialogs->shown.clear();
    EXPECT_EQ(Procedures::ResetToDhcp(1, QStringLiteral("127.0.0.142")), Outcome::Failed);
    EXPECT_EQ(device->configPort()->resetRequests(), 0);
    dialogs->Answer(Answer::Cancel);
    Procedures::Discover();
    EXPECT_EQ(Procedures::ResetToDhcp(1, QStringLiteral("127.0.0.142")), Outcome::Declined);
    EXPECT_EQ(device->configPort()->resetRequests(), 0);
}

using CommunicationTest = TarnsetTest;

TEST_F(CommunicationTest, ModelTextsOfFamiliesOneThreeAndFive) {
    AddDevice(QStringLiteral("127.0.0.142"), devsim::Model::QX700_5);
    AddDevice(QStringLiteral("127.0.0.143"), devsim::Model::Zolo605);
    AddDevice(QStringLiteral("127.0.0.144"), devsim::Model::QX720);
    AddDevice(QStringLiteral("127.0.0.145"), devsim::Model::QX740);
    const std::pair<const char*, const char*> expected[] = {{"127.0.0.142", "QX700-5 rev 24"},
                                                            {"127.0.0.143", "Zolo 305 rev 6"},
                                                            {"127.0.0.144", "QX720 rev 12"},
                                                            {"127.0.0.145", "QX740 rev 23"}};
    for (const auto& [address, model] : expected) {
        dialogs->shown.clear();
        EXPECT_EQ(Procedures::TestCommunication(QString::fromLatin1(address)), Outcome::Done);
        EXPECT_EQ(dialogs->Texts().value(1),
                  QStringLiteral("Successfully communicated with IP address: %1  Model: %2")
                      .arg(QLatin1String(address), QLatin1String(model)));
        EXPECT_EQ(view.status,
                  QStringLiteral("Successfully communicated with ") + QLatin1String(address));
    }
    EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("Test This Device?"));
}

TEST_F(CommunicationTest, ATypedAddressWhenNoRowIsChosen) {
    AddDevice(QStringLiteral("127.0.0.142"), devsim::Model::QX700_8);
    dialogs->Answer(Answer::Yes);
    dialogs->Answer(Answer::Ok, QStringLiteral("127.0.0.142"));
    EXPECT_EQ(Procedures::TestCommunication(QString()), Outcome::Done);
    EXPECT_EQ(dialogs->shown[1].title, QStringLiteral("IP Address"));
    EXPECT_EQ(dialogs->Texts().value(2), QStringLiteral("Successfully communicated with IP "
                                                        "address: 127.0.0.142  Model: QX700-8 rev "
                                                        "23"));
    dialogs->shown.clear();
    dialogs->Answer(Answer::No);
    dialogs->Answer(Answer::Ok, QStringLiteral("127.0.0.142; reboot"));
    EXPECT_EQ(Procedures::TestCommunication(QStringLiteral("127.0.0.142")), Outcome::Invalid);
}

TEST_F(CommunicationTest, BadAnswersAreErrorsWithinTheirTime) {
    devsim::Device* device = AddDevice(QStringLiteral("127.0.0.142"));
    const devsim::Fault faults[] = {devsim::Fault::Short,     devsim::Fault::Silent,
                                    devsim::Fault::Garbage,   devsim::Fault::CloseMidAnswer,
                                    devsim::Fault::WrongEcho, devsim::Fault::Long};
    for (devsim::Fault fault : faults) {
        device->setFault(fault);
        dialogs->shown.clear();
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(Procedures::TestCommunication(QStringLiteral("127.0.0.142")), Outcome::Failed)
            << devsim::faultName(fault).toStdString();
        EXPECT_LT(clock.elapsed(), 3000);
        EXPECT_EQ(dialogs->Texts().last(), QStringLiteral("Error reading from 127.0.0.142"));
        EXPECT_EQ(view.status, QStringLiteral("Error reading from IP address: 127.0.0.142"));
    }
}

TEST_F(CommunicationTest, AnOverflowKeepsThePreviousNumbers) {
    AddDevice(QStringLiteral("127.0.0.142"), devsim::Model::QX700_5);
    devsim::DeviceConfig c;
    c.address = QHostAddress(QStringLiteral("127.0.0.143"));
    c.model = devsim::Model::QX700_8;
    c.number = 0x8001;
    ASSERT_NE(sim.addDevice(c), nullptr);
    Procedures::TestCommunication(QStringLiteral("127.0.0.142"));
    dialogs->shown.clear();
    EXPECT_EQ(Procedures::TestCommunication(QStringLiteral("127.0.0.143")), Outcome::Done);
    EXPECT_EQ(dialogs->Texts().mid(1),
              (QStringList{QStringLiteral("Parse Error:Overflow"),
                           QStringLiteral("Successfully communicated with IP address: 127.0.0.143  "
                                          "Model: QX700-5 rev 23")}));
}

using ManualTest = TarnsetTest;

TEST_F(ManualTest, AMacOfTheWrongFormIsAskedOnceMore) {
    QList<QStringList> commands;
    Platform::SetCommandRunner([&](const QString& program, const QStringList& args) {
        commands << (QStringList{program} + args);
        return Platform::CommandResult{0, {}};
    });
    dialogs->Answer(Answer::Ok, QStringLiteral("00-20-4A-01-02-0"));
    dialogs->Answer(Answer::Ok, QStringLiteral("00-20-4A-01-02-0"));
    EXPECT_EQ(Procedures::ManualSetAddress(), Outcome::Declined);
    ASSERT_EQ(dialogs->shown.size(), 2u);
    EXPECT_EQ(dialogs->shown[0].title, QStringLiteral("MAC Address of Corvane Device"));
    EXPECT_EQ(dialogs->shown[1].text,
              QStringLiteral("The MAC Address you entered is not valid.\rPlease enter the MAC "
                             "address of the device in the following format:  "
                             "00-20-4a-xx-xx-xx"));
    // A bad address, one with a leading zero or one that is no device's
    // stops before any command.
    const std::pair<const char*, const char*> refused[] = {
        {"127.0.0", "'127.0.0' is not a valid IP address."},
        {"127.0.0.041", "'127.0.0.041' is not a valid IP address: the number 041"},
        {"127.0.0.5", "No ARP entry is made for 127.0.0.5: 127.0.0.5 is a loopback address."},
        {"224.0.0.7", "No ARP entry is made for 224.0.0.7: 224.0.0.7 is a multicast address."}};
    for (const auto& [typed, message] : refused) {
        dialogs->shown.clear();
        dialogs->Answer(Answer::Ok, QStringLiteral("00-20-4A-01-02-03"));
        dialogs->Answer(Answer::Ok, QString::fromLatin1(typed));
        EXPECT_EQ(Procedures::ManualSetAddress(), Outcome::Invalid) << typed;
        EXPECT_EQ(dialogs->shown[1].title, QStringLiteral("Desired Static IP Address"));
        EXPECT_TRUE(dialogs->Texts().value(2).startsWith(QLatin1String(message)))
            << dialogs->Texts().value(2).toStdString();
    }
    EXPECT_TRUE(commands.isEmpty());
    // A refused ip command: the message says what to do, and nothing else happens.
    Platform::SetCommandRunner([&](const QString& program, const QStringList& args) {
        commands << (QStringList{program} + args);
        return Platform::CommandResult{2, QStringLiteral("RTNETLINK answers: Operation not "
                                                         "permitted")};
    });
    if (Platform::InterfaceFor(*Protocol::ParseIPv4(QStringLiteral("192.0.2.9"))).isEmpty())
        GTEST_SKIP() << "no route here that would choose an interface for the ARP entry";
    // A documentation address: the knock and the record would go to it only
    // after a successful ARP entry, and the runner refuses.
    dialogs->shown.clear();
    dialogs->Answer(Answer::Ok, QStringLiteral("00-20-4A-01-02-03"));
    dialogs->Answer(Answer::Ok, QStringLiteral("192.0.2.9"));
    EXPECT_EQ(Procedures::ManualSetAddress(), Outcome::Failed);
    ASSERT_EQ(dialogs->shown.size(), 4u);
    // Asked before the entry is made.
    EXPECT_EQ(dialogs->shown[2].text,
              QStringLiteral("Make a permanent ARP entry on this computer for 192.0.2.9 with the "
                             "MAC address 00-20-4A-01-02-03?"));
    EXPECT_TRUE(dialogs->shown[3].text.startsWith(
        QLatin1String("Couldn't make the ARP entry for 192.0.2.9 with 'ip neigh': RTNETLINK "
                      "answers: Operation not permitted\r")))
        << dialogs->shown[3].text.toStdString();
    EXPECT_TRUE(dialogs->shown[3].text.contains(QLatin1String("CAP_NET_ADMIN")));
    ASSERT_EQ(commands.size(), 1);
    // By its absolute path, never looked up in PATH.
    EXPECT_TRUE(commands[0][0].startsWith(QLatin1Char('/'))) << commands[0][0].toStdString();
    EXPECT_EQ(commands[0].mid(1, 6),
              (QStringList{"neigh", "replace", "192.0.2.9", "lladdr", "00:20:4a:01:02:03", "dev"}));
    Platform::SetCommandRunner({});
}

}  // namespace
