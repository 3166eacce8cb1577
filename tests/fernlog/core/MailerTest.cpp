// The mail component against a real SMTP server (aiosmtpd on loopback).
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#include "common/Clock.h"
#include "core/Mailer.h"
#include "support/FernlogFixtures.h"
#include "support/SmtpServer.h"

namespace {

class MailerTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        Mail::GlobalInit();
    }

    static Mail::MailerSettings For(const SmtpServer& server, int timeout = 5) {
        Mail::MailerSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = server.Port();
        s.timeoutSeconds = timeout;
        if (server.GetOptions().auth) {
            s.authMethod = QStringLiteral("LOGIN");
            s.userName = server.GetOptions().user;
            s.password = server.GetOptions().password;
        }
        return s;
    }

    static Mail::Message Simple() {
        Mail::Message m;
        EXPECT_TRUE(m.AddRecipient(QStringLiteral("Ops"), QStringLiteral("ops@corvane.test")));
        m.SetSubject(QStringLiteral("Hello"));
        m.SetFromName(QStringLiteral("Corvane Vantor-E"));
        m.SetFromAddress(QStringLiteral("monitor@corvane.test"));
        m.SetBody(QStringLiteral("Line one\rLine two"));
        return m;
    }
};

QStringList Verbs(const QStringList& commands) {
    QStringList verbs;
    for (const QString& c : commands) verbs << c.section(u' ', 0, 0);
    return verbs;
}

// Sends a message and expects it refused, with `reason`, before any mail
// command reached the server.
void ExpectNothingSent(const SmtpServer& server, const Mail::MailerSettings& settings,
                       const QString& reason) {
    Mail::Mailer mailer;
    mailer.Configure(settings);
    Mail::Message m;
    m.AddRecipient(QString(), QStringLiteral("ops@corvane.test"));
    m.SetFromAddress(QStringLiteral("monitor@corvane.test"));
    EXPECT_EQ(mailer.Send(m), 0);
    EXPECT_TRUE(mailer.LastError().contains(reason)) << mailer.LastError().toStdString();
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_FALSE(Verbs(server.Commands()).contains(QStringLiteral("MAIL")));
}

}  // namespace

TEST_F(MailerTest, RecipientListsSkipEmptyEntriesAndRefuseAnythingButPlainAddresses) {
    Mail::Message m;
    EXPECT_TRUE(m.AddRecipients(QStringLiteral("a@x.test, b@y.test,,")));
    ASSERT_EQ(m.Recipients().size(), 2u);
    EXPECT_EQ(m.RecipientText(), QStringLiteral("a@x.test, b@y.test"));

    // A bad entry refuses the whole list and adds nothing.
    EXPECT_FALSE(m.AddRecipients(QStringLiteral("c@z.test,not an address,")));
    EXPECT_EQ(m.Recipients().size(), 2u);
    EXPECT_TRUE(m.LastError().contains(QStringLiteral("not an address")));
    EXPECT_FALSE(m.AddRecipients(QStringLiteral(",,")));
    EXPECT_FALSE(m.AddRecipient(QString(), QStringLiteral("a@x.test>\r\nRCPT TO:<b@y.test")));
    EXPECT_FALSE(m.AddRecipient(QString(), QStringLiteral("Name <a@x.test>")));
    EXPECT_FALSE(m.AddRecipient(QString(), QStringLiteral("a@x..test")));
    EXPECT_EQ(m.Recipients().size(), 2u);
}

