// fernlog's state copied into a real Alertmanager on loopback: alarms and
// told failures with their labels, their ends, acknowledgements as silences.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/AlertmanagerSync.h"
#include "core/Journal.h"
#include "core/Settings.h"
#include "db/ServerDatabase.h"
#include "support/AlertmanagerServer.h"
#include "support/FernlogFixtures.h"

namespace {

class AlertmanagerSyncTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        if (AlertmanagerServer::Program().isEmpty()) {
            GTEST_SKIP() << "prometheus-alertmanager is not installed (scripts/setup-deps)";
        }
        ProvisionDatabase();
        ConfigParameters.OrgName = QStringLiteral("North Depot");
        ConfigParameters.UpdateRate = 60;
        ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", QString(), "127.0.0.2", QString(), 1,
                                              QString(), "a@x.test,", 0));
        ASSERT_TRUE(ServerDatabase::AddServer("Cellar", QString(), "127.0.0.3", QString(), 1,
                                              QString(), "a@x.test,", 0));
        ASSERT_TRUE(am_.Ready()) << am_.Problem().toStdString();
        AlertmanagerSync::SetOutcomeHandler(
            [this](const QString&, bool delivered, const QString& reason) {
                outcomes_ << (delivered ? QStringLiteral("delivered") : reason);
            });
    }

    // One cycle's exchanges, to their end.
    void Sync() {
        const qsizetype before = outcomes_.size();
        AlertmanagerSync::AfterCycle({{"am", am_.Url(), {}}});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !AlertmanagerSync::Busy(); }, 40000));
        ASSERT_EQ(outcomes_.size(), before + 1);
        ASSERT_EQ(outcomes_.last(), "delivered");
    }

    // The freezer's alarm, begun a few minutes ago: its IDNum.
    qint64 OpenAlarm() {
        start_ = Clock::Now().addSecs(-300);
        start_ = start_.addMSecs(-start_.time().msec());
        EXPECT_TRUE(ServerDatabase::AddAlarmRecord(3, start_, "Kitchen", "Freezer", "41", 4, -1));
        return 1;
    }
    void CloseAlarm(qint64 id) {
        const auto written =
            ServerDatabase::UpdateRecord(ServerDatabase::MailedRow::Alarm, id,
                                         {{"AlarmEnd", Clock::DbStamp()}, {"AlarmActive", 0}});
        ASSERT_EQ(written, ServerDatabase::Written::Done);
    }

    AlertmanagerServer am_;
    QStringList outcomes_;
    QDateTime start_;
};

QJsonObject WithName(const QJsonArray& alerts, const QString& name) {
    for (const QJsonValue& a : alerts) {
        if (a["labels"]["alertname"].toString() == name) return a.toObject();
    }
    return {};
}

