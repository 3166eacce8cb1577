#include "EventLog.h"

#include "Clock.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace EventLog {
namespace {
Sink& TheSink() {
    static Sink sink;
    return sink;
}
bool verboseLines = false;
bool traceLines = false;
bool priorityPrefix = false;
}  // namespace

void SetPriorityPrefix(bool on) {
    priorityPrefix = on;
}

int SyslogPriority(Level level) {
    switch (level) {
        case Level::Error:
            return 3;
        case Level::Warning:
            return 4;
        case Level::Info:
            return 6;
        case Level::Debug:
        case Level::Trace:
            break;
    }
    return 7;
}

bool StdoutIsJournal() {
#ifdef Q_OS_UNIX
    const QList<QByteArray> parts = qgetenv("JOURNAL_STREAM").split(':');
    struct stat out {};
    if (parts.size() != 2 || fstat(STDOUT_FILENO, &out) != 0) return false;
    bool devOk = false;
    bool inoOk = false;
    const qulonglong dev = parts[0].toULongLong(&devOk);
    const qulonglong ino = parts[1].toULongLong(&inoOk);
    return devOk && inoOk && dev == static_cast<qulonglong>(out.st_dev) &&
           ino == static_cast<qulonglong>(out.st_ino);
#else
    return false;
#endif
}

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
    const QString line = FormatLine(Clock::Now(), level, text);
    sink(priorityPrefix ? u'<' + QString::number(SyslogPriority(level)) + u'>' + line : line);
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
    priorityPrefix = false;
}

}  // namespace EventLog
