#include <QAbstractItemModel>
#include <QCategoryAxis>
#include <QDateTimeAxis>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QValueAxis>
#include <cmath>

#include "app/ui/TrendChart.h"
#include "app/ui/frmMain.h"
#include "app/ui/frmSplash.h"
#include "common/Clock.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/Startup.h"
#include "core/StatusGrid.h"
#include "core/StatusList.h"
#include "db/ErrorLog.h"
#include "db/ServerDatabase.h"
#include "support/FernlogFixtures.h"

namespace {
const QDateTime kChartStart(QDate(2026, 3, 7), QTime(9, 0, 0));
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
    QDateTime t = kChartStart;
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
    QDateTime t = kChartStart;
    for (int i = 0; i < 1005; ++i) {
        // A gap early on scrolls out with its points.
        chart.AddPoint(t, {i == 2 ? std::nullopt : std::optional<double>(i)});
        t = t.addSecs(5);
    }
    EXPECT_EQ(chart.PointCount(), TrendChart::kMaxPoints);
    EXPECT_EQ(chart.DrawnPoints(0), TrendChart::kMaxPoints);
    EXPECT_EQ(chart.SegmentCount(0), 1);
    // The axis starts at the whole unit before the oldest point held.
    EXPECT_LE(chart.TimeAxis()->min(), kChartStart.addSecs(4 * 5));
    EXPECT_EQ(chart.TimeAxis()->min().time().second(), 0);
}

TEST(TrendChartTest, TimeTicksFallOnWholeUnitsAndNeverRepeatALabel) {
    const QDateTime nine(QDate(2026, 3, 7), QTime(9, 0, 0));
    const std::pair<QDateTime, QDateTime> spans[] = {
        {nine, nine.addSecs(90)},                                         // seconds
        {nine.addSecs(10), nine.addSecs(14 * 60 + 50)},                   // minutes
        {nine.addSecs(13 * 3600 + 1800), nine.addSecs(16 * 3600 + 900)},  // across midnight
        {nine, nine.addDays(6)}};
    for (const auto& [first, last] : spans) {
        SCOPED_TRACE(first.toString(Qt::ISODate).toStdString() + " to " +
                     last.toString(Qt::ISODate).toStdString());
        const TrendChart::TimeScale scale = TrendChart::PlanTimeAxis(first, last);
        ASSERT_GE(scale.ticks, 2);
        EXPECT_LE(scale.ticks, 8);
        EXPECT_LE(scale.min, first);
        EXPECT_GE(scale.max, last);
        const qint64 step = scale.min.secsTo(scale.max) / (scale.ticks - 1);
        EXPECT_EQ(step * (scale.ticks - 1), scale.min.secsTo(scale.max));
        EXPECT_EQ(scale.min.time().msecsSinceStartOfDay() / 1000 % std::min<qint64>(step, 3600), 0);
        QStringList labels;
        for (int i = 0; i < scale.ticks; ++i) {
            labels << QLocale::c().toString(scale.min.addSecs(step * i), scale.format);
        }
        EXPECT_EQ(labels.size(), QSet<QString>(labels.begin(), labels.end()).size())
            << labels.join(", ").toStdString();
    }
    EXPECT_TRUE(TrendChart::PlanTimeAxis(nine, nine.addSecs(90)).format.contains("ss"));
    EXPECT_TRUE(TrendChart::PlanTimeAxis(spans[2].first, spans[2].second).format.startsWith("M/d"));
}

