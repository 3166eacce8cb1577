#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include "support/Fixtures.h"

// Runs "fernlog ARGS --dir DIR" to its end (a command: export, settings,
// channel, ...), `input` on its standard input.
ProgramRun RunFernlog(const QString& dir, const QStringList& args, const QByteArray& input = {});

// fernlog --headless --dir DIR run as a child process, its service log
// (standard output and error together) collected as it comes. It runs on
// the real clock, and so does the test while it runs. Killed if it still
// runs when the object goes.
class HeadlessProgram {
  public:
    // The environment it runs in: this one, with the program's waits
    // shortened as `timings` says (FERNLOG_TEST_TIMINGS; empty: its own).
    // By default a 300 ms poll tick, so that a cycle comes soon after the
    // start and one every 300 ms at an update rate of 5 s.
    static QProcessEnvironment Environment(const QString& timings = QStringLiteral("tick=300"));

    explicit HeadlessProgram(const QString& dir, const QStringList& moreArgs = {},
                             QProcessEnvironment environment = Environment());
    ~HeadlessProgram();
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    bool Started() const { return started_; }
    bool Running() const { return process_.state() == QProcess::Running; }
    qint64 Pid() const { return process_.processId(); }
    void Signal(int signal);
    // Waits for the exit while the test's own devices and servers go on.
    bool Ended(int ms);
    // SIGTERM, and the exit within `ms`.
    bool Stop(int ms = 20000);
    bool CleanExit() const;
    int ExitCode() const { return process_.exitCode(); }

    // Everything it wrote so far.
    QString Output();
    // Waits until what it wrote holds `text`.
    bool Told(const QString& text, int ms = 20000);

  private:
    QProcess process_;
    QString output_;
    bool started_ = false;
};
