#include "app/ui/TrendChart.h"

#include <QBrush>
#include <QCategoryAxis>
#include <QChart>
#include <QCursor>
#include <QDateTimeAxis>
#include <QFontMetrics>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScatterSeries>
#include <QTimeZone>
#include <QToolTip>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {
// One colour per line, in the order of the rows, each far from the others
// (a palette for charts of many series), so that two sensors of one unit
// never come out in nearly the same red. Past the list, darker turns.
QColor LineColour(int index) {
    static const QRgb palette[] = {0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                   0x8c564b, 0xe377c2, 0x17becf, 0x7f7f7f, 0xbcbd22};
    constexpr int n = static_cast<int>(std::size(palette));
    const QColor base(palette[index % n]);
    const int round = index / n;
    return round == 0 ? base : base.darker(100 + 35 * round);
}
// The state band's share of the plot's height per state row, and at most.
constexpr double kBandPerRow = 0.09;
constexpr double kBandMax = 0.4;
}  // namespace

TrendChart::TrendChart(QWidget* parent) : QChartView(new QChart, parent) {
    setRenderHint(QPainter::Antialiasing);
    // Beside the plot, so that long device and sensor names stay readable.
    chart()->legend()->setAlignment(Qt::AlignRight);
    connect(chart(), &QChart::plotAreaChanged, this, [this](const QRectF& plot) {
        // A zoomed time axis keeps its range while examining. Only a new
        // width asks for other ticks: the labels' own change of the plot
        // must not plan them again and again.
        if (!frozen_ && std::abs(plot.width() - plannedWidth_) > 8) ApplyTimeScale();
        PlaceStateLabels();
    });
    Setup({});
}

QString TrendChart::AxisTitle(const QString& units) {
    const QString degree = QString(QChar(0xB0));
    if (units == degree + QLatin1Char('F')) return QStringLiteral("Degrees F");
    if (units == degree + QLatin1Char('C')) return QStringLiteral("Degrees C");
    if (units == QLatin1String("%RH")) return QStringLiteral("%RH");
    return QStringLiteral("Value");
}

TrendChart::TimeScale TrendChart::PlanTimeAxis(const QDateTime& first, const QDateTime& last,
                                               int maxTicks) {
    static const qint64 steps[] = {1,     2,     5,     10,    15,     30,    60,
                                   120,   300,   600,   900,   1800,   3600,  7200,
                                   10800, 21600, 43200, 86400, 172800, 604800};
    const qint64 kMaxTicks = std::max(maxTicks, 2);
    const qint64 from = first.toSecsSinceEpoch();
    const qint64 to = std::max(last.toSecsSinceEpoch(), from + 60);
    // Whole units of local time: the zone's offset moves the grid.
    const qint64 offset = first.offsetFromUtc();
    qint64 step = steps[std::size(steps) - 1];
    for (const qint64 s : steps) {
        const qint64 low = (from + offset) / s * s;
        const qint64 high = ((to + offset) + s - 1) / s * s;
        if ((high - low) / s + 1 <= kMaxTicks) {
            step = s;
            break;
        }
    }
    const qint64 low = (from + offset) / step * step - offset;
    const qint64 high = ((to + offset) + step - 1) / step * step - offset;
    TimeScale scale;
    scale.min = QDateTime::fromSecsSinceEpoch(low, first.timeZone());
    scale.max = QDateTime::fromSecsSinceEpoch(high, first.timeZone());
    scale.ticks = static_cast<int>((high - low) / step) + 1;
    const bool acrossDays = scale.min.date() != scale.max.date();
    if (step >= 86400) {
        scale.format = QStringLiteral("M/d");
    } else if (step < 60) {
        scale.format = acrossDays ? QStringLiteral("M/d h:mm:ss AP") : QStringLiteral("h:mm:ss AP");
    } else {
        scale.format = acrossDays ? QStringLiteral("M/d h:mm AP") : QStringLiteral("h:mm AP");
    }
    return scale;
}

