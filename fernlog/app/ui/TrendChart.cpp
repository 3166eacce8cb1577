#include "app/ui/TrendChart.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <algorithm>

TrendChart::TrendChart(QWidget* parent) : QChartView(new QChart, parent) {
    setRenderHint(QPainter::Antialiasing);
    // Beside the plot, so that long device and sensor names stay readable.
    chart()->legend()->setAlignment(Qt::AlignRight);
    Setup({});
}

QString TrendChart::AxisTitle(const QString& units) {
    const QString degree = QString(QChar(0xB0));
    if (units == degree + QLatin1Char('F')) return QStringLiteral("Degrees F");
    if (units == degree + QLatin1Char('C')) return QStringLiteral("Degrees C");
    if (units == QLatin1String("%RH")) return QStringLiteral("%RH");
    return QStringLiteral("Value");
}

void TrendChart::Setup(const std::vector<RowInfo>& rows) {
    QChart* c = chart();
    c->removeAllSeries();  // deletes the segments
    for (QAbstractAxis* axis : c->axes()) {
        c->removeAxis(axis);
        delete axis;
    }
    rows_.clear();
    axes_.clear();
    times_.clear();

    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("h:mm AP"));
    timeAxis_->setTitleText(QStringLiteral("Time"));
    c->addAxis(timeAxis_, Qt::AlignBottom);

    std::vector<QString> titles;
    for (const RowInfo& info : rows) {
        const QString title = AxisTitle(info.units);
        auto found = std::find(titles.begin(), titles.end(), title);
        int axisIndex = static_cast<int>(found - titles.begin());
        if (found == titles.end()) {
            titles.push_back(title);
            Axis axis;
            axis.axis = new QValueAxis;
            axis.axis->setTitleText(title);
            // The first unit reads on the left, the others on the right.
            c->addAxis(axis.axis, axes_.empty() ? Qt::AlignLeft : Qt::AlignRight);
            axes_.push_back(axis);
        }
        Row row;
        row.name = info.name;
        row.axis = axisIndex;
        rows_.push_back(std::move(row));
        NewSegment(rows_.back());
    }
    if (axes_.empty()) {
        // An empty chart still shows its frame.
        Axis axis;
        axis.axis = new QValueAxis;
        c->addAxis(axis.axis, Qt::AlignLeft);
        axes_.push_back(axis);
    }
    UpdateRanges();
}

void TrendChart::ResetTrackers() {
    for (Axis& axis : axes_) {
        axis.low = 999999;
        axis.high = -999999;
    }
}

QLineSeries* TrendChart::NewSegment(Row& row) {
    auto* series = new QLineSeries;
    series->setName(row.name);
    chart()->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(axes_[static_cast<size_t>(row.axis)].axis);
    if (row.segments.empty()) {
        // The theme repeats its colours after five lines; rows need their own.
        static const QRgb colours[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd, 0x8c564b,
                                       0xe377c2, 0x17becf, 0xbcbd22, 0x7f7f7f, 0x393b79, 0x637939};
        const size_t index = static_cast<size_t>(&row - rows_.data());
        const size_t count = sizeof colours / sizeof colours[0];
        series->setColor(index < count
                             ? QColor(colours[index])
                             : QColor::fromHsv(static_cast<int>(index * 47 % 360), 200, 180));
        row.segments.push_back(series);
        return series;
    }
    // Later pieces look like the first and stay out of the legend.
    series->setColor(row.segments.front()->color());
    for (QLegendMarker* marker : chart()->legend()->markers(series)) marker->setVisible(false);
    row.segments.push_back(series);
    return series;
}

void TrendChart::AddPoint(const QDateTime& when, const std::vector<std::optional<double>>& values) {
    if (frozen_) return;
    times_.push_back(when);
    const bool full = static_cast<int>(times_.size()) > kMaxPoints;
    if (full) times_.pop_front();
    for (size_t i = 0; i < rows_.size(); ++i) {
        Row& row = rows_[i];
        const std::optional<double> value = i < values.size() ? values[i] : std::nullopt;
        row.values.push_back(value);
        if (full) row.values.pop_front();
        if (value) {
            Axis& axis = axes_[static_cast<size_t>(row.axis)];
            axis.low = std::min(axis.low, *value);
            axis.high = std::max(axis.high, *value);
        }
        Redraw(row);
    }
    UpdateRanges();
}

void TrendChart::Redraw(Row& row) {
    std::vector<QList<QPointF>> pieces;
    bool inGap = true;
    for (size_t i = 0; i < row.values.size(); ++i) {
        if (!row.values[i]) {
            inGap = true;
            continue;
        }
        if (inGap) pieces.emplace_back();
        inGap = false;
        pieces.back().append(
            QPointF(static_cast<qreal>(times_[i].toMSecsSinceEpoch()), *row.values[i]));
    }
    const size_t wanted = std::max<size_t>(pieces.size(), 1);
    while (row.segments.size() < wanted) NewSegment(row);
    while (row.segments.size() > wanted) {
        QLineSeries* extra = row.segments.back();
        row.segments.pop_back();
        chart()->removeSeries(extra);
        delete extra;
    }
    for (size_t i = 0; i < row.segments.size(); ++i) {
        row.segments[i]->replace(i < pieces.size() ? pieces[i] : QList<QPointF>());
    }
}

void TrendChart::UpdateRanges() {
    if (times_.empty()) {
        const QDateTime now = QDateTime::currentDateTime();
        timeAxis_->setRange(now.addSecs(-3600), now);
    } else {
        const QDateTime last =
            times_.back() > times_.front() ? times_.back() : times_.front().addSecs(60);
        timeAxis_->setRange(times_.front(), last);
    }
    for (Axis& axis : axes_) {
        if (axis.low > axis.high) {
            axis.axis->setRange(0, 100);
            continue;
        }
        // A little room so that lines do not run along the frame.
        const double pad = axis.high > axis.low ? (axis.high - axis.low) * 0.05 : 1.0;
        axis.axis->setRange(axis.low - pad, axis.high + pad);
        axis.axis->applyNiceNumbers();
    }
}

void TrendChart::SetFrozen(bool frozen) {
    frozen_ = frozen;
    setRubberBand(frozen ? QChartView::RectangleRubberBand : QChartView::NoRubberBand);
    if (!frozen) chart()->zoomReset();
}

int TrendChart::SegmentCount(int row) const {
    int count = 0;
    for (QLineSeries* s : rows_.at(static_cast<size_t>(row)).segments) {
        if (s->count() > 0) ++count;
    }
    return count;
}

int TrendChart::DrawnPoints(int row) const {
    int count = 0;
    for (QLineSeries* s : rows_.at(static_cast<size_t>(row)).segments) count += s->count();
    return count;
}

QValueAxis* TrendChart::AxisOf(int row) const {
    return axes_[static_cast<size_t>(rows_.at(static_cast<size_t>(row)).axis)].axis;
}
