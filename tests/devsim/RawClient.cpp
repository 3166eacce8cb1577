#include "RawClient.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include "devsim/Simulator.h"

Reply transact(const QHostAddress& address, quint16 port, const QByteArray& req, int want,
               int timeoutMs, int settleMs) {
    Reply r;
    QTcpSocket socket;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QTimer settle;
    settle.setSingleShot(true);
    QElapsedTimer clock;
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&settle, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, [&] {
        r.connected = true;
        clock.start();
        socket.write(req);
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        r.data += socket.readAll();
        r.arrivals << clock.elapsed();
        if (r.data.size() >= want && !settle.isActive()) {
            if (settleMs <= 0)
                loop.quit();
            else
                settle.start(settleMs);
        }
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError e) {
        r.error = e;
        if (e == QAbstractSocket::RemoteHostClosedError) r.closedByPeer = true;
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
        r.closedByPeer = true;
        loop.quit();
    });
    deadline.start(timeoutMs);
    socket.connectToHost(address, port);
    loop.exec();
    if (r.connected) {
        r.data += socket.readAll();
        r.elapsedMs = clock.elapsed();
    }
    socket.disconnect();  // our own abort is not the peer closing
    socket.abort();
    return r;
}

Reply transact(const devsim::Device* device, const QByteArray& req, int want, int timeoutMs,
               int settleMs) {
    return transact(device->address(), device->port(), req, want, timeoutMs, settleMs);
}

QByteArray request(const QByteArray& head, const QByteArray& extra) {
    QByteArray r(60, '\0');
    r.replace(0, head.size(), head);
    r.replace(4, extra.size(), extra);
    return r;
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

devsim::Device* addDevice(devsim::Simulator& sim, devsim::Model model, std::optional<quint16> build,
                          char unit, const char* address) {
    devsim::DeviceConfig c;
    c.address = QHostAddress(QString::fromLatin1(address));
    c.port = 0;
    c.model = model;
    c.build = build;
    c.unit = unit;
    devsim::Device* d = sim.addDevice(c);
    EXPECT_NE(d, nullptr);
    return d;
}
