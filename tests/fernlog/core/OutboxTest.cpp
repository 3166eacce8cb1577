#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include "common/Clock.h"
#include "common/EventLog.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/Settings.h"
#include "core/StatusList.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/SmtpServer.h"

using OutboxTest = FernlogTest;

// The file keeps every field exactly, line breaks and non-ASCII text too,
// and an entry it cannot use is left out and counted, not guessed at.
TEST_F(OutboxTest, FileKeepsMessagesAndLeavesOutWhatItCannotUse) {
    Outbox::Entry e;
    e.reportFile = "Alarm Email Log.xml";
    e.receipt = "alarm";
    e.rowId = 9007199254740993;  // beyond a double's exact integers
    e.recipients = {{"", "chef@corvane.test"}, {"IT \"Support\"", "it@corvane.test"}};
    e.subject = "Sensor: Kühlraum has generated an alarm!";
    e.fromName = "Corvane Vantor";
    e.fromAddress = "monitor@corvane.test";
    e.body = "line one\rline two\r\n\ttab";
    Outbox::Entry f = e;
    f.receipt = "none";
    f.errorFunction = "SendTextEmail";
    // A message waiting to be tried again keeps its schedule.
    e.attempts = 3;
    e.firstAttempt = QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0));
    e.nextAttempt = e.firstAttempt.addSecs(7 * 60);
    std::vector<Outbox::Entry> back;
    QString error;
    ASSERT_TRUE(Outbox::Decode(Outbox::Encode({e, f}), back, &error));
    EXPECT_TRUE(error.isEmpty());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].rowId, e.rowId);
    EXPECT_EQ(back[0].receipt, "alarm");
    EXPECT_EQ(back[0].recipients[1].name, "IT \"Support\"");
    EXPECT_EQ(back[0].subject, e.subject);
    EXPECT_EQ(back[0].body, e.body);
    EXPECT_EQ(back[0].attempts, 3);
    EXPECT_EQ(back[0].firstAttempt, e.firstAttempt);
    EXPECT_EQ(back[0].nextAttempt, e.nextAttempt);
    EXPECT_EQ(back[1].errorFunction, "SendTextEmail");
    EXPECT_EQ(back[1].attempts, 0);
    EXPECT_FALSE(back[1].nextAttempt.isValid());

    // A report name that leaves the program directory, no recipient: left
    // out.
    Outbox::Entry escape = e;
    escape.reportFile = "../../etc/passwd";
    Outbox::Entry noOne = e;
    noOne.recipients.clear();
    QByteArray bytes = Outbox::Encode({escape, e, noOne});
    ASSERT_TRUE(Outbox::Decode(bytes, back, &error));
    EXPECT_EQ(back.size(), 1u);
    EXPECT_EQ(error, "FernlogOutbox.dat: 2 message(s) not understood, left out");
    // A receipt is a kind's plain name; one no module keeps a record of is
    // still delivered (and the missing record told then).
    bytes = Outbox::Encode({e});
    ASSERT_TRUE(Outbox::Decode(QByteArray(bytes).replace("\"alarm\"", "\"Alarm Tab\""), back));
    EXPECT_TRUE(back.empty());
    ASSERT_TRUE(Outbox::Decode(QByteArray(bytes).replace("\"alarm\"", "\"pager\""), back));
    EXPECT_EQ(back.size(), 1u);

    // A file cut short is not an outbox.
    EXPECT_FALSE(Outbox::Decode(Outbox::Encode({e}).left(40), back, &error));
    EXPECT_TRUE(error.startsWith("FernlogOutbox.dat is not an outbox")) << error.toStdString();
}

