#include "support/HeadlessProgram.h"

#include <QTest>
#include <csignal>

#include "common/Clock.h"
#include "core/Timings.h"

QProcessEnvironment HeadlessProgram::Environment(const QString& timings) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(Waits::kTestVariable));
    if (!timings.isEmpty()) environment.insert(QString::fromLatin1(Waits::kTestVariable), timings);
    return environment;
}

HeadlessProgram::HeadlessProgram(const QString& dir, const QStringList& moreArgs,
                                 QProcessEnvironment environment) {
    Clock::SetForTest(QDateTime());
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(
        QStringLiteral(FERNLOG_PATH),
        QStringList{QStringLiteral("--headless"), QStringLiteral("--dir"), dir} + moreArgs);
    started_ = process_.waitForStarted(10000);
}

HeadlessProgram::~HeadlessProgram() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void HeadlessProgram::Signal(int signal) {
    if (process_.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(process_.processId()), signal);
    }
}

bool HeadlessProgram::Ended(int ms) {
    return QTest::qWaitFor([this] { return process_.state() == QProcess::NotRunning; }, ms);
}

bool HeadlessProgram::Stop(int ms) {
    Signal(SIGTERM);
    return Ended(ms);
}

bool HeadlessProgram::CleanExit() const {
    return process_.state() == QProcess::NotRunning &&
           process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

QString HeadlessProgram::Output() {
    output_ += QString::fromLocal8Bit(process_.readAll());
    return output_;
}

bool HeadlessProgram::Told(const QString& text, int ms) {
    return QTest::qWaitFor([&] { return Output().contains(text); }, ms);
}

ProgramRun RunFernlog(const QString& dir, const QStringList& args, const QByteArray& input) {
    return RunProgram(QStringLiteral(FERNLOG_PATH), args + QStringList{"--dir", dir}, input);
}
