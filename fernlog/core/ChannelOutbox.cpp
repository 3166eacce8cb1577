#include "core/ChannelOutbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <deque>
#include <memory>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/Notices.h"
#include "core/Outbox.h"
#include "core/RetrySchedule.h"
#include "core/WebRequest.h"
#include "db/ErrorLog.h"

namespace ChannelOutbox {
namespace {

struct State {
    std::deque<Entry> queue;   // in order of hand-over, all channels
    QMap<QString, bool> busy;  // lanes with a delivery in progress
    qint64 nextNumber = 1;
    bool loaded = false;
    bool stopped = false;
    QPointer<QObject> context;  // results after Reset are dropped with it
    QPointer<QTimer> timer;
    QMap<QString, Figures> figures;
    QMap<QString, QDateTime> lastBeat;
    struct Failing {
        QDateTime since;
        int attempts = 0;
        bool told = false;
    };
    QMap<QString, Failing> failingSyncs;
};

State& S() {
    static State state;
    return state;
}

QString Path() {
    return ProgramDir::File(FileName());
}

void Save() {
    QString error;
    if (!SafeFile::Replace(Path(), Encode({S().queue.begin(), S().queue.end()}), &error)) {
        ErrorLog::RecordError(QStringLiteral("ChannelOutbox"), error);
    }
}

void Load() {
    State& s = S();
    if (s.loaded) return;
    s.loaded = true;
    QFile file(Path());
    if (!file.exists()) return;
    std::vector<Entry> entries;
    QString error;
    if (!file.open(QIODevice::ReadOnly) || !Decode(file.readAll(), entries, &error)) {
        ErrorLog::RecordError(QStringLiteral("ChannelOutbox"),
                              error.isEmpty() ? file.errorString() + u' ' + Path() : error);
        return;
    }
    for (Entry& e : entries) {
        e.number = s.nextNumber++;
        s.queue.push_back(std::move(e));
    }
}

QObject* Context() {
    State& s = S();
    if (!s.context) s.context = new QObject(QCoreApplication::instance());
    return s.context;
}

void Pump();

void WakeAt(const QDateTime& when) {
    State& s = S();
    if (!s.timer) {
        s.timer = new QTimer(QCoreApplication::instance());
        s.timer->setSingleShot(true);
        QObject::connect(s.timer, &QTimer::timeout, [] { Pump(); });
    }
    const qint64 ms = std::clamp<qint64>(Clock::Now().msecsTo(when), 0, 60000);
    if (!s.timer->isActive() || s.timer->remainingTime() > ms) s.timer->start(int(ms));
}

std::deque<Entry>::iterator Find(qint64 number) {
    return std::find_if(S().queue.begin(), S().queue.end(),
                        [number](const Entry& e) { return e.number == number; });
}

void Ended(const QString& lane, qint64 number, const Result& result) {
    State& s = S();
    s.busy.remove(lane);
    const auto it = Find(number);
    if (it == s.queue.end()) return Pump();
    Figures& f = s.figures[lane];
    ++it->attempts;
    if (!it->firstAttempt.isValid()) it->firstAttempt = Clock::Now();
    if (!result.delivered) {
        const QDateTime next = Outbox::NextAttempt(it->attempts, it->firstAttempt, Clock::Now());
        if (next.isValid() && !s.stopped) {
            it->nextAttempt = next;
            ++f.retried;
            Save();
            EventLog::Warning(QStringLiteral("Notice %1 to channel %2 failed: %3; attempt %4, "
                                             "tried again at %5")
                                  .arg(it->event, lane, result.reason)
                                  .arg(it->attempts)
                                  .arg(Clock::GeneralDateText(next)));
            return Pump();
        }
        if (s.stopped) return;  // cut short: it stays for the next start
    }
    const Entry e = *it;
    s.queue.erase(it);
    Save();
    if (result.delivered) {
        ++f.delivered;
        EventLog::Info(
            QStringLiteral("Notice %1 delivered to channel %2").arg(e.event, lane) +
            (e.attempts > 1 ? QStringLiteral(" (attempt %1)").arg(e.attempts) : QString()));
    } else {
        ++f.failed;
        Notices::FailedForGood(
            lane, e.event, QStringLiteral("delivery ") + e.delivery,
            result.reason +
                (e.attempts > 1 ? QStringLiteral(" (%1 attempts)").arg(e.attempts) : QString()));
    }
    Pump();
}

// Each lane's first entry goes when it is due; a lane whose first entry
// pauses waits, so its channel gets its notices in order.
void Pump() {
    State& s = S();
    if (s.stopped || !QCoreApplication::instance()) return;
    QList<Channels::Channel> channels;
    if (s.queue.empty()) return;
    QString error;
    if (!Channels::List(channels, &error)) {
        // The store is busy or gone for now: the lanes wait, they lose nothing.
        ErrorLog::RecordError(QStringLiteral("ChannelOutbox"), error);
        WakeAt(Clock::Now().addSecs(10));
        return;
    }
    const QDateTime now = Clock::Now();
    QMap<QString, bool> seen;
    QDateTime earliest;
    bool dropped = false;
    for (auto it = s.queue.begin(); it != s.queue.end();) {
        const QString lane = it->channel;
        if (seen.contains(lane)) {
            ++it;
            continue;
        }
        seen.insert(lane, true);
        const auto channel = std::find_if(channels.begin(), channels.end(),
                                          [&lane](const auto& c) { return c.name == lane; });
        if (channel == channels.end()) {
            // Its channel was removed: nothing is left to deliver it to.
            EventLog::Warning(
                QStringLiteral("Notice %1 dropped: channel %2 was removed").arg(it->event, lane));
            it = s.queue.erase(it);
            seen.remove(lane);
            dropped = true;
            continue;
        }
        if (!s.busy.value(lane)) {
            if (it->nextAttempt.isValid() && it->nextAttempt > now &&
                now.secsTo(it->nextAttempt) <= 3600) {
                if (!earliest.isValid() || it->nextAttempt < earliest) earliest = it->nextAttempt;
            } else {
                s.busy.insert(lane, true);
                const qint64 number = it->number;
                Deliver(*channel, it->event, it->delivery, it->body, Context(),
                        [lane, number](const Result& r) { Ended(lane, number, r); });
            }
        }
        ++it;
    }
    if (dropped) Save();
    if (earliest.isValid()) WakeAt(earliest);
}

QString Signature(const QByteArray& body, const QString& secret) {
    return QStringLiteral("sha256=") +
           QString::fromLatin1(
               QMessageAuthenticationCode::hash(body, secret.toUtf8(), QCryptographicHash::Sha256)
                   .toHex());
}

void RunCommand(const Channels::Channel& channel, const QString& event, const QString& delivery,
                const QByteArray& body, QObject* context,
                const std::function<void(const Result&)>& done) {
    auto* process = new QProcess(context);
    auto kept = std::make_shared<QByteArray>();
    auto timedOut = std::make_shared<bool>(false);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FERNLOG_EVENT"), event);
    environment.insert(QStringLiteral("FERNLOG_DELIVERY"), delivery);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    const auto keep = [process, kept] {
        const QByteArray bytes = process->readAll();
        kept->append(bytes.left(WebRequest::kKeptAnswerBytes - kept->size()));
    };
    QObject::connect(process, &QProcess::readyRead, process, keep);
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, process, [process, timedOut] {
        *timedOut = true;
        process->kill();
    });
    QObject::connect(
        process, &QProcess::finished, process,
        [process, kept, timedOut, keep, done, timer](int code, QProcess::ExitStatus status) {
            keep();
            Result r;
            r.answer = QString::fromUtf8(*kept);
            r.delivered = !*timedOut && status == QProcess::NormalExit && code == 0;
            if (*timedOut) {
                r.reason =
                    QStringLiteral("no end within %1 s, ended").arg(timer->interval() / 1000.0);
            } else if (status != QProcess::NormalExit) {
                r.reason = QStringLiteral("the command crashed");
            } else if (code != 0) {
                r.reason = QStringLiteral("the command ended with status %1").arg(code);
            }
            if (!r.delivered && !r.answer.trimmed().isEmpty()) {
                r.reason += QStringLiteral(": ") + r.answer.simplified().left(200);
            }
            process->deleteLater();
            done(r);
        });
    QObject::connect(
        process, &QProcess::errorOccurred, process, [process, done](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart) return;
            Result r;
            r.reason =
                QStringLiteral("the command could not be started: ") + process->errorString();
            process->deleteLater();
            done(r);
        });
    timer->start(WebRequest::DefaultTimeoutMs());
    process->start(channel.command.first(), channel.command.mid(1));
    // A program that reads nothing gets the whole document anyway, or an
    // error on its pipe; neither keeps fernlog waiting.
    process->write(body);
    process->closeWriteChannel();
}

}  // namespace

