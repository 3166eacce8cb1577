// Every e-mail of fernlog as a real SMTP server (aiosmtpd on loopback)
// receives it, and the device-failure bookkeeping.
#include <QElapsedTimer>
#include <QFile>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/EmailNotification.h"
#include "core/Settings.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/SmtpServer.h"

using namespace EmailNotification;

namespace {

class EmailTest : public MailingTest {
  protected:
    // Device 1's register row, as the polling cycle hands it over.
    static ServerDatabase::ServerRow WalkIn() {
        ServerDatabase::ServerRow row;
        EXPECT_TRUE(ServerDatabase::ReadServer(1, row));
        return row;
    }
    void SetUp() override {
        MailingTest::SetUp();
        Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0)));
    }
    void TearDown() override { MailingTest::TearDown(); }

    // Starts the server, points the settings at it and sets the mailer up.
    std::unique_ptr<SmtpServer> Start(SmtpServer::Options options = {}) {
        auto server = std::make_unique<SmtpServer>(options);
        EXPECT_TRUE(server->IsRunning()) << server->Error().toStdString();
        server->UseInSettings(5);
        SetupMailer();
        return server;
    }

    static QString Lf(QString text) { return text.replace(u'\r', u'\n'); }

    QByteArray Read(const QString& name) const {
        QFile f(FilePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static const QString kHeader;
};

const QString EmailTest::kHeader =
    QStringLiteral("This email has been sent by:\nCold Chain Ltd\n1 Harbour Road\n\n");

}  // namespace

TEST(ParseEmailAddressTest, LinesAndCommaListsBecomeOneCommaSeparatedText) {
    QString out;
    EXPECT_TRUE(ParseEmailAddress(QStringLiteral("a@x.test\r\nb@y.test"), out));
    EXPECT_EQ(out, QStringLiteral("a@x.test,b@y.test"));
    EXPECT_TRUE(ParseEmailAddress(QStringLiteral("a@x.test\r\nb@y.test\r\n"), out));
    EXPECT_EQ(out, QStringLiteral("a@x.test,b@y.test,"));
    EXPECT_TRUE(ParseEmailAddress(QStringLiteral("a@x.test"), out));
    EXPECT_EQ(out, QStringLiteral("a@x.test"));
    EXPECT_TRUE(ParseEmailAddress(QStringLiteral("a@x.test,b@y.test,"), out));
    EXPECT_EQ(out, QStringLiteral("a@x.test,b@y.test,"));
    // A bare CR or LF separates too; no character after it is lost.
    EXPECT_TRUE(ParseEmailAddress(QStringLiteral("a@x.test\rb@y.test\nc@z.test"), out));
    EXPECT_EQ(out, QStringLiteral("a@x.test,b@y.test,c@z.test"));
}

TEST_F(EmailTest, AlarmEmailReachesEveryAddressOfTheStoredList) {
    auto server = Start();
    // The registry's form (each followed by a comma) and an older row's lines.
    ASSERT_TRUE(ServerDatabase::AddServer(QStringLiteral("Freezer \"B\", Lab"), QString(),
                                          QStringLiteral("127.0.0.2"), QString(), 1, QString(),
                                          QStringLiteral("a@x.test,b@y.test,"), 0));
    ASSERT_TRUE(ServerDatabase::AddServer(QStringLiteral("Cellar"), QString(),
                                          QStringLiteral("127.0.0.3"), QString(), 1, QString(),
                                          QStringLiteral("c@z.test\r\nd@w.test\r\n"), 0));
    const QString cause = QStringLiteral("Probe 1 has been out of limits for 3 minutes.");
    QString error;
    ASSERT_TRUE(SendAlarmEmail(1, QStringLiteral("Probe 1"), cause, error)) << error.toStdString();
    ASSERT_TRUE(SendAlarmEmail(2, QStringLiteral("Rack"), cause, error)) << error.toStdString();

    const auto received = server->Messages();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].rcptTos, (QStringList{"a@x.test", "b@y.test"}));
    EXPECT_EQ(received[1].rcptTos, (QStringList{"c@z.test", "d@w.test"}));
    const auto& r = received[0];
    EXPECT_EQ(r.Header("Subject"), QStringLiteral("Sensor: Probe 1 has generated an alarm!"));
    EXPECT_EQ(r.Header("From"), QStringLiteral("Corvane Vantor <monitor@corvane.test>"));
    EXPECT_EQ(r.mailFrom, QStringLiteral("monitor@corvane.test"));
    EXPECT_EQ(r.body, QStringLiteral("This email has been sent by: \nCold Chain Ltd\n1 Harbour "
                                     "Road\n\nProbe 1 connected to server Freezer \"B\", Lab has "
                                     "generated an alarm!\n\n") +
                          cause);
    EXPECT_FALSE(Read(AlarmReportFileName()).isEmpty());
}

