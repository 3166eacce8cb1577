#include "core/WebRequest.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "core/Timings.h"

namespace WebRequest {
namespace {

QPointer<QNetworkAccessManager> manager;

// One manager for the program. It ends as the application's event loop
// does: ended later, with the application, Qt's HTTP exchange objects would
// be left behind at exit.
QNetworkAccessManager* Manager() {
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setAutoDeleteReplies(false);
        static bool toldOfTheEnd = false;
        if (!toldOfTheEnd) {
            toldOfTheEnd = true;
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                             QCoreApplication::instance(), [] { Reset(); });
        }
    }
    return manager;
}

struct Exchange {
    QPointer<QNetworkReply> reply;
    QPointer<QObject> context;
    bool hasContext = false;
    Done done;
    QMetaObject::Connection contextGone;
    Answer answer;
    qsizetype keep = kKeptAnswerBytes;
    QTimer timer;
    bool ended = false;
};

QHash<quint64, std::shared_ptr<Exchange>> running;
quint64 lastTicket = 0;

void Finish(quint64 ticket) {
    const auto found = running.find(ticket);
    if (found == running.end()) return;
    const std::shared_ptr<Exchange> exchange = found.value();
    running.erase(found);
    exchange->ended = true;
    exchange->timer.stop();
    QObject::disconnect(exchange->contextGone);
    if (exchange->reply) {
        exchange->reply->disconnect();
        if (exchange->reply->isRunning()) exchange->reply->abort();
        exchange->reply->deleteLater();
    }
    exchange->answer.text = QString::fromUtf8(exchange->answer.body);
    if (exchange->hasContext && !exchange->context) return;
    if (exchange->done) exchange->done(exchange->answer);
}

void TakeStatus(Exchange& exchange) {
    if (!exchange.reply) return;
    const QVariant status = exchange.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) exchange.answer.status = status.toInt();
}

}  // namespace

QString Answer::Reason() const {
    if (!error.isEmpty()) return error;
    QString line = QStringLiteral("HTTP %1").arg(status);
    const QString start = text.simplified().left(200);
    if (!start.isEmpty()) line += QStringLiteral(": ") + start;
    return line;
}

int DefaultTimeoutMs() {
    const int seam = Waits::Current().channelMs;
    return seam > 0 ? seam : kDefaultTimeoutMs;
}

bool CheckUrl(const QString& text, QUrl* url, QString* error) {
    const QUrl parsed(text.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        parsed.host().isEmpty()) {
        if (error) *error = QStringLiteral("'%1' is not an http or https URL").arg(text);
        return false;
    }
    if (url) *url = parsed;
    return true;
}

quint64 Send(const Request& request, QObject* context, Done done) {
    QString why;
    if (!CheckUrl(request.url.toString(), nullptr, &why)) {
        Answer refused;
        refused.error = why;
        if (done) done(refused);
        return 0;
    }
    const quint64 ticket = ++lastTicket;
    auto exchange = std::make_shared<Exchange>();
    exchange->context = context;
    exchange->hasContext = context != nullptr;
    exchange->done = std::move(done);
    exchange->keep = request.keepBytes > 0 ? request.keepBytes : kKeptAnswerBytes;
    running.insert(ticket, exchange);
    if (context) {
        exchange->contextGone =
            QObject::connect(context, &QObject::destroyed, [ticket] { Abort(ticket); });
    }

    QNetworkRequest wire(request.url);
    wire.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                      QNetworkRequest::SameOriginRedirectPolicy);
    wire.setMaximumRedirectsAllowed(kMaxRedirects);
    wire.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    wire.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    const int timeoutMs = request.timeoutMs > 0 ? request.timeoutMs : DefaultTimeoutMs();
    wire.setTransferTimeout(timeoutMs);
    for (const auto& [name, value] : request.headers) wire.setRawHeader(name, value);

    QNetworkReply* reply = Manager()->sendCustomRequest(wire, request.method, request.body);
    exchange->reply = reply;
    // Qt buffers no more than this before we read, so a huge answer stays
    // on the wire until we stop the exchange.
    reply->setReadBufferSize(qMin<qsizetype>(exchange->keep, 64 * 1024));

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply,
                     [raw = exchange.get()] { TakeStatus(*raw); });
    QObject::connect(reply, &QIODevice::readyRead, reply, [ticket, raw = exchange.get()] {
        TakeStatus(*raw);
        const QByteArray bytes = raw->reply->readAll();
        const qsizetype room = raw->keep - raw->answer.body.size();
        raw->answer.body += bytes.left(room);
        if (bytes.size() > room) {
            raw->answer.cut = true;
            Finish(ticket);
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [ticket, raw = exchange.get()] {
        TakeStatus(*raw);
        const QByteArray rest = raw->reply->readAll();
        const qsizetype room = raw->keep - raw->answer.body.size();
        raw->answer.body += rest.left(room);
        if (rest.size() > room) raw->answer.cut = true;
        const QNetworkReply::NetworkError code = raw->reply->error();
        // An HTTP error status is an answer, judged by its status; only a
        // failure that left no status (or a refused redirect) is an error.
        if (code != QNetworkReply::NoError &&
            (raw->answer.status == 0 || code == QNetworkReply::InsecureRedirectError ||
             code == QNetworkReply::TooManyRedirectsError)) {
            raw->answer.error =
                code == QNetworkReply::OperationCanceledError
                    ? QStringLiteral("no answer within %1 s").arg(raw->timer.interval() / 1000.0)
                    : raw->reply->errorString();
        }
        Finish(ticket);
    });
    // The transfer time-out counts from the last byte; this bounds the whole
    // exchange, so a receiver that trickles is ended as well.
    exchange->timer.setSingleShot(true);
    exchange->timer.setInterval(timeoutMs);
    QObject::connect(&exchange->timer, &QTimer::timeout, [ticket, raw = exchange.get()] {
        raw->answer.error =
            QStringLiteral("no answer within %1 s").arg(raw->timer.interval() / 1000.0);
        Finish(ticket);
    });
    exchange->timer.start();
    return ticket;
}

void Abort(quint64 ticket) {
    const auto found = running.find(ticket);
    if (found == running.end()) return;
    found.value()->answer.error = QStringLiteral("cancelled");
    Finish(ticket);
}

void Reset() {
    const auto ended = running;
    running.clear();
    for (const std::shared_ptr<Exchange>& exchange : ended) {
        exchange->ended = true;
        exchange->timer.stop();
        QObject::disconnect(exchange->contextGone);
        if (exchange->reply) {
            exchange->reply->disconnect();
            exchange->reply->abort();
            delete exchange->reply;
        }
    }
    delete manager;
    // The manager's own exchange objects go by deferred deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int Running() {
    return int(running.size());
}

Answer SendAndWait(const Request& request) {
    Answer result;
    QEventLoop loop;
    bool ended = false;
    Send(request, &loop, [&](const Answer& answer) {
        result = answer;
        ended = true;
        loop.quit();
    });
    if (!ended) loop.exec();
    return result;
}

}  // namespace WebRequest
