// fernlog alarms, alarm and audit, run as a user runs them, and the rules
// of the alarm handling store they share with the windows.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"
#include "support/HeadlessProgram.h"

namespace {

QJsonArray JsonArray(const ProgramRun& ran) {
    return QJsonDocument::fromJson(ran.out.toUtf8()).array();
}

// One statement on the handling store, as another program would run it;
// the database's refusal, or empty.
QString Exec(const QString& path, const QString& sql) {
    QString error;
    const QString name = QStringLiteral("test-handling");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) return db.lastError().text();
        QSqlQuery query(db);
        if (!query.exec(sql)) error = query.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

// An open alarm (1) and one that has ended (2) in the test's zolo.mdb.
class AlarmCommandsTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        ProvisionDatabase();
        const QDateTime start = QDateTime::currentDateTime().addSecs(-600);
        ASSERT_TRUE(ServerDatabase::AddAlarmRecord(7, start, "Kitchen", "Freezer", "12.5", 0, -1));
        ASSERT_TRUE(ServerDatabase::AddAlarmRecord(8, start.addSecs(-60), "Kitchen", "Door", "Open",
                                                   0, -1));
        Rows(QStringLiteral("UPDATE tblAlarms SET AlarmEnd = '%1', AlarmActive = 0, "
                            "CauseOfAlarm = 'The door is open.' WHERE IDNum = 2")
                 .arg(Clock::DbStamp(start)));
    }
};

}  // namespace

