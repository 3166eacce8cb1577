// fernlog channel and channels, run as a user runs them.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "support/FernlogFixtures.h"
#include "support/HeadlessProgram.h"
#include "support/WebReceiver.h"

namespace {

class ChannelCommandsTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
    }
    ProgramRun Fernlog(const QStringList& args, const QByteArray& input = {}) {
        return RunFernlog(Dir(), args, input);
    }
};

}  // namespace

TEST_F(ChannelCommandsTest, BadInputEndsWithStatusTwoAndStoresNothing) {
    ASSERT_EQ(Fernlog({"channel", "add", "webhook", "hook", "--url", "http://127.0.0.1:9/h",
                       "--secret-stdin"},
                      "k3y\n")
                  .status,
              0);
    // A plain file, readable but not executable, whoever runs the test.
    const QString plain = FilePath("plain.txt");
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("text\n") == 5);
    file.close();
    ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QList<QPair<QStringList, QByteArray>> bad{
        {{"channel", "add", "webhook", "ftp", "--url", "ftp://127.0.0.1/"}, {}},
        {{"channel", "add", "webhook", "nosecret", "--url", "http://127.0.0.1/", "--secret-stdin"},
         {}},
        {{"channel", "add", "webhook", "hook", "--url", "http://127.0.0.1/"}, {}},
        {{"channel", "add", "webhook", "odd", "--url", "http://127.0.0.1/", "--events",
          "alarm.opened,alarm.melted"},
         {}},
        {{"channel", "add", "command", "notaprogram", "--", plain}, {}},
        {{"channel", "add", "heartbeat", "beat", "--url", "http://127.0.0.1/"}, {}},
    };
    for (const auto& [args, input] : bad) {
        const ProgramRun ran = Fernlog(args, input);
        EXPECT_EQ(ran.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(ran.err.count('\n'), 1) << ran.err.toStdString();
        EXPECT_TRUE(ran.err.startsWith("fernlog: ")) << ran.err.toStdString();
    }
    const ProgramRun listed = Fernlog({"channels", "--json"});
    const QJsonArray channels = QJsonDocument::fromJson(listed.out.toUtf8()).array();
    ASSERT_EQ(channels.size(), 1) << listed.out.toStdString();
    EXPECT_EQ(channels[0]["name"].toString(), "hook");
    EXPECT_TRUE(channels[0]["signed"].toBool());
}

TEST_F(ChannelCommandsTest, TestSendsATestEventAndRemoveForgetsTheChannel) {
    WebReceiver hook({200});
    ASSERT_EQ(Fernlog({"channel", "add", "webhook", "hook", "--url", hook.Url()}).status, 0);
    const ProgramRun tested = Fernlog({"channel", "test", "hook"});
    EXPECT_EQ(tested.status, 0) << tested.err.toStdString();
    ASSERT_EQ(hook.Requests().size(), 1u);
    EXPECT_EQ(hook.Requests()[0].Header("X-Fernlog-Event"), "test");
    EXPECT_EQ(Fernlog({"channel", "remove", "hook"}).status, 0);
    EXPECT_EQ(Fernlog({"channel", "test", "hook"}).status, 2);
}
