// The settings dialog's rules: what it shows, how Apply checks and stores
// the entries, and the test e-mail through a real SMTP server.
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "RecordingView.h"
#include "common/Clock.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "settings/ConfigurationRules.h"
#include "support/SmtpServer.h"

#ifdef Q_OS_LINUX
#include <sys/resource.h>

#include <csignal>
#endif

using namespace ConfigurationRules;
using Dialogs::Answer;

class ConfigurationRulesTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        Settings::InitCrypt();
        WriteValidSettings(60);
        ConfigParameters.OrgName = QStringLiteral("Cold Chain Ltd");
        ConfigParameters.FromAddress = QStringLiteral("monitor@corvane.test");
        ConfigParameters.ServerFailureEmailAddress = QStringLiteral("admin@corvane.test");
        ASSERT_TRUE(Settings::SaveConfigFile());
        stored = ReadAll(ConfigPath());
    }
    QString ConfigPath() const { return FilePath(QStringLiteral("FernlogConfig.dat")); }
    bool FileUnchanged() const { return ReadAll(ConfigPath()) == stored; }

    QByteArray stored;
    RecordingView view;
};

TEST_F(ConfigurationRulesTest, FormShowsTheStoredValues) {
    ConfigParameters.AdminUserName = QStringLiteral("boss");
    ConfigParameters.AdminPassword = QStringLiteral("pw");
    ConfigParameters.AutoPrintReport = QStringLiteral("Yes");
    ConfigParameters.AMPM = QStringLiteral("AM");
    ConfigParameters.TimeToPrint = QStringLiteral("7");
    ConfigParameters.SystemOKEmail = 1;
    ConfigParameters.EnableTrending = 0;
    ConfigParameters.TCPTimeOut = 4;
    ServerData::LogDirInUse = QStringLiteral("/srv/logs");

    const ConfigurationForm f = LoadForm();
    EXPECT_EQ(f.UN, "boss");
    EXPECT_EQ(f.PW, "pw");
    EXPECT_EQ(f.PWConfirm, "pw");
    EXPECT_EQ(f.AutoPrintReport, "Yes");
    EXPECT_EQ(f.AMPM, "AM");
    EXPECT_EQ(f.TimeToPrint, "7");
    EXPECT_EQ(f.UpdateRate, "60");
    EXPECT_EQ(f.TCPTimeOut, "4");
    EXPECT_EQ(f.OrgName, "Cold Chain Ltd");
    EXPECT_TRUE(f.SystemOKEmail);
    EXPECT_FALSE(f.EnableTrending);
    EXPECT_EQ(f.PrinterName, "No Printer Selected");
    EXPECT_EQ(LogDirCaption(), "Current Log File Location: /srv/logs");

    // A field never set (zero bytes) shows the defaults of the two lists.
    ConfigParameters.AutoPrintReport = FixedText<3>();
    ConfigParameters.AMPM = FixedText<2>();
    EXPECT_EQ(LoadForm().AutoPrintReport, "No");
    EXPECT_EQ(LoadForm().AMPM, "PM");
}

TEST_F(ConfigurationRulesTest, NumericBoxesTakeDigitsAndBackspaceOnly) {
    for (const char* key : {"0", "5", "9", "\b", ""}) EXPECT_TRUE(AcceptNumericKey(key)) << key;
    for (const char* key : {"a", "-", ".", " ", "\x16", "12"}) {
        EXPECT_FALSE(AcceptNumericKey(key)) << key;
    }
    EXPECT_FALSE(AcceptNumericKey(QStringLiteral("\u0665")));  // an Arabic-Indic five
}

TEST_F(ConfigurationRulesTest, UpdateRateBelowFiveIsSetToFiveAndNothingIsSaved) {
    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.UpdateRate = "4";
    f.OrgName = "New name";
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    EXPECT_EQ(dialogs.Texts(),
              QStringList{"The minimum update rate is 5 seconds.  Please adjust the update rate."});
    EXPECT_EQ(view.texts[Field::txtUpdateRate], "5");
    EXPECT_EQ(view.marked, std::vector{Field::txtUpdateRate});
    EXPECT_EQ(view.focused, std::vector{Field::txtUpdateRate});
    EXPECT_TRUE(FileUnchanged());
    EXPECT_EQ(ConfigParameters.UpdateRate, 60);

    f.UpdateRate = "5";
    EXPECT_EQ(Apply(f, view), ApplyResult::Saved);
    EXPECT_EQ(dialogs.Texts().last(), "Configuration parameters have been saved");
    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.UpdateRate, 5);
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "New name");
}

