#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// The service log: one line per event that matters to someone reading it
// later (an alarm, a device that stopped answering, an e-mail that failed),
// each with an ISO 8601 time and a level. A headless run installs a sink that
// prints the lines; a windowed run installs none and the calls cost nothing.
// Debug lines (routine status) reach the sink only when verbose, Trace
// lines (every connection opened and closed) only when tracing.
namespace EventLog {

enum class Level { Trace, Debug, Info, Warning, Error };

void Write(Level level, const QString& text);
inline void Trace(const QString& text) {
    Write(Level::Trace, text);
}
inline void Debug(const QString& text) {
    Write(Level::Debug, text);
}
inline void Info(const QString& text) {
    Write(Level::Info, text);
}
inline void Warning(const QString& text) {
    Write(Level::Warning, text);
}
inline void Error(const QString& text) {
    Write(Level::Error, text);
}

// Receives each finished line, without its line end.
using Sink = std::function<void(const QString& line)>;
// Tracing implies verbose.
void SetSink(Sink sink, bool verbose = false, bool trace = false);
bool HasSink();

// "2026-12-07T03:12:45+01:00 WARNING text"; the level is padded so that
// the texts line up.
QString FormatLine(const QDateTime& when, Level level, const QString& text);
QString LevelName(Level level);

// With the prefix on, each line starts with its level as a syslog priority
// ("<4>" for a warning), which the journal reads and strips, so that
// `journalctl -p warning` shows warnings and errors only.
void SetPriorityPrefix(bool on);
int SyslogPriority(Level level);
// Standard output is the journal's stream (JOURNAL_STREAM names its device
// and inode), not a file or pipe it was redirected to.
bool StdoutIsJournal();

// Back to the state of a fresh start: no sink.
void Reset();

}  // namespace EventLog
