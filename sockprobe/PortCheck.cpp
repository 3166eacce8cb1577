#include "sockprobe/PortCheck.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "common/Dialogs.h"
#include "protocol/Address.h"
#include "sockprobe/LocalAddress.h"

namespace Sockprobe {
namespace {
QString TestText() {
    return QString::fromLatin1(kTestText);
}

QString ProtocolWord(Protocol protocol) {
    switch (protocol) {
        case Protocol::Tcp:
            return QStringLiteral("TCP");
        case Protocol::Udp:
            return QStringLiteral("UDP");
        case Protocol::None:
            break;
    }
    return QStringLiteral("NONE");
}
}  // namespace

PortCheck::PortCheck(QObject* parent) : QObject(parent) {}

PortCheck::~PortCheck() {
    Shutdown();
}

void PortCheck::Run(bool useLocalIP) {
    // The waits below run events, a second click among them; one run at a time.
    if (running_) return;
    running_ = true;
    closing_ = false;
    useLocalIP_ = useLocalIP;
    emit OutputCleared();

    const QString lead = QStringLiteral("Error!  ");
    const std::function<void()> steps[] = {
        [this] { PrepareTcp(); },    [this] { StartListener(); }, [this] { ConnectClient(); },
        [this] { SendTestText(); },  [this] { PrepareUdp(); },    [this] { StartListener(); },
        [this] { ConnectClient(); }, [this] { SendTestText(); },
    };
    // A TCP connection and the test text arrive later than the call that
    // starts them; the run waits for them so that each protocol's exchange
    // finishes before the next step closes its sockets.
    const std::function<bool()> connected = [this] {
        if (ClientClosed() || ListenerClosed()) return true;
        if (socketClient.socket->state() != QAbstractSocket::ConnectedState) return false;
        return socketServer.protocol != Protocol::Tcp || socketServer.connection != nullptr;
    };
    const std::function<bool()> delivered = [this] {
        return ClientClosed() || ListenerClosed() || (sendComplete_ && dataArrived_);
    };
    const std::function<bool()> waits[] = {{}, {}, connected, delivered,
                                           {}, {}, connected, delivered};
    tcpPassed_ = udpPassed_ = false;
    for (size_t i = 0; i < std::size(steps) && !closing_; ++i) {
        Trap(lead, steps[i]);
        if (!closing_) Pump(waits[i]);
    }
    if (!closing_) {
        // Nothing stays bound after a run: another program may need the ports.
        CloseClient();
        CloseListener();
        AddLine(ResultLine(tcpPassed_, udpPassed_));
    }
    running_ = false;
}

bool CheckFromConsole(bool useLocalIP) {
    PortCheck check;
    QObject::connect(&check, &PortCheck::LineAdded, &check,
                     [](const QString& line) { QTextStream(stdout) << line << Qt::endl; });
    check.Run(useLocalIP);
    const bool passed = check.Passed();
    check.Shutdown();
    return passed;
}

QString ResultLine(bool tcpPassed, bool udpPassed) {
    auto verdict = [](bool passed) {
        return passed ? QStringLiteral("passed") : QStringLiteral("failed");
    };
    return QStringLiteral("Result: TCP port %1 %2, UDP port %3 %4.")
        .arg(kTcpPort)
        .arg(verdict(tcpPassed))
        .arg(kUdpPort)
        .arg(verdict(udpPassed));
}

void PortCheck::Shutdown() {
    closing_ = true;
    if (waitLoop_) waitLoop_->quit();
    CloseClient();
    CloseListener();
}

void PortCheck::ReportFailure(const QString& text) {
    CloseClient();
    CloseListener();
    AddLine(text);
}

void PortCheck::PrepareTcp() {
    Trap(QStringLiteral("Error initializing network socket for TCP.  The error is "),
         [this] { Prepare(Protocol::Tcp, kTcpPort); });
}

void PortCheck::PrepareUdp() {
    const QString lead =
        QStringLiteral("Error initializing network socket for UDP.  The error is ");
    Trap(lead, [this, &lead] {
        Prepare(Protocol::Udp, kUdpPort);
        // Without address sharing, so that a port held by another program
        // fails here instead of splitting the datagrams with it.
        auto* udp = new QUdpSocket(this);
        if (!udp->bind(QHostAddress::AnyIPv4, socketServer.localPort,
                       QAbstractSocket::DontShareAddress)) {
            const QString description = udp->errorString();
            delete udp;
            ReportFailure(lead + description);
            return;
        }
        socketServer.udp = udp;
        connect(udp, &QUdpSocket::readyRead, this, &PortCheck::OnUdpDataArrival);
        connect(udp, &QAbstractSocket::errorOccurred, this,
                [this, udp] { OnListenerError(udp->errorString()); });
        connect(udp, &QAbstractSocket::stateChanged, this, &PortCheck::Wake);
    });
}

void PortCheck::Prepare(Protocol protocol, const char* port) {
    CloseListener();
    CloseClient();
    socketServer.protocol = protocol;
    socketClient.protocol = protocol;
    socketServer.localPort = QString::fromLatin1(port).toUShort();
    socketClient.remotePort = QString::fromLatin1(port).toUShort();
    socketClient.remoteHost = useLocalIP_ ? LocalIPAddress() : QString::fromLatin1(kLoopbackIP);
}

void PortCheck::StartListener() {
    const QString word = ProtocolWord(socketServer.protocol);
    const QString lead = QStringLiteral("Error activating listener with the ") + word +
                         QStringLiteral(" protocol.  The error is ");
    Trap(lead, [this, &word, &lead] {
        // A UDP listener was bound when it was prepared. When that failed, the
        // failure is already in the list and claiming to listen would
        // contradict it; the next steps say "Listener not ready".
        if (socketServer.protocol == Protocol::Udp && !socketServer.udp) return;
        // Only TCP starts listening here.
        if (socketServer.protocol == Protocol::Tcp && !socketServer.server) {
            auto* server = new QTcpServer(this);
            if (!server->listen(QHostAddress::AnyIPv4, socketServer.localPort)) {
                const QString description = server->errorString();
                delete server;
                ReportFailure(lead + description);
                return;
            }
            socketServer.server = server;
            connect(server, &QTcpServer::newConnection, this, &PortCheck::OnConnectionRequest);
            connect(server, &QTcpServer::acceptError, this,
                    [this, server] { OnListenerError(server->errorString()); });
        }
        AddLine(QStringLiteral("Listening on Port ") + QString::number(socketServer.localPort) +
                QStringLiteral(" using the ") + word + QStringLiteral(" protocol."));
    });
}

void PortCheck::ConnectClient() {
    const QString lead = QStringLiteral("Error activating client.  The error is ");
    Trap(lead, [this, &lead] {
        if (ListenerClosed()) {
            AddLine(QStringLiteral("Will not attempt connecting to server.  Listener not ready"));
            return;
        }
        CloseClient();
        QAbstractSocket* socket = nullptr;
        if (socketClient.protocol == Protocol::Udp) {
            socket = new QUdpSocket(this);
        } else {
            socket = new QTcpSocket(this);
        }
        socketClient.socket = socket;
        connect(socket, &QAbstractSocket::errorOccurred, this,
                [this, socket] { OnClientError(socket); });
        connect(socket, &QAbstractSocket::bytesWritten, this, [this, socket] {
            if (socket->bytesToWrite() > 0) return;
            sendComplete_ = true;
            AddLine(QStringLiteral("Test data sent."));
        });
        // Closed by the peer.
        connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
            if (!inCall_ && socketClient.socket == socket) CloseClient();
        });
        connect(socket, &QAbstractSocket::stateChanged, this, &PortCheck::Wake);

        // Only a plain dotted address, rebuilt, reaches the socket: a text
        // would start a name lookup or be read in octal.
        QString invalid;
        const auto host = ::Protocol::ParseIPv4(socketClient.remoteHost, &invalid);
        if (!host) {
            ReportFailure(lead + invalid);
            return;
        }
        BeginCall();
        socket->connectToHost(QHostAddress(host->Value()), socketClient.remotePort);
        const QString error = EndCall();
        if (!error.isEmpty()) {
            ReportFailure(lead + error);
            return;
        }
        AddLine(QStringLiteral("Attempting to connect to server at IP address:  ") +
                socketClient.remoteHost);
    });
}

