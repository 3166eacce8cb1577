// Every program answers --help and --version without starting, and refuses
// unknown options and missing values with status 2 and one line saying why.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {
struct Outcome {
    int status = -1;
    QString out, err;
};

Outcome Start(const QString& program, const QStringList& arguments) {
    QProcess process;
    // No display: a program that opened a window here would fail or hang.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("minimal"));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(2000);
        return {};
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QStringList Programs() {
    QStringList programs = {QStringLiteral(FERNLOG_PATH), QStringLiteral(ZOLO_PROVISION_PATH)};
#ifdef SOCKPROBE_PATH
    programs << QStringLiteral(SOCKPROBE_PATH);
#endif
    return programs;
}
}  // namespace

TEST(CommandLineTest, HelpVersionAndBadOptionsOfEveryProgram) {
    for (const QString& program : Programs()) {
        const QString name = QFileInfo(program).fileName();
        SCOPED_TRACE(name.toStdString());
        const Outcome help = Start(program, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.contains("--version")) << help.out.toStdString();
        const Outcome version = Start(program, {"--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_TRUE(version.out.startsWith(name + " ")) << version.out.toStdString();
        const Outcome typo = Start(program, {"--headles"});
        EXPECT_EQ(typo.status, 2);
        EXPECT_TRUE(typo.err.startsWith(name + ": ")) << typo.err.toStdString();
        EXPECT_TRUE(typo.err.contains("headles"));
    }
}

TEST(CommandLineTest, FernlogNamesAMissingFolderAndAMissingValue) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("nowhere");
    const Outcome run = Start(FERNLOG_PATH, {"--headless", "--dir", missing});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(missing)) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));

    const Outcome noValue = Start(FERNLOG_PATH, {"--headless", "--dir"});
    EXPECT_EQ(noValue.status, 2);
    EXPECT_TRUE(noValue.err.contains("dir")) << noValue.err.toStdString();
    // Nothing was written beside the executable either.
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(FERNLOG_PATH).dir().filePath("FernlogConfig.dat")));
}

TEST(CommandLineTest, ProvisioningSaysWhatItCreatedAndTakesNoOptionAsAFolder) {
    QTemporaryDir dir;
    const Outcome made = Start(ZOLO_PROVISION_PATH, {dir.path()});
    EXPECT_EQ(made.status, 0);
    EXPECT_TRUE(made.out.contains(dir.filePath("zolo.mdb"))) << made.out.toStdString();
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("zolo.mdb")));

    QDir::setCurrent(dir.path());
    EXPECT_EQ(Start(ZOLO_PROVISION_PATH, {"--verbose"}).status, 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("--verbose")));
    EXPECT_EQ(Start(ZOLO_PROVISION_PATH, {}).status, 2);
}

// The service's first start: --if-missing creates the database once and
// afterwards leaves the file exactly as it is.
TEST(CommandLineTest, ProvisioningIfMissingCreatesOnceAndThenLeavesTheFile) {
    QTemporaryDir dir;
    const QString state = dir.filePath("state");
    const Outcome first = Start(ZOLO_PROVISION_PATH, {"--if-missing", state});
    EXPECT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.contains("is ready")) << first.out.toStdString();
    QFile file(QDir(state).filePath("zolo.mdb"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(file.size());
    file.write("appended bytes that no provisioning may touch");
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    const Outcome again = Start(ZOLO_PROVISION_PATH, {"--if-missing", state});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains("left as it is")) << again.out.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}