void TrendChart::Setup(const std::vector<RowInfo>& rows) {
    QChart* c = chart();
    c->removeAllSeries();  // deletes the segments
    for (QAbstractAxis* axis : c->axes()) {
        c->removeAxis(axis);
        delete axis;
    }
    for (QGraphicsSimpleTextItem* label : stateLabels_) delete label->parentItem();
    stateLabels_.clear();
    rows_.clear();
    axes_.clear();
    times_.clear();
    stateAxis_ = nullptr;
    stateRows_ = 0;

    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("h:mm AP"));
    timeAxis_->setTitleText(QStringLiteral("Time"));
    c->addAxis(timeAxis_, Qt::AlignBottom);

    // With a state band below, the number axes label only their own part.
    const bool band = std::any_of(rows.begin(), rows.end(),
                                  [](const RowInfo& info) { return info.states.size() == 2; });
    int colours = 0;
    for (const RowInfo& info : rows) {
        Row row;
        row.name = info.name;
        row.units = info.units;
        row.colour = LineColour(colours++);
        if (info.states.size() == 2) {
            row.states = info.states;
            row.band = stateRows_++;
            rows_.push_back(std::move(row));
            continue;
        }
        const QString title = AxisTitle(info.units);
        auto found = std::find_if(axes_.begin(), axes_.end(),
                                  [&](const Axis& a) { return a.axis->titleText() == title; });
        row.axis = static_cast<int>(found - axes_.begin());
        if (found == axes_.end()) {
            Axis axis;
            if (band) {
                auto* labelled = new QCategoryAxis;
                labelled->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
                axis.axis = labelled;
            } else {
                axis.axis = new QValueAxis;
            }
            axis.axis->setTitleText(title);
            axis.units = info.units;
            // The first unit reads on the left, the others on the right.
            c->addAxis(axis.axis, axes_.empty() ? Qt::AlignLeft : Qt::AlignRight);
            axes_.push_back(axis);
        }
        rows_.push_back(std::move(row));
    }
    if (axes_.empty()) {
        // An empty chart still shows its frame.
        Axis axis;
        axis.axis = new QValueAxis;
        c->addAxis(axis.axis, Qt::AlignLeft);
        axes_.push_back(axis);
    }
    if (stateRows_ > 0) {
        // The lanes' scale only: their labels are drawn in the plot.
        stateAxis_ = new QValueAxis;
        c->addAxis(stateAxis_, Qt::AlignRight);
        stateAxis_->setVisible(false);
        connect(stateAxis_, &QValueAxis::rangeChanged, this, [this] { PlaceStateLabels(); });
        for (const Row& row : rows_) {
            if (row.band < 0) continue;
            // Named as in the legend, in the colour of the line, on a pale
            // ground: the steps of a line pass under them.
            for (int state = 0; state < 2; ++state) {
                auto* ground = new QGraphicsRectItem(c);
                ground->setPen(Qt::NoPen);
                ground->setBrush(QColor(255, 255, 255, 210));
                ground->setZValue(10);
                auto* label = new QGraphicsSimpleTextItem(
                    row.name + QLatin1Char(' ') + row.states[state], ground);
                label->setFont(timeAxis_->labelsFont());
                label->setBrush(row.colour.darker(115));
                label->setPos(2, 0);
                const QRectF box = label->boundingRect();
                ground->setRect(0, 0, box.width() + 4, box.height());
                stateLabels_.push_back(label);
            }
        }
    }
    // The legend lists the rows axis by axis, the states last.
    for (int a = 0; a < static_cast<int>(axes_.size()); ++a) {
        for (Row& row : rows_) {
            if (row.axis == a) NewSegment(row);
        }
    }
    for (Row& row : rows_) {
        if (row.band >= 0) NewSegment(row);
    }
    UpdateRanges();
}

