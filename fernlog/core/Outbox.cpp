#include "core/Outbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/Alarms.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"

namespace Outbox {
namespace {

const QString kCR = QStringLiteral("\r");
const QString kMailErrorKey = QStringLiteral("Error sending Alarm Email");
// Pauses between attempts: the first, doubled after each failure up to the last.
constexpr qint64 kFirstPauseSeconds = 60;
constexpr qint64 kLongestPauseSeconds = 3600;

QString ReceiptName(Receipt r) {
    switch (r) {
        case Receipt::Alarm:
            return QStringLiteral("alarm");
        case Receipt::ServerFailure:
            return QStringLiteral("server-failure");
        case Receipt::LogFileBackup:
            return QStringLiteral("log-file-backup");
        case Receipt::DeferredAlarm:
            return QStringLiteral("deferred-alarm");
        case Receipt::None:
            break;
    }
    return QStringLiteral("none");
}

bool ReceiptOf(const QString& name, Receipt& r) {
    for (Receipt k :
         {Receipt::None, Receipt::Alarm, Receipt::ServerFailure, Receipt::LogFileBackup,
          Receipt::DeferredAlarm}) {
        if (ReceiptName(k) == name) {
            r = k;
            return true;
        }
    }
    return false;
}

struct State {
    std::deque<Entry> queue;  // in order of hand-over
    qint64 current = 0;       // the number of the one being delivered when busy
    QDateTime attemptStarted;
    qint64 nextNumber = 1;
    bool loaded = false;
    bool stopped = false;
    bool busy = false;
    quint64 generation = 0;  // results of a delivery from before a Reset are ignored
    std::shared_ptr<Mail::Mailer> mailer;
    // The delivery's thread, until it has deleted itself.
    QPointer<QThread> worker;
    QPointer<QTimer> timer;  // wakes the outbox when a paused message is due
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

void Load() {
    State& s = S();
    if (s.loaded) return;
    s.loaded = true;
    QFile file(Path());
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        ErrorLog::RecordError(QStringLiteral("Outbox"), file.errorString() + QStringLiteral(": ") +
                                                            Path());
        return;
    }
    std::vector<Entry> entries;
    QString error;
    if (!Decode(file.readAll(), entries, &error) || !error.isEmpty()) {
        ErrorLog::RecordError(QStringLiteral("Outbox"), error);
    }
    for (Entry& e : entries) {
        e.number = s.nextNumber++;
        s.queue.push_back(std::move(e));
    }
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

// What the caller would have written after a synchronous send.
void Record(const Entry& e, bool sent, const QString& errorText) {
    const QString sentence = QStringLiteral("There was an error sending an alarm email ") +
                             Clock::GeneralDateText() + kCR + QStringLiteral("The email error is:") +
                             kCR + errorText;
    QString error;
    bool stored = true;
    switch (e.receipt) {
        case Receipt::Alarm:
            stored = ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::Alarm, e.rowId,
                                                  sent ? Clock::DbStamp() : sentence, &error);
            StatusList::ShowStatus(kMailErrorKey, sent ? QStringLiteral("delete")
                                                       : QStringLiteral("See Alarm Tab for details"));
            break;
        case Receipt::DeferredAlarm:
            Alarms::DeferredAlarmMailed(e.rowId, sent ? Clock::DbStamp() : sentence);
            StatusList::ShowStatus(kMailErrorKey, sent ? QStringLiteral("delete")
                                                       : QStringLiteral("See Alarm Tab for details"));
            break;
        case Receipt::ServerFailure:
            stored = ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::ServerFailure, e.rowId,
                                                  sent ? Clock::DbStamp() : errorText, &error);
            break;
        case Receipt::LogFileBackup:
            stored = ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::LogFileBackup, e.rowId,
                                                  sent ? Clock::DbStamp() : sentence, &error);
            StatusList::ShowStatus(kMailErrorKey, sent ? QStringLiteral("delete") : QString());
            break;
        case Receipt::None:
            break;
    }
    if (!stored) ErrorLog::RecordError(QStringLiteral("Outbox"), error);
    // The failure's own line is in the service log already (Delivered).
    if (!sent && !e.errorFunction.isEmpty()) ErrorLog::RecordToldError(e.errorFunction, errorText);
}

// A failed attempt of `e` is not final when retries are on and the next
// one still starts within the retry period: the pause is set and told.
bool RetryLater(Entry& e, const QString& errorText) {
    const int minutes = Options::Load().retryMinutes;
    if (minutes <= 0) return false;
    const QDateTime now = Clock::Now();
    const qint64 pause =
        std::min(kFirstPauseSeconds << std::min(e.attempts - 1, 12), kLongestPauseSeconds);
    const QDateTime next = now.addSecs(pause);
    if (next > e.firstAttempt.addSecs(qint64{minutes} * 60)) return false;
    e.nextAttempt = next;
    EventLog::Warning(QStringLiteral("E-mail to ") + MessageOf(e).RecipientText() +
                      QStringLiteral(" failed (") + e.subject + QStringLiteral("): ") + errorText +
                      QStringLiteral("; attempt %1, tried again at ").arg(e.attempts) +
                      Clock::GeneralDateText(next));
    return true;
}

