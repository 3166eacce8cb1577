#include "core/ServiceLog.h"

#include <QRegularExpression>
#include <QSet>

#include "common/EventLog.h"
#include "core/Decoding.h"
#include "core/Polling.h"

namespace ServiceLog {
namespace {
QString lastSummary;
// What the cycle before polled; -1 before the first.
int polledDevices = -1;
int polledSensors = -1;

// A device enabled, disabled, added or removed, or a sensor named or
// unnamed, changes what is polled: the owner reads it in the log beside
// the change that caused it.
void TellPolled() {
    const int devices = Polling::LastCycle().devices;
    const int sensors = static_cast<int>(StatusGrid::Model().Rows().size());
    if (polledDevices >= 0 && (devices != polledDevices || sensors != polledSensors)) {
        EventLog::Info(QStringLiteral("Polling %1 device(s), %2 sensor(s) (was %3, %4)")
                           .arg(devices)
                           .arg(sensors)
                           .arg(polledDevices)
                           .arg(polledSensors));
    }
    polledDevices = devices;
    polledSensors = sensors;
}

// The socket error numbers the status list shows, in the words of someone
// looking after the devices.
QString PlainError(int number, const QString& description) {
    switch (number) {
        case 10061:
            return QStringLiteral("connection refused");
        case 10060:
            return QStringLiteral("no answer (timed out)");
        case 11001:
            return QStringLiteral("address not found");
        case 10065:
            return QStringLiteral("network unreachable");
        case 10013:
            return QStringLiteral("access denied");
        case 10055:
            return QStringLiteral("out of network resources");
        case 10048:
            return QStringLiteral("address in use");
        default:
            return description.trimmed().toLower();
    }
}
}  // namespace

QString PlainStatusLine(const QString& line) {
    static const QRegularExpression error(
        QStringLiteral("^Communication ErrorError Number: (\\d+)\\.  Description (.*)$"));
    const QRegularExpressionMatch m = error.match(line);
    if (!m.hasMatch()) return line;
    return QStringLiteral("Communication error: ") +
           PlainError(m.captured(1).toInt(), m.captured(2));
}

void StatusLine(const QString& line) {
    if (line.startsWith(QLatin1String("Connection "))) {
        EventLog::Trace(line);
    } else {
        EventLog::Debug(PlainStatusLine(line));
    }
}

void NoAnswer(const QString& address, int seconds) {
    EventLog::Debug(QStringLiteral("Communication error: no answer from %1 within %2 s")
                        .arg(address.trimmed())
                        .arg(seconds));
}

QString CycleSummary(const std::vector<GridRow>& rows) {
    QSet<QString> devices;
    QSet<QString> answered;
    int sensors = 0;
    for (const GridRow& row : rows) {
        if (row.device.isEmpty()) continue;
        devices.insert(row.device);
        if (row.value == Decoding::kNoData) continue;
        answered.insert(row.device);
        ++sensors;
    }
    if (devices.isEmpty()) return QString();
    return QStringLiteral("%1 of %2 %3 answered; %4 %5 read")
        .arg(answered.size())
        .arg(devices.size())
        .arg(devices.size() == 1 ? QStringLiteral("device") : QStringLiteral("devices"))
        .arg(sensors)
        .arg(sensors == 1 ? QStringLiteral("sensor") : QStringLiteral("sensors"));
}

void AfterCycle() {
    TellPolled();
    const QString summary = CycleSummary(StatusGrid::Model().Rows());
    if (summary.isEmpty() || summary == lastSummary) return;
    lastSummary = summary;
    EventLog::Info(summary);
}

QString ReadingWithUnit(const QString& reading, const QString& units) {
    bool number = false;
    reading.toDouble(&number);
    const QString unit = units.trimmed();
    return number && !unit.isEmpty() ? reading + QLatin1Char(' ') + unit : reading;
}

void Reset() {
    lastSummary.clear();
    polledDevices = -1;
    polledSensors = -1;
}

}  // namespace ServiceLog
