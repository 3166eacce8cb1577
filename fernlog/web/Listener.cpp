#include "web/Listener.h"

#include <QCryptographicHash>
#include <QHash>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <memory>

#include "common/Async.h"
#include "protocol/Address.h"
#include "web/Pages.h"
#include "web/Render.h"
#include "web/Sessions.h"
#include "web/Snapshot.h"
#include "web/Workplace.h"

namespace Web {
namespace {
// The socket property that tells handleRequest the request asked for no
// keep-alive (HTTP/1.0), which Qt's request object does not say.
constexpr char kHttp10[] = "fernlogHttp10";

// Accepts at most kMaxConnections at once, kMaxConnectionsPerAddress from
// one address, and puts a byte and time bound on each, so that a flood or a
// slow client costs a few sockets, never the event loop's time or another
// client's slot.
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
        const QHostAddress peer = socket->peerAddress();
        if (open_ >= kMaxConnections || perAddress_.value(peer) >= kMaxConnectionsPerAddress) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++open_;
        ++perAddress_[peer];
        connect(socket, &QObject::destroyed, this, [this, peer] {
            --open_;
            if (--perAddress_[peer] <= 0) perAddress_.remove(peer);
        });
        // Aborted and deleted: the HTTP server deletes a socket only when it
        // sees it disconnect.
        const auto drop = [socket] {
            socket->abort();
            socket->deleteLater();
        };
        // From the accept on: a client that sends nothing, or a byte now and
        // then, holds its slot no longer than a whole request may take.
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, drop);
        timer->start(kRequestTimeoutMs);
        struct State {
            qint64 received = 0;  // bytes of the request under way
            bool idle = false;    // kept alive after an answer
        };
        auto state = std::make_shared<State>();
        // Connected before the HTTP server's own reader, so it sees each
        // chunk before that one takes it.
        connect(socket, &QTcpSocket::readyRead, socket, [socket, timer, state, drop] {
            if (state->received == 0) {
                if (state->idle) timer->start(kRequestTimeoutMs);
                state->idle = false;
                const QByteArray line = socket->peek(1024);
                const qsizetype end = line.indexOf('\n');
                socket->setProperty(
                    kHttp10, line.left(end < 0 ? line.size() : end).trimmed().endsWith("HTTP/1.0"));
            }
            state->received += socket->bytesAvailable();
            if (state->received > kMaxRequestBytes) drop();
        });
        connect(socket, &QTcpSocket::bytesWritten, socket, [timer, state] {
            state->received = 0;
            state->idle = true;
            timer->start(kIdleTimeoutMs);
        });
        addPendingConnection(socket);
    }

  private:
    int open_ = 0;
    QHash<QHostAddress, int> perAddress_;
};

// The credentials of "Bearer TOKEN"; the scheme's name is case-insensitive.
// Null when the header names another scheme.
QByteArray BearerToken(const QByteArray& authorization) {
    const QByteArray value = authorization.trimmed();
    const qsizetype space = value.indexOf(' ');
    if (space < 0 || value.left(space).compare("Bearer", Qt::CaseInsensitive) != 0) return {};
    return value.mid(space + 1).trimmed();
}

// A Host header that names this machine's loopback: localhost (and its
// subdomains, which browsers resolve to loopback themselves) or a loopback
// address, with or without the port.
bool LoopbackHost(const QByteArray& header) {
    QString host = QString::fromLatin1(header.trimmed()).toLower();
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close < 0) return false;
        const QString rest = host.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':')) return false;
        const QHostAddress address(host.mid(1, close - 1));
        return address.protocol() == QAbstractSocket::IPv6Protocol && address.isLoopback();
    }
    const qsizetype colon = host.indexOf(u':');
    if (colon >= 0) host.truncate(colon);
    if (host.endsWith(u'.')) host.chop(1);
    if (host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost"))) {
        return true;
    }
    const auto ipv4 = Protocol::ParseIPv4(host);
    return ipv4 && QHostAddress(ipv4->Value()).isLoopback();
}

Response Text(int status, const QByteArray& body) {
    return {status, "text/plain; charset=utf-8", body};
}

QByteArray ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 409:
            return "Conflict";
        case 413:
            return "Payload Too Large";
        case 415:
            return "Unsupported Media Type";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return status < 400 ? "OK" : "Error";
    }
}

// The bytes of an answer: status line, headers, body.
QByteArray Serialized(const Response& response, bool head, bool close) {
    const QByteArray body = head ? QByteArray() : response.body;
    QByteArray out;
    out.reserve(body.size() + 256);
    const auto header = [&out](const QByteArray& name, const QByteArray& value) {
        out += name + ": " + value + "\r\n";
    };
    out += "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + ReasonPhrase(response.status) +
           "\r\n";
    header("Content-Type", response.contentType);
    header("Content-Length", QByteArray::number(body.size()));
    header("Cache-Control", "no-store");
    for (const auto& [name, value] : response.headers) header(name, value);
    if (response.status == 401) header("WWW-Authenticate", "Bearer realm=\"fernlog\"");
    if (close) header("Connection", "close");
    out += "\r\n";
    out += body;
    return out;
}

