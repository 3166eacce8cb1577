#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "protocol/Address.h"

// The procedures of tarnset, shared by the window and the command line:
// discovery, the static address through the setup record, the manual address
// (ARP entry and knock), the reset to DHCP, the communication test, the
// computer's network details and the device's web page. They report to the
// registered view (Link::SetView) and through common/Dialogs.
namespace Procedures {

// How a procedure ended. Invalid: typed input was refused before anything
// was sent; Declined: the user said no.
enum class Outcome { Done, Failed, Declined, Invalid };

QString ApplicationTitle();  // "Corvane Tarnset"

// Finds every device by one broadcast; the answers stay in Link::Answers().
// `reportNone` false: no message when nothing answers.
Outcome Discover(bool reportNone = true);

// The checks of a wanted address typed as four octets (blank, above 255,
// reserved fourth octet, leading zero); false with the message.
bool CheckOctets(const QStringList& octets, QString& message);

// Gives the device at `current` the address in `octets` (four decimal texts)
// through its setup record. The subnet check may write the computer's own
// first three octets into `octets`' boxes (the view), not into `octets`.
// The device is known by the MAC address of its answer in the last
// discovery: an address that another MAC answered at is refused before
// anything is written, and the move counts as done only when the
// rediscovery finds that MAC at the new address and not at the old one.
Outcome SetStaticAddress(const QString& current, const QStringList& octets);

// Asks for a MAC and an address, asks before it makes the ARP entry, makes
// it, knocks, then runs the static-address procedure with the typed address;
// the entry is removed again when that does not succeed.
Outcome ManualSetAddress();

// Broadcasts the reset-to-DHCP datagram for list row `row` (1 = first
// device) whose address cell reads `address`, then rediscovers.
Outcome ResetToDhcp(int row, const QString& address);

// The identification exchange on TCP 10001. `selected` is the address of
// the chosen list row, empty when none is chosen.
Outcome TestCommunication(const QString& selected);
// The same exchange with `address`, without the questions.
Outcome TestAddress(const QString& address);

// Where the discovery answers of the table place the device with this MAC
// text; empty when none of them does.
QString AddressOfMac(const QString& mac);

// One request and its reply of `expectedLength` bytes on a fresh connection.
bool ExchangeRecord(const Protocol::IPv4& address, quint16 port, const QByteArray& request,
                    int expectedLength, QByteArray& reply);

// The text the communication test shows for an identified device.
QString TestMessage(const QString& address, int family, int model, int revision);

// Fills the three network-detail labels from the system.
void ShowNetworkDetails();

// Opens the device's configuration page in the browser.
void OpenWebPage(const QString& address);

// Back to a fresh start: the last identification and discovery are forgotten.
void Reset();

}  // namespace Procedures
