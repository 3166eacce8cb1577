#include "Session.h"

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "Device.h"

namespace devsim {

namespace {

constexpr qint64 kChunk = 64 * 1024;
// A client that keeps sending while the device is busy answering gets cut
// off rather than have its bytes pile up here.
constexpr qint64 kMaxPendingInput = 64 * 1024;

QByteArray busyAnswer() {
    QByteArray a(kRequestSize, '\0');
    a.replace(0, 4, cmd::Busy);
    return a;
}

}  // namespace

Session::Session(QTcpSocket* socket, Device* device)
    : QObject(device), socket_(socket), device_(device) {
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(socket_, &QTcpSocket::bytesWritten, this, &Session::pump);
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(socket_, &QTcpSocket::errorOccurred, this, &QObject::deleteLater);
    onReadyRead();
}

void Session::onReadyRead() {
    input_.append(socket_->readAll());
    takeRequests();
    if (input_.size() > kMaxPendingInput) {
        closing_ = true;
        steps_.clear();
        socket_->abort();
        deleteLater();
    }
}

void Session::takeRequests() {
    // One request at a time: the next is taken once the previous answer,
    // with all its pauses, is out.
    if (taking_) return;
    taking_ = true;
    while (!closing_ && steps_.isEmpty() && input_.size() >= kRequestSize) {
        const QByteArray request = input_.left(kRequestSize);
        input_.remove(0, kRequestSize);
        plan(request, device_->noteRequest(request));
        pump();
    }
    taking_ = false;
}

void Session::plan(const QByteArray& request, const FaultSettings& f) {
    QByteArray answer;
    if (f.fault == Fault::Busy) {
        answer = busyAnswer();  // a busy device does not act on the request
    } else {
        answer = device_->answer(request);
    }

    switch (f.fault) {
        case Fault::None:
        case Fault::Busy:
        case Fault::Refuse:
            if (!answer.isEmpty()) steps_.append({0, answer});
            break;
        case Fault::Silent:
            break;
        case Fault::Short:
            if (!answer.isEmpty())
                steps_.append(
                    {0, answer.left(std::max(0, std::min<int>(f.shortLength, answer.size() - 1)))});
            break;
        case Fault::Split: {
            const int pieces = std::clamp(f.pieces, 1, std::max<int>(1, int(answer.size())));
            const int size = (int(answer.size()) + pieces - 1) / pieces;
            for (int i = 0; i < answer.size(); i += size)
                steps_.append({i == 0 ? 0 : f.pauseMs, answer.mid(i, size)});
            break;
        }
        case Fault::Long:
            if (!answer.isEmpty()) {
                QByteArray extra(std::max(0, f.extraBytes), '\0');
                for (int i = 0; i < extra.size(); ++i) extra[i] = char(0x30 + i % 10);
                steps_.append({0, answer + extra});
            }
            break;
        case Fault::WrongEcho:
            if (!answer.isEmpty()) {
                answer[0] = char(~quint8(answer[0]));
                steps_.append({0, answer});
            }
            break;
        case Fault::ErrorText:
            if (!answer.isEmpty()) {
                const QByteArray text = f.errorText.left(answer.size());
                answer.replace(answer.size() - text.size(), text.size(), text);
                steps_.append({0, answer});
            }
            break;
        case Fault::CloseMidAnswer:
            steps_.append({0, answer.left(answer.size() / 2), 0, true});
            break;
        case Fault::Delay:
            if (!answer.isEmpty()) steps_.append({std::max(0, f.delayMs), answer});
            break;
        case Fault::Garbage: {
            QByteArray junk(kRequestSize, '\0');
            auto* rng = QRandomGenerator::global();
            for (auto& c : junk) c = char(rng->bounded(256));
            if (junk[0] == request[0]) junk[0] = char(~quint8(junk[0]));
            steps_.append({0, junk});
            break;
        }
        case Fault::Huge: {
            if (answer.isEmpty()) answer = request;
            steps_.append({0, answer, std::max<qint64>(0, f.hugeBytes - answer.size())});
            break;
        }
    }
}

void Session::pump() {
    while (!waiting_ && !closing_ && !steps_.isEmpty()) {
        Step& step = steps_.front();
        if (step.delayMs > 0) {
            const int delay = step.delayMs;
            step.delayMs = 0;
            waiting_ = true;
            QTimer::singleShot(delay, this, [this] {
                waiting_ = false;
                pump();
            });
            return;
        }
        if (!step.data.isEmpty()) {
            socket_->write(step.data);
            step.data.clear();
        }
        if (step.filler > 0) {
            // Stream the filler as the peer takes it, so a large answer never
            // sits in memory whole; bytesWritten brings us back here.
            if (socket_->bytesToWrite() >= kChunk) return;
            const qint64 n = std::min(step.filler, kChunk);
            socket_->write(QByteArray(n, char(0x55)));
            step.filler -= n;
            continue;
        }
        if (step.close) {
            closing_ = true;
            steps_.clear();
            socket_->disconnectFromHost();
            return;
        }
        steps_.removeFirst();
    }
    if (!waiting_ && !closing_ && steps_.isEmpty()) takeRequests();
}

}  // namespace devsim
