#pragma once

#include <QString>

#include "core/Windows.h"

// What a decoded port value means for its sensor: the reading text of the
// status grid and alarm records, the row's status word and colour, and the
// sentence that explains an alarm. Sensor types are recognised by
// case-insensitive substrings, never by exact match.
namespace SensorState {

// Sets `text` from the value; for a door, dry-contact or water sensor a value
// other than 0 or 1 leaves `text` as it was. False only for the no-data value.
bool ReadingText(float value, const QString& sensorType, QString& text);

// The cause sentence of an alarm (CR-separated); always true.
bool ComposeCause(QString& cause, int minutes, const QString& deviceName, const QString& sensorName,
                  const QString& sensorType, const QString& reading, const QString& units,
                  const QString& notes);

struct RowStatus {
    QString word;  // "Normal", "NO DATA" or "ALARM"
    Colour colour;
    QString handling = QString();  // GridRow::handling
};

// The status of a sensor's grid row after alarm processing.
RowStatus GridStatus(float value, int openAlarms);

}  // namespace SensorState