void PortCheck::SendTestText() {
    const QString lead = QStringLiteral("Error!  ");
    Trap(lead, [this, &lead] {
        if (ListenerClosed()) {
            AddLine(QStringLiteral("Will not send test data.  Listener not ready"));
            return;
        }
        AddLine(QStringLiteral("Sending test data."));
        sendComplete_ = false;
        dataArrived_ = false;
        QAbstractSocket* socket = socketClient.socket;
        if (ClientClosed()) {
            ReportFailure(lead + QStringLiteral("The client is not connected."));
            return;
        }
        BeginCall();
        const qint64 written = socket->write(QByteArray(kTestText));
        QString error = EndCall();
        if (written < 0 && error.isEmpty()) error = socket->errorString();
        if (!error.isEmpty()) ReportFailure(lead + error);
    });
}

bool PortCheck::ListenerClosed() const {
    if (socketServer.server && socketServer.server->isListening()) return false;
    if (socketServer.connection &&
        socketServer.connection->state() != QAbstractSocket::UnconnectedState) {
        return false;
    }
    if (socketServer.udp && socketServer.udp->state() != QAbstractSocket::UnconnectedState) {
        return false;
    }
    return true;
}

bool PortCheck::ClientClosed() const {
    return !socketClient.socket ||
           socketClient.socket->state() == QAbstractSocket::UnconnectedState;
}

