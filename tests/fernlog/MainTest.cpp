// The fernlog program started as a user starts it.
#include <QDir>
#include <QProcess>
#include <QTest>

#include "core/Timings.h"
#include "support/FernlogFixtures.h"
#include "support/Fixtures.h"

class MainTest : public FernlogTest {};

TEST_F(MainTest, WindowWithoutADisplayEndsWithOneLineAndStatusTwo) {
#ifndef FERNLOG_GUI
    GTEST_SKIP() << "built without windows, fernlog always runs headless";
#endif
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(QString::fromLatin1(name));
    }
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(FERNLOG_PATH), {"--dir", Dir()});
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_EQ(process.readAllStandardError(),
              "fernlog: no display for the window; fernlog --headless runs without one\n");
    // Nothing was started: no settings file was written.
    EXPECT_TRUE(QDir(Dir()).isEmpty());
}

// The tests' variable is refused, never half-read, when it does not parse.
TEST_F(MainTest, MalformedTestTimingsEndWithOneLineAndStatusTwo) {
    qputenv(Waits::kTestVariable, "tick=soon");
    const ProgramRun run = RunProgram(QStringLiteral(FERNLOG_PATH), {"--headless", "--dir", Dir()});
    qunsetenv(Waits::kTestVariable);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "fernlog: FERNLOG_TEST_TIMINGS: tick must be 1-600000 milliseconds, not 'soon'\n");
    EXPECT_TRUE(QDir(Dir()).isEmpty());
}

// Two programs on one folder would both poll, both mail and share one
// outbox: the second ends at once, naming the first.
TEST_F(MainTest, SecondProgramOnOneFolderIsRefusedNamingTheFirst) {
    ProvisionDatabase();
    QProcess first;
    first.start(QStringLiteral(FERNLOG_PATH), {"--headless", "--dir", Dir()});
    ASSERT_TRUE(first.waitForStarted(10000));
    const qint64 id = first.processId();
    const QByteArray pid = QByteArray::number(id) + '\n';
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return ReadAll(FilePath("FernlogProgram.lock")) == pid; }, 20000));
    const ProgramRun second =
        RunProgram(QStringLiteral(FERNLOG_PATH), {"--headless", "--dir", Dir()}, {}, 20000);
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(second.err, QStringLiteral("fernlog: another fernlog (PID %1) is running on the "
                                         "folder %2\n")
                              .arg(id)
                              .arg(Dir()));
}