// Headers are exactly one of each; CR/LF in a subject or name cannot add
// one; non-ASCII text arrives intact; lines are CR LF and short.
TEST_F(MailerTest, MessageArrivesWithProperHeadersAndNoInjectedOnes) {
    SmtpServer server;
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    Mail::Mailer mailer;
    mailer.Configure(For(server));

    Mail::Message m;
    ASSERT_TRUE(m.AddRecipient(QStringLiteral("Kühlraum \"Nord\""), QStringLiteral("a@x.test")));
    ASSERT_TRUE(m.AddRecipients(QStringLiteral("b@y.test,")));
    m.SetSubject(QStringLiteral("Sensor: Kühl\r\nBcc: evil@z.test has generated an alarm!"));
    m.SetFromName(QStringLiteral("Corvane\nX-Injected: yes"));
    m.SetFromAddress(QStringLiteral("monitor@corvane.test"));
    const QString longLine = QString(1500, u'x');
    m.SetBody(QStringLiteral("First \r.dot line\r\n..two dots\nTemp 21°C = fine\r") + longLine);
    ASSERT_EQ(mailer.Send(m), 1) << mailer.LastError().toStdString();

    const auto received = server.Messages();
    ASSERT_EQ(received.size(), 1u);
    const auto& r = received[0];
    EXPECT_EQ(r.mailFrom, QStringLiteral("monitor@corvane.test"));
    EXPECT_EQ(r.rcptTos, (QStringList{"a@x.test", "b@y.test"}));
    EXPECT_EQ(r.Header("Subject"),
              QStringLiteral("Sensor: Kühl  Bcc: evil@z.test has generated an alarm!"));
    EXPECT_EQ(r.HeaderCount("Bcc"), 0);
    EXPECT_EQ(r.HeaderCount("X-Injected"), 0);
    for (const char* name : {"From", "To", "Subject", "Date", "MIME-Version", "Content-Type"}) {
        EXPECT_EQ(r.HeaderCount(name), 1) << name;
    }
    EXPECT_EQ(r.Header("From"),
              QStringLiteral("\"Corvane X-Injected: yes\" <monitor@corvane.test>"));
    EXPECT_EQ(r.Header("To"), QStringLiteral("\"Kühlraum \\\"Nord\\\"\" <a@x.test>, b@y.test"));
    EXPECT_TRUE(r.Header("Content-Type")
                    .contains(QStringLiteral("charset=\"utf-8\""), Qt::CaseInsensitive));
    EXPECT_TRUE(r.defects.isEmpty()) << r.defects.join(u';').toStdString();
    EXPECT_EQ(r.body,
              QStringLiteral("First \n.dot line\n..two dots\nTemp 21°C = fine\n") + longLine);

    // On the wire: CR LF only, no line over 998 bytes.
    EXPECT_FALSE(QRegularExpression(QStringLiteral("\r(?!\n)|(?<!\r)\n"))
                     .match(QString::fromLatin1(r.raw))
                     .hasMatch());
    for (const QByteArray& line : r.raw.split('\n')) EXPECT_LE(line.size(), 999);
}

TEST_F(MailerTest, ConnectionCheckSaysNoopAndQuitAndSendsNothing) {
    SmtpServer server;
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    Mail::Mailer mailer;
    mailer.Configure(For(server));
    ASSERT_TRUE(mailer.VerifyConnection()) << mailer.LastError().toStdString();
    EXPECT_EQ(Verbs(server.Commands()), (QStringList{"EHLO", "NOOP", "QUIT"}));
    EXPECT_TRUE(server.Messages().empty());
}

class MailerAuthTest : public MailerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MailerAuthTest, LogsInWithTheConfiguredMethodBeforeSending) {
    SmtpServer::Options options;
    options.auth = true;
    SmtpServer server(options);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    Mail::Mailer mailer;
    Mail::MailerSettings s = For(server);
    s.authMethod = QString::fromLatin1(GetParam());
    mailer.Configure(s);
    ASSERT_TRUE(mailer.VerifyConnection()) << mailer.LastError().toStdString();
    ASSERT_EQ(mailer.Send(Simple()), 1) << mailer.LastError().toStdString();
    const auto received = server.Messages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].login, QStringLiteral("monitor"));
    EXPECT_EQ(server.Commands().filter(QStringLiteral("AUTH ")),
              (QStringList(2, QStringLiteral("AUTH %1 ok monitor").arg(GetParam()))));
}

