// The channel outbox of fernlog --headless killed during a delivery and
// started again: the notice arrives, with the same delivery id.
#include <QFile>
#include <QTest>
#include <csignal>

#include "core/ChannelOutbox.h"
#include "core/Channels.h"
#include "core/Settings.h"
#include "support/HeadlessProgram.h"
#include "support/SmtpServer.h"
#include "support/WebReceiver.h"

using ChannelOutboxRestartTest = MailingTest;

TEST_F(ChannelOutboxRestartTest, KillDuringTheDeliveryThenRestartDelivers) {
    WebReceiver hook({0, 200});                       // the first attempt never gets its answer
    ConfigParameters.ServerFailureEmailAddress = "";  // no start or stop e-mail
    ASSERT_TRUE(Settings::SaveConfigFile());
    ASSERT_TRUE(Channels::Add({"hook", "webhook", hook.Url(), {}, {}, {}, 0, false}, {},
                              {"test", "test", AlarmHandling::Origin::Command}));
    ChannelOutbox::Entry e;
    e.channel = "hook";
    e.event = "alarm.opened";
    e.delivery = "0b5e6c1e-1d7c-4a57-9d2b-3f0d8f0a1c11";
    e.body = R"({"version":1,"event":"alarm.opened"})";
    QFile outbox(FilePath(ChannelOutbox::FileName()));
    ASSERT_TRUE(outbox.open(QIODevice::WriteOnly) && outbox.write(ChannelOutbox::Encode({e})) > 0);
    outbox.close();
    {
        HeadlessProgram first(Dir());
        ASSERT_TRUE(first.Started());
        ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Requests().size() == 1; }, 20000))
            << first.Output().toStdString();
        first.Signal(SIGKILL);
        ASSERT_TRUE(first.Ended(10000));
    }
    HeadlessProgram second(Dir());
    ASSERT_TRUE(QTest::qWaitFor([&] { return hook.Requests().size() == 2; }, 20000))
        << second.Output().toStdString();
    ASSERT_TRUE(second.Told("delivered to channel hook")) << second.Output().toStdString();
    EXPECT_TRUE(second.Stop());
    EXPECT_EQ(hook.Requests()[1].Header("X-Fernlog-Delivery"), e.delivery);
    EXPECT_FALSE(ReadAll(FilePath(ChannelOutbox::FileName())).contains("alarm.opened"));
}
