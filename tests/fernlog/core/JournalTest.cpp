// The record journal beside the database: its file, and the order in which
// the changes that waited reach the database.
#include <QFile>

#include "core/Journal.h"
#include "core/StatusList.h"
#include "support/FernlogFixtures.h"

using JournalTest = FernlogTest;

// A file as a run leaves it reads back to the changes it names, and what
// Encode writes of them reads back the same; a change without its record,
// and a last line cut short, are left out and named. A file that is no
// journal is kept aside, not lost.
TEST_F(JournalTest, FileReadsBackAsWrittenAndADamagedOneIsKept) {
    const QByteArray file =
        R"({"journal":1,"nextRef":"17","since":"3/7/2026 10:01:00 PM"}
{"change":"alarm-open","owner":"4","ref":"17","time":"2026-03-07 22:01:00","server":"Kitchen","sensor":"Freezer","currentData":"81","tol":5,"cause":"hot"}
{"change":"alarm-update","ref":"17","emailSent":"2026-03-07 22:01:02"}
{"change":"failure-back","owner":"2","time":"2026-03-07 22:02:00"}
{"change":"alarm-close","owner":"4","ref":"17","ti)";
    std::vector<Journal::Change> changes;
    qint64 next = 0;
    QString since;
    QString error;
    ASSERT_TRUE(Journal::Decode(file, changes, next, since, &error));
    EXPECT_EQ(error, "FernlogJournal.dat: 2 change(s) not understood, left out");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].kind, Journal::Kind::AlarmOpen);
    EXPECT_EQ(changes[0].owner, 4);
    EXPECT_EQ(changes[0].tol, 5);
    EXPECT_EQ(changes[0].server + "/" + changes[0].sensor + "/" + changes[0].currentData,
              "Kitchen/Freezer/81");
    EXPECT_EQ(changes[0].cause, "hot");
    EXPECT_EQ(changes[1].ref, 17);
    EXPECT_EQ(changes[1].emailSent, "2026-03-07 22:01:02");
    EXPECT_EQ(next, 17);
    std::vector<Journal::Change> again;
    ASSERT_TRUE(Journal::Decode(Journal::Encode(changes, next, since), again, next, since, &error));
    EXPECT_EQ(again, changes);
    EXPECT_EQ(since, "3/7/2026 10:01:00 PM");

    {
        QFile damaged(FilePath(Journal::FileName()));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write(file.mid(10));
    }
    EXPECT_TRUE(Journal::Empty());
    EXPECT_EQ(ReadAll(FilePath("FernlogJournal.dat.bad")), file.mid(10));
    EXPECT_TRUE(StatusList::Lines().join('\n').contains("FernlogJournal.dat was damaged"));
}

// With the database gone, an alarm's opening and end wait, and survive a
// restart; when it is back they are written in order, with their own times.
TEST_F(JournalTest, ChangesWaitForTheDatabaseAndAreWrittenInOrder) {
    ProvisionDatabase();
    ASSERT_TRUE(QFile::rename(FilePath("zolo.mdb"), FilePath("zolo.away")));
    Journal::Change open;
    open.kind = Journal::Kind::AlarmOpen;
    open.owner = 1;
    open.ref = Journal::NewRef();
    open.time = "2026-03-07 22:01:00";
    open.currentData = "81";
    Journal::Change close = open;
    close.kind = Journal::Kind::AlarmClose;
    close.time = "2026-03-07 22:02:00";
    EXPECT_EQ(Journal::Write(open), 0);
    EXPECT_EQ(Journal::Write(close), 0);
    EXPECT_TRUE(
        StatusList::Lines().join('\n').contains("Database records cannot be written since"));

    Journal::Reset();
    EXPECT_EQ(Journal::Waiting().size(), 2u);
    EXPECT_FALSE(Journal::Apply());
    ASSERT_TRUE(QFile::rename(FilePath("zolo.away"), FilePath("zolo.mdb")));
    EXPECT_TRUE(Journal::Apply());
    EXPECT_EQ(Rows("SELECT SensorIDNum, AlarmStart, AlarmEnd, AlarmActive FROM tblAlarms"),
              QStringList{"1|2026-03-07 22:01:00|2026-03-07 22:02:00|0"});
    EXPECT_TRUE(Journal::Empty());
    Journal::Reset();
    EXPECT_TRUE(Journal::Empty());
    EXPECT_FALSE(StatusList::Lines().join('\n').contains("Database records"));
}