INSTANTIATE_TEST_SUITE_P(Methods, MailerAuthTest, ::testing::Values("LOGIN", "PLAIN", "CRAM-MD5"));

// libcurl would quietly skip a login the server does not offer; the mailer
// must refuse instead, as it must when the configured mechanism is missing.
TEST_F(MailerTest, LoginThatCannotBeMadeStopsEverything) {
    SmtpServer plain;  // no AUTH in its EHLO reply
    ASSERT_TRUE(plain.IsRunning()) << plain.Error().toStdString();
    Mail::MailerSettings s = For(plain);
    s.authMethod = QStringLiteral("PLAIN");
    s.userName = QStringLiteral("monitor");
    s.password = QStringLiteral("s3cret");
    Mail::Mailer mailer;
    mailer.Configure(s);
    EXPECT_FALSE(mailer.VerifyConnection());
    EXPECT_FALSE(Verbs(plain.Commands()).contains(QStringLiteral("NOOP")));
    ExpectNothingSent(plain, s, QStringLiteral("does not offer authentication (AUTH), but PLAIN"));

    SmtpServer::Options options;
    options.auth = true;
    SmtpServer withAuth(options);
    ASSERT_TRUE(withAuth.IsRunning()) << withAuth.Error().toStdString();
    s = For(withAuth);
    s.authMethod = QStringLiteral("NTLM");
    ExpectNothingSent(withAuth, s,
                      QStringLiteral("does not offer NTLM authentication (it offers CRAM-MD5 "
                                     "LOGIN PLAIN). Nothing was sent."));
}

TEST_F(MailerTest, WrongPasswordIsRefusedAndNothingSentNorRevealed) {
    SmtpServer::Options options;
    options.auth = true;
    SmtpServer server(options);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    Mail::Mailer mailer;
    Mail::MailerSettings s = For(server);
    s.password = QStringLiteral("wrong-pass");
    mailer.Configure(s);
    EXPECT_FALSE(mailer.VerifyConnection());
    EXPECT_TRUE(mailer.LastError().contains(QStringLiteral("535")))
        << mailer.LastError().toStdString();
    EXPECT_EQ(mailer.Send(Simple()), 0);
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_FALSE(Verbs(server.Commands()).contains(QStringLiteral("MAIL")));

    // The report shows the dialogue but neither the password nor its base64.
    ASSERT_TRUE(mailer.SaveLastError(FilePath("report.xml")));
    QFile report(FilePath("report.xml"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QByteArray xml = report.readAll();
    EXPECT_TRUE(xml.contains("AUTH LOGIN"));
    EXPECT_TRUE(xml.contains("535"));
    EXPECT_FALSE(xml.contains("wrong-pass"));
    EXPECT_FALSE(xml.contains(QByteArray("wrong-pass").toBase64()));
}

// SSL on a port other than 465 means STARTTLS: a server without it, or one
// whose certificate cannot be verified, never gets the message.
TEST_F(MailerTest, SslMeansVerifiedTlsOrNothing) {
    SmtpServer plain;
    ASSERT_TRUE(plain.IsRunning()) << plain.Error().toStdString();
    Mail::MailerSettings s = For(plain);
    s.ssl = true;
    ExpectNothingSent(plain, s, QStringLiteral("STARTTLS"));

    SmtpServer::Options options;
    options.tls = true;
    SmtpServer selfSigned(options);
    ASSERT_TRUE(selfSigned.IsRunning()) << selfSigned.Error().toStdString();
    s = For(selfSigned);
    s.ssl = true;
    ExpectNothingSent(selfSigned, s, QStringLiteral("certificate"));
}

TEST_F(MailerTest, ServerDownOrSilentOrStalledReturnsWithinTheTimeOut) {
    Mail::Mailer mailer;
    Mail::MailerSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = SmtpServer::ClosedPort();
    s.timeoutSeconds = 2;
    mailer.Configure(s);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(mailer.VerifyConnection());
    EXPECT_FALSE(mailer.LastError().isEmpty());
    EXPECT_LT(clock.elapsed(), 2000);

    SmtpServer::Options silent;
    silent.silent = true;
    SmtpServer quiet(silent);
    ASSERT_TRUE(quiet.IsRunning()) << quiet.Error().toStdString();
    s.port = quiet.Port();
    mailer.Configure(s);
    clock.restart();
    EXPECT_FALSE(mailer.VerifyConnection());
    EXPECT_TRUE(mailer.LastError().contains(QStringLiteral("did not answer within 2 seconds")))
        << mailer.LastError().toStdString();
    EXPECT_GE(clock.elapsed(), 1500);
    EXPECT_LT(clock.elapsed(), 4000);

    SmtpServer::Options stalled;
    stalled.stall = QStringLiteral("DATA");
    SmtpServer slow(stalled);
    ASSERT_TRUE(slow.IsRunning()) << slow.Error().toStdString();
    s.port = slow.Port();
    mailer.Configure(s);
    clock.restart();
    EXPECT_EQ(mailer.Send(Simple()), 0);
    EXPECT_LT(clock.elapsed(), 4000) << mailer.LastError().toStdString();
    EXPECT_TRUE(slow.Messages().empty());
}

// The program stops while the server takes its time over QUIT: libcurl
// waits for that answer looking at no flag, so the cancel must end the wait
// itself, not leave it to the time-out.
TEST_F(MailerTest, CancelEndsEvenTheWaitForQuit) {
    SmtpServer::Options stalled;
    stalled.stall = QStringLiteral("QUIT");
    SmtpServer slow(stalled);
    ASSERT_TRUE(slow.IsRunning()) << slow.Error().toStdString();
    Mail::Mailer mailer;
    mailer.Configure(For(slow, 30));
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (slow.Commands().contains(QStringLiteral("QUIT"))) mailer.Cancel();
    });
    watch.start(50);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(mailer.Send(Simple()), 1);  // the server took it before QUIT
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(slow.Messages().size(), 1u);
}

