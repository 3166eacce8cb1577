#include "core/Mailer.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QXmlStreamWriter>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

#include "common/Async.h"
#include "common/Clock.h"
#include "common/SafeFile.h"

// The login check runs in CURLOPT_PREREQFUNCTION (libcurl 7.80).
#if LIBCURL_VERSION_NUM < 0x075000
#error "libcurl 7.80 or later is needed"
#endif

namespace Mail {

struct CurlHandle;

// The flag the callbacks look at, and the exchanges' open sockets, which
// Cancel shuts down so that any wait on them (the greeting, an answer, the
// answer to QUIT that libcurl waits for as it lets go of the connection,
// where it looks at no flag) ends at once. libcurl opens and closes them
// through OnOpenSocket and OnCloseSocket under the lock, so a socket is
// never shut down after its number has gone to another file.
struct Cancellation {
    std::atomic<bool> on = false;
    std::mutex mutex;
    std::set<curl_socket_t> open;
};

// What the worker thread needs; shared with the waiting thread so that a
// worker outliving its wait still has valid data.
struct Job {
    MailerSettings settings;
    bool verifyOnly = true;
    QByteArray payload;
    qsizetype sent = 0;
    QByteArray from;
    QList<QByteArray> recipients;
    // The waiting side's watchdog; Mailer::Cancel, from any thread.
    std::shared_ptr<std::atomic<bool>> abort = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<Cancellation> cancelled;

    // Filled by the libcurl callbacks, on the worker thread.
    QStringList transcript;
    bool inAuth = false;
    bool authOffered = false;
    bool authMissing = false;
    QStringList authMechanisms;
    // The server's last reply before QUIT (whose answer says nothing about
    // the message), and whether QUIT has been said.
    QString lastReply;
    bool quitting = false;

    // The connection from Perform to Close; libcurl may write to the error
    // buffer until the handle is cleaned up.
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    std::unique_ptr<CurlHandle> handle;

    ~Job();
};

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

// Header text must stay on its line: CR, LF and other control characters
// would otherwise start new headers.
QString OneLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) out += (c.unicode() < 0x20 || c.unicode() == 0x7f) ? u' ' : c;
    return out;
}

bool IsPrintableAscii(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
    }
    return true;
}

// RFC 2047 encoded words of at most 75 characters, folded onto continuation
// lines; never splits a UTF-8 sequence.
QByteArray EncodedWords(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QList<QByteArray> words;
    constexpr int kChunk = 45;  // 45 bytes -> 60 base64 characters
    int start = 0;
    while (start < utf8.size()) {
        int end = std::min<int>(start + kChunk, utf8.size());
        while (end < utf8.size() && end > start && (static_cast<uchar>(utf8[end]) & 0xC0) == 0x80) {
            --end;
        }
        words << "=?UTF-8?B?" + utf8.mid(start, end - start).toBase64() + "?=";
        start = end;
    }
    return words.join("\r\n ");
}

QByteArray HeaderText(const QString& text) {
    const QString line = OneLine(text);
    if (IsPrintableAscii(line) && line.size() <= 900) return line.toLatin1();
    return EncodedWords(line);
}

QByteArray DisplayName(const QString& name) {
    const QString line = OneLine(name).trimmed();
    if (!IsPrintableAscii(line) || line.size() > 900) return EncodedWords(line);
    QByteArray quoted = "\"";
    for (const QChar c : line) {
        if (c == u'"' || c == u'\\') quoted += '\\';
        quoted += c.toLatin1();
    }
    return quoted + "\"";
}

QByteArray Mailbox(const QString& name, const QString& address) {
    if (name.trimmed().isEmpty()) return address.toLatin1();
    return DisplayName(name) + " <" + address.toLatin1() + ">";
}

// A plain user@domain in printable ASCII: nothing that could end an SMTP
// command or a header, no second address hidden in it.
bool IsPlainAddress(const QString& address) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^[A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]+@[A-Za-z0-9.-]+$)"));
    if (!pattern.match(address).hasMatch()) return false;
    const int at = address.indexOf(u'@');
    const QString domain = address.mid(at + 1);
    return at > 0 && !domain.startsWith(u'.') && !domain.endsWith(u'.') && !domain.contains("..");
}