TEST_F(EmailTest, AlarmEmailFailuresComeBackAsText) {
    QString error;
    EXPECT_FALSE(SendAlarmEmail(QStringLiteral(",,"), QStringLiteral("Probe"),
                                QStringLiteral("Box"), QStringLiteral("c"), error));
    EXPECT_EQ(error, QStringLiteral("The list holds no email address."));

    ConfigParameters.Host = QStringLiteral("127.0.0.1");
    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    ConfigParameters.ServerTimeOut = 2;
    SetupMailer();
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(SendAlarmEmail(QStringLiteral("a@x.test,"), QStringLiteral("Probe"),
                                QStringLiteral("Box"), QStringLiteral("c"), error));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(error.isEmpty());

    // The check passes but the message is never accepted: the reason still
    // comes back, for the alarm record.
    SmtpServer::Options stalled;
    stalled.stall = QStringLiteral("DATA");
    auto server = Start(stalled);
    ConfigParameters.ServerTimeOut = 1;
    SetupMailer();
    EXPECT_FALSE(SendAlarmEmail(QStringLiteral("a@x.test,"), QStringLiteral("Probe"),
                                QStringLiteral("Box"), QStringLiteral("c"), error));
    EXPECT_EQ(error, QStringLiteral("The mail server 127.0.0.1 did not answer within 1 second."));

    // The alarm's failure belongs in its record, not the error log.
    EXPECT_TRUE(Rows("SELECT * FROM tblErrors").isEmpty());
    EXPECT_TRUE(Read(AlarmReportFileName()).contains("Failed"));
}

TEST_F(EmailTest, SystemEmailsHaveTheirSubjectsAndBodies) {
    auto server = Start();
    EXPECT_TRUE(SendSytemOKEmail());  // through the outbox
    ASSERT_TRUE(DeliverOutbox());
    SendShutdownEmail();
    ASSERT_TRUE(DeliverOutbox());
    QString error;
    EXPECT_TRUE(SendTextEmail(QStringLiteral("The log directory cannot be written"), error))
        << error.toStdString();
    EXPECT_TRUE(SendTestEmail(QStringLiteral("tester@corvane.test"), error)) << error.toStdString();

    const auto r = server->Messages();
    ASSERT_EQ(r.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r[i].rcptTos, QStringList{"admin@corvane.test"});
        EXPECT_EQ(r[i].Header("To"), QStringLiteral("IT Support Team <admin@corvane.test>"));
        EXPECT_EQ(r[i].Header("From"), QStringLiteral("Corvane Vantor-E <monitor@corvane.test>"));
    }
    EXPECT_EQ(r[0].Header("Subject"), QStringLiteral("Corvane Vantor-E is up and running!"));
    EXPECT_EQ(r[0].body, kHeader + QStringLiteral(" Fernlog is up and running.\n\n"));
    EXPECT_EQ(r[1].Header("Subject"), QStringLiteral("Corvane Vantor-E has been shutdown!"));
    EXPECT_EQ(r[1].body, kHeader + QStringLiteral(" Fernlog has been shut down 3/7/2026 4:05:00 PM "
                                                  "and is no longer logging data.\n\n"));
    EXPECT_EQ(r[2].Header("Subject"), QStringLiteral("Message from Corvane Vantor-E"));
    EXPECT_EQ(r[2].body, kHeader + QStringLiteral(" The log directory cannot be written."));
    EXPECT_EQ(r[3].rcptTos, QStringList{"tester@corvane.test"});
    EXPECT_EQ(r[3].Header("To"),
              QStringLiteral("Corvane Vantor-E Test Message <tester@corvane.test>"));
    EXPECT_EQ(r[3].Header("Subject"), QStringLiteral("Message from Corvane Vantor-E"));
    EXPECT_EQ(r[3].body,
              QStringLiteral("This test email has been sent by Cold Chain Ltd located at "
                             "1 Harbour Road.  "));

    // One log line per e-mail; the last report is in EmailErrors.
    EXPECT_EQ(Read(MailLogFileName()).count('\n'), 4);
    EXPECT_TRUE(Read(ErrorReportFileName()).contains("<Result>OK</Result>"));

    // The administrator field may hold several addresses.
    ConfigParameters.ServerFailureEmailAddress = QStringLiteral("admin@corvane.test, b@y.test");
    EXPECT_TRUE(SendTextEmail(QStringLiteral("x"), error)) << error.toStdString();
    ASSERT_EQ(server->Messages().size(), 5u);
    EXPECT_EQ(server->Messages()[4].rcptTos, (QStringList{"admin@corvane.test", "b@y.test"}));
}

