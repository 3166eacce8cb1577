#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

// Alertmanager as a copy of fernlog's state rather than a stream of events:
// once per polling cycle every open alarm and every device failure that was
// told is pushed to /api/v2/alerts with an end some cycles ahead, so a
// fernlog that stops is resolved by Alertmanager itself; what closed lately
// is pushed once more with its real end. An acknowledgement is a silence of
// the alert there, found again by the mark in its comment, so nothing is
// kept here: a restart, a kill or a lost request is mended by the next
// cycle. Nothing waits for Alertmanager; a target still busy with the last
// cycle is left out of this one.
namespace AlertmanagerSync {

struct Target {
    QString channel;
    QUrl url;             // Alertmanager's base URL ("http://host:9093/")
    QStringList devices;  // device names; empty: every device
};

// Starts the exchanges with every target that is not still busy; returns at
// once. Silenced sensors and devices (core/Silences) are not pushed.
void AfterCycle(const QList<Target>& targets);

// Told once per target and cycle when its exchanges have ended: delivered
// when Alertmanager took every push and silence change, otherwise the first
// reason. Without a handler it is counted with the channel's notices
// (ChannelOutbox::CountSync).
using OutcomeHandler =
    std::function<void(const QString& channel, bool delivered, const QString& reason)>;
void SetOutcomeHandler(OutcomeHandler handler);

// For `fernlog channel test`: pushes a short-lived alert FernlogTest and
// waits (bounded) for the answer, which `answer` gets; false with the reason.
bool SendTest(const QUrl& url, QString& answer, QString* error = nullptr);

// Whether an exchange with any target is still going on.
bool Busy();

// What fernlog's silences look like there, so a silence can be told apart
// from people's own. Matchers: every label of the alert but its severity.
QString SilenceMark(qint64 alarmId);  // "(fernlog alarm 7)", the comment's end

// Back to a fresh start: no handler, the exchanges in progress forgotten.
void Reset();

}  // namespace AlertmanagerSync