TEST_F(AlarmCommandsTest, AcknowledgementIsTheAlarmsStateUntilWithdrawnAndBadInputChangesNothing) {
    EXPECT_EQ(RunFernlog(Dir(), {"alarm", "ack", "2", "--by", "Ann"}).status, 2);  // closed
    EXPECT_EQ(RunFernlog(Dir(), {"alarm", "ack", "9", "--by", "Ann"}).status, 2);  // unknown
    EXPECT_EQ(RunFernlog(Dir(), {"alarm", "ack", "1", "--by", " "}).status, 2);
    ProgramRun ran = RunFernlog(Dir(), {"alarm", "ack", "1", "--by", "Ann", "--for", "4x"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err, "fernlog: --for takes a duration such as 90m, 4h or 2d, not '4x'\n");
    EXPECT_EQ(RunFernlog(Dir(), {"audit", "--json"}).out.trimmed(), "[\n]");

    ran = RunFernlog(Dir(), {"alarm", "ack", "1", "--by", "Ann", "--comment", "on my way"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    EXPECT_EQ(ran.out, "Alarm 1 acknowledged by Ann\n");
    QJsonArray alarms = JsonArray(RunFernlog(Dir(), {"alarms", "--json"}));
    ASSERT_EQ(alarms.size(), 2);
    EXPECT_EQ(alarms[0].toObject()["id"].toInt(), 1);  // newest first
    EXPECT_EQ(alarms[0].toObject()["state"].toString(), "acknowledged");
    EXPECT_EQ(alarms[0].toObject()["acknowledgedBy"].toString(), "Ann");
    EXPECT_TRUE(alarms[0].toObject()["end"].isNull());
    EXPECT_EQ(alarms[1].toObject()["state"].toString(), "closed");
    EXPECT_EQ(JsonArray(RunFernlog(Dir(), {"alarms", "--open", "--json"})).size(), 1);

    EXPECT_EQ(RunFernlog(Dir(), {"alarm", "unack", "1", "--by", "Bob"}).status, 0);
    EXPECT_EQ(RunFernlog(Dir(), {"alarm", "unack", "1", "--by", "Bob"}).status, 2);
    alarms = JsonArray(RunFernlog(Dir(), {"alarms", "--json"}));
    EXPECT_EQ(alarms[0].toObject()["state"].toString(), "open");
    EXPECT_TRUE(alarms[0].toObject()["acknowledgedBy"].isNull());

    // An acknowledgement with an expiry lapses by itself.
    Clock::SetForTest(QDateTime::currentDateTime());
    AlarmHandling::AlarmRef alarm;
    ASSERT_TRUE(AlarmHandling::LookUp(1, alarm));
    ASSERT_TRUE(AlarmHandling::Acknowledge(alarm, {"Cy", "cy", AlarmHandling::Origin::Window}, "",
                                           Clock::Now().addSecs(90 * 60)));
    std::optional<AlarmHandling::Acknowledgement> ack;
    ASSERT_TRUE(AlarmHandling::CurrentAcknowledgement(1, Clock::Now().addSecs(89 * 60), ack));
    EXPECT_TRUE(ack.has_value());
    ASSERT_TRUE(AlarmHandling::CurrentAcknowledgement(1, Clock::Now().addSecs(91 * 60), ack));
    EXPECT_FALSE(ack.has_value());
}

TEST_F(AlarmCommandsTest, TimelineAndAuditTrailKeepEveryActionAndVerifyFindsAChangedRow) {
    ASSERT_EQ(RunFernlog(Dir(), {"alarm", "ack", "1", "--by", "Ann"}).status, 0);
    ASSERT_EQ(
        RunFernlog(Dir(), {"alarm", "comment", "1", "--by", "Ann", "--text", "door shut"}).status,
        0);
    ProgramRun ran =
        RunFernlog(Dir(), {"alarm", "resolve", "1", "--by", "Bob", "--text", "defrosted"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    // As the window's Save writes it.
    const QStringList resolution = Rows("SELECT Resolution FROM tblAlarms WHERE IDNum = 1");
    ASSERT_EQ(resolution.size(), 1);
    EXPECT_TRUE(resolution[0].startsWith("Resolution Entered "));
    EXPECT_TRUE(resolution[0].endsWith("\rdefrosted"));

    const QJsonObject shown =
        QJsonDocument::fromJson(RunFernlog(Dir(), {"alarm", "show", "1", "--json"}).out.toUtf8())
            .object();
    QStringList kinds;
    for (const auto& event : shown["events"].toArray())
        kinds << event.toObject()["kind"].toString();
    EXPECT_EQ(kinds, (QStringList{"opened", "acknowledged", "commented", "resolved"}));
    EXPECT_EQ(shown["events"].toArray()[2].toObject()["text"].toString(), "door shut");

    const QJsonArray trail = JsonArray(RunFernlog(Dir(), {"audit", "--json"}));
    ASSERT_EQ(trail.size(), 3);
    EXPECT_EQ(trail[2].toObject()["action"].toString(), "resolve");
    EXPECT_EQ(trail[2].toObject()["by"].toString(), "Bob");
    EXPECT_EQ(trail[2].toObject()["origin"].toString(), "command");
    EXPECT_EQ(trail[2].toObject()["alarm"].toInt(), 1);
    EXPECT_EQ(trail[2].toObject()["device"].toString(), "Kitchen");
    EXPECT_TRUE(trail[2].toObject()["new"].toString().endsWith("defrosted"));
    EXPECT_FALSE(trail[2].toObject()["user"].toString().isEmpty());
    EXPECT_EQ(RunFernlog(Dir(), {"audit", "--verify"}).status, 0);

    // The store refuses changes; a row changed behind its back is found.
    const QString store = FilePath(AlarmHandling::FileName());
    EXPECT_TRUE(Exec(store, "UPDATE audit SET by = 'Eve' WHERE id = 2").contains("append-only"));
    EXPECT_TRUE(Exec(store, "DELETE FROM audit WHERE id = 2").contains("append-only"));
    ASSERT_EQ(Exec(store, "DROP TRIGGER auditNoUpdate"), "");
    ASSERT_EQ(Exec(store, "UPDATE audit SET new = 'nothing' WHERE id = 2"), "");
    ran = RunFernlog(Dir(), {"audit", "--verify"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(ran.err.contains("from row 2 on")) << ran.err.toStdString();
}

// Silences and maintenance windows from a shell; bad input gets exit 2 and
// one line naming it, and writes nothing.
TEST_F(AlarmCommandsTest, SilencesAndMaintenanceWindowsAndTheirBadInput) {
    ASSERT_TRUE(ServerDatabase::AddServer("Kitchen", "QX700-5", "127.0.0.2", "", -1, "",
                                          "chef@corvane.test,", 0));
    ASSERT_TRUE(ServerDatabase::AddSensor(1, "Freezer", 0, "", "Temperature"));
    const QList<std::pair<QStringList, QString>> bad{
        {{"silence", "--device", "Pantry", "--for", "2h", "--by", "ann"},
         "there is no device named 'Pantry'; the devices are: Kitchen"},
        {{"silence", "--device", "Kitchen", "--port", "7", "--for", "2h", "--by", "ann"},
         "Kitchen has no sensor on port 7; its ports are: 0"},
        {{"silence", "--device", "Kitchen", "--for", "2x", "--by", "ann"},
         "--for takes a duration such as 90m, 4h or 2d, not '2x'"},
        {{"silence", "--device", "Kitchen", "--until", "2020-01-01T00:00", "--by", "ann"},
         "--until 2020-01-01T00:00 has passed"},
        {{"silence", "--device", "Kitchen", "--for", "2h", "--by", " "},
         "silence needs --by NAME: who acts"},
        {{"maintenance", "add", "--device", "Kitchen", "--from", "2030-01-02T04:00", "--to",
          "2030-01-02T02:00", "--by", "ann"},
         "the window ends (2030-01-02T02:00) before it starts (2030-01-02T04:00)"},
        {{"maintenance", "add", "--device", "Kitchen", "--weekly", "Sun 2am", "--by", "ann"},
         "--weekly takes a day and a period such as \"Sun 02:00-04:00\", not 'Sun 2am'"},
        {{"unsilence", "5", "--by", "ann"}, "there is no silence 5"},
        {{"maintenance", "remove", "5", "--by", "ann"}, "there is no maintenance window 5"},
    };
    for (const auto& [args, line] : bad) {
        const ProgramRun ran = RunFernlog(Dir(), args);
        EXPECT_EQ(ran.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(ran.err, "fernlog: " + line + "\n") << args.join(' ').toStdString();
    }
    EXPECT_EQ(RunFernlog(Dir(), {"audit", "--json"}).out.trimmed(), "[\n]");

    ProgramRun ran = RunFernlog(Dir(), {"silence", "--device", "Kitchen", "--port", "0", "--for",
                                        "2h", "--by", "ann", "--comment", "defrosting"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    EXPECT_EQ(ran.out, "1\n");
    ran = RunFernlog(Dir(), {"maintenance", "add", "--device", "Kitchen", "--weekly",
                             "sunday 2:00-04:00", "--by", "bob"});
    ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
    const QJsonObject silence = JsonArray(RunFernlog(Dir(), {"silences", "--json"}))[0].toObject();
    EXPECT_EQ(silence["device"].toString(), "Kitchen");
    EXPECT_EQ(silence["port"].toInt(), 0);
    EXPECT_EQ(silence["by"].toString(), "ann");
    EXPECT_EQ(silence["comment"].toString(), "defrosting");
    EXPECT_EQ(QDateTime::fromString(silence["from"].toString(), Qt::ISODate)
                  .secsTo(QDateTime::fromString(silence["until"].toString(), Qt::ISODate)),
              7200);
    EXPECT_EQ(JsonArray(RunFernlog(Dir(), {"maintenance", "list", "--json"}))[0]
                  .toObject()["weekly"]
                  .toString(),
              "Sun 02:00-04:00");
    EXPECT_EQ(RunFernlog(Dir(), {"unsilence", "1", "--by", "bob"}).status, 0);
    EXPECT_EQ(JsonArray(RunFernlog(Dir(), {"silences", "--json"})).size(), 0);
    QStringList actions;
    for (const auto& row : JsonArray(RunFernlog(Dir(), {"audit", "--json"}))) {
        actions << row.toObject()["action"].toString() + " " + row.toObject()["origin"].toString();
    }
    EXPECT_EQ(actions,
              (QStringList{"silence command", "maintenance command", "remove silence command"}));
}
