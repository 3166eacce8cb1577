#include "core/DeviceVisits.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>

#include "core/DeviceLink.h"
#include "core/ServiceLog.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "core/Timings.h"
#include "db/ErrorLog.h"
#include "protocol/Address.h"
#include "protocol/Commands.h"

namespace DeviceVisits {
namespace {

// The status lines of DeviceLink, so that a cycle leaves the same list
// whichever way it reached its devices.
const QString kConnectionKey = QStringLiteral("Connection ");
const QString kErrorKey = QStringLiteral("Communication Error");
constexpr qint64 kExtraAnswerBytes = 64 * 1024;

enum class Phase { Idle, Connecting, Answer, LateAnswer };

struct Visit {
    QString address;
    std::vector<Exchange> exchanges;
    bool done = false;
    int attempt = 1;
    // The transaction in progress.
    Phase phase = Phase::Idle;
    QByteArray request;
    QTcpSocket* socket = nullptr;
    QTimer* timer = nullptr;
};

}  // namespace

struct Visits::State {
    std::vector<Visit> visits;
    std::deque<int> waiting;  // not yet started, in register order
    int attempts = 1;
    int connections = 1;
    int inFlight = 0;
    int answerWaitMs = 3000;
    QPointer<QEventLoop> loop;

    void StartNext() {
        while (inFlight < connections && !waiting.empty()) {
            const int index = waiting.front();
            waiting.pop_front();
            ++inFlight;
            Begin(visits[index], Protocol::CmdIdentify());
        }
    }

    void Begin(Visit& v, const QByteArray& command) {
        Protocol::BuildRequest(v.request, command);
        // An address the rule refuses is told when the device is processed,
        // in register order (DeviceLink::DeviceAddress), not here.
        const auto parsed = Protocol::ParseIPv4(v.address.trimmed());
        if (!parsed) {
            Finish(v, QByteArray());
            return;
        }
        const QHostAddress host(parsed->Value());
        v.socket = new QTcpSocket;
        v.timer = new QTimer;
        // A coarse timer may fire up to 5% early; a time-out must not.
        v.timer->setTimerType(Qt::PreciseTimer);
        v.timer->setSingleShot(true);
        v.socket->setReadBufferSize(Protocol::kRequestLength + kExtraAnswerBytes);
        Visit* p = &v;
        QObject::connect(v.socket, &QTcpSocket::connected, [this, p] { Connected(*p); });
        QObject::connect(v.socket, &QTcpSocket::readyRead, [this, p] { Arrived(*p); });
        QObject::connect(v.socket, &QTcpSocket::errorOccurred,
                         [this, p](QAbstractSocket::SocketError error) { Failed(*p, error); });
        QObject::connect(v.socket, &QTcpSocket::stateChanged,
                         [this, p](QAbstractSocket::SocketState state) {
                             if (state == QAbstractSocket::UnconnectedState) Closed(*p);
                         });
        QObject::connect(v.timer, &QTimer::timeout, [this, p] { TimedOut(*p); });
        v.phase = Phase::Connecting;
        v.socket->connectToHost(host, Protocol::kDevicePort);
        if (v.phase == Phase::Connecting) v.timer->start(Waits::Current().connectMs);
    }

    void Connected(Visit& v) {
        if (v.phase != Phase::Connecting) return;
        StatusList::ShowStatus(kConnectionKey, QStringLiteral("opened"));
        v.socket->write(v.request);
        v.phase = Phase::Answer;
        v.timer->start(answerWaitMs);
    }

    void Arrived(Visit& v) {
        if (v.phase != Phase::Answer) return;
        if (v.socket->bytesAvailable() >= Protocol::kRequestLength) Finish(v, v.socket->readAll());
    }

    void Failed(Visit& v, QAbstractSocket::SocketError error) {
        // A device closing after its answer is the close event, not an error.
        if (error != QAbstractSocket::RemoteHostClosedError &&
            error != QAbstractSocket::UnknownSocketError) {
            StatusList::ShowStatus(kErrorKey, QStringLiteral("Error Number: ") +
                                                  QString::number(DeviceLink::WinsockErrorNumber(error)) +
                                                  QStringLiteral(".  Description ") +
                                                  v.socket->errorString());
        }
    }

