#include <QAbstractItemModel>
#include <QDateTimeAxis>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QValueAxis>

#include "common/Clock.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "app/ui/TrendChart.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSplash.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"

namespace {
const QDateTime kBase(QDate(2026, 3, 7), QTime(9, 0, 0));
}  // namespace

TEST(TrendValueTest, NumbersChartGapTextsBreakTheLine) {
    GridRow row;
    for (const char* text : {"Sensor Open", "Sensor Shorted", "No Data", "Not Connected", ""}) {
        row.reading = text;
        EXPECT_FALSE(frmMain::TrendValue(row).has_value()) << text;
    }
    row.reading = "-12.25";
    EXPECT_EQ(frmMain::TrendValue(row), -12.25);
    row.reading = "Closed";
    row.value = 1;
    EXPECT_EQ(frmMain::TrendValue(row), 1.0);
}

TEST(TrendChartTest, GapsSplitTheLineAndUnitsGetTheirOwnAxes) {
    TrendChart chart;
    const QString degree(QChar(0xB0));
    chart.Setup({{"a", degree + "F"}, {"b", degree + "C"}, {"c", "%RH"}, {"d", degree + "F"}});
    EXPECT_EQ(chart.AxisOf(0), chart.AxisOf(3));
    EXPECT_NE(chart.AxisOf(0), chart.AxisOf(1));
    EXPECT_NE(chart.AxisOf(1), chart.AxisOf(2));
    EXPECT_EQ(chart.AxisOf(2)->titleText(), "%RH");

    const std::vector<std::optional<double>> column = {1, 2, std::nullopt, 4, 5};
    QDateTime t = kBase;
    for (const auto& v : column) {
        chart.AddPoint(t, {v, 20.0, 45.0});  // row d gets nothing: a gap
        t = t.addSecs(60);
    }
    EXPECT_EQ(chart.SegmentCount(0), 2);
    EXPECT_EQ(chart.DrawnPoints(0), 4);
    EXPECT_EQ(chart.SegmentCount(1), 1);
    EXPECT_EQ(chart.DrawnPoints(3), 0);
    // The range follows what was seen.
    EXPECT_LE(chart.AxisOf(0)->min(), 1.0);
    EXPECT_GE(chart.AxisOf(0)->max(), 5.0);
    EXPECT_LT(chart.AxisOf(0)->max(), 10.0);
}

TEST(TrendChartTest, HoldsAtMost1001Points) {
    TrendChart chart;
    chart.Setup({{"a", "%RH"}});
    QDateTime t = kBase;
    for (int i = 0; i < 1005; ++i) {
        // A gap early on scrolls out with its points.
        chart.AddPoint(t, {i == 2 ? std::nullopt : std::optional<double>(i)});
        t = t.addSecs(5);
    }
    EXPECT_EQ(chart.PointCount(), TrendChart::kMaxPoints);
    EXPECT_EQ(chart.DrawnPoints(0), TrendChart::kMaxPoints);
    EXPECT_EQ(chart.SegmentCount(0), 1);
    EXPECT_EQ(chart.TimeAxis()->min(), kBase.addSecs(4 * 5));
}