namespace {

// The outbox against a real SMTP server that refuses at first.
class OutboxRetryTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0)));
        EventLog::SetSink([this](const QString& line) { events << line.section(u' ', 1); });
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        server.UseInSettings(5);
        ConfigParameters.SMTPPort = static_cast<qint16>(SmtpServer::ClosedPort());
        EmailNotification::SetupMailer();
    }

    static void SaveRetryMinutes(int minutes) {
        Options::Values values;
        values.retryMinutes = minutes;
        ASSERT_TRUE(Options::Save(values));
    }

    void Answer() const {
        ConfigParameters.SMTPPort = static_cast<qint16>(server.Port());
        EmailNotification::SetupMailer();
    }

    // The device failure notice of the second failed cycle, handed to the
    // outbox at 4:06 PM; true when its first attempt has ended.
    static bool PostFailureNotice() {
        ServerDatabase::ServerRow walkIn;
        if (!ServerDatabase::AddServer(QStringLiteral("Walk-in"), QString(),
                                       QStringLiteral("127.0.0.2"), QString(), 1, QString(),
                                       QString(), 0) ||
            !ServerDatabase::ReadServer(1, walkIn) ||
            !EmailNotification::RecordServerFailure(walkIn, 3)) {
            return false;
        }
        Clock::AdvanceForTest(60);
        return EmailNotification::RecordServerFailure(walkIn, 3) && Outbox::Delivering() &&
               QTest::qWaitFor([] { return !Outbox::Delivering(); }, 30000);
    }

    QStringList EmailSent() const { return Rows("SELECT EmailSent FROM tblServerFailures"); }
    int MailLogLines() const {
        return ReadAllOrMissing(FilePath(EmailNotification::MailLogFileName())).count('\n');
    }

    SmtpServer server;
    QStringList events;
};

}  // namespace

TEST_F(OutboxRetryTest, WithoutRetriesAFailureIsFinalAtTheFirstAttempt) {
    ASSERT_TRUE(PostFailureNotice());
    EXPECT_TRUE(Outbox::Idle());
    EXPECT_EQ(Outbox::Counts().failed, 1);
    EXPECT_EQ(MailLogLines(), 1);
    ASSERT_EQ(EmailSent().size(), 1);
    EXPECT_FALSE(EmailSent()[0].contains("attempts")) << EmailSent()[0].toStdString();
    EXPECT_TRUE(events.filter("tried again").isEmpty());
}

// The notice fails, pauses a minute (said in the service log) while a later
// message goes out, and is delivered on its second attempt.
TEST_F(OutboxRetryTest, FailedMessageIsTriedAgainWhileLaterOnesGoAhead) {
    SaveRetryMinutes(60);
    ASSERT_TRUE(PostFailureNotice());
    EXPECT_EQ(Outbox::Counts().waiting, 1);
    EXPECT_EQ(Outbox::Counts().failed, 0);
    const QStringList warnings = events.filter("tried again");
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith(
        "WARNING E-mail to admin@corvane.test failed (Message from Corvane Vantor-E): "))
        << warnings[0].toStdString();
    EXPECT_TRUE(warnings[0].endsWith("; attempt 1, tried again at 3/7/2026 4:07:00 PM"))
        << warnings[0].toStdString();
    EXPECT_FALSE(EmailSent().value(0).startsWith("2026"));

    Answer();
    ASSERT_TRUE(EmailNotification::SendSytemOKEmail());
    ASSERT_TRUE(
        QTest::qWaitFor([] { return Outbox::Counts().sent == 1 && !Outbox::Delivering(); }, 30000));
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(server.Messages()[0].Header("Subject"), "Corvane Vantor-E is up and running!");
    EXPECT_FALSE(Outbox::Delivering());  // the notice is not due yet

    Clock::AdvanceForTest(60);
    Outbox::Resume();  // what the outbox's timer does when the pause is over
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(server.Messages().size(), 2u);
    EXPECT_TRUE(server.Messages()[1].body.contains("The device: Walk-in, did not respond"));
    EXPECT_EQ(EmailSent(), QStringList{"2026-03-07 16:07:00"});
    EXPECT_EQ(events.filter("(attempt 2)").size(), 1);
}

