#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>
#include <utility>

class QTcpServer;

// fernlog's web listener: the status page (/), its JSON (/api/v1/status),
// the metrics (/metrics), the health check (/healthz), the alarm pages and
// their actions (web/Workplace.h). It runs in the program's event loop and
// answers from a snapshot of the state, a history's readings being read on
// a worker thread (Response::rest); a GET changes nothing. Outside
// loopback every request needs the token or a signed-in session; on
// loopback without a token, only a loopback name in `Host` is answered, so
// that a page in the user's browser cannot reach it through a name it
// points at 127.0.0.1.
namespace Web {

struct Endpoint {
    QHostAddress address;
    quint16 port = 0;
    QString token;  // empty: no token asked for (loopback only)
};

// The minimum length of a token.
constexpr int kMinTokenLength = 16;
// Connections open at once, from one client address at once (so that one
// peer cannot take every slot), and what one request may send.
constexpr int kMaxConnections = 32;
constexpr int kMaxConnectionsPerAddress = 8;
constexpr qint64 kMaxRequestBytes = 64 * 1024;
// A request must arrive whole within this time of the accept (or of its
// first byte on a kept-alive connection); an idle kept-alive connection is
// closed after the second.
constexpr int kRequestTimeoutMs = 10000;
constexpr int kIdleTimeoutMs = 120000;

// "ADDRESS:PORT" ("127.0.0.1:9180", "[::1]:9180", "0.0.0.0:9180") with the
// token: false with the reason when the text is not one, or when a
// non-loopback address comes without a token of kMinTokenLength characters.
bool ParseEndpoint(const QString& listen, const QString& token, Endpoint& endpoint,
                   QString* error = nullptr);

struct Request {
    QByteArray method;  // "GET", "HEAD", "POST"
    QString path;       // "/metrics"
    QByteArray authorization;
    QByteArray host;         // the Host header as sent; empty when there was none
    QString query = {};      // what follows "?", still encoded
    QByteArray cookie = {};  // the Cookie header
    QByteArray origin = {};  // Origin and Referer, as sent
    QByteArray referer = {};
    QByteArray csrfHeader = {};  // X-CSRF-Token: a session's API write
    QByteArray body = {};
    QHostAddress peer = {};
};
struct Response {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers = {};  // Set-Cookie, Location, ...
    // When set, the answer is what this returns instead: the slow part of
    // it (a month of readings read and written out), which reads files and
    // nothing of the main thread's, so that it can run beside the event loop.
    std::function<Response()> rest = {};
};
// The answer to one request; `token` empty asks for none (a loopback
// listener), and then a Host that is not a loopback name or address gets
// 403. With a token, a request without it or a signed-in session gets 401
// and nothing else (the sign-in page excepted).
Response Respond(const Request& request, const QString& token);
// The same, with its `rest` left to run (on a worker thread) where there is one.
Response Begin(const Request& request, const QString& token);

class Listener : public QAbstractHttpServer {
  public:
    Listener();
    ~Listener() override;
    // Listens on the endpoint; false with the reason when it cannot.
    bool Start(const Endpoint& endpoint, QString* error = nullptr);
    quint16 Port() const;

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    QTcpServer* server_ = nullptr;
    QString token_;
};

}  // namespace Web