// The test e-mail returns its failure and logs it; the system e-mails only
// log theirs.
TEST_F(EmailTest, TestEmailUsesTheDialogsSenderAndFailuresAreLogged) {
    auto server = Start();
    QString error;
    ASSERT_TRUE(SendTestEmail(QStringLiteral("tester@corvane.test"), error,
                              QStringLiteral("typed@corvane.test")));
    ASSERT_EQ(server->Messages().size(), 1u);
    EXPECT_EQ(server->Messages()[0].mailFrom, QStringLiteral("typed@corvane.test"));

    ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
    SetupMailer();
    EXPECT_FALSE(SendTestEmail(QStringLiteral("tester@corvane.test"), error));
    EXPECT_FALSE(error.isEmpty());
    // Handed over; its failure is logged when the delivery ends.
    EXPECT_TRUE(SendSytemOKEmail());
    ASSERT_TRUE(DeliverOutbox());
    EXPECT_EQ(Rows("SELECT myFunction FROM tblErrors ORDER BY ErrorID"),
              (QStringList{"SendTestEmail", "SendSytemOKEmail"}));
    EXPECT_EQ(Rows("SELECT Cause FROM tblErrors ORDER BY ErrorID").value(0), error);
    EXPECT_TRUE(Read(ErrorReportFileName()).contains("<Result>Failed</Result>"));
}

TEST_F(EmailTest, WithoutAdministratorAddressTextEmailFailsAndSystemEmailsStaySilent) {
    auto server = Start();
    ConfigParameters.ServerFailureEmailAddress = QString();
    QString error;
    EXPECT_FALSE(SendTextEmail(QStringLiteral("x"), error));
    EXPECT_EQ(error, QStringLiteral("Device failure email address has not been programmed."));
    EXPECT_FALSE(SendSytemOKEmail());
    SendShutdownEmail();
    EXPECT_TRUE(server->Commands().isEmpty());
    EXPECT_TRUE(Rows("SELECT * FROM tblErrors").isEmpty());
}

TEST_F(EmailTest, SetupMailerTakesTheSettings) {
    ConfigParameters.Host = QStringLiteral("  mail.corvane.test ");
    ConfigParameters.SMTPPort = static_cast<qint16>(50025);  // stored as a negative number
    ConfigParameters.ServerTimeOut = 7;
    ConfigParameters.SSL = 1;
    ConfigParameters.Authentication = 1;
    ConfigParameters.AuthenticationMethod = QStringLiteral("NTLM");
    ConfigParameters.UserName = QStringLiteral("monitor");
    ConfigParameters.Password = QStringLiteral("pw");
    ConfigParameters.LoginDomain = QStringLiteral("CORP");
    SetupMailer();
    const Mail::MailerSettings& s = ProgramMailer().Settings();
    EXPECT_EQ(s.host, QStringLiteral("mail.corvane.test"));
    EXPECT_EQ(s.port, 50025);
    EXPECT_EQ(s.timeoutSeconds, 7);
    EXPECT_TRUE(s.ssl);
    EXPECT_EQ(s.authMethod, QStringLiteral("NTLM"));
    EXPECT_EQ(s.loginDomain, QStringLiteral("CORP"));
}

// Authentication off: no login even though an account is still stored.
TEST_F(EmailTest, AuthenticationOffSendsWithoutLoginWhateverIsStored) {
    SmtpServer::Options options;
    options.auth = true;
    auto server = Start(options);
    ConfigParameters.Authentication = 0;
    ConfigParameters.AuthenticationMethod = QStringLiteral("LOGIN");
    SetupMailer();
    EXPECT_EQ(ProgramMailer().Settings().authMethod, QStringLiteral("NONE"));
    EXPECT_TRUE(ProgramMailer().Settings().userName.isEmpty());
    EXPECT_TRUE(ProgramMailer().Settings().password.isEmpty());
    EXPECT_TRUE(SendSytemOKEmail());
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(server->Messages().size(), 1u);
    EXPECT_TRUE(server->Messages()[0].login.isEmpty());
    EXPECT_TRUE(server->Commands().filter(QStringLiteral("AUTH")).isEmpty());

    ConfigParameters.Authentication = 1;
    SetupMailer();
    EXPECT_TRUE(SendSytemOKEmail());
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(server->Messages().size(), 2u);
    EXPECT_EQ(server->Messages()[1].login, QStringLiteral("monitor"));
}