// Retried for a minute: the second attempt is the last, its record counts
// both. A restart in the pause keeps the schedule.
TEST_F(OutboxRetryTest, RetriesEndWithThePeriodAndSurviveARestart) {
    SaveRetryMinutes(1);
    ASSERT_TRUE(PostFailureNotice());
    EXPECT_TRUE(ReadAll(FilePath("FernlogOutbox.dat")).contains("\"nextAttempt\""));

    // A stop's drain does not wait out a pause: the message stays on disk.
    QElapsedTimer drained;
    drained.start();
    EXPECT_FALSE(Outbox::Drain(20000));
    EXPECT_LT(drained.elapsed(), 10000);

    Outbox::Reset();
    EmailNotification::SetupMailer();  // as the start-up does before Resume
    Outbox::Resume();
    EXPECT_FALSE(Outbox::Delivering());
    EXPECT_EQ(Outbox::Counts().waiting, 1);

    Clock::AdvanceForTest(60);
    Outbox::Resume();
    ASSERT_TRUE(DeliverOutbox());
    EXPECT_EQ(Outbox::Counts().failed, 1);
    EXPECT_EQ(MailLogLines(), 2);
    ASSERT_EQ(EmailSent().size(), 1);
    EXPECT_TRUE(EmailSent()[0].endsWith(" (2 attempts since 3/7/2026 4:06:00 PM)"))
        << EmailSent()[0].toStdString();
    EXPECT_EQ(events.filter("tried again").size(), 1);
    EXPECT_TRUE(server.Messages().empty());
}

namespace {

// The outbox against a server that answers at once.
class OutboxDeliveryTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        EventLog::SetSink([this](const QString& line) { events << line.section(u' ', 1); });
    }
    void Use(const SmtpServer& smtp) {
        ASSERT_TRUE(smtp.IsRunning()) << smtp.Error().toStdString();
        smtp.UseInSettings(5);
        EmailNotification::SetupMailer();
    }
    void Place(const QByteArray& bytes) const {
        QFile file(FilePath("FernlogOutbox.dat"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    static Outbox::Entry Message(int n) {
        Outbox::Entry e;
        e.reportFile = "EmailErrors";
        e.recipients = {{"", "admin@corvane.test"}};
        e.subject = QStringLiteral("Notice %1").arg(n);
        e.fromName = "Corvane Vantor-E";
        e.fromAddress = "monitor@corvane.test";
        e.body = QString(200, u'x');
        return e;
    }
    QStringList Subjects(const SmtpServer& smtp) const {
        QStringList subjects;
        for (const auto& m : smtp.Messages()) subjects << m.Header("Subject");
        return subjects;
    }

    QStringList events;
};

}  // namespace

// A file of the program before this one (no count, receipts by name): its
// messages are delivered and their records written.
TEST_F(OutboxDeliveryTest, FileOfTheEarlierVersionIsDeliveredAndRecorded) {
    ASSERT_TRUE(ServerDatabase::AddServer("Walk-in", "", "127.0.0.2", "", 1, "", "", 0));
    ASSERT_TRUE(ServerDatabase::AddServerFailure(1, "Walk-in"));
    const QByteArray earlier = R"({
    "messages": [
        {
            "body": "This email has been sent by:\rCold Chain Ltd\r\r The device: Walk-in, did not respond.",
            "errorFunction": "SendTextEmail",
            "fromAddress": "monitor@corvane.test",
            "fromName": "Corvane Vantor-E",
            "receipt": "server-failure",
            "report": "EmailErrors",
            "row": "1",
            "subject": "Message from Corvane Vantor-E",
            "to": [
                {
                    "address": "admin@corvane.test",
                    "name": "IT Support Team"
                }
            ]
        }
    ]
}
)";
    Place(earlier);
    SmtpServer smtp;
    Use(smtp);
    Outbox::Resume();
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(smtp.Messages().size(), 1u);
    EXPECT_TRUE(smtp.Messages()[0].body.contains("The device: Walk-in, did not respond."));
    EXPECT_TRUE(Rows("SELECT EmailSent FROM tblServerFailures").value(0).startsWith("20"));
    EXPECT_EQ(ReadAll(FilePath("FernlogOutbox.dat")),
              "{\n    \"count\": 0,\n    \"messages\": [\n    ]\n}\n");
}

