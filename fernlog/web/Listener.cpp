#include "web/Listener.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "protocol/Address.h"
#include "web/Render.h"
#include "web/Snapshot.h"

namespace Web {
namespace {
// Accepts at most kMaxConnections at once and puts a byte and time bound on
// each, so that a flood or a slow client costs a few sockets, never the
// event loop's time.
class GuardedServer : public QTcpServer {
  public:
    explicit GuardedServer(QObject* parent) : QTcpServer(parent) {}

  protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (open_ >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++open_;
        connect(socket, &QObject::destroyed, this, [this] { --open_; });
        // Aborted and deleted: the HTTP server deletes a socket only when it
        // sees it disconnect.
        const auto drop = [socket] {
            socket->abort();
            socket->deleteLater();
        };
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, drop);
        timer->start(kIdleTimeoutMs);
        auto received = std::make_shared<qint64>(0);
        // Connected before the HTTP server's own reader, so it sees each
        // chunk before that one takes it.
        connect(socket, &QTcpSocket::readyRead, socket, [socket, timer, received, drop] {
            if (*received == 0) timer->start(kRequestTimeoutMs);
            *received += socket->bytesAvailable();
            if (*received > kMaxRequestBytes) drop();
        });
        connect(socket, &QTcpSocket::bytesWritten, socket, [timer, received] {
            *received = 0;
            timer->start(kIdleTimeoutMs);
        });
        addPendingConnection(socket);
    }

  private:
    int open_ = 0;
};

// Compared in a time that does not depend on where the texts differ.
bool SameSecret(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

Response Text(int status, const QByteArray& body) {
    return {status, "text/plain; charset=utf-8", body};
}
}  // namespace

bool ParseEndpoint(const QString& listen, const QString& token, Endpoint& endpoint,
                   QString* error) {
    const auto fail = [error](const QString& reason) {
        if (error) *error = reason;
        return false;
    };
    const QString text = listen.trimmed();
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0) {
        return fail(
            QStringLiteral("\"%1\" is not ADDRESS:PORT (for example 127.0.0.1:9180)").arg(listen));
    }
    QString host = text.left(colon);
    bool isNumber = false;
    const uint port = text.mid(colon + 1).toUInt(&isNumber);
    // Port 0 takes a free one, which the log names.
    if (!isNumber || port > 65535) {
        return fail(
            QStringLiteral("\"%1\": the port must be a number from 0 to 65535").arg(listen));
    }
    QHostAddress address;
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
        if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv6Protocol) {
            return fail(QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
        }
    } else {
        QString reason;
        const auto ipv4 = Protocol::ParseIPv4(host, &reason);
        if (!ipv4) return fail(reason);
        address = QHostAddress(ipv4->Value());
    }
    if (!address.isLoopback() && token.size() < kMinTokenLength) {
        return fail(QStringLiteral("listening on %1, outside loopback, needs a token of at least "
                                   "%2 characters ([Web] Token= in FernlogOptions.ini)")
                        .arg(address.toString())
                        .arg(kMinTokenLength));
    }
    endpoint.address = address;
    endpoint.port = static_cast<quint16>(port);
    endpoint.token = token;
    return true;
}

Response Respond(const Request& request, const QString& token) {
    if (!token.isEmpty() &&
        !SameSecret(request.authorization, QByteArray("Bearer ") + token.toUtf8())) {
        return Text(401, "unauthorized\n");
    }
    if (request.method != "GET" && request.method != "HEAD") {
        return Text(405, "only GET and HEAD\n");
    }
    const QString& path = request.path;
    if (path == QLatin1String("/") || path == QLatin1String("/index.html")) {
        return {200, "text/html; charset=utf-8", StatusPage(Take(true))};
    }
    if (path == QLatin1String("/api/v1/status")) {
        return {200, "application/json", StatusJson(Take(true))};
    }
    if (path == QLatin1String("/metrics")) {
        return {200, "text/plain; version=0.0.4; charset=utf-8", Metrics(Take(false))};
    }
    if (path == QLatin1String("/healthz")) {
        const Health health = CurrentHealth();
        return Text(health.ok ? 200 : 503, health.reason.toUtf8() + '\n');
    }
    return Text(404, "not found\n");
}

Listener::Listener() = default;
Listener::~Listener() = default;

bool Listener::Start(const Endpoint& endpoint, QString* error) {
    token_ = endpoint.token;
    auto* server = new GuardedServer(this);
    if (!server->listen(endpoint.address, endpoint.port)) {
        if (error) {
            *error = QStringLiteral("cannot listen on %1 port %2: %3")
                         .arg(endpoint.address.toString())
                         .arg(endpoint.port)
                         .arg(server->errorString());
        }
        delete server;
        return false;
    }
    server_ = server;
    bind(server);
    return true;
}

quint16 Listener::Port() const {
    return server_ ? server_->serverPort() : 0;
}

bool Listener::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    Request r;
    switch (request.method()) {
        case QHttpServerRequest::Method::Get:
            r.method = "GET";
            break;
        case QHttpServerRequest::Method::Head:
            r.method = "HEAD";
            break;
        default:
            r.method = "OTHER";
            break;
    }
    r.path = request.url().path();
    r.authorization = request.value("Authorization");
    const Response response = Respond(r, token_);
    const auto status = static_cast<QHttpServerResponder::StatusCode>(response.status);
    QHttpServerResponder responder = makeResponder(request, socket);
    const QByteArray body = r.method == "HEAD" ? QByteArray() : response.body;
    if (response.status == 401) {
        responder.write(body,
                        {{"Content-Type", response.contentType},
                         {"WWW-Authenticate", "Bearer realm=\"fernlog\""},
                         {"Cache-Control", "no-store"}},
                        status);
    } else {
        responder.write(
            body, {{"Content-Type", response.contentType}, {"Cache-Control", "no-store"}}, status);
    }
    return true;
}

void Listener::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

}  // namespace Web