QString FileName() {
    return QStringLiteral("FernlogChannelOutbox.dat");
}

QByteArray Encode(const std::vector<Entry>& entries) {
    QJsonArray notices;
    for (const Entry& e : entries) {
        QJsonObject o{{QStringLiteral("channel"), e.channel},
                      {QStringLiteral("event"), e.event},
                      {QStringLiteral("delivery"), e.delivery},
                      {QStringLiteral("body"), QString::fromUtf8(e.body)}};
        RetrySchedule{e.attempts, e.firstAttempt, e.nextAttempt}.WriteTo(o);
        notices.append(o);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("count"), notices.size()},
                                     {QStringLiteral("notices"), notices}})
        .toJson();
}

bool Decode(const QByteArray& bytes, std::vector<Entry>& entries, QString* error) {
    entries.clear();
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
    if (!doc.object().value(QStringLiteral("notices")).isArray()) {
        if (error)
            *error =
                FileName() + QStringLiteral(" is not a channel outbox: ") + parse.errorString();
        return false;
    }
    for (const QJsonValue& value : doc.object().value(QStringLiteral("notices")).toArray()) {
        const QJsonObject o = value.toObject();
        Entry e;
        e.channel = o.value(QStringLiteral("channel")).toString();
        e.event = o.value(QStringLiteral("event")).toString();
        e.delivery = o.value(QStringLiteral("delivery")).toString();
        e.body = o.value(QStringLiteral("body")).toString().toUtf8();
        const RetrySchedule schedule = RetrySchedule::ReadFrom(o);
        e.attempts = schedule.attempts;
        e.firstAttempt = schedule.firstAttempt;
        e.nextAttempt = schedule.nextAttempt;
        if (e.channel.isEmpty() || e.delivery.isEmpty() || e.body.isEmpty()) continue;
        entries.push_back(std::move(e));
    }
    return true;
}

