// The outbox of fernlog --headless killed and started again: what the mail
// server has taken is not sent a second time.
#include <QProcess>
#include <QTest>
#include <csignal>

#include "core/Outbox.h"
#include "core/Settings.h"
#include "support/SmtpServer.h"

using OutboxRestartTest = MailingTest;

// The server answers the end of the message, then never answers QUIT; the
// program is killed in that wait and started again: one message arrives.
TEST_F(OutboxRestartTest, KillWhileTheServerDelaysQuitSendsTheMessageOnce) {
    SmtpServer::Options stalling;
    stalling.stall = "QUIT";
    SmtpServer taker(stalling);
    SmtpServer later;
    ASSERT_TRUE(taker.IsRunning() && later.IsRunning());
    taker.UseInSettings(3);                           // the connection check's QUIT waits that long
    ConfigParameters.ServerFailureEmailAddress = "";  // no shutdown e-mail
    ASSERT_TRUE(Settings::SaveConfigFile());
    Outbox::Entry e;
    e.reportFile = "EmailErrors";
    e.recipients = {{"", "admin@corvane.test"}};
    e.subject = "Handed over";
    e.fromAddress = "monitor@corvane.test";
    QFile outbox(FilePath(Outbox::FileName()));
    ASSERT_TRUE(outbox.open(QIODevice::WriteOnly) && outbox.write(Outbox::Encode({e})) > 0);
    outbox.close();

    const auto run = [this](QProcess& fernlog) {
        fernlog.setProcessChannelMode(QProcess::MergedChannels);
        fernlog.start(QStringLiteral(FERNLOG_PATH), {"--headless", "--dir", Dir()});
        return fernlog.waitForStarted(10000);
    };
    QProcess first;
    ASSERT_TRUE(run(first));
    // The connection check says QUIT too; the one that counts follows DATA.
    const bool taken = QTest::qWaitFor(
        [&] {
            const QStringList commands = taker.Commands();
            const int data = commands.indexOf("DATA");
            return data >= 0 && commands.mid(data).contains("QUIT");
        },
        40000);
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(taken) << first.readAll().toStdString();

    later.UseInSettings(5);
    ConfigParameters.ServerFailureEmailAddress = "";
    ASSERT_TRUE(Settings::SaveConfigFile());
    QProcess second;
    ASSERT_TRUE(run(second));
    QByteArray output;
    // The outbox is resumed before the start says what it polls; a message
    // still there would go out at the latest in the stop's drain.
    const bool started = QTest::qWaitFor(
        [&] {
            output += second.readAll();
            return output.contains("nothing is polled") || output.contains("Polling ");
        },
        20000);
    ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
    ASSERT_TRUE(second.waitForFinished(20000));
    ASSERT_TRUE(started) << output.toStdString();
    EXPECT_EQ(taker.Messages().size(), 1u);
    EXPECT_TRUE(later.Messages().empty());
    EXPECT_FALSE(ReadAll(FilePath(Outbox::FileName())).contains("Handed over"));
}
