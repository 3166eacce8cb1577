#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimeZone>

#include "common/Clock.h"
#include "common/Dialogs.h"
#include "common/EventLog.h"

namespace {

class EventLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Clock::SetForTest(QDateTime(QDate(2026, 12, 7), QTime(3, 12, 45), QTimeZone(3600)));
    }
    void TearDown() override {
        EventLog::Reset();
        Clock::SetForTest(QDateTime());
    }
    void Capture(bool verbose) {
        EventLog::SetSink([this](const QString& line) { lines << line; }, verbose);
    }
    QStringList lines;
};

}  // namespace

TEST_F(EventLogTest, LineHasIsoTimeWithOffsetPaddedLevelAndOneLineText) {
    const QDateTime when(QDate(2026, 12, 7), QTime(3, 12, 45), QTimeZone(3600));
    EXPECT_EQ(EventLog::FormatLine(when, EventLog::Level::Warning, "Alarm started"),
              "2026-12-07T03:12:45+01:00 WARNING Alarm started");
    EXPECT_EQ(EventLog::FormatLine(when, EventLog::Level::Info, "x"),
              "2026-12-07T03:12:45+01:00 INFO    x");
    // A mail server's multi-line answer stays one event on one line.
    EXPECT_EQ(EventLog::FormatLine(when, EventLog::Level::Error, "failed:\r\n550 no\nsuch user\r"),
              "2026-12-07T03:12:45+01:00 ERROR   failed: | 550 no | such user |");
}

TEST_F(EventLogTest, RoutineLinesOnlyWhenVerboseAndNothingWithoutASink) {
    EventLog::Info("lost");  // no sink: a windowed run
    Capture(false);
    EventLog::Debug("Connection opened");
    EventLog::Info("started");
    EXPECT_EQ(lines, QStringList{"2026-12-07T03:12:45+01:00 INFO    started"});

    lines.clear();
    Capture(true);
    EventLog::Debug("Connection opened");
    EXPECT_EQ(lines, QStringList{"2026-12-07T03:12:45+01:00 DEBUG   Connection opened"});
}

TEST_F(EventLogTest, UnansweredMessageBoxesOfAServiceGoToTheLogWithTheirWeight) {
    Capture(false);
    EXPECT_EQ(
        Dialogs::Message("Zolo.mdb is missing", Dialogs::Buttons::Ok, Dialogs::Icon::Critical),
        Dialogs::Answer::Ok);
    EXPECT_EQ(Dialogs::Message("Close?", Dialogs::Buttons::YesNo, Dialogs::Icon::Warning),
              Dialogs::Answer::No);
    EXPECT_EQ(lines, (QStringList{"2026-12-07T03:12:45+01:00 ERROR   Zolo.mdb is missing",
                                  "2026-12-07T03:12:45+01:00 WARNING Close?"}));
}

// Under systemd each line carries its syslog priority, which the journal
// strips and files the line under; a redirected output gets plain lines.
TEST_F(EventLogTest, JournalLinesCarryTheirPriority) {
    Capture(false);
    EventLog::SetPriorityPrefix(true);
    EventLog::Error("disk full");
    EventLog::Warning("Alarm started");
    EventLog::Info("started");
    EXPECT_EQ(lines, (QStringList{"<3>2026-12-07T03:12:45+01:00 ERROR   disk full",
                                  "<4>2026-12-07T03:12:45+01:00 WARNING Alarm started",
                                  "<6>2026-12-07T03:12:45+01:00 INFO    started"}));
    struct stat out {};
    ASSERT_EQ(fstat(STDOUT_FILENO, &out), 0);
    qputenv("JOURNAL_STREAM", QByteArray::number(static_cast<qulonglong>(out.st_dev)) + ':' +
                                  QByteArray::number(static_cast<qulonglong>(out.st_ino)));
    EXPECT_TRUE(EventLog::StdoutIsJournal());
    qputenv("JOURNAL_STREAM", QByteArray::number(static_cast<qulonglong>(out.st_dev)) + ':' +
                                  QByteArray::number(static_cast<qulonglong>(out.st_ino) + 1));
    EXPECT_FALSE(EventLog::StdoutIsJournal());
    qunsetenv("JOURNAL_STREAM");
}