void Delivered(quint64 generation, bool sent, const QString& errorText) {
    State& s = S();
    if (generation != s.generation || !s.busy) return;
    s.busy = false;
    s.mailer.reset();
    // The worker has posted its last word: it ends here, not by a
    // deleteLater that a stopping program may never get to.
    if (s.worker && s.worker->wait(10000)) delete s.worker.data();
    // Cut short by Stop: the message stays for the next start.
    if (s.stopped && !sent) return;
    const auto it = std::find_if(s.queue.begin(), s.queue.end(),
                                 [&s](const Entry& e) { return e.number == s.current; });
    if (it == s.queue.end()) return;
    ++it->attempts;
    if (!it->firstAttempt.isValid()) it->firstAttempt = s.attemptStarted;
    if (!sent && RetryLater(*it, errorText)) {
        Save();
        Pump();
        return;
    }
    const Entry e = *it;
    s.queue.erase(it);
    // Off the disk first: a message the server took is never sent twice
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
    const Entry& e = *it;
    auto mailer = std::make_shared<Mail::Mailer>();
    mailer->Configure(EmailNotification::ProgramMailer().Settings());
    mailer->SetLogFile(ProgramDir::File(EmailNotification::MailLogFileName()));
    s.mailer = mailer;
    const Mail::Message message = MessageOf(e);
    const QString report = ProgramDir::File(e.reportFile);
    const quint64 generation = s.generation;
    // The exchange, its mail log line and its report are the worker's; the
    // records are written back on this thread.
    QThread* worker = QThread::create([mailer, message, report, generation] {
        bool sent = false;
        if (!mailer->VerifyConnection()) {
            mailer->LogAttempt(message, QStringLiteral("Not sent: ") + mailer->LastError());
        } else {
            sent = mailer->Send(message) == 1;
        }
        mailer->SaveLastError(report);
        const QString error = sent ? QString() : mailer->LastError();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [generation, sent, error] { Delivered(generation, sent, error); },
            Qt::QueuedConnection);
    });
    s.worker = worker;
    worker->start();
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
            {QStringLiteral("receipt"), ReceiptName(e.receipt)},
            {QStringLiteral("row"), QString::number(e.rowId)},
            {QStringLiteral("errorFunction"), e.errorFunction},
            {QStringLiteral("to"), to},
            {QStringLiteral("subject"), e.subject},
            {QStringLiteral("fromName"), e.fromName},
            {QStringLiteral("fromAddress"), e.fromAddress},
            {QStringLiteral("body"), e.body},
        };
        // A message not tried yet is written as before retries existed.
        if (e.attempts > 0) message.insert(QStringLiteral("attempts"), e.attempts);
        if (e.firstAttempt.isValid()) {
            message.insert(QStringLiteral("firstAttempt"), StampText(e.firstAttempt));
        }
        if (e.nextAttempt.isValid()) {
            message.insert(QStringLiteral("nextAttempt"), StampText(e.nextAttempt));
        }
        messages.append(message);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("messages"), messages}}).toJson();
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
        const QJsonObject o = value.toObject();
        Entry e;
        bool rowOk = false;
        e.reportFile = o.value(QStringLiteral("report")).toString();
        e.rowId = o.value(QStringLiteral("row")).toString().toLongLong(&rowOk);
        e.errorFunction = o.value(QStringLiteral("errorFunction")).toString();
        e.subject = o.value(QStringLiteral("subject")).toString();
        e.fromName = o.value(QStringLiteral("fromName")).toString();
        e.fromAddress = o.value(QStringLiteral("fromAddress")).toString();
        e.body = o.value(QStringLiteral("body")).toString();
        const double attempts = o.value(QStringLiteral("attempts")).toDouble();
        if (attempts >= 1 && attempts <= 1e6 && attempts == std::floor(attempts)) {
            e.attempts = static_cast<int>(attempts);
        }
        e.firstAttempt = StampOf(o.value(QStringLiteral("firstAttempt")).toString());
        e.nextAttempt = StampOf(o.value(QStringLiteral("nextAttempt")).toString());
        for (const QJsonValue& r : o.value(QStringLiteral("to")).toArray()) {
            e.recipients.push_back({r.toObject().value(QStringLiteral("name")).toString(),
                                    r.toObject().value(QStringLiteral("address")).toString()});
        }
        // The report goes into the program directory under a plain name.
        const bool plainReport = !e.reportFile.isEmpty() && !e.reportFile.contains(u'/') &&
                                 !e.reportFile.contains(u'\\') && e.reportFile != QLatin1String("..") &&
                                 e.reportFile != QLatin1String(".");
        if (!value.isObject() || !rowOk || !plainReport || e.recipients.empty() ||
            !ReceiptOf(o.value(QStringLiteral("receipt")).toString(), e.receipt)) {
            ++skipped;
            continue;
        }
        entries.push_back(std::move(e));
    }
    if (error) {
        *error = skipped ? FileName() + QStringLiteral(": %1 message(s) not understood, left out")
                                            .arg(skipped)
                         : QString();
    }
    return true;
}

void Post(const Mail::Message& message, const QString& reportFile, Receipt receipt, qint64 rowId,
          const QString& errorFunction) {
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

bool Pending(Receipt receipt, qint64 rowId) {
    for (const Entry& e : S().queue) {
        if (e.receipt == receipt && e.rowId == rowId) return true;
    }
    return false;
}

void Resume() {
    S().stopped = false;
    Load();
    Pump();
}

// A delivery still running is cancelled and its thread ended, so no thread
// outlives the event loop that would have deleted it.
static void EndWorker(State& s) {
    if (s.mailer) s.mailer->Cancel();
    if (s.worker && s.worker->wait(10000)) delete s.worker.data();
}

void Stop() {
    State& s = S();
    s.stopped = true;
    EndWorker(s);
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
    EndWorker(s);
    delete s.timer;
    const quint64 generation = s.generation + 1;
    s = State();
    s.generation = generation;
}

}  // namespace Outbox
