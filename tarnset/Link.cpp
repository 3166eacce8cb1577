#include "tarnset/Link.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QPointer>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <utility>

#include "common/TestWaits.h"
#include "tarnset/Wire.h"

namespace Link {
namespace {

Protocol::IPv4 DefaultBroadcast() {
    return *Protocol::ParseIPv4(Wire::kDefaultBroadcast);
}

// Bounds what a peer that sends without end can make the socket hold.
constexpr qint64 kTcpReadBuffer = 64 * 1024;

struct State {
    Timing timing;
    Protocol::IPv4 broadcast = DefaultBroadcast();
    bool running = true;
    bool busy = false;
    Tarnset::ToolView* view = nullptr;
    QList<Answer> answers;
    int ignored = 0;
    int expectedLength = 0;
    bool replyComplete = false;
    int recordEntry = -1;  // the entry the current TCP connection fills
    qint64 recordBytes = 0;
    QUdpSocket* udp = nullptr;
    QTcpSocket* tcp = nullptr;
    QString tcpError;
    QTimer watchDog;
    QTimer tenth;
    bool expired = false;
    int ticks = 0;
    QElapsedTimer waitClock;
    qint64 lastRecordDataMs = -1;
    QPointer<QEventLoop> waiting;

    void Wake() {
        if (waiting) waiting->quit();
    }
};

State& S() {
    static State* s = [] {
        auto* state = new State;
        state->watchDog.setSingleShot(true);
        QObject::connect(&state->watchDog, &QTimer::timeout, [state] {
            state->expired = true;
            state->Wake();
        });
        state->tenth.setInterval(100);
        QObject::connect(&state->tenth, &QTimer::timeout, [state] {
            ++state->ticks;
            state->Wake();
        });
        return state;
    }();
    return *s;
}

QString SenderText(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

void AddAnswer(const QByteArray& data, const QString& sender, bool discovery) {
    State& s = S();
    if (s.answers.size() >= kAnswerSlots) {
        ++s.ignored;
        return;
    }
    s.answers.append({data, sender, discovery});
}

void OnUdpData() {
    State& s = S();
    if (!s.udp) return;
    while (s.udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = s.udp->receiveDatagram();
        if (s.expectedLength == 0)
            AddAnswer(datagram.data(), SenderText(datagram.senderAddress()), true);
    }
    s.Wake();
}

void OnTcpData() {
    State& s = S();
    if (!s.tcp) return;
    if (s.expectedLength > 0) {
        // A longer reply ends the wait too; the exchange then refuses it.
        if (s.tcp->bytesAvailable() >= s.expectedLength) s.replyComplete = true;
    } else {
        // TCP may split the record anywhere: keep one record per connection.
        // Past the longest record one byte more is kept, so the record is
        // seen to be too long; the rest is counted only.
        const QByteArray data = s.tcp->readAll();
        s.recordBytes += data.size();
        if (!data.isEmpty() && s.waitClock.isValid()) s.lastRecordDataMs = s.waitClock.elapsed();
        constexpr qsizetype keep = Wire::SetupRecord::kMaxLength + 1;
        if (s.recordEntry >= 0 && s.recordEntry < s.answers.size()) {
            QByteArray& record = s.answers[s.recordEntry].data;
            if (record.size() < keep) record.append(data.left(keep - record.size()));
        } else if (s.answers.size() < kAnswerSlots) {
            AddAnswer(data.left(keep), SenderText(s.tcp->peerAddress()), false);
            s.recordEntry = int(s.answers.size()) - 1;
        } else {
            ++s.ignored;
        }
    }
    s.Wake();
}

void StopTimers() {
    State& s = S();
    s.watchDog.stop();
    s.tenth.stop();
    s.expired = false;
}

}  // namespace

Timing& Timings() {
    return S().timing;
}

bool UseTestTimings(QString* error) {
    if (qEnvironmentVariableIsEmpty(kTestTimingsVariable)) return true;
    const QString text = qEnvironmentVariable(kTestTimingsVariable);
    const auto fail = [&](const QString& why) {
        if (error) *error = QLatin1String(kTestTimingsVariable) + QStringLiteral(": ") + why;
        return false;
    };
    Timing parsed = S().timing;
    QString why;
    if (!TestWaits::Parse(text,
                          {{"discovery", &parsed.discoveryMs},
                           {"reboot", &parsed.rebootMs},
                           {"setup", &parsed.setupRecordMs},
                           {"connect", &parsed.connectMs},
                           {"exchange", &parsed.exchangeMs},
                           {"knock", &parsed.knockMs}},
                          &why)) {
        return fail(why);
    }
    S().timing = parsed;
    return true;
}

Protocol::IPv4 BroadcastAddress() {
    return S().broadcast;
}

bool SetBroadcastAddress(const QString& address, QString* error) {
    const auto parsed = Protocol::ParseIPv4(address, error);
    if (!parsed) return false;
    S().broadcast = *parsed;
    return true;
}

bool Running() {
    return S().running;
}

void SetRunning(bool running) {
    S().running = running;
    S().Wake();
}

bool Busy() {
    return S().busy;
}

BusyScope::BusyScope() {
    S().busy = true;
}

BusyScope::~BusyScope() {
    S().busy = false;
}

void SetView(Tarnset::ToolView* view) {
    S().view = view;
}

Tarnset::ToolView* View() {
    return S().view;
}

void ClearAnswers() {
    State& s = S();
    s.answers.clear();
    s.ignored = 0;
    s.expectedLength = 0;
    s.recordEntry = -1;
    s.recordBytes = 0;
}

const QList<Answer>& Answers() {
    return S().answers;
}

int AnswerCount() {
    return int(S().answers.size()) - 1;
}

int IgnoredAnswers() {
    return S().ignored;
}

bool OpenBroadcastSocket(QString* error) {
    State& s = S();
    if (s.udp && s.udp->state() == QAbstractSocket::BoundState) return true;
    CloseSocket();
    s.udp = new QUdpSocket;
    QObject::connect(s.udp, &QUdpSocket::readyRead, OnUdpData);
    // An ephemeral port: answers come back to the port the request left from.
    if (!s.udp->bind(QHostAddress::AnyIPv4, 0)) {
        if (error) *error = s.udp->errorString();
        CloseSocket();
        return false;
    }
    return true;
}

bool SendBroadcast(const QByteArray& datagram, QString* error) {
    State& s = S();
    if (!s.udp) {
        if (error) *error = QStringLiteral("The UDP socket is not open.");
        return false;
    }
    const QHostAddress target(s.broadcast.Value());
    if (s.udp->writeDatagram(datagram, target, Wire::kConfigPort) != datagram.size()) {
        if (error) *error = s.udp->errorString();
        return false;
    }
    return true;
}

void SetExpectedLength(int length) {
    S().expectedLength = length;
    S().replyComplete = false;
}

bool ReplyComplete() {
    return S().replyComplete;
}

bool ConnectTcp(const Protocol::IPv4& address, quint16 port, QString* error) {
    State& s = S();
    if (Connected()) return true;
    CloseSocket();
    s.tcp = new QTcpSocket;
    s.tcp->setReadBufferSize(kTcpReadBuffer);
    s.tcpError.clear();
    s.recordEntry = -1;
    s.recordBytes = 0;
    QObject::connect(s.tcp, &QTcpSocket::readyRead, OnTcpData);
    QObject::connect(s.tcp, &QTcpSocket::connected, [] { S().Wake(); });
    QObject::connect(s.tcp, &QTcpSocket::errorOccurred, [](QAbstractSocket::SocketError) {
        State& st = S();
        if (st.tcp) st.tcpError = st.tcp->errorString();
        st.Wake();
    });
    QObject::connect(s.tcp, &QTcpSocket::disconnected, [] { S().Wake(); });
    s.tcp->connectToHost(QHostAddress(address.Value()), port);
    // A refused connection ends the wait at once; there is nothing to wait for.
    static bool (*const settled)() = [] {
        State& st = S();
        return !st.tcp || st.tcp->state() == QAbstractSocket::ConnectedState ||
               st.tcp->state() == QAbstractSocket::UnconnectedState;
    };
    WaitWithProgress(s.timing.connectMs, settled);
    if (Connected()) return true;
    if (error) *error = s.tcpError.isEmpty() ? QStringLiteral("Connection timed out") : s.tcpError;
    CloseSocket();
    return false;
}

qint64 RecordBytes() {
    return S().recordBytes;
}

qint64 LastRecordDataMs() {
    return S().lastRecordDataMs;
}

bool Connected() {
    return S().tcp && S().tcp->state() == QAbstractSocket::ConnectedState;
}

bool SendBytes(const QByteArray& data, QString* error) {
    State& s = S();
    if (!Connected()) {
        if (error) {
            *error =
                s.tcpError.isEmpty() ? QStringLiteral("The connection is closed.") : s.tcpError;
        }
        return false;
    }
    if (s.tcp->write(data) != data.size()) {
        if (error) *error = s.tcp->errorString();
        return false;
    }
    s.tcp->flush();
    return true;
}

QByteArray ReadReply() {
    return S().tcp ? S().tcp->readAll() : QByteArray();
}

void CloseSocket() {
    State& s = S();
    if (s.udp) {
        s.udp->disconnect();
        s.udp->close();
        s.udp->deleteLater();
        s.udp = nullptr;
    }
    if (s.tcp) {
        s.tcp->disconnect();
        s.tcp->abort();
        s.tcp->deleteLater();
        s.tcp = nullptr;
    }
    s.recordEntry = -1;
}

QString LocalAddressTowards(const Protocol::IPv4& target) {
    QUdpSocket probe;
    // A UDP connect only picks the route and the source address.
    probe.connectToHost(QHostAddress(target.Value()), Wire::kConfigPort);
    if (!probe.waitForConnected(200)) return QString();
    const QHostAddress local = probe.localAddress();
    if (local.isNull() || local == QHostAddress::AnyIPv4) return QString();
    return SenderText(local);
}

void WaitWithProgress(int milliseconds, bool (*done)()) {
    State& s = S();
    Tarnset::ToolView* view = s.view;
    if (view) {
        view->SetProgressMaximum(qMax(1, milliseconds / 100));
        view->SetProgressValue(0);
    }
    s.ticks = 0;
    s.expired = false;
    s.lastRecordDataMs = -1;
    s.waitClock.start();
    s.watchDog.start(milliseconds);
    s.tenth.start();
    while (!s.expired && s.running && !(done && done())) {
        if (s.view) s.view->SetProgressValue(s.ticks);
        QEventLoop loop;
        s.waiting = &loop;
        const int code = loop.exec();
        s.waiting = nullptr;
        // -1: the application is quitting and no loop runs any more.
        if (code == -1) break;
    }
    StopTimers();
    if (s.view) s.view->SetProgressValue(0);
}

void Reset() {
    State& s = S();
    CloseSocket();
    StopTimers();
    s.timing = Timing{};
    s.broadcast = DefaultBroadcast();
    s.running = true;
    s.busy = false;
    ClearAnswers();
    s.replyComplete = false;
    s.tcpError.clear();
}

}  // namespace Link