// Every line break of the text (CR LF, CR or LF) as CR LF.
QStringList Lines(const QString& text) {
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(u'\r', u'\n');
    return normal.split(u'\n');
}

QByteArray QuotedPrintable(const QString& text) {
    static const char* hex = "0123456789ABCDEF";
    QByteArray out;
    const QStringList lines = Lines(text);
    for (int l = 0; l < lines.size(); ++l) {
        const QByteArray bytes = lines[l].toUtf8();
        int column = 0;
        for (int i = 0; i < bytes.size(); ++i) {
            const uchar b = static_cast<uchar>(bytes[i]);
            const bool last = i == bytes.size() - 1;
            QByteArray piece;
            if ((b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !last)) {
                piece = QByteArray(1, static_cast<char>(b));
            } else {
                piece = QByteArray("=") + hex[b >> 4] + hex[b & 15];
            }
            if (column + piece.size() > 75) {  // room for the soft break's '='
                out += "=\r\n";
                column = 0;
            }
            out += piece;
            column += piece.size();
        }
        out += kCrLf;  // the last line too: SMTP ends a message after a line end
    }
    return out;
}

QString DomainOf(const QString& address) {
    const int at = address.lastIndexOf(u'@');
    return at >= 0 ? address.mid(at + 1) : QStringLiteral("localhost");
}

bool AuthConfigured(const MailerSettings& s) {
    const QString method = s.authMethod.trimmed().toUpper();
    return !method.isEmpty() && method != QLatin1String("NONE");
}

// "250-AUTH LOGIN PLAIN" (or the old "250-AUTH=LOGIN") in an EHLO reply.
bool OffersAuth(const QString& line) {
    if (line.size() < 9 || !line.startsWith(QLatin1String("250")) ||
        (line[3] != u'-' && line[3] != u' ')) {
        return false;
    }
    return line.mid(4, 4).compare(QLatin1String("AUTH"), Qt::CaseInsensitive) == 0 &&
           (line[8] == u' ' || line[8] == u'=');
}

int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* job = static_cast<Job*>(user);
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT && type != CURLINFO_TEXT) {
        return 0;
    }
    const QString chunk = QString::fromUtf8(data, static_cast<qsizetype>(size));
    for (QString line : chunk.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.endsWith(u'\r')) line.chop(1);
        if (type == CURLINFO_TEXT) {
            job->transcript << QStringLiteral("* ") + line;
        } else if (type == CURLINFO_HEADER_OUT) {
            const QString upper = line.toUpper();
            if (upper.startsWith(QLatin1String("EHLO"))) job->authOffered = false;
            if (upper == QLatin1String("QUIT") && !job->inAuth) job->quitting = true;
            if (upper.startsWith(QLatin1String("AUTH "))) {
                // Keep the mechanism; the initial response carries credentials.
                job->inAuth = true;
                line = line.section(u' ', 0, 1);
            } else if (job->inAuth) {
                line = QStringLiteral("<credentials hidden>");
            }
            job->transcript << QStringLiteral("> ") + line;
        } else {
            if (OffersAuth(line)) {
                job->authOffered = true;
                job->authMechanisms = line.mid(9).toUpper().split(u' ', Qt::SkipEmptyParts);
            }
            if (job->inAuth && !line.startsWith(QLatin1String("334"))) job->inAuth = false;
            if (!job->quitting) job->lastReply = line;
            job->transcript << QStringLiteral("< ") + line;
        }
    }
    return 0;
}

// Runs after EHLO (and AUTH, when libcurl saw it offered) and before the
// first mail command. libcurl skips a login the server does not offer; a
// message must never go out without the configured one.
int OnPrereq(void* user, char*, char*, int, int) {
    auto* job = static_cast<Job*>(user);
    if (AuthConfigured(job->settings) && !job->authOffered) {
        job->authMissing = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* job = static_cast<Job*>(user);
    return job->abort->load() || (job->cancelled && job->cancelled->on.load()) ? 1 : 0;
}

curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto* cancellation = static_cast<Cancellation*>(user);
    std::lock_guard lock(cancellation->mutex);
    if (cancellation->on) return CURL_SOCKET_BAD;
    const curl_socket_t s =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (s != CURL_SOCKET_BAD) cancellation->open.insert(s);
    return s;
}

