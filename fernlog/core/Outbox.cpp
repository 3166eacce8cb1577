#include "core/Outbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <memory>

#include "common/Async.h"
#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/Options.h"
#include "core/RetrySchedule.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"

namespace Outbox {
namespace {

// Pauses between attempts: the first, doubled after each failure up to the last.
constexpr qint64 kFirstPauseSeconds = 60;
constexpr qint64 kLongestPauseSeconds = 3600;
const QString kLostKey = QStringLiteral("E-mail outbox: ");
// The longest a cancelled exchange takes to end (EndDelivery).
constexpr int kCancelledEndMs = 5000;

FailureHandler& OnFailure() {
    static FailureHandler handler;
    return handler;
}

std::map<QString, ReceiptHandler>& Handlers() {
    static std::map<QString, ReceiptHandler> handlers;
    return handlers;
}

bool IsKindName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[a-z][a-z0-9-]{0,39}$"));
    return pattern.match(name).hasMatch();
}

struct State {
    std::deque<Entry> queue;  // in order of hand-over
    qint64 current = 0;       // the number of the one being delivered when busy
    QDateTime attemptStarted;
    qint64 nextNumber = 1;
    bool loaded = false;
    bool stopped = false;
    bool busy = false;
    Mail::MailerSettings settings;
    QString logFile;
    // The delivery in progress; its results come back through `context`,
    // which Reset destroys, so that none from before it is acted on.
    std::shared_ptr<Mail::Mailer> mailer;
    QPointer<QObject> context;
    QEventLoop* waiting = nullptr;  // Stop's wait for the delivery to end
    QPointer<QTimer> timer;         // wakes the outbox when a paused message is due
    Figures figures;
};

State& S() {
    static State state;
    return state;
}

QString Path() {
    return ProgramDir::File(FileName());
}

// The whole queue on disk; a failure leaves the previous file and is told,
// and the message is still delivered from memory.
void Save() {
    const std::vector<Entry> entries(S().queue.begin(), S().queue.end());
    QString error;
    if (!SafeFile::Replace(Path(), Encode(entries), &error)) {
        ErrorLog::RecordError(QStringLiteral("Outbox"), error);
    }
}

void KeepCopy(const QByteArray& content) {
    QString error;
    if (!SafeFile::KeepCopy(Path(), content, &error)) {
        ErrorLog::RecordError(QStringLiteral("Outbox"), error);
    }
}

// A damaged file: its copy is kept, the messages that can be read are
// delivered, and the loss is told in the service log and the status list.
std::vector<Entry> Recover(const QByteArray& content, const QString& reason) {
    KeepCopy(content);
    int lost = 0;
    std::vector<Entry> entries = Salvage(content, lost);
    const QString loss = lost < 0 ? QStringLiteral("at least 1") : QString::number(lost);
    const QString text = QStringLiteral("%1 message(s) read, %2 lost; the file is kept as %3.bad")
                             .arg(entries.size())
                             .arg(loss, FileName());
    ErrorLog::RecordError(QStringLiteral("Outbox"), reason + QStringLiteral(": ") + text);
    StatusList::ShowStatus(kLostKey, FileName() + QStringLiteral(" was damaged: ") + text);
    return entries;
}

void Load() {
    State& s = S();
    if (s.loaded) return;
    s.loaded = true;
    QFile file(Path());
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        ErrorLog::RecordError(QStringLiteral("Outbox"),
                              file.errorString() + QStringLiteral(": ") + Path());
        return;
    }
    const QByteArray content = file.readAll();
    std::vector<Entry> entries;
    QString error;
    if (!Decode(content, entries, &error)) {
        entries = Recover(content, error);
    } else if (!error.isEmpty()) {
        ErrorLog::RecordError(QStringLiteral("Outbox"), error);
    }
    for (Entry& e : entries) {
        e.number = s.nextNumber++;
        s.queue.push_back(std::move(e));
    }
    // What was salvaged replaces the damaged file (whose copy is kept).
    if (!error.isEmpty()) Save();
}

Mail::Message MessageOf(const Entry& e) {
    Mail::Message m;
    for (const Mail::Recipient& r : e.recipients) m.AddRecipient(r.name, r.address);
    m.SetSubject(e.subject);
    m.SetFromName(e.fromName);
    m.SetFromAddress(e.fromAddress);
    m.SetBody(e.body);
    return m;
}

