#include "support/WebReceiver.h"

#include <QMessageAuthenticationCode>
#include <QTcpSocket>

bool WebReceiver::Request::SignedWith(const QByteArray& secret) const {
    return Header("X-Fernlog-Signature") ==
           "sha256=" +
               QMessageAuthenticationCode::hash(body, secret, QCryptographicHash::Sha256).toHex();
}

WebReceiver::WebReceiver(QList<int> statuses) : statuses_(std::move(statuses)) {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Serve(socket); });
        }
    });
}

QString WebReceiver::Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
}

void WebReceiver::Serve(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) return;
    Request r;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    r.method = first.value(0);
    r.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            r.headers.insert(lines[i].left(colon).trimmed().toLower(),
                             lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = r.Header("Content-Length").toLongLong();
    if (buffer.size() < headEnd + 4 + length) return;
    r.body = buffer.mid(headEnd + 4, length);
    socket->setProperty("buffer", buffer.mid(headEnd + 4 + length));
    const int status =
        statuses_.value(int(requests_.size()), statuses_.value(statuses_.size() - 1));
    requests_.push_back(r);
    if (status == 0) return;
    socket->write(QByteArray("HTTP/1.1 ") + QByteArray::number(status) +
                  (status / 100 == 2 ? " OK" : " Failed") + "\r\n" + headers + "Content-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}