// The recovery-notice switch is saved with the rest, beside the settings
// file, and the form shows it again.
TEST_F(ConfigurationRulesTest, RecoveryNoticeSwitchIsSavedBesideTheSettings) {
    ConfigurationForm f = LoadForm();
    EXPECT_FALSE(f.RecoveryNotices);
    f.RecoveryNotices = true;
    DialogScript dialogs;
    RecordingView view;
    ASSERT_EQ(Apply(f, view), ApplyResult::Saved) << dialogs.Texts().join('\n').toStdString();
    EXPECT_TRUE(Options::Load().recoveryNotices);
    EXPECT_TRUE(LoadForm().RecoveryNotices);
    EXPECT_EQ(QFileInfo(FilePath("FernlogConfig.dat")).size(), 1499);
}

TEST_F(ConfigurationRulesTest, BlankOrInvalidNumbersStopBeforeAnyNumberIsStored) {
    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.UpdateRate = "30";
    f.CommunicationRetry = "3";
    f.TCPTimeOut = "";
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    f.TCPTimeOut = "3";
    f.UpdateRate = " ";
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    EXPECT_EQ(dialogs.Texts(), QStringList({"Please do not leave any option blank",
                                            "Please do not leave any option blank"}));
    EXPECT_EQ(ConfigParameters.UpdateRate, 60);
    EXPECT_EQ(ConfigParameters.CommunicationRetry, 1);

    // Pasted text gets past the key filter; it is named, not wrapped.
    f.UpdateRate = "40000";
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    f.UpdateRate = "30";
    f.CommunicationRetry = "2x";
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    EXPECT_EQ(dialogs.Texts().mid(2),
              QStringList({"The update rate must be a whole number from 0 to 32767.",
                           "The number of times to try to communicate must be a whole number "
                           "from 0 to 32767."}));
    EXPECT_EQ(view.focused, (std::vector{Field::txtUpdateRate, Field::txtCommunicationRetry}));
    EXPECT_TRUE(FileUnchanged());
    EXPECT_EQ(ConfigParameters.UpdateRate, 60);
}

TEST_F(ConfigurationRulesTest, PasswordsMustMatchOnlyWhenAUserNameIsGiven) {
    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.UN = "boss";
    f.PW = "one";
    f.PWConfirm = "two";
    f.OrgName = "Other";
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    EXPECT_EQ(dialogs.Texts(), QStringList{"The passwords do not match."});
    EXPECT_TRUE(ConfigParameters.AdminUserName.IsEmpty());
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "Cold Chain Ltd");
    EXPECT_TRUE(FileUnchanged());

    f.UN = "";
    EXPECT_EQ(Apply(f, view), ApplyResult::Saved);
    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.AdminPassword.Text(), "one");
    EXPECT_EQ(ConfigParameters.AdminUserName.Text(), "");
}

TEST_F(ConfigurationRulesTest, SecretsTheFileCannotHoldAreRefusedNamingTheField) {
    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.UN = "boss";
    f.PW = f.PWConfirm = QString(64, u'p');
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    f.PW = f.PWConfirm = QStringLiteral("snow\u2603man");
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    f.PW = f.PWConfirm = "ok";
    f.UN = QStringLiteral("b\U0001F600ss");  // outside the 16-bit range too
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    const QStringList texts = dialogs.Texts();
    ASSERT_EQ(texts.size(), 3);
    EXPECT_EQ(texts[0],
              "The administrator Password is longer than 63 characters, which is the most the "
              "settings file can store.  Please enter a shorter one.");
    EXPECT_EQ(texts[1],
              QStringLiteral("The administrator Password contains the character \"\u2603\", which "
                             "the settings file cannot store.  Please use letters, digits and "
                             "common punctuation only."));
    EXPECT_TRUE(texts[2].startsWith("The administrator User Name contains the character"));
    EXPECT_EQ(view.focused, (std::vector{Field::txtPW, Field::txtPW, Field::txtUN}));
    EXPECT_TRUE(ConfigParameters.AdminUserName.IsEmpty());
    EXPECT_TRUE(FileUnchanged());

    // 63 characters of the code page, accents included, come back whole.
    const QString longest = QString(60, u'x') + QStringLiteral("\u00e9\u20ac!");
    f.UN = "boss";
    f.PW = f.PWConfirm = longest;
    EXPECT_EQ(Apply(f, view), ApplyResult::Saved);
    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.AdminPassword.Text(), longest);
}