void Pump();

QString StampText(const QDateTime& when) {
    return when.toUTC().toString(Qt::ISODate);
}

// Whole seconds, as StampText writes them; invalid for anything else.
QDateTime StampOf(const QString& text) {
    const QDateTime when = QDateTime::fromString(text, Qt::ISODate);
    if (!when.isValid()) return {};
    const QDateTime whole = QDateTime::fromSecsSinceEpoch(when.toSecsSinceEpoch());
    // Only a time that is written back as it is read (years 1 to 9999).
    return QDateTime::fromString(StampText(whole), Qt::ISODate) == whole ? whole : QDateTime();
}

// What the poster would have written after a synchronous send.
void Record(const Entry& e, bool sent, const QString& reason) {
    if (e.receipt != QLatin1String(kNoReceipt)) {
        const auto handler = Handlers().find(e.receipt);
        if (handler != Handlers().end()) {
            handler->second(e.rowId, sent, reason);
        } else {
            ErrorLog::RecordError(QStringLiteral("Outbox"),
                                  QStringLiteral("No record is kept of a message of the kind \"") +
                                      e.receipt + QStringLiteral("\" (") + e.subject + u')');
        }
    }
    // The failure's own line is in the service log already (Delivered).
    if (!sent && !e.errorFunction.isEmpty()) ErrorLog::RecordToldError(e.errorFunction, reason);
}

// A failed attempt of `e` is not final when retries are on and the next
// one still starts within the retry period: the pause is set and told.
bool RetryLater(Entry& e, const QString& errorText) {
    const QDateTime next = NextAttempt(e.attempts, e.firstAttempt, Clock::Now());
    if (!next.isValid()) return false;
    e.nextAttempt = next;
    EventLog::Warning(QStringLiteral("E-mail to ") + MessageOf(e).RecipientText() +
                      QStringLiteral(" failed (") + e.subject + QStringLiteral("): ") + errorText +
                      QStringLiteral("; attempt %1, tried again at ").arg(e.attempts) +
                      Clock::GeneralDateText(next));
    return true;
}

// The server has answered the message (or the attempt has failed); its
// QUIT is still to come. A message taken leaves the file at once.
void Delivered(const Entry& attempted, bool sent, const QString& errorText) {
    State& s = S();
    s.mailer->SaveLastError(ProgramDir::File(attempted.reportFile));
    // Cut short by Stop: the message stays for the next start.
    if (s.stopped && !sent) return;
    const auto it = std::find_if(s.queue.begin(), s.queue.end(),
                                 [&s](const Entry& e) { return e.number == s.current; });
    if (it == s.queue.end()) return;
    ++it->attempts;
    if (!it->firstAttempt.isValid()) it->firstAttempt = s.attemptStarted;
    if (!sent && RetryLater(*it, errorText)) {
        Save();
        return;
    }
    const Entry e = *it;
    s.queue.erase(it);
    // Off the disk first: a message the server took is not sent again
    // because the program stopped before its records were written.
    Save();
    QString reason = errorText;
    if (e.attempts > 1) {
        reason += QStringLiteral(" (%1 attempts since ").arg(e.attempts) +
                  Clock::GeneralDateText(e.firstAttempt) + u')';
    }
    if (sent) {
        ++s.figures.sent;
        EventLog::Info(
            QStringLiteral("E-mail sent to ") + MessageOf(e).RecipientText() +
            QStringLiteral(": ") + e.subject +
            (e.attempts > 1 ? QStringLiteral(" (attempt %1)").arg(e.attempts) : QString()));
    } else {
        ++s.figures.failed;
        EventLog::Error(QStringLiteral("E-mail to ") + MessageOf(e).RecipientText() +
                        QStringLiteral(" failed (") + e.subject + QStringLiteral("): ") + reason);
    }
    Record(e, sent, reason);
    if (!sent && OnFailure()) OnFailure()(e.receipt, e.subject, reason);
}

// The exchange is over (QUIT said): the next message may go.
void Ended() {
    State& s = S();
    s.busy = false;
    s.mailer.reset();
    if (s.waiting) s.waiting->quit();
    Pump();
}