double TrendChart::StateY(const Row& row, double value) const {
    // Each state row has a lane of 2: its two states at 0.4 and 1.4.
    return row.band * 2.0 + (value != 0 ? 1.4 : 0.4);
}

QStringList TrendChart::StateLabels() const {
    QStringList texts;
    for (const QGraphicsSimpleTextItem* label : stateLabels_) texts << label->text();
    return texts;
}

void TrendChart::PlaceStateLabels() {
    if (stateLabels_.empty()) return;
    const QRectF plot = chart()->plotArea();
    size_t next = 0;
    for (const Row& row : rows_) {
        if (row.band < 0) continue;
        if (row.segments.empty()) {  // still being set up
            next += 2;
            continue;
        }
        for (int state = 0; state < 2; ++state) {
            QGraphicsSimpleTextItem* label = stateLabels_[next++];
            // Just above its line, at the left of the plot.
            const qreal y =
                chart()->mapToPosition(QPointF(0, StateY(row, state)), row.segments.front()).y();
            QGraphicsItem* ground = label->parentItem();
            const qreal top = y - 1 - label->boundingRect().height();
            ground->setPos(plot.left() + 2, top);
            ground->setVisible(plot.isValid() && top >= plot.top() && y <= plot.bottom());
        }
    }
}

void TrendChart::ResetTrackers() {
    for (Axis& axis : axes_) {
        axis.low = 999999;
        axis.high = -999999;
    }
}

QLineSeries* TrendChart::NewSegment(Row& row) {
    auto* series = new QLineSeries;
    const QString unit = row.band >= 0 || row.units.trimmed().isEmpty()
                             ? QString()
                             : QStringLiteral(" (") + row.units.trimmed() + QLatin1Char(')');
    series->setName(row.name + unit);
    chart()->addSeries(series);
    series->attachAxis(timeAxis_);
    if (row.band >= 0) {
        series->attachAxis(stateAxis_);
    } else {
        series->attachAxis(axes_[static_cast<size_t>(row.axis)].axis);
    }
    QPen pen(row.colour);
    pen.setWidthF(row.band >= 0 ? 2.0 : 1.6);
    series->setPen(pen);
    const int index = static_cast<int>(&row - rows_.data());
    connect(series, &QLineSeries::hovered, this, [this, index](const QPointF& point, bool state) {
        if (state) {
            QToolTip::showText(QCursor::pos(), HoverText(index, point), this);
        } else {
            QToolTip::hideText();
        }
    });
    if (row.segments.empty()) {
        row.segments.push_back(series);
        return series;
    }
    // Later pieces look like the first and stay out of the legend.
    for (QLegendMarker* marker : chart()->legend()->markers(series)) marker->setVisible(false);
    row.segments.push_back(series);
    return series;
}

QColor TrendChart::ColourOf(int row) const {
    return rows_.at(static_cast<size_t>(row)).colour;
}

QString TrendChart::HoverText(int index, const QPointF& point) const {
    const Row& row = rows_.at(static_cast<size_t>(index));
    // The nearest time point of the row.
    const qint64 at = static_cast<qint64>(point.x());
    size_t nearest = 0;
    for (size_t i = 0; i < times_.size(); ++i) {
        if (std::llabs(times_[i].toMSecsSinceEpoch() - at) <
            std::llabs(times_[nearest].toMSecsSinceEpoch() - at)) {
            nearest = i;
        }
    }
    const QDateTime when = times_.empty() ? QDateTime::fromMSecsSinceEpoch(at) : times_[nearest];
    QString value;
    const std::optional<double> v =
        nearest < row.values.size() ? row.values[nearest] : std::optional<double>();
    if (!v) {
        value = QStringLiteral("no reading");
    } else if (row.band >= 0) {
        value = row.states.value(*v != 0 ? 1 : 0);
    } else {
        value = QLocale::c().toString(*v, 'g', 6);
        if (!row.units.trimmed().isEmpty()) value += QLatin1Char(' ') + row.units.trimmed();
    }
    return row.name + QLatin1Char('\n') +
           QLocale::c().toString(when, QStringLiteral("M/d/yyyy h:mm:ss AP")) + QLatin1Char('\n') +
           value;
}