// 40 messages cut short at 5,000 bytes: the file is kept as a copy, the
// whole messages are delivered and the loss is told with its number.
TEST_F(OutboxDeliveryTest, DamagedFileIsKeptAndItsWholeMessagesDelivered) {
    std::vector<Outbox::Entry> forty;
    for (int n = 1; n <= 40; ++n) forty.push_back(Message(n));
    const QByteArray cut = Outbox::Encode(forty).left(5000);
    Place(cut);
    SmtpServer smtp;
    Use(smtp);
    Outbox::Resume();
    ASSERT_TRUE(DeliverOutbox());

    const QStringList subjects = Subjects(smtp);
    ASSERT_GT(subjects.size(), 3);
    ASSERT_LT(subjects.size(), 40);
    for (int n = 0; n < subjects.size(); ++n) {
        EXPECT_EQ(subjects[n], QStringLiteral("Notice %1").arg(n + 1));
    }
    EXPECT_EQ(ReadAll(FilePath("FernlogOutbox.dat.bad")), cut);
    const QString told = QStringLiteral(
                             "%1 message(s) read, %2 lost; the file is kept as "
                             "FernlogOutbox.dat.bad")
                             .arg(subjects.size())
                             .arg(40 - subjects.size());
    EXPECT_EQ(events.filter(told).size(), 1) << events.join('\n').toStdString();
    EXPECT_EQ(StatusList::Lines().filter(told).size(), 1);

    // A file of the earlier version cut inside a message says no number.
    int lost = 0;
    QByteArray earlier = Outbox::Encode({Message(1), Message(2)});
    earlier.remove(0, earlier.indexOf("\"messages\""));
    EXPECT_EQ(Outbox::Salvage("{" + earlier.left(earlier.size() - 60), lost).size(), 1u);
    EXPECT_EQ(lost, -1);
}

// The server has answered the end of the message and takes its time over
// QUIT: the message is off the disk already, so a restart (the program
// killed in that wait) does not send it again.
TEST_F(OutboxDeliveryTest, MessageTakenIsOffTheDiskBeforeQuit) {
    SmtpServer::Options stalling;
    stalling.stall = "QUIT";
    SmtpServer smtp(stalling);
    Use(smtp);
    Mail::Message taken;
    taken.AddRecipient("", "admin@corvane.test");
    taken.SetSubject("Taken");
    taken.SetFromAddress("monitor@corvane.test");
    smtp.UseInSettings(2);  // the connection check's QUIT stalls too
    EmailNotification::SetupMailer();
    Outbox::Post(taken, "EmailErrors");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QStringList commands = smtp.Commands();
            const int data = commands.indexOf("DATA");
            return data >= 0 && commands.mid(data).contains("QUIT");
        },
        20000));
    EXPECT_TRUE(Outbox::Delivering());
    EXPECT_FALSE(ReadAll(FilePath("FernlogOutbox.dat")).contains("Taken"));
    EXPECT_EQ(Outbox::Counts().sent, 1);

    // Stop waits no longer than the time-out for the QUIT that never comes.
    QElapsedTimer stopped;
    stopped.start();
    Outbox::Stop();
    EXPECT_LT(stopped.elapsed(), 2000 + 1000);
    // The cancelled exchange ends by itself within its QUIT bound.
    EXPECT_TRUE(QTest::qWaitFor([] { return !Outbox::Delivering(); }, 3000));
    Outbox::Reset();
    EmailNotification::SetupMailer();
    Outbox::Resume();
    EXPECT_TRUE(Outbox::Idle());
    EXPECT_EQ(smtp.Messages().size(), 1u);
}
