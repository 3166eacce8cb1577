#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QString>
#include <vector>

#include "core/Windows.h"

// The live status of every named sensor: one row each, filled device by
// device during a polling cycle. The main window shows this model; headless
// runs keep it all the same, since a row's previous reading matters.
struct GridRow {
    QString device;
    QString sensor;
    QString reading;
    QString units;
    QString status;
    Colour colour = Colour::White;
    qint64 sensorId = 0;
    float value = 0;  // the value behind the reading, for the trending chart
    qint64 deviceId = 0;
    int port = -1;
    QDateTime lastGood;  // when the device last gave a value for it
    // Someone handles what the status says: "acknowledged" (an alarm a
    // person is on), "silenced"; empty otherwise.
    QString handling;
};

class StatusGridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Device, Sensor, Reading, Units, Status, SensorId, ColumnCount };
    // The status cell's Colour (as an int) under this role; windows turn it
    // into their background.
    static constexpr int ColourRole = Qt::UserRole + 1;
    // The status cell's handling mark (GridRow::handling).
    static constexpr int HandlingRole = Qt::UserRole + 2;

    // Clears the grid and makes one row per named sensor.
    void ConfigureServerStatusGrid(int count);

    // The row the next sensor goes to (0 = the first below the headings).
    void MoveToFirstRow() { current_ = 0; }
    void MoveToNextRow() { ++current_; }
    // The current row, grown when a device has more sensors than the grid.
    GridRow& CurrentRow();
    // The current row for this sensor: emptied first when it stood for
    // another one, so that no sensor shows another's time of good reading.
    GridRow& CurrentRowFor(qint64 sensorId);
    // After a cycle: the rows below the current one stood for sensors that
    // are no longer polled (a device disabled or removed, a sensor unnamed)
    // and go. True when the rows now stand for other sensors than after the
    // cycle before.
    bool EndCycle();
    void CurrentRowChanged();
    // A row's handling mark, changed between cycles (what a command did).
    void SetHandling(size_t row, const QString& handling);

    const std::vector<GridRow>& Rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<GridRow> rows_;
    int current_ = 0;
    std::vector<qint64> lastCycleIds_;  // the rows' sensors after the last cycle
};

namespace StatusGrid {
StatusGridModel& Model();  // the program's one grid
// Back to the state of a fresh start: no rows.
void Reset();
// The end of a polling cycle: the grid keeps only the sensors polled, and
// the trending chart starts over when they changed, so that no line goes
// on with another sensor's readings.
void EndOfCycle();
}  // namespace StatusGrid