int OnCloseSocket(void* user, curl_socket_t s) {
    auto* cancellation = static_cast<Cancellation*>(user);
    std::lock_guard lock(cancellation->mutex);
    cancellation->open.erase(s);
    return ::close(s);
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto* job = static_cast<Job*>(user);
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype n = std::min(room, job->payload.size() - job->sent);
    memcpy(buffer, job->payload.constData() + job->sent, static_cast<size_t>(n));
    job->sent += n;
    return static_cast<size_t>(n);
}

size_t OnWrite(char*, size_t size, size_t count, void*) {
    return size * count;
}

}  // namespace

struct CurlHandle {
    CURL* curl = curl_easy_init();
    curl_slist* recipients = nullptr;
    ~CurlHandle() {
        if (curl) curl_easy_cleanup(curl);  // says QUIT on the way out
        curl_slist_free_all(recipients);
    }
};

Job::~Job() = default;

struct Mailer::Outcome {
    bool ok = false;
    QString error;
    QStringList transcript;
};

namespace {

QString ConfigurationError(const MailerSettings& s) {
    if (s.host.trimmed().isEmpty()) return QStringLiteral("The SMTP host has not been programmed.");
    static const QRegularExpression badHost(QStringLiteral(R"([\s/@?#\\])"));
    if (badHost.match(s.host.trimmed()).hasMatch()) {
        return QStringLiteral("The SMTP host \"%1\" is not a valid host name.")
            .arg(s.host.trimmed());
    }
    if (s.port < 1 || s.port > 65535) {
        return QStringLiteral("The SMTP port %1 is not valid.").arg(s.port);
    }
    const QString method = s.authMethod.trimmed().toUpper();
    static const QStringList known{"", "NONE", "LOGIN", "PLAIN", "CRAM-MD5", "NTLM"};
    if (!known.contains(method)) {
        return QStringLiteral("Unknown authentication method \"%1\".").arg(s.authMethod.trimmed());
    }
    if (AuthConfigured(s) && s.userName.trimmed().isEmpty()) {
        return QStringLiteral(
                   "Authentication %1 is configured but no user name has been programmed.")
            .arg(method);
    }
    return {};
}

QString NoAnswer(const MailerSettings& s) {
    const int seconds = std::max(1, s.timeoutSeconds);
    return QStringLiteral("The mail server %1 did not answer within %2 %3.")
        .arg(s.host.trimmed())
        .arg(seconds)
        .arg(seconds == 1 ? QStringLiteral("second") : QStringLiteral("seconds"));
}

// Runs one exchange up to the server's answer to the message (or to the
// NOOP of a check), or its failure. The connection stays open in the job:
// Close says QUIT, so that what the answer means can be acted on first and
// no caller need wait for a server that has stopped answering.
Mailer::Outcome Perform(Job& job) {
    Mailer::Outcome outcome;
    const MailerSettings& s = job.settings;
    job.handle = std::make_unique<CurlHandle>();
    CurlHandle& h = *job.handle;
    char* errorBuffer = job.errorBuffer;
    if (!h.curl) {
        outcome.error = QStringLiteral("The mail component could not be started.");
        return outcome;
    }
    QString host = s.host.trimmed();
    if (host.contains(u':') && !host.startsWith(u'[')) host = u'[' + host + u']';
    const bool implicitTls = s.ssl && s.port == 465;
    const QByteArray url = (implicitTls ? QByteArray("smtps://") : QByteArray("smtp://")) +
                           host.toUtf8() + ':' + QByteArray::number(s.port);
    const long timeout = std::max(1, s.timeoutSeconds);

    CURL* c = h.curl;
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout);
    // Bounds each reply wait, QUIT included, which CURLOPT_TIMEOUT does not.
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, OnDebug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &job);
    curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, OnPrereq);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, &job);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &job);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnWrite);
    if (job.cancelled) {
        curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
        curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, job.cancelled.get());
        curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, OnCloseSocket);
        curl_easy_setopt(c, CURLOPT_CLOSESOCKETDATA, job.cancelled.get());
    }
    if (s.ssl && !implicitTls) {
        curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    }

    QByteArray user, password, options;
    if (AuthConfigured(s)) {
        const QString method = s.authMethod.trimmed().toUpper();
        QString name = s.userName.trimmed();
        if (method == QLatin1String("NTLM") && !s.loginDomain.trimmed().isEmpty()) {
            name = s.loginDomain.trimmed() + u'\\' + name;
        }
        user = name.toUtf8();
        password = s.password.trimmed().toUtf8();
        options = "AUTH=" + method.toLatin1();
        curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, options.constData());
    }

    if (job.verifyOnly) {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, "NOOP");
    } else {
        curl_easy_setopt(c, CURLOPT_MAIL_FROM, job.from.constData());
        for (const QByteArray& r : job.recipients) {
            h.recipients = curl_slist_append(h.recipients, r.constData());
        }
        curl_easy_setopt(c, CURLOPT_MAIL_RCPT, h.recipients);
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, OnRead);
        curl_easy_setopt(c, CURLOPT_READDATA, &job);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(job.payload.size()));
    }

    const CURLcode code = curl_easy_perform(c);
    outcome.ok = code == CURLE_OK;
    if (!outcome.ok) {
        if (job.authMissing) {
            outcome.error = QStringLiteral(
                                "The mail server %1 does not offer authentication "
                                "(AUTH), but %2 authentication is configured. "
                                "Nothing was sent.")
                                .arg(s.host.trimmed(), s.authMethod.trimmed().toUpper());
        } else if (code == CURLE_LOGIN_DENIED &&
                   !job.authMechanisms.contains(s.authMethod.trimmed().toUpper())) {
            outcome.error = QStringLiteral(
                                "The mail server %1 does not offer %2 authentication "
                                "(it offers %3). Nothing was sent.")
                                .arg(s.host.trimmed(), s.authMethod.trimmed().toUpper(),
                                     job.authMechanisms.join(u' '));
        } else if (job.lastReply.startsWith(u'4') || job.lastReply.startsWith(u'5')) {
            // The server said why, in its own words ("550 5.7.1 Rejected"):
            // libcurl's text around it ("Weird server reply") tells no more.
            outcome.error = job.lastReply;
        } else if (job.cancelled && job.cancelled->on.load()) {
            outcome.error =
                QStringLiteral("The program stopped before the mail server %1 answered.")
                    .arg(s.host.trimmed());
        } else if (code == CURLE_OPERATION_TIMEDOUT || job.abort->load()) {
            outcome.error = NoAnswer(s);
        } else {
            outcome.error =
                QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
        }
    }
    outcome.transcript = job.transcript;
    return outcome;
}

