#include "core/SensorState.h"

#include "core/Decoding.h"

namespace SensorState {
namespace {
const QString kCR = QStringLiteral("\r");

// "for: 5 minutes." after a state that lasted; the short form when it did not.
QString Lasting(int minutes, const QString& shortForm, const QString& longLead) {
    if (minutes < 2) return shortForm;
    return longLead + QString::number(minutes) + QStringLiteral(" minutes.");
}

bool ReadsAs(const QString& reading, float value) {
    bool numeric = false;
    const double number = reading.trimmed().toDouble(&numeric);
    return numeric && number == static_cast<double>(value);
}
}  // namespace

bool ReadingText(float value, const QString& sensorType, QString& text) {
    using namespace Decoding;
    if (value == kNotConnected || value == kNotConnectedAlt) {
        text = QStringLiteral("Not Connected");
        return true;
    }
    if (value == kSensorOpen) {
        text = QStringLiteral("Sensor Open");
        return true;
    }
    if (value == kSensorShorted) {
        text = QStringLiteral("Sensor Shorted");
        return true;
    }
    if (value == kNoData) {
        text = QStringLiteral("No Data");
        return false;
    }
    const QString type = sensorType.toUpper();
    if (type.contains(QLatin1String("DRY CONTACT ALARM INPUT")) ||
        type.contains(QLatin1String("DRY CONTACT INPUT")) || type.contains(QLatin1String("DOOR"))) {
        if (value == 0) text = QStringLiteral("Open");
        if (value == 1) text = QStringLiteral("Closed");
    } else if (type.contains(QLatin1String("WATER SENSOR"))) {
        if (value == 0) text = QStringLiteral("Water Not Detected");
        if (value == 1) text = QStringLiteral("Water Detected");
    } else if (type.contains(QLatin1String("POWER SENSOR"))) {
        text = value == 1 ? QStringLiteral("Power On") : QStringLiteral("Power Off");
    } else {
        text = NumberText(value);
    }
    return true;
}

bool ComposeCause(QString& cause, int minutes, const QString& deviceName, const QString& sensorName,
                  const QString& sensorType, const QString& reading, const QString& units,
                  const QString& notes) {
    const QString type = sensorType.toLower();
    const int m = minutes;
    if (type.contains(QLatin1String("water sensor input"))) {
        cause = Lasting(m, QStringLiteral("Water has been detected."),
                        QStringLiteral("Water has been detected for: ")) +
                kCR;
    } else if (type.contains(QLatin1String("power sensor"))) {
        cause = (reading == QLatin1String("Power Off")
                     ? Lasting(m, QStringLiteral("Power is off."),
                               QStringLiteral("Power has been off for: "))
                     : Lasting(m, QStringLiteral("Power is on."),
                               QStringLiteral("Power has been on for: "))) +
                kCR;
    } else if (type.contains(QLatin1String("door sensor"))) {
        cause = (reading == QLatin1String("Open")
                     ? Lasting(m, QStringLiteral("The door is open."),
                               QStringLiteral("The door has been open for: "))
                     : Lasting(m, QStringLiteral("The door is closed."),
                               QStringLiteral("The door has been closed for: "))) +
                kCR;
    } else if (type.contains(QLatin1String("dry contact"))) {
        const QString input = QStringLiteral("The ") + sensorName + QStringLiteral(" input ");
        cause = (reading == QLatin1String("Open")
                     ? Lasting(m, input + QStringLiteral("is open."),
                               input + QStringLiteral("has been open for: "))
                     : Lasting(m, input + QStringLiteral("is closed."),
                               input + QStringLiteral("has been closed for: "))) +
                kCR;
    } else {
        const QString lower = reading.toLower();
        if (ReadsAs(reading, Decoding::kSensorOpen) || lower.contains(QLatin1String("open"))) {
            cause = QStringLiteral(" The sensor has open circuited.") + kCR;
        } else if (ReadsAs(reading, Decoding::kSensorShorted) ||
                   lower.contains(QLatin1String("short"))) {
            cause = QStringLiteral(" The sensor has short circuited.") + kCR;
        } else if (ReadsAs(reading, Decoding::kNotConnected) ||
                   lower.contains(QLatin1String("not connected"))) {
            cause = QStringLiteral(" The sensor is not connected.") + kCR;
        } else if (ReadsAs(reading, Decoding::kNoData) ||
                   lower.contains(QLatin1String("no reading"))) {
            cause = QStringLiteral(" Data was not returned by: ") + deviceName +
                    QStringLiteral(".") + kCR;
        } else {
            cause = sensorName + QStringLiteral(" is out of limits and is currently reading: ") +
                    reading + QStringLiteral(" ") + units + QStringLiteral(" ") +
                    QStringLiteral("and has been out of limits for: ") + QString::number(m) +
                    (m < 2 ? QStringLiteral(" minute.") : QStringLiteral(" minutes.")) + kCR;
        }
        cause += kCR;
        if (!notes.isEmpty()) {
            cause += QStringLiteral("Notes for ") + sensorName + QStringLiteral(":") + kCR + notes;
        }
    }
    return true;
}

RowStatus GridStatus(float value, int openAlarms) {
    if (openAlarms > 0) return {QStringLiteral("ALARM"), Colour::Red};
    if (value == Decoding::kNoData) return {QStringLiteral("NO DATA"), Colour::White};
    return {QStringLiteral("Normal"), Colour::Green};
}

}  // namespace SensorState