void Post(const QString& channel, const QString& event, const QByteArray& body) {
    State& s = S();
    Load();
    Entry e;
    e.number = s.nextNumber++;
    e.channel = channel;
    e.event = event;
    e.delivery = QUuid::createUuid().toString(QUuid::WithoutBraces);
    e.body = body;
    s.queue.push_back(std::move(e));
    Save();
    Pump();
}

void Deliver(const Channels::Channel& channel, const QString& event, const QString& delivery,
             const QByteArray& body, QObject* context, std::function<void(const Result&)> done) {
    if (channel.kind == QLatin1String("command")) {
        return RunCommand(channel, event, delivery, body, context, done);
    }
    WebRequest::Request request;
    request.url = QUrl(channel.url);
    if (channel.kind == QLatin1String("heartbeat")) {
        request.method = "GET";
    } else {
        request.body = body;
        request.headers = {{"Content-Type", "application/json"},
                           {"X-Fernlog-Event", event.toUtf8()},
                           {"X-Fernlog-Delivery", delivery.toUtf8()}};
        const QString secret = Channels::Secret(channel.name);
        if (!secret.isEmpty()) {
            request.headers.append({"X-Fernlog-Signature", Signature(body, secret).toUtf8()});
        }
    }
    WebRequest::Send(request, context, [done](const WebRequest::Answer& answer) {
        done(Result{answer.Success(), answer.text, answer.Success() ? QString() : answer.Reason()});
    });
}

