#include "support/SmtpServer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>

#include "core/Mailer.h"
#include "core/Outbox.h"
#include "core/Settings.h"

namespace {
// aiosmtpd is installed for Debian's own interpreter, which need not be the
// first python3 on the PATH.
const QString kPython = QStringLiteral("/usr/bin/python3");

QString ScriptPath() {
    return QStringLiteral(SMTP_SERVER_SCRIPT);
}
// A throw-away self-signed certificate for 127.0.0.1, so that the TLS tests
// need nothing beyond the libraries the program links anyway.
bool WriteSelfSignedCertificate(const QString& certPath, const QString& keyPath) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, EVP_sha256()) > 0;
    }
    if (ok) {
        BIO* c = BIO_new_file(certPath.toLocal8Bit().constData(), "w");
        BIO* k = BIO_new_file(keyPath.toLocal8Bit().constData(), "w");
        ok = c && k && PEM_write_bio_X509(c, cert) &&
             PEM_write_bio_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr);
        BIO_free(c);
        BIO_free(k);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}
}  // namespace

SmtpServer::SmtpServer() : SmtpServer(Options()) {}

SmtpServer::SmtpServer(const Options& options) : options_(options) {
    if (!spool_.isValid()) {
        error_ = QStringLiteral("no spool directory");
        return;
    }
    QStringList args{
        ScriptPath(),  QStringLiteral("--spool"),    spool_.path(),    QStringLiteral("--user"),
        options_.user, QStringLiteral("--password"), options_.password};
    if (options_.auth) args << QStringLiteral("--auth");
    if (!options_.stall.isEmpty()) args << QStringLiteral("--stall") << options_.stall;
    if (!options_.reject.isEmpty()) args << QStringLiteral("--reject") << options_.reject;
    if (options_.silent) args << QStringLiteral("--silent");
    if (options_.tls) {
        const QString cert = spool_.filePath(QStringLiteral("cert.pem"));
        const QString key = spool_.filePath(QStringLiteral("key.pem"));
        if (!WriteSelfSignedCertificate(cert, key)) {
            error_ = QStringLiteral("cannot make a test certificate");
            return;
        }
        args << QStringLiteral("--tls-cert") << cert << QStringLiteral("--tls-key") << key;
    }
    process_ = std::make_unique<QProcess>();
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_->start(kPython, args);
    if (!process_->waitForStarted(5000)) {
        error_ = QStringLiteral("cannot start ") + kPython + QStringLiteral(": ") +
                 process_->errorString();
        return;
    }
    QDeadlineTimer deadline(10000);
    while (!process_->canReadLine() && !deadline.hasExpired() &&
           process_->state() == QProcess::Running) {
        process_->waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    bool ok = false;
    const int port = QString::fromUtf8(process_->readLine()).trimmed().toInt(&ok);
    if (!ok || port <= 0) {
        error_ = QStringLiteral("the SMTP server did not report its port");
        return;
    }
    port_ = static_cast<quint16>(port);
}

SmtpServer::~SmtpServer() {
    if (!process_) return;
    process_->closeWriteChannel();  // the server ends when its input closes
    if (!process_->waitForFinished(3000)) {
        process_->kill();
        process_->waitForFinished(2000);
    }
}

std::vector<SmtpServer::Received> SmtpServer::Messages() const {
    std::vector<Received> messages;
    QDir dir(spool_.path());
    for (const QString& name :
         dir.entryList({QStringLiteral("msg-*.json")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        Received r;
        r.mailFrom = o.value(QStringLiteral("mail_from")).toString();
        for (const auto& v : o.value(QStringLiteral("rcpt_tos")).toArray())
            r.rcptTos << v.toString();
        r.login = o.value(QStringLiteral("login")).toString();
        r.raw = QByteArray::fromBase64(o.value(QStringLiteral("raw")).toString().toLatin1());
        for (const auto& h : o.value(QStringLiteral("headers")).toArray()) {
            const QJsonArray pair = h.toArray();
            r.headers.append({pair.at(0).toString(), pair.at(1).toString()});
        }
        r.body = o.value(QStringLiteral("body")).toString();
        for (const auto& d : o.value(QStringLiteral("defects")).toArray())
            r.defects << d.toString();
        messages.push_back(r);
    }
    return messages;
}

QStringList SmtpServer::Commands() const {
    QStringList commands;
    QFile file(QDir(spool_.path()).filePath(QStringLiteral("events.jsonl")));
    if (!file.open(QIODevice::ReadOnly)) return commands;
    while (!file.atEnd()) {
        const QJsonObject o = QJsonDocument::fromJson(file.readLine()).object();
        if (o.isEmpty()) continue;
        const QString arg = o.value(QStringLiteral("arg")).toString();
        commands << (o.value(QStringLiteral("command")).toString() +
                     (arg.isEmpty() ? QString() : u' ' + arg));
    }
    return commands;
}

QString SmtpServer::Received::Header(const QString& name) const {
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return h.second;
    }
    return {};
}

int SmtpServer::Received::HeaderCount(const QString& name) const {
    int count = 0;
    for (const auto& h : headers) count += h.first.compare(name, Qt::CaseInsensitive) == 0;
    return count;
}

void SmtpServer::UseInSettings(int timeoutSeconds, const QString& method) const {
    ConfigParameters.Host = QStringLiteral("127.0.0.1");
    ConfigParameters.SMTPPort = static_cast<qint16>(port_);
    ConfigParameters.ServerTimeOut = static_cast<qint16>(timeoutSeconds);
    ConfigParameters.SSL = 0;
    if (options_.auth) {
        ConfigParameters.Authentication = 1;
        ConfigParameters.AuthenticationMethod = method.isEmpty() ? QStringLiteral("LOGIN") : method;
        ConfigParameters.UserName = options_.user;
        ConfigParameters.Password = options_.password;
    } else {
        ConfigParameters.Authentication = 0;
        ConfigParameters.AuthenticationMethod = QStringLiteral("NONE");
    }
}

quint16 SmtpServer::ClosedPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost)) return 1;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

bool MailingTest::DeliverOutbox(int timeoutMs) {
    return QTest::qWaitFor([] { return Outbox::Idle(); }, timeoutMs);
}

void MailingTest::SetUp() {
    FernlogTest::SetUp();
    Mail::GlobalInit();
    ProvisionDatabase();
    ConfigParameters.OrgName = QStringLiteral("Cold Chain Ltd");
    ConfigParameters.OrgAddress = QStringLiteral("1 Harbour Road");
    ConfigParameters.FromAddress = QStringLiteral("monitor@corvane.test");
    ConfigParameters.ServerFailureEmailAddress = QStringLiteral("admin@corvane.test");
}