TEST_F(MailerTest, MailLogHasOneLinePerAttempt) {
    SmtpServer server;
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0)));
    Mail::Mailer mailer;
    mailer.Configure(For(server));
    mailer.SetLogFile(FilePath("Vantor-E_Sent_Mail.log"));
    Mail::Message m = Simple();
    m.SetSubject(QStringLiteral("Two\r\nlines"));
    ASSERT_EQ(mailer.Send(m), 1);
    Mail::MailerSettings s = For(server);
    s.port = SmtpServer::ClosedPort();
    mailer.Configure(s);
    ASSERT_EQ(mailer.Send(m), 0);

    QFile log(FilePath("Vantor-E_Sent_Mail.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("3/7/2026 4:05:00 PM\tops@corvane.test\tTwo  lines\tSent"));
    EXPECT_TRUE(lines[1].startsWith(
        QStringLiteral("3/7/2026 4:05:00 PM\tops@corvane.test\tTwo  lines\tNot sent: ")))
        << lines[1].toStdString();
}

#ifdef Q_OS_LINUX
#include <sys/resource.h>

#include <csignal>

// A disk that fills up while the report is written (the file size limit
// fails the write as a full disk would): the old report stays whole.
TEST_F(MailerTest, ReportThatCannotBeWrittenWholeLeavesTheOldOne) {
    Mail::Mailer mailer;
    Mail::MailerSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = SmtpServer::ClosedPort();
    s.timeoutSeconds = 2;
    mailer.Configure(s);
    EXPECT_FALSE(mailer.VerifyConnection());
    ASSERT_TRUE(mailer.SaveLastError(FilePath("report.xml")));
    QFile old(FilePath("report.xml"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    const QByteArray before = old.readAll();
    old.close();
    ASSERT_GT(before.size(), 200);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = mailer.SaveLastError(FilePath("report.xml"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), before);
}
#endif