TEST_F(ConfigurationRulesTest, AdministratorAddressWithoutAtIsQuestioned) {
    DialogScript dialogs;
    dialogs.Answer(Answer::No);
    ConfigurationForm f = LoadForm();
    f.ServerFailureEmailAddress = "admin.corvane.test";
    f.OrgName = "Copied";
    EXPECT_EQ(Apply(f, view), ApplyResult::Stopped);
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    EXPECT_EQ(dialogs.Shown()[0].text, "Is admin.corvane.test a valid email address?");
    EXPECT_EQ(dialogs.Shown()[0].buttons, Dialogs::Buttons::YesNo);
    EXPECT_EQ(dialogs.Shown()[0].icon, Dialogs::Icon::Question);
    EXPECT_EQ(view.focused, std::vector{Field::txtServerFailureEmailAddress});
    // The values copied before the question stay in memory; the file does not change.
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "Copied");
    EXPECT_EQ(ConfigParameters.ServerFailureEmailAddress.Text(), "admin@corvane.test");
    EXPECT_TRUE(FileUnchanged());

    EXPECT_EQ(Apply(f, view), ApplyResult::Saved);  // Yes
    EXPECT_EQ(ConfigParameters.ServerFailureEmailAddress.Text(), "admin.corvane.test");

    f.ServerFailureEmailAddress = "";
    EXPECT_EQ(Apply(f, view), ApplyResult::Saved);
    EXPECT_TRUE(ConfigParameters.ServerFailureEmailAddress.IsEmpty());
}

TEST_F(ConfigurationRulesTest, SavedApplyEmptiesTheStatusListAndKeepsThePrinter) {
    DialogScript dialogs;
    ConfigParameters.PrinterName = QStringLiteral("Office");
    ConfigParameters.PrinterIndex = 2;
    StatusList::ShowStatus(QStringLiteral("Please click on Setup"), QStringLiteral(" ..."));
    ConfigurationForm f = LoadForm();
    EXPECT_EQ(f.PrinterName, "Office");
    EXPECT_EQ(Apply(f, view), ApplyResult::Saved);
    EXPECT_TRUE(StatusList::Lines().isEmpty());
    EXPECT_EQ(view.busyTimes, 1);
    EXPECT_FALSE(view.busy);
    ConfigParameters = ConfigRecord();
    ASSERT_TRUE(Settings::ReadConfigFile());
    EXPECT_EQ(ConfigParameters.PrinterName.Text(), "Office");
    EXPECT_EQ(ConfigParameters.PrinterIndex, 2);
}

#ifdef Q_OS_LINUX
// A full disk: the message, the file as it was, the new values in memory.
TEST_F(ConfigurationRulesTest, SaveThatFailsLeavesTheFileAndTellsTheUser) {
    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.OrgName = "Not on disk";
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ApplyResult result = Apply(f, view);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, ApplyResult::SaveFailed);
    EXPECT_EQ(dialogs.Texts(), QStringList{"Error saving configuration file.  Please verify that "
                                           "hard drive is not write protected."});
    EXPECT_TRUE(FileUnchanged());
    EXPECT_EQ(ConfigParameters.OrgName.Text(), "Not on disk");
}
#endif

TEST_F(ConfigurationRulesTest, TestEmailUsesTheTypedHostAndSender) {
    SmtpServer::Options options;
    options.auth = true;
    SmtpServer server(options);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    server.UseInSettings(5);
    ConfigParameters.Host = QStringLiteral("stored.invalid");  // the dialog's text wins

    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.Host = " 127.0.0.1 ";
    f.FromAddress = "typed@corvane.test";
    f.ServerFailureEmailAddress = "boss@corvane.test ";
    EXPECT_TRUE(TestEmail(f, view));
    EXPECT_EQ(dialogs.Texts(), QStringList{"A test email has been successfully sent to "
                                           "boss@corvane.test using mail server 127.0.0.1"});
    const auto received = server.Messages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].mailFrom, "typed@corvane.test");
    EXPECT_EQ(received[0].rcptTos, QStringList{"boss@corvane.test"});
    EXPECT_EQ(received[0].login, "monitor");
    EXPECT_EQ(view.busyTimes, 1);
    EXPECT_FALSE(view.busy);
    EXPECT_EQ(ConfigParameters.Host.Text(), "stored.invalid");  // nothing stored
}

// The test e-mail and an outbox delivery at once: each writes its line of
// the mail log, neither over the other.
TEST_F(ConfigurationRulesTest, TestEmailBesideADeliveryKeepsBothMailLogLines) {
    SmtpServer server;
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    server.UseInSettings(5);
    EmailNotification::SetupMailer();
    DialogScript dialogs;
    ASSERT_TRUE(EmailNotification::SendSytemOKEmail());
    ConfigurationForm f = LoadForm();
    f.Host = "127.0.0.1";
    EXPECT_TRUE(TestEmail(f, view));
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(server.Messages().size(), 2u);
    const QStringList lines =
        QString::fromUtf8(ReadAll(FilePath(EmailNotification::MailLogFileName())))
            .split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines.filter("\tCorvane Vantor-E is up and running!\tSent").size(), 1);
    EXPECT_EQ(lines.filter("\tMessage from Corvane Vantor-E\tSent").size(), 1);
}