Result DeliverAndWait(const Channels::Channel& channel, const QString& event,
                      const QByteArray& body) {
    Result result;
    bool ended = false;
    QEventLoop loop;
    Deliver(channel, event, QUuid::createUuid().toString(QUuid::WithoutBraces), body, &loop,
            [&](const Result& r) {
                result = r;
                ended = true;
                loop.quit();
            });
    if (!ended) loop.exec();
    return result;
}

void AfterHealthyCycle() {
    State& s = S();
    QList<Channels::Channel> channels;
    if (s.stopped || !Channels::List(channels)) return;
    const QDateTime now = Clock::Now();
    for (const Channels::Channel& c : channels) {
        if (c.kind != QLatin1String("heartbeat") || s.busy.value(c.name)) continue;
        const QDateTime last = s.lastBeat.value(c.name);
        if (last.isValid() && last.secsTo(now) < qint64{c.everyMinutes} * 60 - 5) continue;
        s.lastBeat.insert(c.name, now);
        s.busy.insert(c.name, true);
        const QString lane = c.name;
        Deliver(c, QStringLiteral("heartbeat"), QString(), {}, Context(), [lane](const Result& r) {
            State& state = S();
            state.busy.remove(lane);
            Figures& f = state.figures[lane];
            if (r.delivered) {
                ++f.delivered;
            } else {
                ++f.failed;
                EventLog::Warning(
                    QStringLiteral("Heartbeat to channel %1 failed: %2").arg(lane, r.reason));
            }
        });
    }
}

void CountSync(const QString& channel, bool delivered, const QString& reason) {
    State& s = S();
    Figures& f = s.figures[channel];
    if (delivered) {
        ++f.delivered;
        s.failingSyncs.remove(channel);
        return;
    }
    State::Failing& failing = s.failingSyncs[channel];
    const QDateTime now = Clock::Now();
    if (!failing.since.isValid()) failing.since = now;
    ++failing.attempts;
    if (failing.told || Outbox::NextAttempt(failing.attempts, failing.since, now).isValid()) {
        ++f.retried;
        EventLog::Warning(
            QStringLiteral("Channel %1 not brought up to date: %2").arg(channel, reason));
        return;
    }
    failing.told = true;
    ++f.failed;
    Notices::FailedForGood(channel, QStringLiteral("sync"),
                           QStringLiteral("since %1").arg(Clock::GeneralDateText(failing.since)),
                           reason + QStringLiteral(" (%1 attempts)").arg(failing.attempts));
}

void Resume() {
    S().stopped = false;
    Load();
    Pump();
}

void Stop() {
    State& s = S();
    s.stopped = true;
    delete s.context;  // the deliveries in progress end with their requests
    if (!s.queue.empty()) {
        EventLog::Warning(QStringLiteral("%1 channel notice(s) left in %2 for the next start")
                              .arg(s.queue.size())
                              .arg(FileName()));
    }
}

bool Drain(int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    const auto due = [] {
        const QDateTime now = Clock::Now();
        return !S().busy.isEmpty() ||
               std::any_of(S().queue.begin(), S().queue.end(), [&now](const Entry& e) {
                   return !e.nextAttempt.isValid() || e.nextAttempt <= now;
               });
    };
    while (due() && waited.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return S().queue.empty() && S().busy.isEmpty();
}

QMap<QString, Figures> Counts() {
    QMap<QString, Figures> counts = S().figures;
    for (const Entry& e : S().queue) ++counts[e.channel].waiting;
    return counts;
}

void Reset() {
    State& s = S();
    delete s.context;
    delete s.timer;
    s = State();
}

}  // namespace ChannelOutbox
