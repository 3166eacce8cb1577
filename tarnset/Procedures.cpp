#include "tarnset/Procedures.h"

#include <array>
#include <optional>

#include "common/Dialogs.h"
#include "protocol/Answers.h"
#include "protocol/Bytes.h"
#include "protocol/Commands.h"
#include "tarnset/Link.h"
#include "tarnset/Platform.h"
#include "tarnset/Wire.h"

namespace Procedures {
namespace {

using Dialogs::Answer;
using Dialogs::Buttons;
using Dialogs::Icon;
using Tarnset::StatusColour;
using Tarnset::ToolView;

const QString kCr = QStringLiteral("\r");
const QString kMacPrompt = QStringLiteral(
    "Please enter the MAC address of the device in the following format:  00-20-4a-xx-xx-xx");
const QString kRebooting = QStringLiteral("Please wait while the server reboots (8 seconds).");
const QString kChanged = QStringLiteral("The IP address has been changed.");

// The numbers of the last identified device; a field that fails to parse
// keeps its previous value.
std::array<int, 3> lastIdentification{0, 0, 0};

// Every call is a no-op without a view (a silent run).
template <class F>
void Show(F f) {
    if (ToolView* v = Link::View()) f(*v);
}

void Status(const QString& text) {
    Show([&](ToolView& v) { v.SetStatus(text); });
}

void StatusColourTo(StatusColour colour) {
    Show([&](ToolView& v) { v.SetStatusColour(colour); });
}

void Debug(const QString& line) {
    Show([&](ToolView& v) { v.AddDebug(line); });
}

void Message(const QString& text, const QString& title = QString()) {
    Dialogs::Message(text, Buttons::Ok, Icon::Information, title);
}

void WindowStatus(const QString& text) {
    Show([&](ToolView& v) { v.SetWindowStatus(text); });
}

// The answers of the last discovery. Kept apart from the link's table,
// which every attempt to set an address clears, so that the checks of the
// next attempt still know who answers where.
QList<Link::Answer> lastDiscovery;

QList<Link::Answer> DiscoveryAnswers() {
    return lastDiscovery;
}

void KeepDiscovery() {
    lastDiscovery.clear();
    for (const Link::Answer& a : Link::Answers())
        if (a.discovery) lastDiscovery << a;
}

// The MAC text of another device that answered discovery at `address`;
// nullopt when none did. With `mac` empty every answer there counts.
std::optional<QString> Occupant(const QList<Link::Answer>& answers, const QString& address,
                                const QString& mac) {
    for (const Link::Answer& a : answers) {
        const QString other = Wire::FormatMac(a.data);
        if (a.sender == address && (mac.isEmpty() || other != mac)) return other;
    }
    return std::nullopt;
}

QString OccupiedMessage(const QString& address, const QString& mac) {
    return QStringLiteral("The IP address ") + address +
           QStringLiteral(" is already used by the Corvane server with MAC address ") + mac +
           QStringLiteral(".  Please enter another value.");
}

Outcome TestBody(const QString& address);

Outcome DiscoverBody(bool reportNone = true) {
    Show([](ToolView& v) {
        v.SetFindEnabled(false);
        v.SetSetIpEnabled(false);
        v.SetRowItemsEnabled(false);
    });
    Link::ClearAnswers();
    lastDiscovery.clear();
    Show([](ToolView& v) {
        v.ResetList();
        v.ClearDebug();
    });
    Status(QStringLiteral("Locating available Corvane servers, please wait."));

    Outcome outcome = Outcome::Done;
    Link::CloseSocket();
    QString error;
    if (!Link::OpenBroadcastSocket(&error)) {
        Debug(QStringLiteral("Failed to establish UDP socket"));
        outcome = Outcome::Failed;
    } else if (!Link::SendBroadcast(Wire::BuildDiscoveryRequest(), &error)) {
        Message(QStringLiteral("There was an error when trying to locate Corvane servers on the "
                               "networking.  The error is : ") +
                error);
        outcome = Outcome::Failed;
    } else {
        Link::WaitWithProgress(Link::Timings().discoveryMs);
        KeepDiscovery();
        const QList<Link::Answer>& answers = Link::Answers();
        if (!Link::Running()) {
            outcome = Outcome::Failed;  // the window closed: nothing more to show
        } else if (answers.isEmpty()) {
            if (reportNone)
                Message(
                    QStringLiteral("No Corvane servers were detected on the network.") + kCr +
                    QStringLiteral("Your network or computer may not be able to receive UDP data "
                                   "or may have the port 77FE blocked ") +
                    kCr +
                    QStringLiteral(
                        "Try using the 'Manually Set IP' command from the Advanced menu"));
            outcome = Outcome::Failed;
        } else {
            Show([&](ToolView& v) {
                for (int i = 0; i < answers.size(); ++i) {
                    v.AddListRow(QString::number(i + 1), answers[i].sender,
                                 Wire::FormatMac(answers[i].data));
                }
            });
            if (Link::IgnoredAnswers() > 0) {
                Debug(QStringLiteral("%1 further answers ignored: the list holds %2")
                          .arg(Link::IgnoredAnswers())
                          .arg(Link::kAnswerSlots));
            }
            const QString local = Link::LocalAddressTowards(Link::BroadcastAddress());
            Show([&](ToolView& v) {
                if (local.isEmpty()) return;
                const QString known = v.NetworkDetail(0);
                if (known.isEmpty())
                    v.SetNetworkDetail(0, local);
                else if (known != local)
                    Message(QStringLiteral("More than one IP Address detected"));
                const QStringList octets = local.split(QLatin1Char('.'));
                for (int i = 0; i < 3 && i < octets.size(); ++i) v.SetOctet(i, octets[i]);
                v.FocusOctet(3);
            });
            WindowStatus(
                QStringLiteral("All Corvanes have been found.  Click on an IP address you "
                               "wish to change.  The selected server's background will turn "
                               "yellow."));
        }
    }
    Link::CloseSocket();
    Show([](ToolView& v) { v.SetFindEnabled(true); });
    return outcome;
}

// The checks of the typed octets, with the message of the first that fails.
bool ValidOctets(const QStringList& octets, QString& message) {
    QStringList texts;
    for (int i = 0; i < 4; ++i) {
        const QString o = i < octets.size() ? octets[i].trimmed() : QString();
        bool digits = !o.isEmpty();
        for (QChar c : o) digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (!digits) {
            message = QStringLiteral(
                "Blank entries for the IP address are not valid. Please enter a new value.");
            return false;
        }
        texts << o;
    }
    for (const QString& o : texts) {
        // By length first: a long row of digits must not wrap round to a
        // small number.
        if (o.size() > 3 || o.toInt() > 255) {
            message = QStringLiteral(
                "Do not set an IP octet to greater than 255. Please enter a new value.");
            return false;
        }
    }
    // By value, so that "00" or "000" cannot slip a network address through.
    const int fourth = texts[3].toInt();
    if (fourth == 0 || fourth == 255) {
        message = QStringLiteral(
            "The Fourth Octet of the IP address can not be set to 0 or 255 or greater.  These "
            "addresses are reserved by the network. Please enter a new value.");
        return false;
    }
    // What is left is a leading zero, which the address rule refuses.
    return bool(Protocol::ParseIPv4(texts.join(QLatin1Char('.')), &message));
}

Outcome SetStaticBody(const QString& current, const QStringList& typed, QString mac = QString()) {
    // The last discovery, before the table is cleared: who answers where.
    const QList<Link::Answer> seen = DiscoveryAnswers();
    Show([](ToolView& v) {
        v.SetFindEnabled(false);
        v.SetSetIpEnabled(false);
        v.ClearDebug();
        v.SetStatus(QString());
        v.SetStatusColour(StatusColour::Normal);
    });
    Link::ClearAnswers();
    const auto finish = [](Outcome outcome) {
        Link::CloseSocket();
        Show([](ToolView& v) {
            v.SetFindEnabled(true);
            v.SetSetIpEnabled(true);
        });
        return outcome;
    };

    QString message;
    if (!ValidOctets(typed, message)) {
        Message(message);
        return finish(Outcome::Invalid);
    }
    const auto from = Protocol::ParseIPv4(current);
    if (!from) {
        Message(
            QStringLiteral("Click on the IP address of the Corvane server you wish to "
                           "change, then click the green button again."));
        return finish(Outcome::Invalid);
    }
    std::array<quint8, 4> octets{};
    QStringList parts;
    for (int i = 0; i < 4; ++i) {
        octets[size_t(i)] = quint8(typed[i].trimmed().toInt());
        parts << QString::number(octets[size_t(i)]);
    }
    const QString wanted = parts.join(QLatin1Char('.'));

    if (mac.isEmpty()) {
        for (const Link::Answer& a : seen)
            if (a.sender == from->Text()) mac = Wire::FormatMac(a.data);
    }
    // Any answer at another address than the device's own comes from
    // another box, whatever MAC text it carries.
    if (wanted != from->Text()) {
        if (const auto other = Occupant(seen, wanted, QString())) {
            Message(OccupiedMessage(wanted, *other));
            return finish(Outcome::Failed);
        }
    }
    const QString problem = Platform::LocalAddressProblem(*Protocol::ParseIPv4(wanted));
    if (!problem.isEmpty()) {
        Message(QStringLiteral("The IP address ") + wanted +
                QStringLiteral(" can not be given to a Corvane server: ") + problem +
                QStringLiteral(".  Please enter another value."));
        return finish(Outcome::Invalid);
    }

    const QString local = Link::LocalAddressTowards(*from);
    if (!local.isEmpty()) {
        const QStringList own = local.split(QLatin1Char('.'));
        bool outside = false;
        for (int i = 0; i < 3 && i < own.size(); ++i) {
            Show([&](ToolView& v) { v.SetOctet(i, own[i]); });
            if (own[i].toInt() != octets[size_t(i)]) outside = true;
        }
        if (outside &&
            Dialogs::Message(
                QStringLiteral(
                    "You have selected an IP address which is outside of your current network.") +
                    kCr + QStringLiteral("Are you sure you wish to use this IP address?"),
                Buttons::YesNo, Icon::Question,
                QStringLiteral("Confirm IP Address")) != Answer::Yes) {
            return finish(Outcome::Declined);
        }
    }

    const QString question =
        wanted != current ? QStringLiteral("Change the IP address of this Corvane server from ") +
                                current + kCr + QStringLiteral("to ") + wanted
                          : QStringLiteral("Set the Corvane server to a static IP of ") + wanted;
    if (Dialogs::Message(question, Buttons::YesNo, Icon::Question,
                         QStringLiteral("Set IP Address?")) != Answer::Yes) {
        Message(QStringLiteral("The IP address was not changed"), ApplicationTitle());
        return finish(Outcome::Declined);
    }

    Status(QStringLiteral("Setting the IP address from ") + current + QStringLiteral(" to ") +
           wanted + QStringLiteral(".  Please wait."));
    Link::CloseSocket();
    if (!Link::ConnectTcp(*from, Wire::kConfigPort)) {
        Message(QStringLiteral("Could not establish a TCP/IP connection with ") + current);
        return finish(Outcome::Failed);
    }
    QString error;
    if (!Link::SendBytes(Wire::BuildSetupRecordRequest(), &error)) {
        Message(error);
        return finish(Outcome::Failed);
    }
    Link::WaitWithProgress(Link::Timings().setupRecordMs);
    if (!Link::Running()) return finish(Outcome::Failed);
    if (Link::Answers().isEmpty() || Link::Answers().last().data.isEmpty()) {
        Message(QStringLiteral("The Corvane server at IP address ") + current +
                QStringLiteral(" did not return a setup record.  Please try again."));
        return finish(Outcome::Failed);
    }

    // A record still coming in when the wait ended is not whole: patched
    // and written back it would cut the device's setup short. Too long is
    // refused by its size, however fast it came.
    const bool arriving = Link::LastRecordDataMs() > Link::Timings().setupRecordMs / 2;
    if (Link::RecordBytes() > Wire::SetupRecord::kMaxLength) {
        const QString size = (arriving ? QStringLiteral("at least ") : QString()) +
                             QString::number(Link::RecordBytes());
        Message(QStringLiteral("The setup record from ") + current +
                QStringLiteral(" is %1 bytes long; a setup record is at most %2 bytes.  Nothing "
                               "was written back.")
                    .arg(size)
                    .arg(Wire::SetupRecord::kMaxLength));
        return finish(Outcome::Failed);
    }
    if (arriving) {
        Message(QStringLiteral("The setup record from ") + current +
                QStringLiteral(" was still arriving when the wait for it ended (%1 bytes "
                               "received).  Nothing was written back.")
                    .arg(Link::RecordBytes()));
        return finish(Outcome::Failed);
    }
    QByteArray record = Link::Answers().last().data;
    if (!Wire::PatchSetupRecord(record, octets, &error)) {
        Message(error);
        return finish(Outcome::Failed);
    }
    QStringList bytes;
    QString line = QStringLiteral("Len: %1 ").arg(record.size());
    for (int i = 0; i < record.size(); ++i) {
        const QString hex = QString::number(quint8(record[i]), 16).toUpper();
        bytes << QStringLiteral("%1: %2").arg(i + 1).arg(hex);
        line += QLatin1Char(',') + hex;
    }
    Show([&](ToolView& v) { v.SetRecord(bytes, line); });

    // A device that closed the connection meanwhile gets nothing: half a
    // conversation must not reach it as a record.
    if (!Link::SendBytes(record, &error)) {
        Message(error);
        return finish(Outcome::Failed);
    }
    Status(kRebooting);
    Link::WaitWithProgress(Link::Timings().rebootMs);
    if (!Link::Running()) return finish(Outcome::Failed);
    WindowStatus(kChanged);
    Link::CloseSocket();
    DiscoverBody();

    // The device does not say whether it took the record; the rediscovery
    // does. Without a known MAC any answer at the new address counts.
    const QList<Link::Answer> now = DiscoveryAnswers();
    bool atNew = false, atOld = false;
    for (const Link::Answer& a : now) {
        if (!mac.isEmpty() && Wire::FormatMac(a.data) != mac) continue;
        atNew = atNew || a.sender == wanted;
        atOld = atOld || (a.sender == from->Text() && wanted != from->Text());
    }
    const QString who = mac.isEmpty()
                            ? QStringLiteral("The Corvane server")
                            : QStringLiteral("The Corvane server with MAC address ") + mac;
    if (atOld) {
        Message(who + QStringLiteral(" still answers at ") + from->Text() +
                QStringLiteral(": its IP address was not changed."));
        return finish(Outcome::Failed);
    }
    if (!atNew) {
        Message(who + QStringLiteral(" was not found at its new IP address ") + wanted +
                QStringLiteral("."));
        return finish(Outcome::Failed);
    }
    return finish(Outcome::Done);
}

}  // namespace

QString ApplicationTitle() {
    return QStringLiteral("Corvane Tarnset");
}

Outcome Discover(bool reportNone) {
    if (Link::Busy()) return Outcome::Failed;
    Link::BusyScope busy;
    return DiscoverBody(reportNone);
}

bool CheckOctets(const QStringList& octets, QString& message) {
    return ValidOctets(octets, message);
}

QString AddressOfMac(const QString& mac) {
    for (const Link::Answer& a : DiscoveryAnswers())
        if (Wire::FormatMac(a.data) == mac) return a.sender;
    return QString();
}

Outcome SetStaticAddress(const QString& current, const QStringList& octets) {
    if (Link::Busy()) return Outcome::Failed;
    Link::BusyScope busy;
    return SetStaticBody(current, octets);
}

Outcome ManualSetAddress() {
    if (Link::Busy()) return Outcome::Failed;
    Link::BusyScope busy;
    const QString macTitle = QStringLiteral("MAC Address of Corvane Device");
    auto mac = Dialogs::Input(kMacPrompt, macTitle);
    if (!mac || mac->trimmed().isEmpty()) return Outcome::Declined;
    if (!Wire::ParseMac(*mac)) {
        mac = Dialogs::Input(
            QStringLiteral("The MAC Address you entered is not valid.") + kCr + kMacPrompt,
            macTitle);
        if (!mac || !Wire::ParseMac(*mac)) return Outcome::Declined;
    }
    const auto address = Dialogs::Input(
        QStringLiteral("Please enter the IP address you wish to set the device to in the "
                       "following format:  192.168.xxx.xxx"),
        QStringLiteral("Desired Static IP Address"));
    if (!address || address->trimmed().isEmpty()) return Outcome::Declined;
    const QString typed = address->trimmed();
    QString error;
    const auto target = Protocol::ParseIPv4(typed, &error);
    if (!target) {
        Message(error);
        return Outcome::Invalid;
    }
    const auto bytes = Wire::ParseMac(*mac);
    QString macText;
    for (quint8 b : *bytes) macText += QStringLiteral("-%1").arg(b, 2, 16, QLatin1Char('0'));
    macText = macText.mid(1).toUpper();

    const QString problem = Platform::ArpTargetProblem(*target);
    if (!problem.isEmpty()) {
        Message(QStringLiteral("No ARP entry is made for ") + typed + QStringLiteral(": ") +
                problem + QStringLiteral("."));
        return Outcome::Invalid;
    }
    // The static-address checks come before the entry too, so none is made
    // for an address the procedure would then refuse.
    if (!ValidOctets(target->Text().split(QLatin1Char('.')), error)) {
        Message(error);
        return Outcome::Invalid;
    }
    if (const auto other = Occupant(DiscoveryAnswers(), target->Text(), macText)) {
        Message(OccupiedMessage(target->Text(), *other));
        return Outcome::Failed;
    }
    if (Dialogs::Message(
            QStringLiteral("Make a permanent ARP entry on this computer for ") + target->Text() +
                QStringLiteral(" with the MAC address ") + macText + QStringLiteral("?"),
            Buttons::YesNo, Icon::Question, QStringLiteral("Manually Set IP")) != Answer::Yes) {
        return Outcome::Declined;
    }
    if (!Platform::SetArpEntry(*target, *bytes, &error)) {
        Message(QStringLiteral("Couldn't make the ARP entry for ") + typed +
                QStringLiteral(" with 'ip neigh': ") + error + kCr +
                QStringLiteral("Please install the ip command (iproute2) and run Tarnset as "
                               "root or with the CAP_NET_ADMIN capability"));
        return Outcome::Failed;
    }
    const QString entry = QStringLiteral("the ARP entry for ") + target->Text() +
                          QStringLiteral(" with the MAC address ") + macText;
    Platform::Knock(*target, Link::Timings().knockMs);
    const Outcome outcome =
        SetStaticBody(target->Text(), target->Text().split(QLatin1Char('.')), macText);
    // The entry was only for this change; left behind it would keep sending
    // that address to that MAC whatever the network does later. Told after
    // the procedure, whose start clears the debug list.
    if (outcome == Outcome::Done)
        Debug(QStringLiteral("Made ") + entry);
    else if (Platform::RemoveArpEntry(*target, &error))
        Debug(QStringLiteral("Made and removed again ") + entry);
    else
        Debug(QStringLiteral("Could not remove ") + entry + QStringLiteral(": ") + error);
    return outcome;
}

Outcome ResetToDhcp(int row, const QString& address) {
    if (Link::Busy()) return Outcome::Failed;
    Link::BusyScope busy;
    if (Dialogs::Message(QStringLiteral("Reset the server at IP address ") + address +
                             QStringLiteral(" back to DHCP mode?"),
                         Buttons::OkCancel, Icon::Question, ApplicationTitle()) != Answer::Ok) {
        return Outcome::Declined;
    }
    // The row must still have its own discovery answer: a static-address
    // attempt since the last discovery has replaced the table.
    const QList<Link::Answer>& answers = Link::Answers();
    const int entry = row - 1;
    std::optional<QByteArray> datagram;
    if (entry >= 0 && entry < answers.size() && answers[entry].discovery &&
        answers[entry].sender == address) {
        datagram = Wire::BuildResetDatagram(answers[entry].data);
    }
    if (!datagram) {
        Message(QStringLiteral("There is no discovery answer for the server at ") + address +
                QStringLiteral(".  Click the large button to find all of the Corvane servers on "
                               "the network, then select the server again."));
        return Outcome::Failed;
    }
    const QString mac = Wire::FormatMac(answers[entry].data);
    if (!Protocol::ParseIPv4(address)) return Outcome::Invalid;

    QString error;
    if (!Link::OpenBroadcastSocket(&error)) return Outcome::Failed;
    if (!Link::SendBroadcast(*datagram, &error)) {
        Message(error);
        Link::CloseSocket();
        return Outcome::Failed;
    }
    Link::CloseSocket();
    Status(kRebooting);
    StatusColourTo(StatusColour::Normal);
    Link::WaitWithProgress(Link::Timings().rebootMs);
    if (!Link::Running()) return Outcome::Failed;
    WindowStatus(kChanged);
    DiscoverBody();

    const QList<Link::Answer>& found = Link::Answers();
    for (int i = 0; i < found.size(); ++i) {
        if (Wire::FormatMac(found[i].data) != mac) continue;
        if (found[i].sender != address) {
            Show([&](ToolView& v) { v.HighlightAddress(i + 1); });
            Message(QStringLiteral("This server has been reset to DHCP mode"));
            return Outcome::Done;
        }
        Message(QStringLiteral("This server has not been reset to DHCP mode"));
        return Outcome::Failed;
    }
    return Outcome::Failed;
}

Outcome TestCommunication(const QString& selected) {
    if (Link::Busy()) return Outcome::Failed;
    Link::BusyScope busy;
    QString address;
    const Answer answer =
        Dialogs::Message(QStringLiteral("Test Communication to the Selected Corvane Device?"),
                         Buttons::YesNo, Icon::Question, QStringLiteral("Test This Device?"));
    if (answer == Answer::Yes && !selected.isEmpty()) {
        address = selected;
    } else {
        const auto typed = Dialogs::Input(
            QStringLiteral("Enter the IP Address of the device you would like to test"),
            QStringLiteral("IP Address"));
        if (!typed || typed->trimmed().isEmpty()) return Outcome::Declined;
        address = typed->trimmed();
    }
    return TestBody(address);
}

Outcome TestAddress(const QString& address) {
    if (Link::Busy()) return Outcome::Failed;
    Link::BusyScope busy;
    return TestBody(address);
}

namespace {

Outcome TestBody(const QString& address) {
    QString error;
    const auto target = Protocol::ParseIPv4(address, &error);
    if (!target) {
        Message(error);
        return Outcome::Invalid;
    }

    Status(QStringLiteral("Testing Communication to:  ") + address);
    QByteArray request;
    Protocol::BuildRequest(request, Protocol::CmdIdentify());
    QByteArray reply;
    if (!ExchangeRecord(*target, Protocol::kDevicePort, request, Protocol::kAnswerLength, reply)) {
        Status(QStringLiteral("Error reading from IP address: ") + address);
        Message(QStringLiteral("Error reading from ") + address);
        return Outcome::Failed;
    }

    Status(QStringLiteral("Successfully communicated with ") + address);
    namespace Id = Protocol::IdentifyAnswer;
    const int positions[] = {Id::kFamily, Id::kModel, Id::kBuild};
    QString parseError;
    for (size_t i = 0; i < 3; ++i) {
        const int high = Protocol::ByteAt(reply, positions[i]);
        const int value = 256 * high + Protocol::ByteAt(reply, positions[i] + 1);
        if (high >= 128) {
            if (parseError.isEmpty()) parseError = QStringLiteral("Overflow");
            continue;
        }
        lastIdentification[i] = value;
    }
    if (!parseError.isEmpty()) Message(QStringLiteral("Parse Error:") + parseError);
    const QString result =
        TestMessage(address, lastIdentification[0], lastIdentification[1], lastIdentification[2]);
    if (ToolView* v = Link::View())
        v->ShowResult(result);
    else
        Message(result);
    return Outcome::Done;
}

}  // namespace

QString TestMessage(const QString& address, int family, int model, int revision) {
    const QString lead = QStringLiteral("Successfully communicated with IP address: ") + address;
    if (family == 3) {
        return lead + QStringLiteral("  Model: Zolo %1").arg(family) + QLatin1Char('0') +
               QString::number(model) + QStringLiteral(" rev %1").arg(revision);
    }
    const bool keeper = model == 4 || model == 5 || model == 7 || model == 8 || model == 10;
    const QString prefix = keeper ? QStringLiteral("QX700-") : QStringLiteral("QX7");
    return lead + QStringLiteral("  Model: ") + prefix + QString::number(model) +
           QStringLiteral(" rev %1").arg(revision);
}

bool ExchangeRecord(const Protocol::IPv4& address, quint16 port, const QByteArray& request,
                    int expectedLength, QByteArray& reply) {
    reply.clear();
    Link::CloseSocket();
    Link::SetExpectedLength(expectedLength);
    QString error;
    QString errorText;
    if (Link::ConnectTcp(address, port, &error) && Link::Running()) {
        error.clear();
        if (Link::SendBytes(request, &error)) {
            Link::WaitWithProgress(Link::Timings().exchangeMs, Link::ReplyComplete);
            if (Link::ReplyComplete()) {
                reply = Link::ReadReply();
            } else if (!Link::Connected()) {
                error = QStringLiteral(
                    "The device closed the connection before its reply was "
                    "complete");
            }
        }
    } else {
        errorText = QStringLiteral("Could Not Open Socket Connection");
    }
    Link::CloseSocket();
    Link::SetExpectedLength(0);
    if (reply.isEmpty() && !(errorText + error).isEmpty())
        Message(QStringLiteral("Reading Error: ") + errorText + error);
    // The reply is exactly its length: more is not a reply of this device.
    return reply.left(4) == request.left(4) && reply.size() == expectedLength;
}

void ShowNetworkDetails() {
    const Platform::NetworkDetails details = Platform::ReadNetworkDetails();
    Show([&](ToolView& v) {
        v.SetNetworkDetail(0, details.address);
        v.SetNetworkDetail(1, details.mask);
        v.SetNetworkDetail(2, details.gateway);
    });
    // Shown in the debug list, not in a box: this runs at every activation,
    // and a box would bring the window back to activation without end.
    if (!details.problem.isEmpty()) Debug(details.problem);
}

void OpenWebPage(const QString& address) {
    Message(QStringLiteral("A browser will open connecting you to your Corvane Server directly.") +
                kCr +
                QStringLiteral("Once the webpage is displayed, click on the Server Properties "
                               "button review all network settings."),
            QStringLiteral("Advanced Network Setup"));
    Status(QStringLiteral("Opening the web browser."));
    StatusColourTo(StatusColour::Normal);
    // Only the rebuilt address goes into the URL the browser is given.
    const auto target = Protocol::ParseIPv4(address);
    const QString url = QStringLiteral("http://") + (target ? target->Text() : address) +
                        QStringLiteral("/ltx_conf.html");
    bool opened = false;
    if (target) Show([&](ToolView& v) { opened = v.OpenUrl(url); });
    if (opened) return;
    const QString text = QStringLiteral(
                             "An error occured trying to launch a web browser.  Please open your "
                             "web browser and navigate to:  ") +
                         url;
    Message(text);
    StatusColourTo(StatusColour::Red);
    Status(text + QStringLiteral("  Once the webpage is displayed, click on the Server Properties "
                                 "button."));
}

void Reset() {
    lastIdentification = {0, 0, 0};
    lastDiscovery.clear();
}

}  // namespace Procedures