// First failed cycle books the outage, the second mails it, the third adds
// nothing.
TEST_F(EmailTest, DeviceFailingThreeCyclesGetsOneRowAndOneEmailInTheSecond) {
    auto server = Start();
    ASSERT_TRUE(ServerDatabase::AddServer(QStringLiteral("Walk-in"), QString(),
                                          QStringLiteral("127.0.0.2"), QString(), 1, QString(),
                                          QString(), 0));
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    EXPECT_EQ(Rows("SELECT ServerIDNum, OffLine, BackOnLine, EmailSent FROM tblServerFailures"),
              QStringList{"1|2026-03-07 16:05:00|False|False"});
    EXPECT_TRUE(server->Messages().empty());

    Clock::AdvanceForTest(60);
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    // On its way: the next cycle does not mail the outage again.
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(server->Messages().size(), 1u);
    EXPECT_EQ(server->Messages()[0].body,
              kHeader + QStringLiteral(" The device: Walk-in, did not respond to 3 request(s) for "
                                       "data.  The servers's IP address is: 127.0.0.2."));

    Clock::AdvanceForTest(60);
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    EXPECT_EQ(server->Messages().size(), 1u);
    EXPECT_EQ(Rows("SELECT ServerName, EmailSent FROM tblServerFailures"),
              QStringList{"Walk-in|2026-03-07 16:06:00"});

    // Back on line, then down again: a new outage, mailed once more.
    ASSERT_TRUE(ServerDatabase::RecordServerBackOnline(1));
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    ASSERT_TRUE(DeliverOutbox());
    EXPECT_EQ(Rows("SELECT * FROM tblServerFailures").size(), 2);
    EXPECT_EQ(server->Messages().size(), 2u);
}

// A refusal is recorded in the mail server's own words, without libcurl's
// around them: the test e-mail's answer, then a failure row's EmailSent and
// the service log line.
TEST_F(EmailTest, RefusalIsRecordedInTheServersOwnWords) {
    const QString refusal = QStringLiteral("550 5.7.1 Rejected");
    SmtpServer::Options options;
    options.reject = QStringLiteral("RCPT");
    auto server = Start(options);
    QString error;
    EXPECT_FALSE(SendTestEmail(QStringLiteral("tester@corvane.test"), error));
    EXPECT_EQ(error, refusal) << Read(ErrorReportFileName()).toStdString();

    options.reject = QStringLiteral("DATA");
    server = Start(options);
    QStringList events;
    EventLog::SetSink([&events](const QString& line) { events << line; });
    ASSERT_TRUE(ServerDatabase::AddServer(QStringLiteral("Walk-in"), QString(),
                                          QStringLiteral("127.0.0.2"), QString(), 1, QString(),
                                          QString(), 0));
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    Clock::AdvanceForTest(60);
    ASSERT_TRUE(RecordServerFailure(WalkIn(), 3));
    ASSERT_TRUE(DeliverOutbox());
    EXPECT_EQ(Rows("SELECT EmailSent FROM tblServerFailures"), QStringList{refusal});
    EXPECT_EQ(events.filter(" failed (").value(0).section(QStringLiteral("): "), 1), refusal)
        << events.join('\n').toStdString();
}

TEST_F(EmailTest, FailureEmailThatCannotGoOutKeepsTheReasonAndIsNotRepeated) {
    ConfigParameters.ServerFailureEmailAddress = QString();
    ASSERT_TRUE(ServerDatabase::AddServer(QStringLiteral("Walk-in"), QString(),
                                          QStringLiteral("127.0.0.2"), QString(), 1, QString(),
                                          QString(), 0));
    for (int cycle = 0; cycle < 3; ++cycle) ASSERT_TRUE(RecordServerFailure(WalkIn(), 2));
    EXPECT_EQ(Rows("SELECT EmailSent FROM tblServerFailures"),
              QStringList{"Device failure email address has not been programmed."});
}
