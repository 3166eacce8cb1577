// Warnings that e-mail can go nowhere: where an owner looks (the service
// log, the status list, the status page and JSON), and gone once mended.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "common/EventLog.h"
#include "core/MailWarnings.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusList.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "web/Render.h"
#include "web/Snapshot.h"

namespace {

QStringList JsonWarnings() {
    QStringList warnings;
    const QJsonObject root = QJsonDocument::fromJson(Web::StatusJson(Web::Take(false))).object();
    for (const QJsonValue& v : root.value("warnings").toArray()) warnings << v.toString();
    return warnings;
}

QStringList WarningLines() {
    return StatusList::Lines().filter(MailWarnings::StatusKey());
}
}  // namespace

using MailWarningsTest = FernlogTest;

TEST_F(MailWarningsTest, ToldAtStartWhereverTheOwnerLooksAndGoneOnceMended) {
    ProvisionDatabase();
    WriteValidSettings(60);  // no SMTP host, no administrator address
    QStringList events;
    EventLog::SetSink([&events](const QString& line) { events << line.section(u' ', 1); });
    {
        DialogScript dialogs;
        ServerDatabase::AddServer("Kitchen", kKeeperModel, "127.0.0.2", "", 1, "",
                                  "chef@corvane.test,", -1);
        ServerDatabase::AddServer("Cellar", kKeeperModel, "127.0.0.3", "", 1, "", "", -1);
        ServerDatabase::AddServer("Lab", kKeeperModel, "127.0.0.4", "", 1, "", "lab at corvane,",
                                  -1);
        // Not polled, or nothing of it alarms: no warning of their own.
        ServerDatabase::AddServer("Spare", kKeeperModel, "127.0.0.5", "", 0, "", "", -1);
        ServerDatabase::AddServer("Hub", kKeeperModel, "127.0.0.6", "", 1, "", "", -1);
        for (const qint64 id : {1, 2, 3, 4}) {
            ServerDatabase::AddSensor(id, "Probe", 0, "", "Temperature");
        }
    }
    Startup::RunActivationBlock();
    Polling::StopPollTimer();
    const QStringList expected{
        "No alarm or device-failure e-mail can be sent: no SMTP host is set",
        "Alarms of device Lab are not mailed: \"lab at corvane\" is not a valid email address.",
        "Alarms of device Cellar are not mailed: it has no alarm e-mail address",
        "Device failures are not mailed: no Administrator Email Address is set"};
    EXPECT_EQ(JsonWarnings(), expected);
    EXPECT_TRUE(Web::StatusPage(Web::Take(false))
                    .contains("<li>Alarms of device Cellar are not mailed: it has no alarm e-mail "
                              "address</li>"));
    QStringList lines;
    for (const QString& warning : expected) lines << MailWarnings::StatusKey() + warning;
    EXPECT_EQ(WarningLines(), lines);
    for (const QString& warning : expected) {
        EXPECT_EQ(events.count("WARNING " + warning), 1) << events.join('\n').toStdString();
    }

    // The settings mended (settings set SmtpHost, AdminEmail): taken up by
    // the activation block; the register (device set --emails): by the
    // check after the next cycle.
    ConfigParameters.Host = "mail.corvane.test";
    ConfigParameters.ServerFailureEmailAddress = "admin@corvane.test";
    ASSERT_TRUE(Settings::SaveConfigFile());
    Startup::RunActivationBlock();
    Polling::StopPollTimer();
    EXPECT_EQ(JsonWarnings(), expected.mid(1, 2));
    ASSERT_TRUE(ServerDatabase::UpdateServerEmail(2, "cellar@corvane.test,"));
    ASSERT_TRUE(ServerDatabase::UpdateServerEmail(3, "lab@corvane.test,"));
    MailWarnings::Check();
    EXPECT_EQ(JsonWarnings(), QStringList());
    EXPECT_FALSE(Web::StatusPage(Web::Take(false)).contains("id=\"warnings\""));
    EXPECT_EQ(WarningLines(), QStringList());
    for (const QString& warning : expected) {
        EXPECT_EQ(events.count("INFO    Mended: " + warning), 1) << events.join('\n').toStdString();
        EXPECT_EQ(events.count("WARNING " + warning), 1);
    }
}