// Says QUIT and closes the connection; a cancelled exchange (the program
// stops) has had its socket shut down, so that no wait for the answer is left.
void Close(Job& job) {
    job.handle.reset();
}

}  // namespace

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---------------------------------------------------------------- Message

void Message::ClearRecipients() {
    recipients_.clear();
}

bool Message::AddRecipient(const QString& name, const QString& address) {
    const QString plain = address.trimmed();
    if (!IsPlainAddress(plain)) {
        lastError_ = QStringLiteral("\"%1\" is not a valid email address.").arg(OneLine(plain));
        return false;
    }
    recipients_.push_back({name, plain});
    return true;
}

bool Message::AddRecipients(const QString& list) {
    std::vector<Recipient> found;
    for (const QString& entry : list.split(u',')) {
        const QString plain = entry.trimmed();
        if (plain.isEmpty()) continue;  // a trailing comma, or two in a row
        if (!IsPlainAddress(plain)) {
            lastError_ = QStringLiteral("\"%1\" is not a valid email address.").arg(OneLine(plain));
            return false;
        }
        found.push_back({QString(), plain});
    }
    if (found.empty()) {
        lastError_ = QStringLiteral("The list holds no email address.");
        return false;
    }
    recipients_.insert(recipients_.end(), found.begin(), found.end());
    return true;
}

QString Message::RecipientText() const {
    QStringList addresses;
    for (const Recipient& r : recipients_) addresses << r.address;
    return addresses.join(QStringLiteral(", "));
}

