#include <gtest/gtest.h>

#include "common/Clock.h"

TEST(ClockTest, GeneralDateTextIsTheSameOnEveryMachineAndReadsBack) {
    const QDateTime afternoon(QDate(2009, 3, 7), QTime(16, 5, 0));
    EXPECT_EQ(Clock::GeneralDateText(afternoon).toStdString(), "3/7/2009 4:05:00 PM");
    const QDateTime midnight(QDate(2026, 12, 31), QTime(0, 0, 9));
    EXPECT_EQ(Clock::GeneralDateText(midnight).toStdString(), "12/31/2026 12:00:09 AM");
    EXPECT_EQ(Clock::FromGeneralDateText(QStringLiteral("3/7/2009 4:05:00 PM")), afternoon);
    EXPECT_FALSE(Clock::FromGeneralDateText(QStringLiteral("2009-03-07")).isValid());
}

TEST(ClockTest, DatabaseStampsSortAsTextAndReadBack) {
    const QDateTime when(QDate(2026, 3, 7), QTime(9, 4, 5));
    EXPECT_EQ(Clock::DbStamp(when).toStdString(), "2026-03-07 09:04:05");
    EXPECT_EQ(Clock::FromDbStamp(QStringLiteral("2026-03-07 09:04:05")), when);
    EXPECT_FALSE(Clock::FromDbStamp(QStringLiteral("False")).isValid());
}

TEST(ClockTest, TestClockIsFixedUntilAdvancedOrCleared) {
    const QDateTime when(QDate(2026, 3, 7), QTime(23, 59, 59));
    Clock::SetForTest(when);
    EXPECT_EQ(Clock::Now(), when);
    Clock::AdvanceForTest(1);
    EXPECT_EQ(Clock::Now(), QDateTime(QDate(2026, 3, 8), QTime(0, 0, 0)));
    Clock::SetForTest(QDateTime());
    EXPECT_LT(qAbs(Clock::Now().secsTo(QDateTime::currentDateTime())), 5);
}

TEST(ClockTest, GeneralDateTextReadAsWrittenAgreesWithTheLocaleReading) {
    // Every 37 minutes and 13 seconds over a year: all hours, both halves of
    // the day, one- and two-digit months, days and hours.
    QDateTime when(QDate(2026, 1, 1), QTime(0, 0, 0));
    for (int i = 0; i < 14200; ++i, when = when.addSecs(37 * 60 + 13)) {
        const QString text = Clock::GeneralDateText(when);
        const QDateTime read = Clock::FromGeneralDateTextAsWritten(text);
        ASSERT_EQ(read.timeSpec(), Qt::UTC);
        ASSERT_EQ(read.date(), when.date()) << text.toStdString();
        ASSERT_EQ(read.time(), when.time()) << text.toStdString();
    }
    EXPECT_EQ(Clock::FromGeneralDateTextAsWritten(QStringLiteral("  12/31/2026 12:00:09 am ")),
              QDateTime(QDate(2026, 12, 31), QTime(0, 0, 9), Qt::UTC));
    for (const char* bad : {"", "2009-03-07", "3/7/09 4:05:00 PM", "2/30/2026 4:05:00 PM",
                            "3/7/2026 13:05:00 PM", "3/7/2026 0:05:00 AM", "3/7/2026 4:5:00 PM",
                            "3/7/2026 4:05:00", "3/7/2026 4:05:00 PMX", "3/7/2026 4:60:00 PM"}) {
        EXPECT_FALSE(Clock::FromGeneralDateTextAsWritten(QString::fromLatin1(bad)).isValid())
            << bad;
    }
}
