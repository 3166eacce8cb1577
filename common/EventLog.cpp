#include "EventLog.h"

#include "Clock.h"

namespace EventLog {
namespace {
Sink& TheSink() {
    static Sink sink;
    return sink;
}
bool verboseLines = false;
bool traceLines = false;
}  // namespace

QString LevelName(Level level) {
    switch (level) {
        case Level::Trace:
            return QStringLiteral("TRACE");
        case Level::Debug:
            return QStringLiteral("DEBUG");
        case Level::Info:
            return QStringLiteral("INFO");
        case Level::Warning:
            return QStringLiteral("WARNING");
        case Level::Error:
            return QStringLiteral("ERROR");
    }
    return QString();
}

QString FormatLine(const QDateTime& when, Level level, const QString& text) {
    // The offset is written out, so that lines from machines in different
    // zones (or from both sides of a clock change) still sort and compare.
    const QDateTime stamped = when.toOffsetFromUtc(when.offsetFromUtc());
    QString flat = text;
    // One event, one line: a multi-line text (a mail server's answer) is
    // joined, so that a line-based log reader never splits an event.
    flat.replace(QStringLiteral("\r\n"), QStringLiteral(" | "));
    flat.replace(u'\r', QStringLiteral(" | "));
    flat.replace(u'\n', QStringLiteral(" | "));
    return stamped.toString(Qt::ISODate) + u' ' + LevelName(level).leftJustified(7) + u' ' +
           flat.trimmed();
}

void Write(Level level, const QString& text) {
    const Sink& sink = TheSink();
    if (!sink || (level == Level::Debug && !verboseLines) ||
        (level == Level::Trace && !traceLines)) {
        return;
    }
    sink(FormatLine(Clock::Now(), level, text));
}

void SetSink(Sink sink, bool verbose, bool trace) {
    TheSink() = std::move(sink);
    verboseLines = verbose || trace;
    traceLines = trace;
}

bool HasSink() {
    return static_cast<bool>(TheSink());
}

void Reset() {
    SetSink({});
}

}  // namespace EventLog