// A message waiting for its retry goes through the applied host, whatever
// host was typed for a test e-mail meanwhile.
TEST_F(ConfigurationRulesTest, RetryAfterATestEmailGoesThroughTheAppliedHost) {
    SmtpServer server;
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0)));
    Options::Values retries;
    retries.retryMinutes = 60;
    ASSERT_TRUE(Options::Save(retries));
    server.UseInSettings(5);
    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    EmailNotification::SetupMailer();
    ASSERT_TRUE(EmailNotification::SendSytemOKEmail());
    ASSERT_TRUE(QTest::qWaitFor([] { return !Outbox::Delivering(); }, 20000));
    ASSERT_EQ(Outbox::Counts().waiting, 1);

    server.UseInSettings(5);
    EmailNotification::SetupMailer();  // applied: the server's port on 127.0.0.1
    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.Host = "127.0.0.2";  // nothing listens there
    EXPECT_FALSE(TestEmail(f, view));
    EXPECT_EQ(EmailNotification::ProgramMailer().Settings().host, "127.0.0.1");

    Clock::AdvanceForTest(60);
    Outbox::Resume();
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(server.Messages()[0].Header("Subject"), "Corvane Vantor-E is up and running!");
}

TEST_F(ConfigurationRulesTest, TestEmailNeedsHostAndSender) {
    DialogScript dialogs;
    ConfigurationForm f = LoadForm();
    f.Host = "  ";
    EXPECT_FALSE(TestEmail(f, view));
    f.Host = "127.0.0.1";
    f.FromAddress = "";
    EXPECT_FALSE(TestEmail(f, view));
    EXPECT_EQ(dialogs.Texts(), QStringList({"Please enter a valid SMTP host address",
                                            "Please enter a from address"}));
    EXPECT_EQ(view.focused, (std::vector{Field::txtHost, Field::txtFromAddress}));
    EXPECT_EQ(view.busyTimes, 0);
}

// A server that is down, refuses the login or never answers: the mail
// operation's error text, within the configured time-out.
TEST_F(ConfigurationRulesTest, FailedTestEmailReportsTheMailError) {
    SmtpServer::Options refusing;
    refusing.auth = true;
    refusing.password = "other";
    SmtpServer wrongLogin(refusing);
    SmtpServer::Options silent;
    silent.silent = true;
    SmtpServer mute(silent);
    ASSERT_TRUE(wrongLogin.IsRunning() && mute.IsRunning());

    struct Case {
        quint16 port;
        bool auth;
        const char* expected;
    };
    for (const Case& c :
         {Case{SmtpServer::ClosedPort(), false, ""}, Case{wrongLogin.Port(), true, "535"},
          Case{mute.Port(), false, "did not answer within 2 seconds"}}) {
        DialogScript dialogs;
        ConfigParameters.SMTPPort = static_cast<qint16>(c.port);
        ConfigParameters.ServerTimeOut = 2;
        ConfigParameters.Authentication = c.auth ? 1 : 0;
        ConfigParameters.AuthenticationMethod = QStringLiteral("LOGIN");
        ConfigParameters.UserName = QStringLiteral("monitor");
        ConfigParameters.Password = QStringLiteral("s3cret");
        ConfigurationForm f = LoadForm();
        f.Host = "127.0.0.1";
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(TestEmail(f, view));
        EXPECT_LT(timer.elapsed(), 8000) << c.port;
        ASSERT_EQ(dialogs.Texts().size(), 1);
        const QString text = dialogs.Texts()[0];
        EXPECT_TRUE(text.startsWith("Failed to send email to 'admin@corvane.test'. The error is: "))
            << text.toStdString();
        EXPECT_TRUE(text.contains(c.expected)) << text.toStdString();
        EXPECT_GT(text.size(), 60) << "no error text";
    }
}

TEST_F(ConfigurationRulesTest, DiscardQuestion) {
    DialogScript dialogs;
    dialogs.Answer(Answer::No);
    EXPECT_FALSE(ConfirmDiscard());
    EXPECT_TRUE(ConfirmDiscard());
    const Dialogs::Request& q = dialogs.Shown()[0];
    EXPECT_EQ(q.title, "Settings have changed");
    EXPECT_EQ(q.buttons, Dialogs::Buttons::YesNo);
    EXPECT_EQ(q.icon, Dialogs::Icon::Critical);
    EXPECT_EQ(q.text,
              "You have made changes to the settings without saving them.  Do you wish to "
              "discard your changes?\n\nClick Yes to discard changes.\nTo save changes, click No "
              "and then click Apply before closing this window");
}