TEST(TrendChartTest, StateSensorsAreStepLinesInABandOfTheirOwn) {
    TrendChart chart;
    const QString degree(QChar(0xB0));
    chart.Setup({{"Kitchen: Freezer", degree + "F", {}},
                 {"Kitchen: Door", "", {"Open", "Closed"}},
                 {"Lab: Leak", "", {"Water Not Detected", "Water Detected"}}});
    QDateTime t = kChartStart;
    for (const double door : {1, 1, 0, 1}) {
        chart.AddPoint(t, {-5.0, door, 0.0}, {false, door == 0, false});
        t = t.addSecs(60);
    }
    // Not on a numeric axis, and the numbers' range is theirs alone.
    EXPECT_EQ(chart.AxisOf(1), nullptr);
    EXPECT_EQ(chart.AxisOf(2), nullptr);
    ASSERT_NE(chart.StateAxis(), nullptr);
    EXPECT_EQ(chart.StateLabels(),
              (QStringList{"Kitchen: Door Open", "Kitchen: Door Closed",
                           "Lab: Leak Water Not Detected", "Lab: Leak Water Detected"}));
    EXPECT_GT(chart.AxisOf(0)->max(), -5.0);
    EXPECT_LT(chart.AxisOf(0)->max(), 0.0);
    // Two changes of the door: two steps added to its four readings.
    EXPECT_EQ(chart.DrawnPoints(1), 6);
    EXPECT_EQ(chart.DrawnPoints(2), 4);
    EXPECT_EQ(chart.AlarmMarks(1), 1);  // the reading taken while the door was open too long
    EXPECT_EQ(chart.AlarmMarks(0), 0);
    // The door at 0 and the leak at 0 do not hide each other.
    EXPECT_NE(chart.HoverText(1, {0, 0}), chart.HoverText(2, {0, 0}));
    EXPECT_TRUE(chart.HoverText(1, QPointF(kChartStart.addSecs(120).toMSecsSinceEpoch(), 0))
                    .endsWith("\nOpen"));
    EXPECT_TRUE(chart.HoverText(0, QPointF(kChartStart.toMSecsSinceEpoch(), 0))
                    .endsWith("-5 " + degree + "F"));
    EXPECT_NE(chart.ColourOf(1), chart.ColourOf(2));
}

// Lines of one unit are told apart by colour: no two of six Fahrenheit
// sensors come out in nearly the same shade.
TEST(TrendChartTest, LinesOfOneUnitHaveClearlyDifferentColours) {
    TrendChart chart;
    const QString degree(QChar(0xB0));
    std::vector<TrendChart::RowInfo> rows;
    for (int i = 0; i < 6; ++i)
        rows.push_back({QStringLiteral("Kitchen: %1").arg(i), degree + "F"});
    chart.Setup(rows);
    for (int a = 0; a < 6; ++a) {
        for (int b = a + 1; b < 6; ++b) {
            const QColor x = chart.ColourOf(a), y = chart.ColourOf(b);
            const int distance = std::abs(x.red() - y.red()) + std::abs(x.green() - y.green()) +
                                 std::abs(x.blue() - y.blue());
            EXPECT_GT(distance, 120) << a << " and " << b << ": " << x.name().toStdString() << " "
                                     << y.name().toStdString();
        }
    }
}

// Every axis title and label whole (not cut to "...") and clear of the
// others, with the units and the state band of the screenshots, in a window
// narrower than theirs: the unit axes were squeezed to an ellipsis there.
TEST(TrendChartTest, AxisTitlesAndLabelsAreWholeAndApartInASmallWindow) {
    const QString degree(QChar(0xB0));
    TrendChart chart;
    chart.Setup({{"Kitchen: Walk-in Freezer", degree + "F"},
                 {"Kitchen: Walk-in Cooler", degree + "F"},
                 {"Server Room: Rack Exhaust", degree + "F"},
                 {"Lab: Incubator", degree + "C"},
                 {"Lab: Incubator Humidity", "%RH"},
                 {"Kitchen: Back Door", "", {"Open", "Closed"}}});
    QDateTime t = kChartStart;
    for (int i = 0; i < 32; ++i) {
        chart.AddPoint(t, {-5 + std::sin(i / 4.0), 36.0 + i % 3, 84.0, 36.25 + i % 2 * 0.5,
                           55 + 3 * std::cos(i / 6.0), i % 7 == 0 ? 0.0 : 1.0});
        t = t.addSecs(120);
    }
    // The chart's part of a main window on a 1024x768 screen, or of one
    // side of a wider one.
    chart.resize(940, 560);
    chart.show();
    QTest::qWait(50);
    // Titles, labels and legend entries are text items; the state labels
    // simple ones.
    std::vector<std::pair<QString, QRectF>> texts;
    for (QGraphicsItem* item : chart.scene()->items()) {
        QString text;
        if (const auto* rich = dynamic_cast<QGraphicsTextItem*>(item)) text = rich->toPlainText();
        if (const auto* plain = dynamic_cast<QGraphicsSimpleTextItem*>(item)) text = plain->text();
        if (text.isEmpty() || !item->isVisible()) continue;
        EXPECT_FALSE(text.contains("...")) << text.toStdString();
        texts.emplace_back(text, item->sceneBoundingRect().adjusted(2, 2, -2, -2));
    }
    for (size_t a = 0; a < texts.size(); ++a) {
        for (size_t b = a + 1; b < texts.size(); ++b) {
            EXPECT_FALSE(texts[a].second.intersects(texts[b].second))
                << texts[a].first.toStdString() << " and " << texts[b].first.toStdString();
        }
    }
}
