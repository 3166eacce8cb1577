// A plain TCP client for talking to simulated devices from tests. It waits in
// a local event loop, so the simulator in the same thread keeps running, and
// every wait is bounded.
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <optional>

#include "devsim/Device.h"

namespace devsim {
class Simulator;
}

struct Reply {
    bool connected = false;
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    bool closedByPeer = false;
    QByteArray data;
    QList<qint64> arrivals;  // ms after sending at which each piece arrived
    qint64 elapsedMs = 0;
};

// Connects, sends `request`, and collects until `want` bytes are there (then
// `settleMs` more for anything extra), the peer closes, or `timeoutMs` passes.
Reply transact(const QHostAddress& address, quint16 port, const QByteArray& request, int want = 60,
               int timeoutMs = 2000, int settleMs = 0);
Reply transact(const devsim::Device* device, const QByteArray& request, int want = 60,
               int timeoutMs = 2000, int settleMs = 0);

// A 60-byte request: head, then zero bytes (with `extra` placed from byte 5).
QByteArray request(const QByteArray& head, const QByteArray& extra = {});

// Runs the event loop for `ms` without blocking it.
void spin(int ms);

QByteArray hex(const char* text);  // "3F CD DC 00" -> bytes

// The heads of the identification and readings requests.
inline const QByteArray kIdentify = QByteArray::fromHex("2ACDDCBA");
inline const QByteArray kReadings = QByteArray::fromHex("3FCDDC00");

// A device of `model` on an ephemeral port of `address`; fails the test when
// the simulator refuses it.
devsim::Device* addDevice(devsim::Simulator& sim, devsim::Model model,
                          std::optional<quint16> build = {}, char unit = 'F',
                          const char* address = "127.0.0.2");
