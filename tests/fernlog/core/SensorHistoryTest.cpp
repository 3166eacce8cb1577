#include <QFile>

#include "common/Clock.h"
#include "core/DataLogs.h"
#include "core/SensorHistory.h"
#include "support/FernlogFixtures.h"

using namespace SensorHistory;

namespace {
QDateTime At(int d, int h, int mi) {
    return QDateTime(QDate(2026, 3, d), QTime(h, mi));
}

// A minute-by-minute log of sensor 5 on the 30th and 31st of March, with
// an outage and a probe fault, and one reading on the 1st of April.
class SensorHistoryTest : public FernlogTest {
  protected:
    void SetUp() override {
        FernlogTest::SetUp();
        Clock::SetForTest(QDateTime(QDate(2026, 4, 1), QTime(0, 30)));
        auto save = [&](const QDateTime& when, float value) {
            DataLogs::SaveReading(Dir(), 5, "Freezer", "Kitchen", "%RH", value, when);
        };
        save(At(30, 23, 58), 10);
        save(At(30, 23, 59), 20);
        for (int m = 0; m < 10; ++m) save(At(31, 0, m), 30.5f + m);  // 30.5 .. 39.5
        save(At(31, 0, 10), 999);                                    // sensor open
        save(At(31, 0, 30), 40);                                     // after a 20-minute outage
        save(QDateTime(QDate(2026, 4, 1), QTime(0, 0)), 41);
    }
    History Get(const QDateTime& from = {}, const QDateTime& to = {}) {
        History h;
        ok = Read({Dir()}, 60, 5, from, to, h, &error);
        return h;
    }
    bool ok = false;
    QString error;
};
}  // namespace

TEST_F(SensorHistoryTest, FaultsAndOutagesAreGapsAndTheRangeCrossesMonths) {
    const History h = Get(At(31, 0, 9), QDateTime(QDate(2026, 4, 1), QTime(0, 20)));
    ASSERT_TRUE(ok) << error.toStdString();
    EXPECT_EQ(h.unit, "%RH");
    const auto wall = [](const QDateTime& t) { return QDateTime(t.date(), t.time(), Qt::UTC); };
    using Point = std::pair<QDateTime, std::optional<double>>;
    const std::vector<Point> expected = {
        {wall(At(31, 0, 9)), 39.5},
        {wall(At(31, 0, 10)), std::nullopt},  // the fault
        {wall(At(31, 0, 11)), std::nullopt},  // the outage, a minute after the last reading
        {wall(At(31, 0, 30)), 40},
        {wall(At(31, 0, 31)), std::nullopt},  // silent from then until the period's end
        {wall(QDateTime(QDate(2026, 4, 1), QTime(0, 0))), 41},
        {wall(QDateTime(QDate(2026, 4, 1), QTime(0, 1))), std::nullopt},  // up to `to`
    };
    EXPECT_EQ(h.points, expected);

    // Readings five minutes apart, as an update period of then: no gaps.
    for (int m = 5; m <= 30; m += 5) {
        DataLogs::SaveReading(Dir(), 9, "Cooler", "Kitchen", "", 3, At(20, 1, m));
    }
    History h9;
    ASSERT_TRUE(Read({Dir()}, 60, 9, {}, At(20, 1, 30), h9, &error));
    EXPECT_EQ(h9.points.size(), 6u);
}

TEST_F(SensorHistoryTest, EachDaysMinimumMaximumAndMeanLeaveFaultsOut) {
    const std::vector<Day> days = Days(Get());
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(days[0].date, QDate(2026, 3, 30));
    EXPECT_EQ(days[0].readings, 2);
    EXPECT_DOUBLE_EQ(days[0].mean, 15);
    EXPECT_EQ(days[1].readings, 11);
    EXPECT_DOUBLE_EQ(days[1].minimum, 30.5);
    EXPECT_DOUBLE_EQ(days[1].maximum, 40);
    EXPECT_DOUBLE_EQ(days[1].mean, (30.5 * 10 + 45 + 40) / 11);
    EXPECT_DOUBLE_EQ(days[2].maximum, 41);
}

TEST_F(SensorHistoryTest, DamagedFilesAreReadAsFarAsTheyAreWholeOrRefused) {
    const QString march = FilePath(DataLogs::InstantaneousFileName(5, At(31, 0, 0)));
    QFile torn(march);
    ASSERT_TRUE(torn.open(QIODevice::Append));
    torn.write("3/31/2026 1:00");
    torn.close();
    Get();
    EXPECT_TRUE(ok) << error.toStdString();

    History h;
    EXPECT_FALSE(Read({Dir()}, 60, 6, {}, {}, h, &error));
    EXPECT_TRUE(error.contains("no data logs of sensor 6")) << error.toStdString();

    QFile description(FilePath(DataLogs::DescriptionFileName(5)));
    ASSERT_TRUE(description.open(QIODevice::Append));
    description.write("x");
    description.close();
    Get();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(error.contains("43 bytes long")) << error.toStdString();
}

TEST_F(SensorHistoryTest, DayIsSignedOffOnceWithItsAuditRow) {
    const AlarmHandling::Actor ann{"ann", "tester", AlarmHandling::Origin::Web};
    QList<DayReview> reviews;
    ASSERT_TRUE(ListDayReviews(5, reviews, {}, &error)) << error.toStdString();
    EXPECT_TRUE(reviews.isEmpty());
    EXPECT_FALSE(QFile::exists(AlarmHandling::Path()));

    ASSERT_TRUE(SignOffDay(5, QDate(2026, 3, 31), ann, &error)) << error.toStdString();
    EXPECT_FALSE(SignOffDay(5, QDate(2026, 3, 31), {"bob", "tester"}, &error));
    EXPECT_TRUE(error.contains("already reviewed by ann")) << error.toStdString();
    EXPECT_FALSE(SignOffDay(5, QDate(2026, 4, 2), ann, &error));
    EXPECT_FALSE(SignOffDay(6, QDate(2026, 3, 31), ann, &error));

    ASSERT_TRUE(ListDayReviews(5, reviews, {}, &error));
    ASSERT_EQ(reviews.size(), 1);
    EXPECT_EQ(reviews[0].date, QDate(2026, 3, 31));
    EXPECT_EQ(reviews[0].by, "ann");
    QList<AlarmHandling::AuditRow> rows;
    ASSERT_TRUE(AlarmHandling::ListAudit(rows, {}, 0, &error));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].action, "day review");
    EXPECT_EQ(rows[0].origin, "web");
    EXPECT_EQ(rows[0].device, "Kitchen");
}