// Wakes the outbox when the earliest paused message is due. It looks again
// at least every minute, so that a clock set forward is followed.
void WakeAt(const QDateTime& when) {
    State& s = S();
    if (!s.timer) {
        s.timer = new QTimer(QCoreApplication::instance());
        s.timer->setSingleShot(true);
        QObject::connect(s.timer, &QTimer::timeout, [] { Pump(); });
    }
    s.timer->start(static_cast<int>(std::clamp<qint64>(Clock::Now().msecsTo(when), 0, 60000)));
}

bool Due(const Entry& e, const QDateTime& now) {
    return !e.nextAttempt.isValid() || e.nextAttempt <= now ||
           now.secsTo(e.nextAttempt) > kLongestPauseSeconds;
}

bool NothingDue() {
    const QDateTime now = Clock::Now();
    const State& s = S();
    return !s.busy && std::none_of(s.queue.begin(), s.queue.end(),
                                   [&now](const Entry& e) { return Due(e, now); });
}

void Pump() {
    State& s = S();
    if (s.stopped || s.busy || s.queue.empty() || !QCoreApplication::instance()) return;
    // The first message not pausing goes next: one that waits to be tried
    // again holds up no other. A pause longer than any we set means the
    // clock was set back, and is over.
    const QDateTime now = Clock::Now();
    const auto it = std::find_if(s.queue.begin(), s.queue.end(),
                                 [&now](const Entry& e) { return Due(e, now); });
    if (it == s.queue.end()) {
        QDateTime earliest;
        for (const Entry& e : s.queue) {
            if (!earliest.isValid() || e.nextAttempt < earliest) earliest = e.nextAttempt;
        }
        WakeAt(earliest);
        return;
    }
    s.busy = true;
    s.current = it->number;
    s.attemptStarted = now;
    const Entry e = *it;
    if (!s.context) s.context = new QObject(QCoreApplication::instance());
    auto mailer = std::make_shared<Mail::Mailer>();
    mailer->Configure(s.settings);
    mailer->SetLogFile(s.logFile);
    s.mailer = mailer;
    // The exchange runs beside the polling; the mail log line, the report
    // and the records are written back here, on the main thread.
    Mail::Mailer* m = mailer.get();
    m->DeliverBeside(
        MessageOf(e), s.context,
        [e, m](bool sent) { Delivered(e, sent, sent ? QString() : m->LastError()); }, Ended);
}

// Cancels the delivery in progress and lets the event loop run until it
// has ended. Whatever the server does, that takes a second or two (the
// mailer shuts its connection down, and looks at the cancel at least once
// a second while it has none), so the wait is bounded by that, not by the
// mail time-out.
void EndDelivery(State& s) {
    if (!s.busy || !s.mailer) return;
    s.mailer->Cancel();
    QEventLoop loop;
    s.waiting = &loop;
    QTimer::singleShot(
        std::min(std::max(1, s.mailer->Settings().timeoutSeconds) * 1000, kCancelledEndMs), &loop,
        &QEventLoop::quit);
    loop.exec();
    s.waiting = nullptr;
}

// One message object of the file; false when it cannot be used.
bool EntryOf(const QJsonValue& value, Entry& e) {
    const QJsonObject o = value.toObject();
    bool rowOk = false;
    e.reportFile = o.value(QStringLiteral("report")).toString();
    e.rowId = o.value(QStringLiteral("row")).toString().toLongLong(&rowOk);
    e.receipt = o.value(QStringLiteral("receipt")).toString();
    e.errorFunction = o.value(QStringLiteral("errorFunction")).toString();
    e.subject = o.value(QStringLiteral("subject")).toString();
    e.fromName = o.value(QStringLiteral("fromName")).toString();
    e.fromAddress = o.value(QStringLiteral("fromAddress")).toString();
    e.body = o.value(QStringLiteral("body")).toString();
    const RetrySchedule schedule = RetrySchedule::ReadFrom(o);
    e.attempts = schedule.attempts;
    e.firstAttempt = schedule.firstAttempt;
    e.nextAttempt = schedule.nextAttempt;
    for (const QJsonValue& r : o.value(QStringLiteral("to")).toArray()) {
        e.recipients.push_back({r.toObject().value(QStringLiteral("name")).toString(),
                                r.toObject().value(QStringLiteral("address")).toString()});
    }
    // The report goes into the program directory under a plain name.
    const bool plainReport = !e.reportFile.isEmpty() && !e.reportFile.contains(u'/') &&
                             !e.reportFile.contains(u'\\') && e.reportFile != QLatin1String("..") &&
                             e.reportFile != QLatin1String(".");
    return value.isObject() && rowOk && plainReport && !e.recipients.empty() &&
           IsKindName(e.receipt);
}

}  // namespace