void TrendChart::AddPoint(const QDateTime& when, const std::vector<std::optional<double>>& values,
                          const std::vector<bool>& alarmed) {
    if (frozen_) return;
    times_.push_back(when);
    const bool full = static_cast<int>(times_.size()) > kMaxPoints;
    if (full) times_.pop_front();
    for (size_t i = 0; i < rows_.size(); ++i) {
        Row& row = rows_[i];
        const std::optional<double> value = i < values.size() ? values[i] : std::nullopt;
        row.values.push_back(value);
        row.alarmed.push_back(i < alarmed.size() && alarmed[i]);
        if (full) {
            row.values.pop_front();
            row.alarmed.pop_front();
        }
        if (value && row.axis >= 0) {
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
        const qreal x = static_cast<qreal>(times_[i].toMSecsSinceEpoch());
        if (row.band < 0) {
            pieces.back().append(QPointF(x, *row.values[i]));
            continue;
        }
        // A state holds until the next reading: a step, not a slope.
        const qreal y = StateY(row, *row.values[i]);
        if (!pieces.back().isEmpty() && pieces.back().back().y() != y) {
            pieces.back().append(QPointF(x, pieces.back().back().y()));
        }
        pieces.back().append(QPointF(x, y));
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

    QList<QPointF> marks;
    for (size_t i = 0; i < row.values.size(); ++i) {
        if (!row.values[i] || !row.alarmed[i]) continue;
        const qreal y = row.band >= 0 ? StateY(row, *row.values[i]) : *row.values[i];
        marks.append(QPointF(static_cast<qreal>(times_[i].toMSecsSinceEpoch()), y));
    }
    if (!marks.isEmpty() && !row.alarmMarks) {
        // Red rings on the line, out of the legend: the line keeps its colour.
        row.alarmMarks = new QScatterSeries;
        row.alarmMarks->setName(row.name + QStringLiteral(" alarm"));
        row.alarmMarks->setMarkerSize(9);
        row.alarmMarks->setColor(Qt::transparent);
        row.alarmMarks->setBorderColor(QColor(0xd50000));
        chart()->addSeries(row.alarmMarks);
        row.alarmMarks->attachAxis(timeAxis_);
        row.alarmMarks->attachAxis(row.band >= 0 ? static_cast<QAbstractAxis*>(stateAxis_)
                                                 : axes_[static_cast<size_t>(row.axis)].axis);
        for (QLegendMarker* marker : chart()->legend()->markers(row.alarmMarks)) {
            marker->setVisible(false);
        }
    }
    if (row.alarmMarks) row.alarmMarks->replace(marks);
}

int TrendChart::AlarmMarks(int row) const {
    const QScatterSeries* marks = rows_.at(static_cast<size_t>(row)).alarmMarks;
    return marks ? marks->count() : 0;
}

void TrendChart::ApplyTimeScale() {
    // Setting the range lays the chart out again at once, which tells of
    // a new plot area before this has ended.
    if (planning_) return;
    planning_ = true;
    QDateTime first = QDateTime::currentDateTime().addSecs(-3600);
    QDateTime last = first.addSecs(3600);
    if (!times_.empty()) {
        first = times_.front();
        last = times_.back() > times_.front() ? times_.back() : times_.front().addSecs(60);
    }
    TimeScale scale = PlanTimeAxis(first, last);
    // Room for each label and a gap as wide as two letters; before the
    // first layout the plot has no width yet.
    const qreal width = chart()->plotArea().width();
    plannedWidth_ = width;
    if (width > 0) {
        const QFontMetrics metrics(timeAxis_->labelsFont());
        const int label =
            metrics.horizontalAdvance(QLocale::c().toString(scale.max, scale.format)) +
            2 * metrics.averageCharWidth();
        const int room = static_cast<int>(width / std::max(label, 1)) + 1;
        if (room < scale.ticks) scale = PlanTimeAxis(first, last, room);
    }
    if (timeAxis_->min() != scale.min || timeAxis_->max() != scale.max) {
        timeAxis_->setRange(scale.min, scale.max);
    }
    if (timeAxis_->tickCount() != scale.ticks) timeAxis_->setTickCount(scale.ticks);
    if (timeAxis_->format() != scale.format) timeAxis_->setFormat(scale.format);
    planning_ = false;
}

void TrendChart::UpdateRanges() {
    ApplyTimeScale();

    // The state band takes the bottom of the plot; the numbers the rest.
    const double band = stateRows_ > 0 ? std::min(kBandMax, kBandPerRow * (stateRows_ + 1)) : 0;
    if (stateAxis_) {
        const double lanes = stateRows_ * 2.0;
        stateAxis_->setRange(0, lanes / band);
    }
    for (Axis& axis : axes_) {
        double low = 0;
        double high = 100;
        if (axis.low <= axis.high) {
            // A little room so that lines do not run along the frame.
            const double pad = axis.high > axis.low ? (axis.high - axis.low) * 0.05 : 1.0;
            low = axis.low - pad;
            high = axis.high + pad;
        }
        axis.axis->setRange(low, high);
        axis.axis->applyNiceNumbers();
        if (auto* labelled = qobject_cast<QCategoryAxis*>(axis.axis); labelled && band > 0) {
            // Labels and grid lines where the numbers are drawn, none in the
            // state band below them.
            const double top = labelled->max();
            const double bottom = labelled->min();
            const int ticks = std::max(2, labelled->tickCount());
            const double step = (top - bottom) / (ticks - 1);
            for (const QString& label : labelled->categoriesLabels()) labelled->remove(label);
            for (int i = 0; i < ticks; ++i) {
                const double value = bottom + step * i;
                labelled->append(
                    QLocale::c().toString(std::abs(value) < step * 1e-9 ? 0 : value, 'g', 6),
                    value);
            }
            const double below = bottom - (top - bottom) * band / (1 - band);
            labelled->setStartValue(below);
            labelled->setRange(below, top);
        }
    }
}

void TrendChart::SetFrozen(bool frozen) {
    frozen_ = frozen;
    setRubberBand(frozen ? QChartView::RectangleRubberBand : QChartView::NoRubberBand);
    if (!frozen) ResetZoom();
}

void TrendChart::ResetZoom() {
    chart()->zoomReset();
    UpdateRanges();
}

void TrendChart::wheelEvent(QWheelEvent* event) {
    if (!frozen_) {
        QChartView::wheelEvent(event);
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta != 0) chart()->zoom(delta > 0 ? 1.25 : 0.8);
    event->accept();
}

void TrendChart::mousePressEvent(QMouseEvent* event) {
    const bool pan = event->button() == Qt::MiddleButton ||
                     (event->button() == Qt::LeftButton && event->modifiers() & Qt::ShiftModifier);
    if (frozen_ && pan) {
        panFrom_ = event->position().toPoint();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    if (panFrom_) {
        const QPoint now = event->position().toPoint();
        const QPoint moved = now - *panFrom_;
        chart()->scroll(-moved.x(), moved.y());
        panFrom_ = now;
        event->accept();
        return;
    }
    QChartView::mouseMoveEvent(event);
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
    if (panFrom_) {
        panFrom_.reset();
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
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
    const int axis = rows_.at(static_cast<size_t>(row)).axis;
    return axis < 0 ? nullptr : axes_[static_cast<size_t>(axis)].axis;
}