void PortCheck::AddLine(const QString& line) {
    emit LineAdded(line);
    Wake();
}

void PortCheck::CloseListener() {
    Retire(std::exchange(socketServer.server, nullptr));
    Retire(std::exchange(socketServer.connection, nullptr));
    Retire(std::exchange(socketServer.udp, nullptr));
    Wake();
}

void PortCheck::CloseClient() {
    Retire(std::exchange(socketClient.socket, nullptr));
    Wake();
}

void PortCheck::Retire(QObject* object) {
    if (!object) return;
    // Cut the signals first: closing emits some of them, and a retired socket
    // must not write into the output any more.
    disconnect(object, nullptr, this, nullptr);
    if (auto* socket = qobject_cast<QAbstractSocket*>(object)) socket->abort();
    if (auto* server = qobject_cast<QTcpServer*>(object)) server->close();
    object->deleteLater();
}

void PortCheck::OnConnectionRequest() {
    const QString lead = QStringLiteral("Error during: Server Connection Request.  The error is ");
    Trap(lead, [this, &lead] {
        while (socketServer.server && socketServer.server->hasPendingConnections()) {
            QTcpSocket* request = socketServer.server->nextPendingConnection();
            AddLine(QStringLiteral("Connection request received."));
            if (socketServer.connection) {
                // The listener carries one connection and cannot accept another.
                request->abort();
                request->deleteLater();
                ReportFailure(lead + QStringLiteral("The listener is already connected."));
                return;
            }
            // The listener turns into the accepted connection.
            if (!ClientClosed()) Retire(std::exchange(socketServer.server, nullptr));
            Adopt(request);
            AddLine(QStringLiteral("Connection request accepted."));
        }
    });
}