QString FileName() {
    return QStringLiteral("FernlogOutbox.dat");
}

QByteArray Encode(const std::vector<Entry>& entries) {
    QJsonArray messages;
    for (const Entry& e : entries) {
        QJsonArray to;
        for (const Mail::Recipient& r : e.recipients) {
            to.append(QJsonObject{{QStringLiteral("name"), r.name},
                                  {QStringLiteral("address"), r.address}});
        }
        QJsonObject message{
            {QStringLiteral("report"), e.reportFile},
            {QStringLiteral("receipt"), e.receipt},
            {QStringLiteral("row"), QString::number(e.rowId)},
            {QStringLiteral("errorFunction"), e.errorFunction},
            {QStringLiteral("to"), to},
            {QStringLiteral("subject"), e.subject},
            {QStringLiteral("fromName"), e.fromName},
            {QStringLiteral("fromAddress"), e.fromAddress},
            {QStringLiteral("body"), e.body},
        };
        // A message not tried yet is written as before retries existed.
        RetrySchedule{e.attempts, e.firstAttempt, e.nextAttempt}.WriteTo(message);
        messages.append(message);
    }
    // Keys are written in order of their names: the count comes first.
    return QJsonDocument(QJsonObject{{QStringLiteral("count"), messages.size()},
                                     {QStringLiteral("messages"), messages}})
        .toJson();
}

bool Decode(const QByteArray& bytes, std::vector<Entry>& entries, QString* error) {
    entries.clear();
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
    if (!doc.isObject() || !doc.object().value(QStringLiteral("messages")).isArray()) {
        if (error) {
            *error = FileName() + QStringLiteral(" is not an outbox: ") +
                     (doc.isNull() ? parse.errorString() : QStringLiteral("no message list"));
        }
        return false;
    }
    int skipped = 0;
    for (const QJsonValue& value : doc.object().value(QStringLiteral("messages")).toArray()) {
        Entry e;
        if (!EntryOf(value, e)) {
            ++skipped;
            continue;
        }
        entries.push_back(std::move(e));
    }
    if (error) {
        *error = skipped
                     ? FileName() +
                           QStringLiteral(": %1 message(s) not understood, left out").arg(skipped)
                     : QString();
    }
    return true;
}

std::vector<Entry> Salvage(const QByteArray& bytes, int& lost) {
    std::vector<Entry> entries;
    // The count, when the file got that far: it is written before the list.
    static const QRegularExpression countPattern(
        QStringLiteral(R"(^\s*\{\s*"count"\s*:\s*(\d{1,9})\s*,)"));
    const QRegularExpressionMatch count = countPattern.match(QString::fromLatin1(bytes.left(64)));
    const int listAt = bytes.indexOf("\"messages\"");
    const int open = listAt < 0 ? -1 : bytes.indexOf('[', listAt);
    int started = 0;
    int whole = 0;
    if (open >= 0) {
        // Every object of the list that is closed before the end is tried on
        // its own; strings are skipped, so braces inside texts do not count.
        int depth = 0;
        int start = -1;
        bool inString = false;
        for (int i = open + 1; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (inString) {
                if (c == '\\') {
                    ++i;
                } else if (c == '"') {
                    inString = false;
                }
                continue;
            }
            if (c == '"') {
                inString = true;
            } else if (c == '{') {
                if (depth++ == 0) {
                    start = i;
                    ++started;
                }
            } else if (c == '}' && depth > 0) {
                if (--depth == 0) {
                    ++whole;
                    const QJsonDocument doc =
                        QJsonDocument::fromJson(bytes.mid(start, i - start + 1));
                    Entry e;
                    if (doc.isObject() && EntryOf(doc.object(), e)) entries.push_back(std::move(e));
                }
            } else if (c == ']' && depth == 0) {
                break;
            }
        }
    }
    if (count.hasMatch()) {
        lost = std::max(0, count.captured(1).toInt() - static_cast<int>(entries.size()));
    } else {
        lost = started > whole ? -1 : whole - static_cast<int>(entries.size());
        if (lost == 0 && open < 0) lost = -1;
    }
    return entries;
}

