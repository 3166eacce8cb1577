// "fernlog settings set" and "fernlog mail-test", run as a user runs them,
// against a real SMTP server on loopback.
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "support/FernlogFixtures.h"
#include "support/HeadlessProgram.h"
#include "support/SmtpServer.h"

namespace {
using Ran = ProgramRun;

}  // namespace

using SettingsCommandsTest = FernlogTest;

TEST_F(SettingsCommandsTest, RefusedValueStoresNoneAndMailTestTellsTheServersAnswer) {
    ProvisionDatabase();
    SmtpServer::Options options;
    options.auth = true;
    SmtpServer smtp(options);
    ASSERT_TRUE(smtp.IsRunning()) << smtp.Error().toStdString();
    Ran ran = RunFernlog(Dir(), {"settings", "set", "SmtpHost=127.0.0.1",
                                 QStringLiteral("SmtpPort=%1").arg(smtp.Port()), "SmtpTimeOut=5",
                                 "SmtpAuthentication=yes", "SmtpAuthMethod=login",
                                 "SmtpUser=monitor", "SmtpSender=monitor@corvane.test"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    const QByteArray stored = ReadAll(FilePath("FernlogConfig.dat"));

    // The port passes its check and is stored before the update rate is
    // refused: the file is put back as it was.
    ran = RunFernlog(Dir(), {"settings", "set", "SmtpPort=2525", "UpdateRate=3"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err,
              "fernlog: The minimum update rate is 5 seconds. Please adjust the update "
              "rate.\n");
    EXPECT_EQ(ReadAll(FilePath("FernlogConfig.dat")), stored);

    ASSERT_EQ(RunFernlog(Dir(), {"settings", "set", "SmtpPassword", "--password-stdin"}, "wrong\n")
                  .status,
              0);
    ran = RunFernlog(Dir(), {"mail-test", "admin@corvane.test"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.startsWith("fernlog: Failed to send email to 'admin@corvane.test'"))
        << ran.err.toStdString();
    EXPECT_EQ(ran.err.count('\n'), 1) << ran.err.toStdString();
    EXPECT_TRUE(ran.err.contains("535")) << ran.err.toStdString();
    EXPECT_TRUE(smtp.Messages().empty());

    ASSERT_EQ(RunFernlog(Dir(), {"settings", "set", "SmtpPassword", "--password-stdin"},
                         smtp.GetOptions().password.toUtf8() + "\n")
                  .status,
              0);
    ran = RunFernlog(Dir(), {"mail-test", "admin@corvane.test"});
    EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
    ASSERT_EQ(smtp.Messages().size(), 1u);
    EXPECT_EQ(smtp.Messages()[0].login, "monitor");
    EXPECT_EQ(smtp.Messages()[0].rcptTos, QStringList{"admin@corvane.test"});
}

// Run with sudo on the service's folder, a command leaves the files it made to
// the folder's owner: otherwise the service could no longer read its settings.
// "fernlog device --help" is help, not a verb it does not know.
TEST_F(SettingsCommandsTest, VerbCommandsAnswerHelpAndRefuseUnknownVerbs) {
    Ran ran = RunFernlog(Dir(), {"device", "--help"});
    EXPECT_EQ(ran.status, 0);
    EXPECT_TRUE(ran.out.contains("fernlog device remove NAME --yes")) << ran.out.toStdString();
    ran = RunFernlog(Dir(), {"sensor", "-h"});
    EXPECT_EQ(ran.status, 0);
    EXPECT_TRUE(ran.out.startsWith("Usage: fernlog sensor show DEVICE [PORT]"))
        << ran.out.toStdString();
    ran = RunFernlog(Dir(), {"device", "frob"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err,
              "fernlog: device takes add, set, remove, options or set-options, not 'frob'\n");
}

// Each command reads the whole record, changes one field and writes it all
// back: run at once, they take their turns and every change is kept.
TEST_F(SettingsCommandsTest, CommandsRunAtOnceKeepEveryChange) {
    ASSERT_EQ(RunFernlog(Dir(), {"settings", "set", "OrgName=-"}).status, 0);
    const QStringList changes{"OrgName=Cold Chain Ltd", "OrgAddress=1 Quay", "OrgPhone=555 0100",
                              "DeviceRetries=3"};
    std::vector<std::unique_ptr<QProcess>> commands;
    for (const QString& change : changes) {
        commands.push_back(std::make_unique<QProcess>());
        commands.back()->start(QStringLiteral(FERNLOG_PATH),
                               {"settings", "set", change, "--dir", Dir()});
    }
    for (const auto& command : commands) {
        ASSERT_TRUE(command->waitForFinished(30000));
        EXPECT_EQ(command->exitCode(), 0) << command->readAllStandardError().toStdString();
    }
    const Ran shown = RunFernlog(Dir(), {"settings"});
    for (const QString& change : changes) {
        EXPECT_TRUE(shown.out.contains("\n" + change + "\n")) << change.toStdString();
    }
}

TEST_F(SettingsCommandsTest, FilesStoredByTheSuperuserBelongToTheFoldersOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser";
    constexpr uid_t kOwner = 65534;
    ASSERT_EQ(::chown(QFile::encodeName(Dir()).constData(), kOwner, kOwner), 0);
    const Ran ran = RunFernlog(Dir(), {"settings", "set", "OrgName=Cold Chain Ltd"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    struct stat file {};
    ASSERT_EQ(::stat(QFile::encodeName(FilePath("FernlogConfig.dat")).constData(), &file), 0);
    EXPECT_EQ(file.st_uid, kOwner);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
}

// The service's user may plant a link in its folder; the superuser's
// command must not overwrite the file it points at, whoever made the link.
TEST_F(SettingsCommandsTest, SuperuserWritesNoLinkInAnotherUsersFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser, to give the folder to nobody";
    constexpr uid_t kOwner = 65534;
    ASSERT_EQ(::chown(QFile::encodeName(Dir()).constData(), kOwner, kOwner), 0);
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("precious");
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("precious") == 8);
    file.close();
    const QByteArray link = QFile::encodeName(FilePath("FernlogConfig.dat"));
    ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), link.constData()), 0);
    for (const char* why : {"it is a symbolic link in a folder that belongs to another user, "
                            "which the superuser does not follow",
                            "it is a symbolic link that belongs to another user"}) {
        const Ran ran = RunFernlog(Dir(), {"settings", "set", "OrgName=x"});
        EXPECT_EQ(ran.status, 1);
        EXPECT_EQ(ran.err,
                  "fernlog: Cannot write " + FilePath("FernlogConfig.dat") + ": " + why + "\n");
        EXPECT_EQ(ReadAll(victim), "precious");
        ASSERT_EQ(::lchown(link.constData(), kOwner, kOwner), 0);
    }
}

// The web listener and the mail retry are settings like the others; a
// listener outside loopback needs its token, which comes on standard input.
TEST_F(SettingsCommandsTest, WebListenerAndRetryAreSetFromTheShell) {
    ProvisionDatabase();
    Ran ran = RunFernlog(Dir(), {"settings", "set", "RetryMinutes=30", "WebListen=127.0.0.1:9180"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    const QByteArray ini = ReadAll(FilePath("FernlogOptions.ini"));
    for (const char* line : {"[Polling]", "[Mail]", "RetryMinutes=30", "[Web]",
                             "Listen=127.0.0.1:9180", "# The token a client outside loopback"}) {
        EXPECT_TRUE(ini.contains(line)) << line << "\n" << ini.toStdString();
    }
    ran = RunFernlog(Dir(), {"settings", "set", "WebListen=0.0.0.0:9180"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(ran.err.startsWith("fernlog: WebListen: ")) << ran.err.toStdString();
    EXPECT_EQ(ReadAll(FilePath("FernlogOptions.ini")), ini);
    ran = RunFernlog(Dir(), {"settings", "set", "RetryMinutes=1441"});
    EXPECT_EQ(ran.err, "fernlog: RetryMinutes takes a number from 0 to 1440, not '1441'\n");
    ran = RunFernlog(Dir(), {"settings", "set", "WebToken", "--password-stdin"},
                     "0123456789abcdef\n");
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    ran = RunFernlog(Dir(), {"settings", "set", "WebListen=0.0.0.0:9180"});
    EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
    ran = RunFernlog(Dir(), {"settings"});
    EXPECT_TRUE(ran.out.contains("WebToken=(set)")) << ran.out.toStdString();
    EXPECT_FALSE(ran.out.contains("0123456789abcdef"));
    // Each change is in the audit trail, a secret without its value.
    ran = RunFernlog(Dir(), {"audit", "--json"});
    EXPECT_TRUE(ran.out.contains(R"("new": "RetryMinutes=30",)") &&
                ran.out.contains(R"("old": "RetryMinutes=0",)"))
        << ran.out.toStdString();
    EXPECT_TRUE(ran.out.contains("WebToken=(changed secret)")) << ran.out.toStdString();
    EXPECT_FALSE(ran.out.contains("0123456789abcdef"));
}

// A folder without a settings file is polled with the defaults: those are
// shown, and named as defaults; so is a stored value the device link does not
// use as it stands. Showing writes nothing.
TEST_F(SettingsCommandsTest, SettingsShowTheValuesInForce) {
    Ran ran = RunFernlog(Dir(), {"settings"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    for (const char* line : {"\nUpdateRate=60\n", "\nDeviceTimeOut=2\n", "\nDeviceRetries=1\n",
                             "\nSmtpPort=25\n", "\nSmtpTimeOut=30\n"}) {
        EXPECT_TRUE(ran.out.contains(line)) << line << ran.out.toStdString();
    }
    EXPECT_TRUE(
        ran.out.endsWith("\n# in force though not stored (defaults): SmtpPort, "
                         "SmtpTimeOut, SmtpAuthMethod, UpdateRate, DeviceTimeOut, "
                         "DeviceRetries\n"))
        << ran.out.toStdString();
    EXPECT_FALSE(QFile::exists(FilePath("FernlogConfig.dat")));
    ASSERT_EQ(RunFernlog(Dir(), {"settings", "set", "DeviceTimeOut=1"}).status, 0);
    const QJsonObject shown =
        QJsonDocument::fromJson(RunFernlog(Dir(), {"settings", "--json"}).out.toUtf8()).object();
    EXPECT_EQ(shown.value("DeviceTimeOut").toString(), "3");
    EXPECT_EQ(shown.value("defaults").toArray(), QJsonArray{"DeviceTimeOut"});
}

// A folder made by init is one the commands and the service take as it is.
TEST_F(SettingsCommandsTest, InitMakesAFolderReadyToUse) {
    const QString dir = Dir() + "/site";
    Ran ran = RunFernlog(dir, {"devices"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err, QStringLiteral("fernlog: the program folder %1 does not exist; fernlog "
                                      "init --dir %1 makes it ready\n")
                           .arg(dir));
    ran = RunFernlog(dir, {"init"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    EXPECT_TRUE(ran.out.contains("zolo.mdb made, FernlogConfig.dat made, FernlogOptions.ini made"))
        << ran.out.toStdString();
    ran = RunFernlog(dir, {"settings"});
    EXPECT_TRUE(ran.out.contains("UpdateRate=") && !ran.out.contains("UpdateRate=0\n"))
        << ran.out.toStdString();
    EXPECT_TRUE(ReadAll(dir + "/FernlogOptions.ini").contains("[Web]"));
    ran = RunFernlog(dir, {"device", "add", "Cellar", "127.0.0.9", "--offline"});
    EXPECT_EQ(ran.status, 0) << ran.err.toStdString();
    // Run again, it keeps what is there.
    ran = RunFernlog(dir, {"init"});
    EXPECT_TRUE(ran.out.contains("zolo.mdb kept, FernlogConfig.dat kept")) << ran.out.toStdString();
    EXPECT_EQ(RunFernlog(dir, {"devices"}).out.count("Cellar"), 1);
}