QByteArray Message::Compose(const QDateTime& date) const {
    QByteArray out;
    auto header = [&out](const char* name, const QByteArray& value) {
        out += QByteArray(name) + ": " + value + kCrLf;
    };
    header("Date", date.toString(Qt::RFC2822Date).toLatin1());
    header("From", Mailbox(fromName_, fromAddress_));
    QList<QByteArray> to;
    for (const Recipient& r : recipients_) to << Mailbox(r.name, r.address);
    header("To", to.join(",\r\n "));
    header("Subject", HeaderText(subject_));
    header("Message-ID", "<" + QByteArray::number(date.toMSecsSinceEpoch()) + "." +
                             QByteArray::number(QRandomGenerator::global()->generate64(), 16) +
                             "@" + DomainOf(fromAddress_).toLatin1() + ">");
    header("MIME-Version", "1.0");
    header("Content-Type", "text/plain; charset=UTF-8");
    header("Content-Transfer-Encoding", "quoted-printable");
    out += kCrLf;
    out += QuotedPrintable(body_);
    return out;
}

// ---------------------------------------------------------------- Mailer

Mailer::Mailer() : cancelled_(std::make_shared<Cancellation>()) {}

void Mailer::Cancel() {
    cancelled_->on.store(true);
    std::lock_guard lock(cancelled_->mutex);
    for (const curl_socket_t s : cancelled_->open) ::shutdown(s, SHUT_RDWR);
}

void Mailer::LogAttempt(const Message& message, const QString& result) {
    if (logFile_.isEmpty()) return;
    const QString line = Clock::GeneralDateText() + u'\t' + message.RecipientText() + u'\t' +
                         OneLine(message.Subject()) + u'\t' + OneLine(result) + u'\n';
    // Whole lines only: a line cut short by a full disk would run into the
    // next one. The log is a courtesy; its failure does not fail the send.
    SafeFile::WriteTail(logFile_, -1, line.toUtf8());
}

std::shared_ptr<Job> Mailer::Prepare(const Message* message, Outcome& refused) const {
    GlobalInit();
    refused.error = ConfigurationError(settings_);
    if (refused.error.isEmpty() && message) {
        if (message->Recipients().empty()) {
            refused.error = QStringLiteral("The message has no recipient.");
        } else if (!IsPlainAddress(message->FromAddress())) {
            refused.error = message->FromAddress().isEmpty()
                                ? QStringLiteral("The sender address has not been programmed.")
                                : QStringLiteral(
                                      "The sender address \"%1\" is not a valid email "
                                      "address.")
                                      .arg(OneLine(message->FromAddress()));
        }
    }
    if (!refused.error.isEmpty()) return nullptr;
    auto job = std::make_shared<Job>();
    job->settings = settings_;
    job->verifyOnly = message == nullptr;
    job->cancelled = cancelled_;
    if (message) {
        job->payload = message->Compose(Clock::Now());
        job->from = "<" + message->FromAddress().toLatin1() + ">";
        for (const Recipient& r : message->Recipients()) {
            job->recipients << "<" + r.address.toLatin1() + ">";
        }
    }
    return job;
}

Mailer::Outcome Mailer::Run(const Message* message) {
    Outcome outcome;
    std::shared_ptr<Job> job = Prepare(message, outcome);
    if (!job) return outcome;
    // A good exchange ends with its QUIT answered before it reports; after a
    // failure the caller goes on and the worker says QUIT as it lets go of
    // the job.
    auto exchange = [job] {
        Outcome o = Perform(*job);
        if (o.ok) Close(*job);
        o.transcript = job->transcript;
        return o;
    };
    if (!QCoreApplication::instance() ||
        QThread::currentThread() != QCoreApplication::instance()->thread()) {
        return exchange();  // already off the main thread: nothing to wait in
    }
    // libcurl bounds the exchange by the time-out; the watchdog is a second
    // line should a callback or the resolver hang, and the hard limit lets
    // the caller go on even then (the worker finishes on its own).
    const int limitMs = (std::max(1, settings_.timeoutSeconds) + 2) * 1000;
    const std::shared_ptr<std::atomic<bool>> abort = job->abort;
    job.reset();
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [abort] { abort->store(true); });
    watchdog.start(limitMs);
    std::optional<Outcome> result = Async::RunAndWait(std::move(exchange), limitMs + 3000);
    if (!result) {
        abort->store(true);
        outcome.error = NoAnswer(settings_);
        return outcome;
    }
    return *result;
}

