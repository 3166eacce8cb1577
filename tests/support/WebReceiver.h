#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <vector>

// An HTTP receiver on a free loopback port, served by the test's event
// loop: it keeps every request and answers with the statuses given, in
// turn (the last one repeats); a status of 0 never answers (a hanging
// receiver).
class WebReceiver : public QObject {
  public:
    struct Request {
        QByteArray method, path, body;
        QHash<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray Header(const QByteArray& name) const { return headers.value(name.toLower()); }
        // X-Fernlog-Signature is "sha256=" + the hex HMAC-SHA256 of the body.
        bool SignedWith(const QByteArray& secret) const;
    };
    explicit WebReceiver(QList<int> statuses = {200});
    quint16 Port() const { return server_.serverPort(); }
    QString Url(const QString& path = QStringLiteral("/hook")) const;
    const std::vector<Request>& Requests() const { return requests_; }
    // What every answer carries beside its status line.
    QByteArray headers = "Content-Type: text/plain\r\n";
    QByteArray body = "ok";

  private:
    void Serve(QTcpSocket* socket);
    QTcpServer server_;
    QList<int> statuses_;
    std::vector<Request> requests_;
};
