#pragma once

#include <QChartView>
#include <QDateTime>
#include <QString>
#include <deque>
#include <optional>
#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// The trending chart: one line per status grid row, a time axis, and a
// vertical axis of its own for each kind of unit (degrees F, degrees C,
// %RH, anything else). A reading that is not a number breaks its line: a
// line series cannot hold the old control's "no value" marker, so each row
// is drawn as a chain of segments with the gaps between them.
class TrendChart : public QChartView {
    Q_OBJECT
  public:
    static constexpr int kMaxPoints = 1001;  // time points held per row

    struct RowInfo {
        QString name;   // legend text
        QString units;  // the grid's unit text
    };

    explicit TrendChart(QWidget* parent = nullptr);

    // Sets the chart up again for these rows; earlier points are dropped.
    void Setup(const std::vector<RowInfo>& rows);
    // The value trackers behind the vertical ranges start over.
    void ResetTrackers();
    // One time point; nullopt is a gap. Rows beyond `values` get a gap.
    void AddPoint(const QDateTime& when, const std::vector<std::optional<double>>& values);

    // Freezing stops updates and lets the user zoom with the mouse.
    void SetFrozen(bool frozen);
    bool Frozen() const { return frozen_; }

    int RowCount() const { return static_cast<int>(rows_.size()); }
    int PointCount() const { return static_cast<int>(times_.size()); }
    int SegmentCount(int row) const;  // pieces of the row's line that hold points
    int DrawnPoints(int row) const;   // points on the row's line, gaps left out
    QValueAxis* AxisOf(int row) const;
    QDateTimeAxis* TimeAxis() const { return timeAxis_; }

    // The axis title for a unit text.
    static QString AxisTitle(const QString& units);

  private:
    struct Axis {
        QValueAxis* axis = nullptr;
        double low = 999999;
        double high = -999999;
    };
    struct Row {
        QString name;
        int axis = 0;  // index into axes_
        std::deque<std::optional<double>> values;
        std::vector<QLineSeries*> segments;  // the first always exists (legend entry)
    };

    QLineSeries* NewSegment(Row& row);
    void Redraw(Row& row);
    void UpdateRanges();

    QDateTimeAxis* timeAxis_ = nullptr;
    std::vector<Axis> axes_;
    std::vector<Row> rows_;
    std::deque<QDateTime> times_;
    bool frozen_ = false;
};