void Mailer::Remember(const Outcome& outcome, const Message* message) {
    lastError_ = outcome.error;
    lastOk_ = outcome.ok;
    lastTranscript_ = outcome.transcript;
    lastTime_ = Clock::Now();
    lastWhat_ = message ? QStringLiteral("send") : QStringLiteral("connection check");
    lastRecipients_ = message ? message->RecipientText() : QString();
    lastSubject_ = message ? OneLine(message->Subject()) : QString();
}

bool Mailer::VerifyConnection() {
    const Outcome outcome = Run(nullptr);
    Remember(outcome, nullptr);
    return outcome.ok;
}

int Mailer::Send(const Message& message) {
    const Outcome outcome = Run(&message);
    Account(message, outcome, &outcome);
    return outcome.ok ? 1 : 0;
}

bool Mailer::Account(const Message& message, const Outcome& check, const Outcome* send) {
    if (!send) {
        Remember(check, nullptr);
        LogAttempt(message, QStringLiteral("Not sent: ") + check.error);
        return false;
    }
    Remember(*send, &message);
    LogAttempt(message,
               send->ok ? QStringLiteral("Sent") : QStringLiteral("Not sent: ") + send->error);
    return send->ok;
}

bool Mailer::Deliver(const Message& message) {
    if (!VerifyConnection()) {
        LogAttempt(message, QStringLiteral("Not sent: ") + lastError_);
        return false;
    }
    return Send(message) == 1;
}

void Mailer::DeliverBeside(const Message& message, QObject* context,
                           std::function<void(bool sent)> accepted, std::function<void()> ended) {
    Outcome refused, sendRefused;
    std::shared_ptr<Job> check = Prepare(nullptr, refused);
    std::shared_ptr<Job> send = Prepare(&message, sendRefused);
    const QPointer<QObject> guard(context);
    const int askMs = std::max(1, settings_.timeoutSeconds) * 1000;
    Async::Start([this, guard, check, send, refused, sendRefused, message, askMs,
                  cancelled = cancelled_, accepted = std::move(accepted),
                  ended = std::move(ended)] {
        Outcome first = refused;
        std::optional<Outcome> second;
        if (check) {
            first = Perform(*check);
            Close(*check);
            first.transcript = check->transcript;
        }
        if (first.ok && !send) second = sendRefused;
        if (first.ok && send) {
            second = Perform(*send);
            second->transcript = send->transcript;
        }
        // The server's answer is acted on (the message marked delivered)
        // before QUIT: a program killed while the server takes its time to
        // answer QUIT does not send the message again at its next start. A
        // cancelled exchange waits only a second: the program is stopping,
        // and its main thread may already have left its event loop.
        Async::Ask(
            guard,
            [this, message, first, second, accepted] {
                accepted(Account(message, first, second ? &*second : nullptr));
            },
            cancelled->on.load() ? 1000 : askMs);
        if (send) Close(*send);
        Async::Post(guard, ended);
    });
}

bool Mailer::SaveLastError(const QString& path, QString* error) const {
    QByteArray report;
    QXmlStreamWriter xml(&report);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("EmailReport"));
    xml.writeTextElement(QStringLiteral("Time"), Clock::GeneralDateText(lastTime_));
    xml.writeTextElement(QStringLiteral("Operation"), lastWhat_);
    xml.writeTextElement(QStringLiteral("Server"),
                         settings_.host.trimmed() + u':' + QString::number(settings_.port));
    xml.writeTextElement(QStringLiteral("Recipients"), lastRecipients_);
    xml.writeTextElement(QStringLiteral("Subject"), lastSubject_);
    xml.writeTextElement(QStringLiteral("Result"),
                         lastOk_ ? QStringLiteral("OK") : QStringLiteral("Failed"));
    xml.writeTextElement(QStringLiteral("Error"), lastError_);
    xml.writeStartElement(QStringLiteral("Transcript"));
    for (const QString& line : lastTranscript_) {
        xml.writeTextElement(QStringLiteral("Line"), OneLine(line));
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    // A full disk leaves the previous report whole.
    return SafeFile::Replace(path, report, error);
}

}  // namespace Mail
