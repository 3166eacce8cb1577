// Notices to webhooks and commands through the channel outbox: retried as
// e-mail is, in lanes of their own, and told when they fail for good.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include "common/Clock.h"
#include "core/ChannelOutbox.h"
#include "core/Channels.h"
#include "core/EmailNotification.h"
#include "core/Notices.h"
#include "core/Options.h"
#include "core/Timings.h"
#include "support/SmtpServer.h"
#include "support/WebReceiver.h"
#include "web/Render.h"
#include "web/Snapshot.h"

namespace {

class ChannelOutboxTest : public MailingTest {
  protected:
    void SetUp() override {
        MailingTest::SetUp();
        Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0)));
        Timings short_;
        short_.channelMs = 1000;
        Waits::SetForTest(short_);
    }

    static void RetryFor(int minutes) {
        Options::Values values;
        values.retryMinutes = minutes;
        ASSERT_TRUE(Options::Save(values));
    }

    static void Add(const Channels::Channel& c, const QString& secret = {}) {
        QString error;
        ASSERT_TRUE(
            Channels::Add(c, secret, {"test", "test", AlarmHandling::Origin::Command}, &error))
            << error.toStdString();
    }

    static Notices::Event Opened() {
        Notices::Event e;
        e.name = "alarm.opened";
        e.alarmId = 4;
        e.state = "open";
        e.reading = "12.5";
        e.value = 12.5;
        e.deviceName = "Kitchen";
        e.sensorId = 9;
        e.sensorName = "Freezer";
        e.port = 1;
        return e;
    }

    // A shell script in the test's folder; `text` is its body.
    QString Script(const QString& name, const QByteArray& text) {
        const QString path = scripts.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + text) > 0);
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    // The next attempt's pause passes and the outbox looks again.
    static void NextAttempt(int seconds) {
        Clock::AdvanceForTest(seconds);
        ChannelOutbox::Resume();
    }

    QTemporaryDir scripts;
};

}  // namespace

// The receiver refuses twice, then takes the notice: it has three signed
// attempts with one delivery id, and a hanging channel beside it delays
// none of them.
TEST_F(ChannelOutboxTest, WebhookRetriedUntilTakenWithOneDeliveryIdWhileAnotherHangs) {
    RetryFor(30);
    WebReceiver hook({500, 500, 200});
    WebReceiver stuck({0});
    Add({"hook", "webhook", hook.Url(), {}, {}, {}, 0, false}, "k3y");
    Add({"stuck", "webhook", stuck.Url(), {}, {}, {}, 0, false});
    Notices::Tell(Opened());
    const auto retried = [](int n) {
        return QTest::qWaitFor([n] { return ChannelOutbox::Counts()["hook"].retried == n; }, 10000);
    };
    ASSERT_TRUE(retried(1));
    NextAttempt(60);
    ASSERT_TRUE(retried(2));
    NextAttempt(120);
    ASSERT_TRUE(
        QTest::qWaitFor([] { return ChannelOutbox::Counts()["hook"].delivered == 1; }, 10000));
    ChannelOutbox::Drain(5000);

    const auto& got = hook.Requests();
    ASSERT_EQ(got.size(), 3u);
    for (const auto& r : got) {
        EXPECT_TRUE(r.SignedWith("k3y"));
        EXPECT_EQ(r.Header("X-Fernlog-Delivery"), got[0].Header("X-Fernlog-Delivery"));
        EXPECT_EQ(r.Header("X-Fernlog-Event"), "alarm.opened");
        EXPECT_EQ(r.Header("Content-Type"), "application/json");
    }
    const QJsonObject doc = QJsonDocument::fromJson(got[0].body).object();
    EXPECT_EQ(doc["version"].toInt(), 1);
    EXPECT_EQ(doc["site"].toString(), "Cold Chain Ltd");
    EXPECT_EQ(doc["alarm"]["value"].toDouble(), 12.5);
    EXPECT_EQ(doc["sensor"]["name"].toString(), "Freezer");
    const auto counts = ChannelOutbox::Counts();
    EXPECT_EQ(counts["hook"].delivered, 1);
    EXPECT_EQ(counts["hook"].retried, 2);
    EXPECT_EQ(counts["hook"].waiting, 0);
    EXPECT_GE(stuck.Requests().size(), 1u);
    EXPECT_EQ(counts["stuck"].waiting, 1);  // paused before its next attempt
}