QDateTime NextAttempt(int attempts, const QDateTime& firstAttempt, const QDateTime& now) {
    const int minutes = Options::Load().retryMinutes;
    if (minutes <= 0 || attempts < 1) return {};
    const qint64 pause =
        std::min(kFirstPauseSeconds << std::min(attempts - 1, 12), kLongestPauseSeconds);
    const QDateTime next = now.addSecs(pause);
    if (next > firstAttempt.addSecs(qint64{minutes} * 60)) return {};
    return next;
}

bool SetFailureHandler(FailureHandler handler) {
    OnFailure() = std::move(handler);
    return true;
}

bool SetReceiptHandler(const QString& kind, ReceiptHandler handler) {
    Handlers()[kind] = std::move(handler);
    return true;
}

void SetMailer(const Mail::MailerSettings& settings, const QString& logFile) {
    S().settings = settings;
    S().logFile = logFile;
}

void Post(const Mail::Message& message, const QString& reportFile, const QString& receipt,
          qint64 rowId, const QString& errorFunction) {
    State& s = S();
    Load();
    Entry e;
    e.number = s.nextNumber++;
    e.reportFile = reportFile;
    e.receipt = receipt;
    e.rowId = rowId;
    e.errorFunction = errorFunction;
    e.recipients = message.Recipients();
    e.subject = message.Subject();
    e.fromName = message.FromName();
    e.fromAddress = message.FromAddress();
    e.body = message.Body();
    s.queue.push_back(std::move(e));
    Save();
    Pump();
}

bool Pending(const QString& receipt, qint64 rowId) {
    Load();
    for (const Entry& e : S().queue) {
        if (e.receipt == receipt && e.rowId == rowId) return true;
    }
    return false;
}

void Rebind(const QString& receipt, qint64 rowId, const QString& newReceipt, qint64 newRowId) {
    Load();
    bool changed = false;
    for (Entry& e : S().queue) {
        if (e.receipt == receipt && e.rowId == rowId) {
            e.receipt = newReceipt;
            e.rowId = newRowId;
            changed = true;
        }
    }
    if (changed) Save();
}

void Resume() {
    S().stopped = false;
    Load();
    Pump();
}

void Stop() {
    State& s = S();
    s.stopped = true;
    EndDelivery(s);
    if (!s.queue.empty()) {
        EventLog::Warning(QStringLiteral("%1 e-mail(s) left in %2 for the next start")
                              .arg(s.queue.size())
                              .arg(FileName()));
    }
}

bool Idle() {
    return S().queue.empty() && !S().busy;
}

bool Drain(int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    // A message pausing before its next attempt is not waited for: it is
    // kept on disk for the next start.
    while (!NothingDue() && waited.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return Idle();
}

bool Delivering() {
    return S().busy;
}

Figures Counts() {
    Figures f = S().figures;
    f.waiting = static_cast<int>(S().queue.size());
    return f;
}

void Reset() {
    State& s = S();
    s.stopped = true;
    EndDelivery(s);
    delete s.timer;
    delete s.context;
    s = State();
}

}  // namespace Outbox

void RetrySchedule::WriteTo(QJsonObject& o) const {
    if (attempts > 0) o.insert(QStringLiteral("attempts"), attempts);
    if (firstAttempt.isValid())
        o.insert(QStringLiteral("firstAttempt"), Outbox::StampText(firstAttempt));
    if (nextAttempt.isValid())
        o.insert(QStringLiteral("nextAttempt"), Outbox::StampText(nextAttempt));
}

RetrySchedule RetrySchedule::ReadFrom(const QJsonObject& o) {
    RetrySchedule r;
    const double attempts = o.value(QStringLiteral("attempts")).toDouble();
    if (attempts >= 1 && attempts <= 1e6 && attempts == std::floor(attempts)) {
        r.attempts = static_cast<int>(attempts);
    }
    r.firstAttempt = Outbox::StampOf(o.value(QStringLiteral("firstAttempt")).toString());
    r.nextAttempt = Outbox::StampOf(o.value(QStringLiteral("nextAttempt")).toString());
    return r;
}
