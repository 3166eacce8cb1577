#include "ConfigPort.h"

#include <QNetworkDatagram>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

namespace devsim {

namespace {

// The device's own reading of its messages, offsets from 0.
const QByteArray kDiscoveryQuery = QByteArray::fromHex("000000F6");
const QByteArray kDiscoveryReply = QByteArray::fromHex("000000F7");
const QByteArray kRecordRequest = QByteArray::fromHex("000100E0");
constexpr int kMacOffset = 24;
constexpr int kAddressOffset = 4;
constexpr int kWriteBackFlag = 3;  // C0 in a written-back record
constexpr quint8 kWriteBack = 0xC0;
constexpr int kResetLength = 20;
const QByteArray kResetHead = QByteArray::fromHex("000000FC") + QByteArray("TARN-SET");
constexpr int kResetMac = 14;

// Addresses the simulated devices of this process hold, so that the pool
// never hands out a taken one.
QSet<quint32>& Taken() {
    static QSet<quint32> taken;
    return taken;
}

QHostAddress V4(const QHostAddress& a) {
    bool ok = false;
    const quint32 v = a.toIPv4Address(&ok);
    return ok ? QHostAddress(v) : a;
}

}  // namespace

ConfigPort::ConfigPort(const ConfigPortSettings& settings, const QHostAddress& address,
                       std::function<bool(const QHostAddress&)> move, QObject* parent)
    : QObject(parent), settings_(settings), address_(address), move_(std::move(move)) {
    mac_ = settings_.mac;
    if (mac_.size() != 6) {
        const quint32 a = address.toIPv4Address();
        mac_ = QByteArray::fromHex("00204A");
        mac_.append(char((a >> 16) & 0xFF)).append(char((a >> 8) & 0xFF)).append(char(a & 0xFF));
    }
    // A record that looks lived-in: no byte is by chance what a write-back
    // puts there.
    record_ = QByteArray(qMax(0, settings_.recordLength), '\0');
    for (int i = 0; i < record_.size(); ++i) record_[i] = char((i * 7 + 3) & 0xFF);
    if (record_.size() >= 4) record_.replace(0, 4, kRecordRequest);
    rebootTimer_.setSingleShot(true);
    connect(&rebootTimer_, &QTimer::timeout, this, [this] {
        const QHostAddress next = next_;
        const QHostAddress old = address_;
        if (move_ && move_(next)) {
            emit moved(next);
        } else {
            qWarning("devsim: cannot move to %s; staying on %s", qPrintable(next.toString()),
                     qPrintable(old.toString()));
            rebind(old);
        }
    });
}

ConfigPort::~ConfigPort() {
    stop();
}

QString ConfigPort::macText() const {
    return QString::fromLatin1(mac_.toHex('-')).toUpper();
}

QByteArray ConfigPort::setupRecord() const {
    QByteArray record = record_;
    const quint32 a = address_.toIPv4Address();
    for (int i = 0; i < 4 && kAddressOffset + i < record.size(); ++i)
        record[kAddressOffset + i] = char((a >> (24 - 8 * i)) & 0xFF);
    return record;
}

QHostAddress ConfigPort::NextPoolAddress() {
    for (quint32 last = 200; last < 255; ++last) {
        const quint32 a = (127u << 24) | last;
        if (!Taken().contains(a)) return QHostAddress(a);
    }
    return QHostAddress(QStringLiteral("127.0.0.254"));
}

bool ConfigPort::start(QString* error) {
    listen_ = new QUdpSocket(this);
    if (!listen_->bind(QHostAddress::AnyIPv4, settings_.port,
                       QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (error) *error = QStringLiteral("configuration port: %1").arg(listen_->errorString());
        return false;
    }
    connect(listen_, &QUdpSocket::readyRead, this, &ConfigPort::onDatagrams);
    return rebind(address_, error);
}

bool ConfigPort::rebind(const QHostAddress& address, QString* error) {
    Taken().remove(address_.toIPv4Address());
    address_ = address;
    Taken().insert(address_.toIPv4Address());
    // Closed now: a deferred delete may come only much later.
    if (server_) {
        server_->close();
        server_->deleteLater();
    }
    server_ = new QTcpServer(this);
    connect(server_, &QTcpServer::newConnection, this, &ConfigPort::onConnection);
    if (!server_->listen(address_, settings_.port)) {
        if (error)
            *error = QStringLiteral("configuration port on %1: %2")
                         .arg(address_.toString(), server_->errorString());
        return false;
    }
    return bindReply(error);
}

bool ConfigPort::bindReply(QString* error) {
    if (reply_) {
        reply_->close();
        reply_->deleteLater();
    }
    reply_ = new QUdpSocket(this);
    // From port 30718 like a device; any port will do when that is taken.
    if (!reply_->bind(address_, settings_.port,
                      QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint) &&
        !reply_->bind(address_, 0)) {
        if (error) *error = QStringLiteral("configuration port: %1").arg(reply_->errorString());
        return false;
    }
    return true;
}

void ConfigPort::stop() {
    rebootTimer_.stop();
    Taken().remove(address_.toIPv4Address());
    for (QObject* o : {static_cast<QObject*>(listen_), static_cast<QObject*>(reply_),
                       static_cast<QObject*>(server_)})
        if (o) o->deleteLater();
    if (listen_) listen_->close();
    if (reply_) reply_->close();
    if (server_) server_->close();
    listen_ = nullptr;
    reply_ = nullptr;
    server_ = nullptr;
}

void ConfigPort::onDatagrams() {
    while (listen_ && listen_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = listen_->receiveDatagram();
        const QHostAddress sender = V4(datagram.senderAddress());
        // Outside a test's own namespace only loopback senders are answered:
        // the simulator must never talk to a real network.
        if (!sender.isLoopback() && !settings_.anySender) continue;
        if (rebooting()) continue;
        const QByteArray data = datagram.data();
        if (data == kDiscoveryQuery) {
            ++discoveries_;
            QByteArray answer(qMax(settings_.answerLength, kMacOffset + 6), '\0');
            answer.replace(0, 4, kDiscoveryReply);
            answer.replace(kMacOffset, 6, mac_);
            for (int i = kMacOffset + 6; i < answer.size(); ++i) answer[i] = char(0xEE);
            answer.truncate(settings_.answerLength);
            QUdpSocket* from = sender.isLoopback() ? reply_ : listen_;
            for (int i = 0; i < settings_.answerCount && from; ++i)
                from->writeDatagram(answer, sender, datagram.senderPort());
        } else if (data.size() == kResetLength && data.startsWith(kResetHead) &&
                   data.mid(kResetMac, 2) == mac_.right(2)) {
            ++resets_;
            startReboot(NextPoolAddress());
        }
    }
}

void ConfigPort::onConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onTcpData(socket); });
    }
}