// A command gets the document on standard input; the first run hangs, is
// ended after the channel time-out and tried again.
TEST_F(ChannelOutboxTest, CommandGetsTheDocumentAndAHangingRunIsEndedAndRetried) {
    RetryFor(30);
    const QString script = Script("page",
                                  "if [ -e \"$0.ran\" ]; then cat > \"$0.in\"; exit 0; fi\n"
                                  "touch \"$0.ran\"\nexec sleep 60\n");
    Add({"pager", "command", {}, {"alarm.opened"}, {"Kitchen"}, {script}, 0, false});
    Notices::Tell(Opened());
    Notices::Event other = Opened();
    other.deviceName = "Cellar";  // not one of its devices
    Notices::Tell(other);
    ASSERT_TRUE(
        QTest::qWaitFor([] { return ChannelOutbox::Counts()["pager"].retried == 1; }, 10000));
    NextAttempt(60);
    ASSERT_TRUE(ChannelOutbox::Drain(10000));
    EXPECT_EQ(ChannelOutbox::Counts()["pager"].delivered, 1);
    const QJsonObject doc = QJsonDocument::fromJson(ReadAll(script + ".in")).object();
    EXPECT_EQ(doc["event"].toString(), "alarm.opened");
    EXPECT_EQ(doc["device"]["name"].toString(), "Kitchen");
}

// Without retries a failed channel is final at once: the administrator
// hears of it by e-mail, and the status and metrics list it.
TEST_F(ChannelOutboxTest, AChannelFailedForGoodIsToldToTheAdministratorByEmail) {
    SmtpServer mail;
    ASSERT_TRUE(mail.IsRunning()) << mail.Error().toStdString();
    mail.UseInSettings(5);
    EmailNotification::SetupMailer();
    Add({"hook",
         "webhook",
         QStringLiteral("http://127.0.0.1:%1/").arg(SmtpServer::ClosedPort()),
         {},
         {},
         {},
         0,
         false});
    Notices::Tell(Opened());
    ASSERT_TRUE(ChannelOutbox::Drain(10000));
    ASSERT_TRUE(DeliverOutbox());
    ASSERT_EQ(mail.Messages().size(), 1u);
    EXPECT_EQ(mail.Messages()[0].rcptTos, QStringList{"admin@corvane.test"});
    EXPECT_TRUE(mail.Messages()[0].body.contains("channel hook"))
        << mail.Messages()[0].body.toStdString();
    ASSERT_EQ(Notices::Failures().size(), 1);
    const Web::Snapshot s = Web::Take(false);
    EXPECT_TRUE(Web::Metrics(s).contains("fernlog_notifications_failed_total{channel=\"hook\"} 1"));
    EXPECT_TRUE(Web::StatusJson(s).contains("\"notifications\""));
}

// An Alertmanager channel's cycles: failures in a row are retries while the
// retry period lasts, the first past it is told once, and a success starts
// the count again.
TEST_F(ChannelOutboxTest, SyncFailuresAreRetriesUntilThePeriodEndsThenToldOnce) {
    RetryFor(10);
    ChannelOutbox::CountSync("am", false, "HTTP 500");
    Clock::AdvanceForTest(5 * 60);
    ChannelOutbox::CountSync("am", false, "HTTP 500");
    EXPECT_TRUE(Notices::Failures().isEmpty());
    Clock::AdvanceForTest(6 * 60);
    ChannelOutbox::CountSync("am", false, "HTTP 500");
    ChannelOutbox::CountSync("am", false, "HTTP 500");
    ASSERT_EQ(Notices::Failures().size(), 1);
    EXPECT_EQ(Notices::Failures()[0].channel, "am");
    ChannelOutbox::CountSync("am", true, {});
    ChannelOutbox::CountSync("am", false, "HTTP 500");
    const ChannelOutbox::Figures f = ChannelOutbox::Counts().value("am");
    EXPECT_EQ(f.delivered, 1);
    EXPECT_EQ(f.retried, 4);
    EXPECT_EQ(f.failed, 1);
    EXPECT_EQ(Notices::Failures().size(), 1);
}