// The answers of one connection, written in the order of its requests: one
// made on a worker thread may be ready after a later request's.
class Answers : public QObject {
  public:
    static Answers* Of(QTcpSocket* socket) {
        // No meta-object of its own, so findChild would take any child.
        for (QObject* child : socket->children()) {
            if (auto* answers = dynamic_cast<Answers*>(child)) return answers;
        }
        return new Answers(socket);
    }
    qint64 Reserve() {
        waiting_.emplace_back();
        return first_ + static_cast<qint64>(waiting_.size()) - 1;
    }
    void Fill(qint64 slot, QByteArray bytes, bool close) {
        if (closed_ || slot < first_ || slot - first_ >= static_cast<qint64>(waiting_.size())) {
            return;
        }
        waiting_[slot - first_] = {std::move(bytes), close, true};
        while (!waiting_.empty() && waiting_.front().ready) {
            const Slot next = std::move(waiting_.front());
            waiting_.pop_front();
            ++first_;
            socket_->write(next.bytes);
            if (next.close) {
                closed_ = true;
                waiting_.clear();
                socket_->disconnectFromHost();
                return;
            }
        }
    }

  private:
    explicit Answers(QTcpSocket* socket) : QObject(socket), socket_(socket) {}
    struct Slot {
        QByteArray bytes;
        bool close = false;
        bool ready = false;
    };
    QTcpSocket* socket_;
    std::deque<Slot> waiting_;
    qint64 first_ = 0;
    bool closed_ = false;
};
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
    Response response = Begin(request, token);
    return response.rest ? response.rest() : response;
}

Response Begin(const Request& request, const QString& token) {
    Access access;
    access.writable = !token.isEmpty() || Sessions::LoginSet();
    access.session = Sessions::Find(request.cookie);
    if (!token.isEmpty()) {
        // Compared even when no token came, so that its absence takes no less time.
        const QByteArray given = BearerToken(request.authorization);
        access.token = Sessions::SameSecret(given, token.toUtf8()) && !given.isEmpty();
        // A signed-in browser reads and acts as the token's holder does;
        // the sign-in page is the one way in without either.
        if (!access.token && !access.session && request.path != QLatin1String("/login")) {
            return Unauthorized(request);
        }
    } else if (!request.host.isEmpty() && !LoopbackHost(request.host)) {
        return Text(403, "only loopback names are answered without a token\n");
    }
    if (request.method == "POST") return Post(request, access);
    if (request.method != "GET" && request.method != "HEAD") {
        return Text(405, "only GET, HEAD and POST\n");
    }
    const QString& path = request.path;
    if (path == QLatin1String("/") || path == QLatin1String("/index.html")) {
        return {200, "text/html; charset=utf-8", StatusPage(Take(true), Navigation(access))};
    }
    if (path == QLatin1String("/api/v1/status")) {
        return {200, "application/json", StatusJson(Take(true))};
    }
    if (path == QLatin1String("/metrics")) {
        return {200, "text/plain; version=0.0.4; charset=utf-8", Metrics(Take(false))};
    }
    if (Response page; AnswerPage(request, access, page)) return page;
    if (path == QLatin1String("/healthz")) {
        const Health health = CurrentHealth();
        return Text(health.ok ? 200 : 503, health.reason.toUtf8() + '\n');
    }
    if (auto answer = Get(request, access)) return *answer;
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
        case QHttpServerRequest::Method::Post:
            r.method = "POST";
            break;
        default:
            r.method = "OTHER";
            break;
    }
    r.path = request.url().path();
    r.query = request.url().query(QUrl::FullyEncoded);
    r.authorization = request.value("Authorization");
    r.host = request.value("Host");
    r.cookie = request.value("Cookie");
    r.origin = request.value("Origin");
    r.referer = request.value("Referer");
    r.csrfHeader = request.value("X-CSRF-Token");
    r.body = request.body();
    r.peer = request.remoteAddress();
    Response response = Begin(r, token_);
    const bool head = r.method == "HEAD";
    // Closed after the answer when the client asks for it: "Connection:
    // close", or HTTP/1.0 without keep-alive. Such a client waits for the
    // close, and would otherwise hold its slot until the idle time-out.
    const QByteArray connection = request.value("Connection").toLower();
    const bool close = connection.contains("close") ||
                       (socket->property(kHttp10).toBool() && !connection.contains("keep-alive"));
    Answers* answers = Answers::Of(socket);
    const qint64 slot = answers->Reserve();
    if (response.rest) {
        // Gone with the connection: an answer nobody waits for is dropped.
        Async::Run(answers, std::move(response.rest),
                   [answers, slot, head, close](const Response& done) {
                       answers->Fill(slot, Serialized(done, head, close), close);
                   });
    } else {
        answers->Fill(slot, Serialized(response, head, close), close);
    }
    return true;
}

void Listener::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

}  // namespace Web
