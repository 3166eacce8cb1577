#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>

class QObject;

// One bounded HTTP(S) request on the main thread's event loop: a receiver
// that answers slowly, hangs, redirects to another host or in a loop, or
// sends a huge answer costs at most the time-out and a few KiB, and never
// blocks the caller.
namespace WebRequest {

inline constexpr int kDefaultTimeoutMs = 30000;
inline constexpr int kMaxRedirects = 5;
inline constexpr qsizetype kKeptAnswerBytes = 4096;

struct Request {
    QByteArray method = "POST";
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // The whole exchange, from the start to the last byte; 0: the timing
    // seam's channel time-out (30 s unless a test shortens it).
    int timeoutMs = 0;
    // How much of the answer is kept; a longer one ends the exchange there.
    qsizetype keepBytes = kKeptAnswerBytes;
};

struct Answer {
    int status = 0;    // the HTTP status; 0: none came
    QByteArray body;   // the start of the answer, at most Request::keepBytes
    QString text;      // the same, as UTF-8 text
    bool cut = false;  // the answer was longer and its reading stopped there
    QString error;     // why no status came (connection, time-out, redirect)
    bool Success() const { return error.isEmpty() && status >= 200 && status < 300; }
    // One line for a log: the error, or the status with the answer's start.
    QString Reason() const;
};

// The time-out used for Request::timeoutMs == 0.
int DefaultTimeoutMs();

// An http or https URL with a host, nothing else; false with the reason.
bool CheckUrl(const QString& text, QUrl* url = nullptr, QString* error = nullptr);

using Done = std::function<void(const Answer&)>;
// Starts the request; `done` runs on the main thread when it ends, unless
// `context` is gone by then (its going ends the request). Returns a ticket for Abort (0: refused at
// once, `done` already called with the reason).
quint64 Send(const Request& request, QObject* context, Done done);
// Ends the request now; its `done` is called with "cancelled".
void Abort(quint64 ticket);
// Requests started and not ended.
int Running();

// Ends every request without telling anyone and the network manager with
// them, as at a fresh start. The program calls it as its event loop ends
// (the manager's exchanges are then ended by Qt, not left at exit).
void Reset();

// For commands: sends and waits in a local event loop (the caller's events
// are served meanwhile), bounded by the request's time-out.
Answer SendAndWait(const Request& request);

}  // namespace WebRequest
