// The fernlog program started as a user starts it.
#include <QDir>
#include <QProcess>

#include "support/FernlogFixtures.h"

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
