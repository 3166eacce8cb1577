#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "protocol/Address.h"

// What tarnset asks of the operating system: the computer's network
// details, the ARP entry and the TCP knock. Commands run with an argument
// list, never through a shell, and only with validated addresses.
namespace Platform {

struct NetworkDetails {
    QString address;  // of the interface that reaches the default route
    QString mask;
    QString gateway;
    QString interfaceName;
    QString problem;  // why something is missing, for the debug list
};
NetworkDetails ReadNetworkDetails();

// The interface that routes to `address` (most specific route of the main
// routing table); empty when none does.
QString InterfaceFor(const Protocol::IPv4& address);

// Why `address` cannot be a device's ARP entry: this computer's own address,
// a gateway, the network or broadcast address of a local network, a
// multicast, loopback or reserved address. Empty when it can.
QString ArpTargetProblem(const Protocol::IPv4& address);
// The part of that rule that holds for any address a device is given: not
// this computer's own address, a gateway, or a local network's network or
// broadcast address. Empty when none applies.
QString LocalAddressProblem(const Protocol::IPv4& address);

// The `ip` command by its absolute path (/usr/sbin/ip, /sbin/ip, ...), never
// looked up in PATH; empty when it is not installed.
QString IpProgram();

// The outcome of a command: exit code (-1 when it could not start) and its
// error output.
struct CommandResult {
    int exitCode = -1;
    QString errorText;
};
using CommandRunner = std::function<CommandResult(const QString& program, const QStringList& args)>;
// Tests replace the runner; an empty one restores the real one (QProcess,
// at most 5 seconds).
void SetCommandRunner(CommandRunner runner);
CommandResult RunCommand(const QString& program, const QStringList& args);

// `ip neigh replace ADDRESS lladdr MAC dev IFACE` for an address that
// ArpTargetProblem accepts, on the interface InterfaceFor finds. False with
// a description when the entry could not be made.
bool SetArpEntry(const Protocol::IPv4& address, const std::array<quint8, 6>& mac,
                 QString* error = nullptr);
// `ip neigh del ADDRESS dev IFACE`: takes back an entry SetArpEntry made.
bool RemoveArpEntry(const Protocol::IPv4& address, QString* error = nullptr);

// A plain TCP connect to port 1: the packet that makes a device take the
// address of its ARP entry. Its outcome does not matter.
void Knock(const Protocol::IPv4& address, int timeoutMs);

}  // namespace Platform
