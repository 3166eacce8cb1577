#pragma once

#include <QChartView>
#include <QColor>
#include <QDateTime>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

class QCategoryAxis;
class QDateTimeAxis;
class QGraphicsSimpleTextItem;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

// The trending chart: one line per status grid row, a time axis, and a
// vertical axis of its own for each kind of unit (degrees F, degrees C,
// %RH, anything else), titled with the unit; each line has a colour of its
// own and the legend beside the plot lists the lines unit by unit. Door,
// water, power and contact sensors are step lines in a band of their own
// below, labelled inside the plot with their names and states: an axis of
// long labels on the right would take the room of the unit axes, which the
// chart's layout then squeezes to an ellipsis. A reading that is not a
// number breaks its line: a line series cannot hold the old control's "no
// value" marker, so each row is drawn as a chain of segments with the gaps
// between them. While frozen for examination the wheel zooms, a drag with
// the middle button (or with Shift) pans, and a rectangle drawn with the
// left button zooms into it; hovering a line tells its name, time and
// value.
class TrendChart : public QChartView {
    Q_OBJECT
  public:
    static constexpr int kMaxPoints = 1001;  // time points held per row

    struct RowInfo {
        QString name;             // legend text
        QString units;            // the grid's unit text
        QStringList states = {};  // names of a state sensor's values 0 and 1; empty: a number
    };

    // Where the time axis ticks go: whole seconds, minutes or hours, so
    // that no two ticks carry the same label, and at most `maxTicks` of
    // them (fewer in a narrow plot, so that the labels stay whole).
    struct TimeScale {
        QDateTime min, max;
        int ticks = 2;
        QString format;
    };
    static TimeScale PlanTimeAxis(const QDateTime& first, const QDateTime& last, int maxTicks = 8);

    explicit TrendChart(QWidget* parent = nullptr);

    // Sets the chart up again for these rows; earlier points are dropped.
    void Setup(const std::vector<RowInfo>& rows);
    // The value trackers behind the vertical ranges start over.
    void ResetTrackers();
    // One time point; nullopt is a gap. Rows beyond `values` get a gap.
    // Readings flagged in `alarmed` are marked as alarms on their line.
    void AddPoint(const QDateTime& when, const std::vector<std::optional<double>>& values,
                  const std::vector<bool>& alarmed = {});

    // Freezing stops updates and lets the user zoom and pan with the mouse.
    void SetFrozen(bool frozen);
    bool Frozen() const { return frozen_; }
    // Back to the whole range after zooming and panning.
    void ResetZoom();

    int RowCount() const { return static_cast<int>(rows_.size()); }
    int PointCount() const { return static_cast<int>(times_.size()); }
    int SegmentCount(int row) const;    // pieces of the row's line that hold points
    int DrawnPoints(int row) const;     // points on the row's line, gaps left out
    int AlarmMarks(int row) const;      // readings of the row marked as alarms
    QValueAxis* AxisOf(int row) const;  // nullptr for a state row
    QDateTimeAxis* TimeAxis() const { return timeAxis_; }
    QValueAxis* StateAxis() const { return stateAxis_; }  // not drawn; it holds the lanes
    // The state band's labels, lane by lane (state 0, then 1).
    QStringList StateLabels() const;
    QColor ColourOf(int row) const;
    // The text shown when hovering the row's line at `point` (chart values).
    QString HoverText(int row, const QPointF& point) const;

    // The axis title for a unit text.
    static QString AxisTitle(const QString& units);

  protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    struct Axis {
        QValueAxis* axis = nullptr;
        QString units;
        double low = 999999;
        double high = -999999;
    };
    struct Row {
        QString name;
        QString units;
        QStringList states;
        int axis = -1;  // index into axes_; -1 for a state row
        int band = -1;  // a state row's place in the state band
        QColor colour;
        std::deque<std::optional<double>> values;
        std::deque<bool> alarmed;
        QScatterSeries* alarmMarks = nullptr;
        std::vector<QLineSeries*> segments;  // the first always exists (legend entry)
    };

    QLineSeries* NewSegment(Row& row);
    void Redraw(Row& row);
    void UpdateRanges();

    double StateY(const Row& row, double value) const;
    // The time axis over the points held, with as many ticks as the plot's
    // width has room for.
    void ApplyTimeScale();
    // The state labels beside their lines, after the plot moved or zoomed.
    void PlaceStateLabels();

    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* stateAxis_ = nullptr;
    std::vector<QGraphicsSimpleTextItem*> stateLabels_;
    bool planning_ = false;    // ApplyTimeScale is running
    qreal plannedWidth_ = -1;  // the plot's width the time ticks were planned for
    int stateRows_ = 0;
    std::optional<QPoint> panFrom_;
    std::vector<Axis> axes_;
    std::vector<Row> rows_;
    std::deque<QDateTime> times_;
    bool frozen_ = false;
};