    void Closed(Visit& v) {
        if (v.phase == Phase::Connecting) {
            // Qt tells a refused connection's state before its error, and
            // Finish stops listening: the error line is shown from here.
            Failed(v, v.socket->error());
            // Refused: no answer can come, so no answer time-out is waited.
            StatusList::ShowStatus(kConnectionKey, QStringLiteral("could not be established"));
            Finish(v, QByteArray());
        } else if (v.phase == Phase::Answer) {
            // Closed: what came is all that will come.
            const bool whole = v.socket->bytesAvailable() >= Protocol::kRequestLength;
            Finish(v, whole ? v.socket->readAll() : QByteArray());
        }
    }

    void TimedOut(Visit& v) {
        if (v.phase == Phase::Connecting) {
            // A connection still being made may yet come, but the request is
            // not sent on it: the answer wait runs out as on the one link.
            StatusList::ShowStatus(kConnectionKey, QStringLiteral("could not be established"));
            v.phase = Phase::LateAnswer;
            v.timer->start(answerWaitMs);
            return;
        }
        if (v.phase == Phase::Answer) ServiceLog::NoAnswer(v.address, answerWaitMs / 1000);
        Finish(v, QByteArray());
    }

    void Release(Visit& v) {
        if (v.socket) {
            v.socket->disconnect();
            v.socket->abort();
            v.socket->deleteLater();
            v.socket = nullptr;
        }
        if (v.timer) {
            v.timer->disconnect();
            v.timer->stop();
            v.timer->deleteLater();
            v.timer = nullptr;
        }
        v.phase = Phase::Idle;
    }

    void Finish(Visit& v, const QByteArray& answer) {
        Release(v);
        StatusList::ShowStatus(kConnectionKey, QStringLiteral("closed"));
        StatusList::ShowStatus(kErrorKey, QStringLiteral("delete"));
        const bool ok = DeviceLink::AnswerAccepted(v.request, answer, Protocol::kRequestLength);
        v.exchanges.push_back({v.request, answer, ok});
        // The cycle's own decisions: a busy device or good readings end the
        // visit; a failed request starts the next attempt.
        const bool busy = answer.left(4) == Protocol::ReplyBusy();
        const bool identify = v.request.left(4) == Protocol::CmdIdentify();
        if (!busy && ok && identify) {
            Begin(v, Protocol::CmdReadings());
            return;
        }
        if (!busy && !ok && ++v.attempt <= attempts) {
            Begin(v, Protocol::CmdIdentify());
            return;
        }
        v.done = true;
        --inFlight;
        StartNext();
        if (loop) loop->quit();
    }
};

Visits::Visits(const std::vector<QString>& addresses, int attempts, int connections)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.attempts = attempts;
    s.connections = std::max(1, connections);
    s.answerWaitMs = DeviceLink::AnswerWaitMs(Protocol::kRequestLength);
    s.visits.resize(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
        s.visits[i].address = addresses[i];
        s.waiting.push_back(static_cast<int>(i));
    }
    s.StartNext();
}

Visits::~Visits() {
    for (Visit& v : state_->visits) state_->Release(v);
}

bool Visits::WaitFor(int index) {
    State& s = *state_;
    Visit& v = s.visits.at(index);
    // The window's progress bar runs while the cycle waits, as on the one
    // link; a tenth-second tick sees a stop soon.
    const bool waits = !v.done && DeviceLink::ProgramRunning;
    if (waits) DeviceLink::StartWatchDog(Waits::Current().connectMs + s.answerWaitMs);
    QTimer tick;
    tick.setInterval(100);
    while (!v.done && DeviceLink::ProgramRunning) {
        QEventLoop loop;
        s.loop = &loop;
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start();
        const int code = loop.exec();
        s.loop = nullptr;
        if (code == -1) break;  // the application is quitting
    }
    if (waits && DeviceLink::ProgramRunning) DeviceLink::StopWatchDog();
    return v.done && DeviceLink::ProgramRunning;
}

const std::vector<Exchange>& Visits::Exchanges(int index) const {
    return state_->visits.at(index).exchanges;
}

}  // namespace DeviceVisits