void ConfigPort::onTcpData(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    if (rebooting()) return;
    if (!socket->property("sent").toBool()) {
        if (buffer.size() < kRecordRequest.size()) {
            socket->setProperty("buffer", buffer);
            return;
        }
        if (!buffer.startsWith(kRecordRequest)) {
            socket->abort();
            return;
        }
        buffer.remove(0, kRecordRequest.size());
        socket->setProperty("sent", true);
        const QByteArray record = setupRecord();
        using Fault = ConfigPortSettings::RecordFault;
        switch (settings_.recordFault) {
            case Fault::Silent:
                break;
            case Fault::CloseMidRecord:
                socket->write(record.left(record.size() / 2));
                socket->flush();
                socket->disconnectFromHost();
                return;
            case Fault::Split: {
                const int half = record.size() / 2;
                socket->write(record.left(half));
                QTimer::singleShot(100, socket,
                                   [socket, rest = record.mid(half)] { socket->write(rest); });
                break;
            }
            case Fault::None:
                socket->write(record);
                break;
        }
    }
    // The write-back: a whole record with its write-back flag.
    if (buffer.size() >= record_.size() && !record_.isEmpty()) {
        const QByteArray record = buffer.left(record_.size());
        buffer.remove(0, record_.size());
        if (quint8(record[kWriteBackFlag]) == kWriteBack) {
            writeBacks_.append(record);
            record_ = record;
            record_[kWriteBackFlag] = record_.size() > 3 ? kRecordRequest[3] : record_[3];
            record_[1] = kRecordRequest[1];
            const QHostAddress next(quint32(quint8(record[4])) << 24 |
                                    quint32(quint8(record[5])) << 16 |
                                    quint32(quint8(record[6])) << 8 | quint8(record[7]));
            socket->disconnectFromHost();
            startReboot(next);
        }
    }
    socket->setProperty("buffer", buffer);
}

void ConfigPort::startReboot(const QHostAddress& next) {
    next_ = next;
    if (server_) server_->close();
    rebootTimer_.start(qMax(0, settings_.rebootDelayMs));
}

}  // namespace devsim
