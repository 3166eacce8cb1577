#include <QFile>

#include "common/Clock.h"
#include "db/ErrorLog.h"
#include "support/Fixtures.h"

using ErrorLogTest = ProgramDirTest;

TEST_F(ErrorLogTest, RecordsEntryExactlyWithCurrentTime) {
    ProvisionDatabase();
    Clock::SetForTest(QDateTime(QDate(2026, 3, 7), QTime(16, 5, 0)));
    EXPECT_TRUE(ErrorLog::RecordError("Error in ReadFromCV is ", "it's 'quoted'; DROP TABLE x"));
    EXPECT_EQ(
        Rows("SELECT myTime, myFunction, Cause FROM tblErrors"),
        QStringList{"2026-03-07 16:05:00|Error in ReadFromCV is |it's 'quoted'; DROP TABLE x"});
}

TEST_F(ErrorLogTest, MissingOrBrokenDatabaseReturnsFalseAndShowsNothing) {
    DialogScript dialogs;
    EXPECT_FALSE(ErrorLog::RecordError("RecordServers()", "no database"));
    EXPECT_FALSE(QFile::exists(FilePath("zolo.mdb")));  // never created by the program
    QFile junk(FilePath("zolo.mdb"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    EXPECT_FALSE(ErrorLog::RecordError("RecordServers()", "not a database"));
    EXPECT_TRUE(dialogs.Shown().empty());
}

// Without a database the entries go to standard error, each kind once per
// outage, so that a service's log still says what went wrong.
TEST_F(ErrorLogTest, WithoutADatabaseEachKindIsToldOnStandardErrorOnce) {
    ErrorLog::Reset();
    testing::internal::CaptureStderr();
    ErrorLog::RecordError("Error saving data to Sensor-1 Average.dat", "disk full");
    ErrorLog::RecordError("Error saving data to Sensor-1 Average.dat", "disk full");
    ErrorLog::RecordError("OpenWinSocket()", "refused");
    const QString told = QString::fromStdString(testing::internal::GetCapturedStderr());
    EXPECT_EQ(told.count("Sensor-1 Average.dat: disk full"), 1) << told.toStdString();
    EXPECT_EQ(told.count("OpenWinSocket(): refused"), 1);
    EXPECT_TRUE(told.contains("was not found")) << told.toStdString();

    // Once entries are stored again, a new outage is told again.
    ProvisionDatabase();
    EXPECT_TRUE(ErrorLog::RecordError("OpenWinSocket()", "stored"));
    QFile::remove(FilePath("zolo.mdb"));
    testing::internal::CaptureStderr();
    ErrorLog::RecordError("OpenWinSocket()", "refused again");
    EXPECT_TRUE(QString::fromStdString(testing::internal::GetCapturedStderr())
                    .contains("OpenWinSocket(): refused again"));
}