TEST_F(AlertmanagerSyncTest, AnAlarmAndAToldFailureArriveWithTheirLabels) {
    OpenAlarm();
    // The Cellar's outage was mailed (its second failed cycle).
    ASSERT_TRUE(ServerDatabase::AddServerFailure(2, "Cellar"));
    ASSERT_TRUE(ServerDatabase::SetEmailSent(ServerDatabase::MailedRow::ServerFailure, 1,
                                             Clock::DbStamp()));
    Sync();
    const QJsonArray alerts = am_.Alerts();
    ASSERT_EQ(alerts.size(), 2) << QJsonDocument(alerts).toJson().toStdString();
    const QJsonObject alarm = WithName(alerts, "FernlogSensorAlarm");
    EXPECT_EQ(alarm["labels"].toObject(), (QJsonObject{{"alertname", "FernlogSensorAlarm"},
                                                       {"site", "North Depot"},
                                                       {"device", "Kitchen"},
                                                       {"sensor", "Freezer"},
                                                       {"sensor_id", "3"},
                                                       {"severity", "critical"}}));
    EXPECT_EQ(QDateTime::fromString(alarm["startsAt"].toString(), Qt::ISODateWithMs), start_);
    EXPECT_GT(QDateTime::fromString(alarm["endsAt"].toString(), Qt::ISODateWithMs),
              Clock::Now().addSecs(170));
    EXPECT_EQ(alarm["annotations"]["summary"].toString(), "Sensor Freezer on Kitchen is in alarm");
    const QJsonObject down = WithName(alerts, "FernlogDeviceDown");
    EXPECT_EQ(down["labels"].toObject(), (QJsonObject{{"alertname", "FernlogDeviceDown"},
                                                      {"site", "North Depot"},
                                                      {"device", "Cellar"},
                                                      {"severity", "warning"}}));

    // `channel test`: a short-lived alert of its own, and a refusal told.
    QString answer, error;
    EXPECT_TRUE(AlertmanagerSync::SendTest(am_.Url(), answer, &error)) << error.toStdString();
    EXPECT_TRUE(answer.startsWith("HTTP 200")) << answer.toStdString();
    EXPECT_FALSE(WithName(am_.Alerts(), "FernlogTest").isEmpty());
    EXPECT_FALSE(AlertmanagerSync::SendTest(QUrl("http://127.0.0.1:9/"), answer, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(AlertmanagerSyncTest, AClosedAlarmIsResolved) {
    const qint64 id = OpenAlarm();
    Sync();
    ASSERT_EQ(am_.Alerts().size(), 1);
    CloseAlarm(id);
    Sync();
    EXPECT_EQ(am_.Alerts().size(), 0) << QJsonDocument(am_.Alerts()).toJson().toStdString();
}

// While the database took no writes: the journal's close of the freezer's
// alarm and its opening of the door's count, not the table alone.
TEST_F(AlertmanagerSyncTest, RecordsWaitingInTheJournalCount) {
    const qint64 id = OpenAlarm();
    Journal::Change close;
    close.kind = Journal::Kind::AlarmClose;
    close.owner = 3;
    close.row = id;
    close.time = Clock::DbStamp();
    Journal::Change open;
    open.kind = Journal::Kind::AlarmOpen;
    open.owner = 4;
    open.ref = 7;
    open.time = Clock::DbStamp(start_);
    open.server = "Kitchen";
    open.sensor = "Door";
    open.currentData = "Open";
    QFile file(FilePath(Journal::FileName()));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Journal::Encode({close, open}, 8, Clock::DbStamp()));
    file.close();
    Sync();
    const QJsonArray alerts = am_.Alerts();
    ASSERT_EQ(alerts.size(), 1) << QJsonDocument(alerts).toJson().toStdString();
    EXPECT_EQ(alerts[0]["labels"]["sensor_id"].toString(), "4");
}

TEST_F(AlertmanagerSyncTest, AnAcknowledgementIsASilenceUntilTheAlarmCloses) {
    const qint64 id = OpenAlarm();
    ASSERT_TRUE(AlarmHandling::Acknowledge({id, "Kitchen", true},
                                           {"ann", "ann", AlarmHandling::Origin::Command},
                                           "defrosting", QDateTime()));
    // A second cycle, as after a restart, finds the silence and adds none.
    Sync();
    Sync();
    const QJsonArray silences = am_.Silences();
    ASSERT_EQ(silences.size(), 1) << QJsonDocument(silences).toJson().toStdString();
    const QJsonObject silence = silences[0].toObject();
    EXPECT_EQ(silence["status"]["state"].toString(), "active");
    EXPECT_EQ(silence["createdBy"].toString(), "ann");
    EXPECT_EQ(silence["comment"].toString(), "defrosting (fernlog alarm 1)");
    const QJsonArray alerts = am_.Alerts();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0]["status"]["silencedBy"].toArray(), QJsonArray{silence["id"]});

    CloseAlarm(id);
    Sync();
    const QJsonArray after = am_.Silences();
    ASSERT_EQ(after.size(), 1);
    EXPECT_EQ(after[0]["status"]["state"].toString(), "expired");
}

}  // namespace
