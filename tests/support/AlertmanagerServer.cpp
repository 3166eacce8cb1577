#include "support/AlertmanagerServer.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <memory>

namespace {
QByteArray Get(const QUrl& url, int* status = nullptr) {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(url)));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10000)) return {};
    if (status) *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->readAll();
}
}  // namespace

QString AlertmanagerServer::Program() {
    return QStandardPaths::findExecutable(QStringLiteral("prometheus-alertmanager"));
}

AlertmanagerServer::AlertmanagerServer() {
    const QString program = Program();
    if (program.isEmpty()) {
        problem_ = QStringLiteral("prometheus-alertmanager is not installed (scripts/setup-deps)");
        return;
    }
    QFile config(dir_.filePath(QStringLiteral("alertmanager.yml")));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write("route:\n  receiver: nobody\nreceivers:\n  - name: nobody\n") < 0) {
        problem_ = QStringLiteral("cannot write ") + config.fileName();
        return;
    }
    config.close();
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    url_ = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(program, {QStringLiteral("--config.file=") + config.fileName(),
                             QStringLiteral("--storage.path=") + dir_.filePath("data"),
                             QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                             QStringLiteral("--cluster.listen-address=")});
    if (!process_.waitForStarted(10000)) {
        problem_ = QStringLiteral("prometheus-alertmanager did not start");
        return;
    }
    ready_ = QTest::qWaitFor(
                 [&] {
                     int status = 0;
                     Get(url_.resolved(QUrl(QStringLiteral("-/ready"))), &status);
                     return status == 200 || process_.state() == QProcess::NotRunning;
                 },
                 30000) &&
             process_.state() == QProcess::Running;
    if (!ready_) problem_ = QStringLiteral("prometheus-alertmanager is not ready");
}

AlertmanagerServer::~AlertmanagerServer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(10000);
}

QString AlertmanagerServer::Problem() const {
    return problem_ + u'\n' + QString::fromUtf8(process_.readAll());
}

QJsonArray AlertmanagerServer::GetArray(const QString& path) const {
    return QJsonDocument::fromJson(Get(url_.resolved(QUrl(path)))).array();
}

QJsonArray AlertmanagerServer::Alerts() const {
    return GetArray(QStringLiteral("api/v2/alerts"));
}

QJsonArray AlertmanagerServer::Silences() const {
    return GetArray(QStringLiteral("api/v2/silences"));
}
