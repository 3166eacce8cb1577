#include "core/StatusGrid.h"

#include <QSize>

#include "core/Startup.h"

void StatusGridModel::ConfigureServerStatusGrid(int count) {
    beginResetModel();
    rows_.assign(static_cast<size_t>(std::max(count, 0)), GridRow());
    current_ = 0;
    lastCycleIds_.clear();
    endResetModel();
}

GridRow& StatusGridModel::CurrentRow() {
    if (current_ >= static_cast<int>(rows_.size())) {
        const int first = static_cast<int>(rows_.size());
        beginInsertRows({}, first, current_);
        rows_.resize(static_cast<size_t>(current_) + 1);
        endInsertRows();
    }
    return rows_[static_cast<size_t>(current_)];
}

GridRow& StatusGridModel::CurrentRowFor(qint64 sensorId) {
    GridRow& row = CurrentRow();
    if (row.sensorId != sensorId) row = GridRow();
    return row;
}

bool StatusGridModel::EndCycle() {
    const int filled = std::max(current_, 0);
    if (filled < static_cast<int>(rows_.size())) {
        beginRemoveRows({}, filled, static_cast<int>(rows_.size()) - 1);
        rows_.resize(static_cast<size_t>(filled));
        endRemoveRows();
    }
    std::vector<qint64> ids;
    ids.reserve(rows_.size());
    for (const GridRow& row : rows_) ids.push_back(row.sensorId);
    const bool changed = ids != lastCycleIds_;
    lastCycleIds_ = std::move(ids);
    return changed;
}

void StatusGridModel::CurrentRowChanged() {
    emit dataChanged(index(current_, 0), index(current_, ColumnCount - 1));
}

void StatusGridModel::SetHandling(size_t row, const QString& handling) {
    if (row >= rows_.size() || rows_[row].handling == handling) return;
    rows_[row].handling = handling;
    const int r = static_cast<int>(row);
    emit dataChanged(index(r, Status), index(r, Status));
}

int StatusGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StatusGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StatusGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const GridRow& row = rows_[static_cast<size_t>(index.row())];
    if (role == ColourRole && index.column() == Status && !row.status.isEmpty()) {
        return static_cast<int>(row.colour);
    }
    if (role == HandlingRole && index.column() == Status) return row.handling;
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case Device:
            return row.device;
        case Sensor:
            return row.sensor;
        case Reading:
            return row.reading;
        case Units:
            return row.units;
        case Status:
            return row.handling.isEmpty() || row.status.isEmpty()
                       ? row.status
                       : row.status + QStringLiteral(" - ") + row.handling;
        case SensorId:
            return row.sensorId ? QVariant(row.sensorId) : QVariant();
    }
    return {};
}

QVariant StatusGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    // Widths in pixels at the usual 15 twips per pixel.
    static const int widths[] = {2500, 2500, 1300, 500, 1500, 1000};
    static const char* titles[] = {"Device", "Sensor", "Reading", "Units", "Status", "Sensor ID"};
    if (section < 0 || section >= ColumnCount) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(titles[section]);
    if (role == Qt::SizeHintRole) return QSize(widths[section] / 15, 20);
    return {};
}

namespace StatusGrid {
StatusGridModel& Model() {
    static StatusGridModel model;
    return model;
}

void Reset() {
    Model().ConfigureServerStatusGrid(0);
}

void EndOfCycle() {
    if (Model().EndCycle()) Startup::TrendReset = true;
}
}  // namespace StatusGrid