void PortCheck::Adopt(QTcpSocket* connection) {
    connection->setParent(this);
    socketServer.connection = connection;
    connect(connection, &QTcpSocket::readyRead, this, &PortCheck::OnTcpDataArrival);
    connect(connection, &QAbstractSocket::errorOccurred, this, [this, connection] {
        // A peer that closes is handled by disconnected, as a close.
        if (connection->error() == QAbstractSocket::RemoteHostClosedError) return;
        OnListenerError(connection->errorString());
    });
    connect(connection, &QAbstractSocket::disconnected, this, [this, connection] {
        if (socketServer.connection == connection) CloseListener();
    });
    connect(connection, &QAbstractSocket::stateChanged, this, &PortCheck::Wake);
}

void PortCheck::OnTcpDataArrival() {
    Trap(QStringLiteral("Error during Data Arrival at Server.  The error is "), [this] {
        QTcpSocket* connection = socketServer.connection;
        if (!connection) return;
        const qint64 count = connection->bytesAvailable();
        if (count <= 0) return;
        AddLine(QStringLiteral("Received ") + QString::number(count) + QStringLiteral(" bytes."));
        CheckReceived(connection->read(count));
    });
}

void PortCheck::OnUdpDataArrival() {
    const QString lead = QStringLiteral("Error during Data Arrival at Server.  The error is ");
    Trap(lead, [this, &lead] {
        // A message box below runs events; the listener may close meanwhile.
        while (socketServer.udp && socketServer.udp->hasPendingDatagrams()) {
            QUdpSocket* udp = socketServer.udp;
            const qint64 size = udp->pendingDatagramSize();
            QByteArray data(std::max<qint64>(size, 0), Qt::Uninitialized);
            const qint64 count = udp->readDatagram(data.data(), data.size());
            if (count < 0) {
                ReportFailure(lead + udp->errorString());
                return;
            }
            data.truncate(count);
            AddLine(QStringLiteral("Received ") + QString::number(count) +
                    QStringLiteral(" bytes."));
            CheckReceived(data);
        }
    });
}

void PortCheck::CheckReceived(const QByteArray& data) {
    const QString text = QString::fromLatin1(data);
    AddLine(text);
    dataArrived_ = true;
    if (text != TestText()) {
        Wake();
        Dialogs::Message(text + QStringLiteral(" is not the same as ") + TestText(),
                         Dialogs::Buttons::Ok, Dialogs::Icon::None);
    } else {
        AddLine(QStringLiteral("Success!"));
        (socketServer.protocol == Protocol::Udp ? udpPassed_ : tcpPassed_) = true;
    }
}

void PortCheck::OnListenerError(const QString& description) {
    if (inCall_) {
        if (callError_.isEmpty()) callError_ = description;
        return;
    }
    ReportFailure(QStringLiteral("Error with listener.  ") + description);
    CloseListener();
}

void PortCheck::OnClientError(QAbstractSocket* socket) {
    // A peer that closes is handled by disconnected, as a close.
    if (socket->error() == QAbstractSocket::RemoteHostClosedError) return;
    if (inCall_) {
        if (callError_.isEmpty()) callError_ = socket->errorString();
        return;
    }
    ReportFailure(QStringLiteral("Error with client.  ") + socket->errorString());
    CloseClient();
}

void PortCheck::Trap(const QString& lead, const std::function<void()>& step) {
    try {
        step();
    } catch (const std::exception& e) {
        inCall_ = false;
        ReportFailure(lead + QString::fromLocal8Bit(e.what()));
    }
}

void PortCheck::BeginCall() {
    inCall_ = true;
    callError_.clear();
}

QString PortCheck::EndCall() {
    inCall_ = false;
    return std::exchange(callError_, QString());
}

void PortCheck::Pump(const std::function<bool()>& settled) {
    QCoreApplication::processEvents();
    if (!settled || closing_ || settled()) return;
    QEventLoop loop;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
    waitLoop_ = &loop;
    settled_ = settled;
    watchdog.start(stepWaitMs_);
    loop.exec();
    waitLoop_ = nullptr;
    settled_ = {};
}

void PortCheck::Wake() {
    if (waitLoop_ && (closing_ || (settled_ && settled_()))) waitLoop_->quit();
}

}  // namespace Sockprobe
