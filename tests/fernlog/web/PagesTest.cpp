// The pages beside the status page and their JSON, asked without a
// listener: a sensor's history, the silences and the audit trail.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/DataLogs.h"
#include "core/SensorHistory.h"
#include "core/Silences.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "web/Listener.h"

namespace {
// Sensor 5 logged every minute from 06:00 to 07:59 of the 7th of December
// 2026, but for an outage from 07:00 to 07:29; now is 08:00.
class PagesTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        Clock::SetForTest(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
        for (int m = 0; m < 120; ++m) {
            if (m >= 60 && m < 90) continue;
            DataLogs::SaveReading(Dir(), 5, "Probe <i>", "Walk-in <b>", "%RH", 40 + m % 7,
                                  QDateTime(QDate(2026, 12, 7), QTime(6, 0)).addSecs(60 * m));
        }
    }
    static Web::Response Get(const QString& path, const QString& query = {}) {
        return Web::Respond({"GET", path, {}, {}, query}, {});
    }
    const AlarmHandling::Actor ann{"ann <x>", "tester", AlarmHandling::Origin::Command};
};
}  // namespace

TEST_F(PagesTest, HistoryIsChartedWithItsGapAndServedAsJson) {
    ASSERT_TRUE(SensorHistory::SignOffDay(5, QDate(2026, 12, 7), ann));
    ProvisionDatabase();
    ASSERT_TRUE(ServerDatabase::AddAlarmRecord(5, QDateTime(QDate(2026, 12, 7), QTime(7, 40)),
                                               "Walk-in", "Probe", "46", 4, -1));
    const Web::Response page = Get("/sensor/5", "range=24h");
    ASSERT_EQ(page.status, 200) << page.body.data();
    const QString html = QString::fromUtf8(page.body);
    EXPECT_TRUE(html.contains("<title>Walk-in &lt;b&gt; - Probe &lt;i&gt;</title>"));
    EXPECT_TRUE(html.contains("name=\"viewport\""));
    // One line before the outage, one after it.
    const QRegularExpressionMatch line = QRegularExpression(" d=\"([^\"]*)\"").match(html);
    ASSERT_TRUE(line.hasMatch());
    EXPECT_EQ(line.captured(1).count('M'), 2) << line.captured(1).toStdString();
    // The open alarm is shaded from its start to now: 20 minutes of 24 hours.
    const QRegularExpressionMatch alarm =
        QRegularExpression("<rect class=\"alarm\" x=\"(\\d+)\" y=\"\\d+\" width=\"(\\d+)\"")
            .match(html);
    ASSERT_TRUE(alarm.hasMatch());
    EXPECT_NEAR(alarm.captured(2).toInt(), 736 * 20 / 1440, 1);
    EXPECT_TRUE(html.contains("<tr><td>2026-12-07</td><td>40</td><td>46</td>"));
    EXPECT_TRUE(html.contains("<td>90</td><td>ann &lt;x&gt;, 12/7/2026 8:00:00 AM</td>"));
    EXPECT_TRUE(html.contains("<a href=\"5?range=30d\">30d</a>"));

    const Web::Response json =
        Get("/api/v1/sensors/5/history", "from=2026-12-07T06:58&to=2026-12-07T07%3A31%3A00");
    ASSERT_EQ(json.status, 200) << json.body.data();
    EXPECT_EQ(json.contentType, "application/json");
    const QJsonObject root = QJsonDocument::fromJson(json.body).object();
    EXPECT_EQ(root["sensorId"].toInt(), 5);
    EXPECT_EQ(root["unit"].toString(), "%RH");
    const QJsonArray points = root["points"].toArray();
    ASSERT_EQ(points.size(), 5);  // 06:58, 06:59, the gap, 07:30, 07:31
    EXPECT_TRUE(points[2].toArray()[1].isNull());
    EXPECT_EQ(points[3].toArray()[1].toDouble(), 40 + 90 % 7);
    const QDateTime first = QDateTime::fromString(points[0].toArray()[0].toString(), Qt::ISODate);
    EXPECT_EQ(first, QDateTime(QDate(2026, 12, 7), QTime(6, 58)));
}

TEST_F(PagesTest, UnknownIdsAndBadRangesAreRefusedWithTheReason) {
    EXPECT_EQ(Get("/sensor/6").status, 404);
    EXPECT_EQ(Get("/sensor/05").status, 404);
    EXPECT_EQ(Get("/sensor/x").status, 404);
    EXPECT_EQ(Get("/api/v1/sensors/6/history").status, 404);
    const auto refused = [](const Web::Response& r, const char* reason) {
        EXPECT_EQ(r.status, 400) << reason;
        EXPECT_TRUE(r.body.contains(reason)) << r.body.data();
    };
    refused(Get("/sensor/5", "range=1y"), "the range &quot;1y&quot; is not one of 24h, 7d, 30d");
    refused(Get("/api/v1/sensors/5/history", "from=yesterday"),
            "from: \"yesterday\" is not an ISO 8601 time");
    refused(Get("/api/v1/sensors/5/history", "from=2026-12-07T08:00&to=2026-12-07T07:00"),
            "from is after to");
    refused(Get("/api/v1/sensors/5/history", "from=2026-10-01"), "at most 31 days at once");
    refused(Get("/api/v1/audit", "page=0"), "page: \"0\" is not a page number");
}

TEST_F(PagesTest, MaintenanceAndAuditListWhatWasDone) {
    EXPECT_EQ(QJsonDocument::fromJson(Get("/api/v1/audit").body)["total"].toInt(), 0);
    qint64 id = 0;
    ASSERT_TRUE(
        Silences::AddSilence(1, "Walk-in <b>", 2, Clock::Now().addSecs(3600), ann, "defrost", id));
    Silences::Window window;
    window.deviceId = 1;
    window.device = "Walk-in <b>";
    window.weekly = Silences::ParseWeekly("Mon 07:00-09:00");  // the 7th is a Monday
    ASSERT_TRUE(Silences::AddWindow(window, ann, id));

    const QJsonObject m = QJsonDocument::fromJson(Get("/api/v1/maintenance").body).object();
    ASSERT_EQ(m["silences"].toArray().size(), 1);
    EXPECT_EQ(m["silences"][0]["port"].toInt(), 2);
    EXPECT_EQ(m["windows"][0]["weekly"].toString(), "Mon 07:00-09:00");
    const QString page = QString::fromUtf8(Get("/maintenance").body);
    EXPECT_TRUE(page.contains("<td>Walk-in &lt;b&gt;</td><td>2</td>"));
    EXPECT_TRUE(page.contains("every Mon 07:00-09:00</td><td>in force</td>"));

    const QJsonObject audit = QJsonDocument::fromJson(Get("/api/v1/audit").body).object();
    EXPECT_TRUE(audit["verified"].toBool());
    EXPECT_EQ(audit["total"].toInt(), 2);
    EXPECT_EQ(audit["rows"][0]["action"].toString(), "maintenance");  // newest first
    const QString trail = QString::fromUtf8(Get("/audit").body);
    EXPECT_TRUE(trail.contains("All 2 rows match their chain."));
    EXPECT_TRUE(trail.contains("ann &lt;x&gt; (tester)"));
}
