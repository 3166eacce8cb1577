// A simulated device's configuration port 30718: it answers the discovery
// broadcast with its MAC address, hands out its setup record over TCP and
// takes a written-back record as its new static address, and obeys the
// reset-to-DHCP datagram that carries the last two bytes of its MAC. After
// a change it "reboots": silent for a while, then back on the new address.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

#include "Models.h"

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace devsim {

struct ConfigPortSettings {
    QByteArray mac;  // 6 bytes; empty: 00-20-4A and the address's last three octets
    int rebootDelayMs = 2000;
    int recordLength = 128;  // the setup record it sends
    int answerLength = 30;   // discovery answer; the MAC sits at offsets 24-29
    int answerCount = 1;     // answers to each discovery request
    // Answer datagrams from non-loopback senders too: only for a device
    // inside a network namespace that a test made.
    bool anySender = false;
    quint16 port = kConfigPort;
    enum class RecordFault {
        None,
        Silent,          // accepts the connection, never sends the record
        CloseMidRecord,  // sends half the record and closes
        Split,           // sends the record in two pieces, 100 ms apart
    };
    RecordFault recordFault = RecordFault::None;
};

class ConfigPort : public QObject {
    Q_OBJECT
  public:
    // `move` is called when the device comes back from a reboot on another
    // address; it returns whether the device could move there.
    ConfigPort(const ConfigPortSettings& settings, const QHostAddress& address,
               std::function<bool(const QHostAddress&)> move, QObject* parent = nullptr);
    ~ConfigPort() override;

    bool start(QString* error = nullptr);
    void stop();
    // Listens on `address` from now on (the device moved).
    bool rebind(const QHostAddress& address, QString* error = nullptr);

    QHostAddress address() const { return address_; }
    QByteArray mac() const { return mac_; }
    QString macText() const;  // 00-20-4A-00-00-02
    bool rebooting() const { return rebootTimer_.isActive(); }

    // The record the device sends now, and the write-backs it received.
    QByteArray setupRecord() const;
    QList<QByteArray> writeBacks() const { return writeBacks_; }
    int discoveryRequests() const { return discoveries_; }
    int resetRequests() const { return resets_; }

    // The DHCP pool: addresses handed out by resets, 127.0.0.200 upward.
    static QHostAddress NextPoolAddress();

  signals:
    void moved(const QHostAddress& address);

  private:
    void onDatagrams();
    void onConnection();
    void onTcpData(QTcpSocket* socket);
    void startReboot(const QHostAddress& next);
    bool bindReply(QString* error);

    ConfigPortSettings settings_;
    QHostAddress address_;
    std::function<bool(const QHostAddress&)> move_;
    QByteArray mac_;
    QUdpSocket* listen_ = nullptr;  // 0.0.0.0:30718, shared: receives broadcasts
    QUdpSocket* reply_ = nullptr;   // the device's own address: answers come from it
    QTcpServer* server_ = nullptr;
    QByteArray record_;  // everything but the address, which is always current
    QList<QByteArray> writeBacks_;
    QTimer rebootTimer_;
    QHostAddress next_;
    int discoveries_ = 0;
    int resets_ = 0;
};

}  // namespace devsim
