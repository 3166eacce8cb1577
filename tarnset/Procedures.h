#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

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
Outcome Discover();

// Gives the device at `current` the address in `octets` (four decimal texts)
// through its setup record. The subnet check may write the computer's own
// first three octets into `octets`' boxes (the view), not into `octets`.
Outcome SetStaticAddress(const QString& current, const QStringList& octets);

// Asks for a MAC and an address, makes the ARP entry, knocks, then runs the
// static-address procedure with the typed address.
Outcome ManualSetAddress();

// Broadcasts the reset-to-DHCP datagram for list row `row` (1 = first
// device) whose address cell reads `address`, then rediscovers.
Outcome ResetToDhcp(int row, const QString& address);

// The identification exchange on TCP 10001. `selected` is the address of
// the chosen list row, empty when none is chosen.
Outcome TestCommunication(const QString& selected);

// One request and its reply of `expectedLength` bytes on a fresh connection.
bool ExchangeRecord(const QString& address, quint16 port, const QByteArray& request,
                    int expectedLength, QByteArray& reply);

// The text the communication test shows for an identified device.
QString TestMessage(const QString& address, int family, int model, int revision);

// Fills the three network-detail labels from the system.
void ShowNetworkDetails();

// Opens the device's configuration page in the browser.
void OpenWebPage(const QString& address);

// Back to a fresh start: the last identification is forgotten.
void Reset();

}  // namespace Procedures
