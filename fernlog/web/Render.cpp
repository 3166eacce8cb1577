#include "web/Render.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include "common/Clock.h"

namespace Web {
namespace {
// Times in JSON as ISO 8601 with the offset, which every client reads.
QJsonValue JsonTime(const QDateTime& when) {
    if (!when.isValid()) return QJsonValue::Null;
    return when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate);
}

QString Number(double value) {
    return QString::number(value, 'g', 15);
}

QString ReadingWithUnit(const SensorView& s) {
    return s.value && !s.units.isEmpty() ? s.reading + u' ' + s.units : s.reading;
}

QString ColourName(Colour colour) {
    switch (colour) {
        case Colour::Green:
            return QStringLiteral("green");
        case Colour::Red:
            return QStringLiteral("red");
        case Colour::LightGrey:
            return QStringLiteral("lightgrey");
        case Colour::White:
            break;
    }
    return QStringLiteral("white");
}

// The grid's colours, painted by the page itself.
const char* const kStyle = R"(
body{font-family:system-ui,sans-serif;margin:0;padding:0.5em;background:#f4f4f4;color:#111}
h1{font-size:1.3em;margin:0.2em 0}h2{font-size:1.1em;margin:1em 0 0.3em}
p{margin:0.2em 0}.bad{color:#a00;font-weight:bold}ul.bad{margin:0.3em 0;padding-left:1.2em}
.scroll{overflow-x:auto}
table{border-collapse:collapse;background:#fff;min-width:100%}
th,td{border:1px solid #bbb;padding:0.3em 0.5em;text-align:left;white-space:nowrap}
th{background:#e0e0e0}
td.ok{background:rgb(0,255,0)}td.alarm{background:rgb(255,0,0);color:#fff;font-weight:bold}
td.nodata{background:rgb(255,255,255)}td.idle{background:rgb(224,224,224)}
@media (max-width:600px){body{font-size:15px}th,td{padding:0.25em 0.3em}}
nav{margin:0.3em 0}nav a{margin-right:0.8em}form.inline{display:inline}
form.act{background:#fff;border:1px solid #bbb;padding:0.4em;margin:0.4em 0;max-width:40em}
form.act label{display:block;margin:0.2em 0}input[type=text],input[type=password],textarea{width:100%;box-sizing:border-box}
td.wrap{white-space:normal}.note{color:#555}
@media print{nav,form,.noprint{display:none}body{background:#fff;font-size:9pt;padding:0}
table{min-width:0}th,td{padding:0.1em 0.3em;white-space:normal}@page{size:A4;margin:12mm}}
)";
}  // namespace

// As the program writes them everywhere else.
QString PageTime(const QDateTime& when) {
    return when.isValid() ? Clock::GeneralDateText(when) : QStringLiteral("-");
}

const char* PageStyle() {
    return kStyle;
}

QString HtmlEscape(const QString& text) {
    return text.toHtmlEscaped().replace(u'\'', QStringLiteral("&#39;"));
}

QString LabelEscape(const QString& text) {
    if (!text.contains(u'\\') && !text.contains(u'"') && !text.contains(u'\n')) return text;
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\') {
            out += QStringLiteral("\\\\");
        } else if (c == u'"') {
            out += QStringLiteral("\\\"");
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else {
            out += c;
        }
    }
    return out;
}

QString ColourClass(Colour colour) {
    switch (colour) {
        case Colour::Green:
            return QStringLiteral("ok");
        case Colour::Red:
            return QStringLiteral("alarm");
        case Colour::LightGrey:
            return QStringLiteral("idle");
        case Colour::White:
            break;
    }
    return QStringLiteral("nodata");
}

QByteArray StatusPage(const Snapshot& s, const QString& navigation) {
    QString html;
    QTextStream out(&html);
    const QString title = HtmlEscape(s.title) + QStringLiteral(" status");
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        << "<meta http-equiv=\"refresh\" content=\"" << qMax(5, s.updateSeconds) << "\">"
        << "<title>" << title << "</title><style>" << kStyle << "</style></head><body>\n"
        << "<h1>" << title << "</h1>\n"
        << navigation << "<p>Shown at " << PageTime(s.generated) << "; last polling cycle "
        << (s.lastCycleStart.isValid()
                ? PageTime(s.lastCycleStart) +
                      QStringLiteral(" (%1 s)").arg(Number(s.lastCycleMs / 1000.0))
                : QStringLiteral("none yet"))
        << "; every " << s.updateSeconds << " s.</p>\n";
    if (!s.health.ok)
        out << "<p class=\"bad\">Polling: " << HtmlEscape(s.health.reason) << "</p>\n";
    if (!s.warnings.isEmpty()) {
        out << "<ul id=\"warnings\" class=\"bad\">";
        for (const QString& warning : s.warnings) out << "<li>" << HtmlEscape(warning) << "</li>";
        out << "</ul>\n";
    }

    out << "<h2>Sensors</h2>\n<div class=\"scroll\"><table id=\"sensors\"><tr><th>Device</th>"
        << "<th>Sensor</th><th>Reading</th><th>Status</th><th>Last good reading</th></tr>\n";
    for (const SensorView& sensor : s.sensors) {
        out << "<tr><td>" << HtmlEscape(sensor.device) << "</td><td>" << HtmlEscape(sensor.name)
            << "</td><td>" << HtmlEscape(ReadingWithUnit(sensor)) << "</td><td class=\""
            << ColourClass(sensor.colour) << "\">" << HtmlEscape(sensor.status) << "</td><td>"
            << PageTime(sensor.lastGood) << "</td></tr>\n";
    }
    if (s.sensors.empty()) out << "<tr><td colspan=\"5\">No sensor read yet.</td></tr>\n";
    out << "</table></div>\n";

    out << "<h2>Open alarms</h2>\n";
    if (!s.alarmsRead) {
        out << "<p class=\"bad\">The alarm records cannot be read now.</p>\n";
    } else if (s.alarms.empty()) {
        out << "<p id=\"alarms\">None.</p>\n";
    } else {
        out << "<div class=\"scroll\"><table id=\"alarms\"><tr><th>Device</th><th>Sensor</th>"
            << "<th>Reading</th><th>Since</th><th>State</th></tr>\n";
        for (const AlarmView& alarm : s.alarms) {
            const char* state = alarm.acknowledged ? "acknowledged" : "open";
            out << "<tr><td>" << HtmlEscape(alarm.device) << "</td><td>" << HtmlEscape(alarm.sensor)
                << "</td><td>" << HtmlEscape(alarm.reading) << "</td><td>" << PageTime(alarm.start)
                << "</td><td>";
            if (alarm.id > 0) {
                out << "<a href=\"/alarm/" << alarm.id << "\">" << state << "</a>";
            } else {
                out << state;
            }
            out << (alarm.silenced ? ", silenced" : "") << "</td></tr>\n";
        }
        out << "</table></div>\n";
    }

    out << "<h2>Devices not answering</h2>\n";
    bool anyDown = false;
    for (const DeviceView& device : s.devices) {
        if (device.up) continue;
        if (!anyDown) {
            out << "<div class=\"scroll\"><table id=\"down\"><tr><th>Device</th><th>Address</th>"
                << "<th>Since</th><th>Last answer</th></tr>\n";
        }
        anyDown = true;
        out << "<tr><td>" << HtmlEscape(device.name) << "</td><td>" << HtmlEscape(device.address)
            << "</td><td>" << PageTime(device.failingSince) << "</td><td>"
            << PageTime(device.lastSeen) << "</td></tr>\n";
    }
    out << (anyDown ? "</table></div>\n" : "<p id=\"down\">None.</p>\n");
    out << "<p><small>" << HtmlEscape(s.title) << ' ' << HtmlEscape(s.version)
        << " &middot; <a href=\"api/v1/status\">JSON</a> &middot; <a href=\"metrics\">metrics</a>"
        << "</small></p>\n</body></html>\n";
    out.flush();
    return html.toUtf8();
}

QByteArray StatusJson(const Snapshot& s) {
    QJsonObject root;
    root[QStringLiteral("program")] = s.title;
    root[QStringLiteral("version")] = s.version;
    root[QStringLiteral("generated")] = JsonTime(s.generated);
    root[QStringLiteral("updatePeriodSeconds")] = s.updateSeconds;
    root[QStringLiteral("healthy")] = s.health.ok;
    root[QStringLiteral("health")] = s.health.reason;
    QJsonObject cycle;
    cycle[QStringLiteral("number")] = s.cycles;
    cycle[QStringLiteral("start")] = JsonTime(s.lastCycleStart);
    cycle[QStringLiteral("durationSeconds")] = s.lastCycleMs / 1000.0;
    root[QStringLiteral("lastCycle")] = cycle;
    root[QStringLiteral("warnings")] = QJsonArray::fromStringList(s.warnings);

    QJsonArray sensors;
    for (const SensorView& sensor : s.sensors) {
        QJsonObject o;
        o[QStringLiteral("id")] = sensor.id;
        o[QStringLiteral("deviceId")] = sensor.deviceId;
        o[QStringLiteral("device")] = sensor.device;
        o[QStringLiteral("name")] = sensor.name;
        o[QStringLiteral("reading")] = sensor.reading;
        o[QStringLiteral("value")] = sensor.value ? QJsonValue(*sensor.value) : QJsonValue::Null;
        o[QStringLiteral("unit")] = sensor.units;
        o[QStringLiteral("status")] = sensor.status;
        o[QStringLiteral("colour")] = ColourName(sensor.colour);
        o[QStringLiteral("alarm")] = sensor.alarm;
        o[QStringLiteral("acknowledged")] = sensor.acknowledged;
        o[QStringLiteral("silenced")] = sensor.silenced;
        o[QStringLiteral("lastGoodReading")] = JsonTime(sensor.lastGood);
        sensors.append(o);
    }
    root[QStringLiteral("sensors")] = sensors;

    QJsonArray devices;
    for (const DeviceView& device : s.devices) {
        QJsonObject o;
        o[QStringLiteral("id")] = device.id;
        o[QStringLiteral("name")] = device.name;
        o[QStringLiteral("address")] = device.address;
        o[QStringLiteral("up")] = device.up;
        o[QStringLiteral("busy")] = device.busy;
        o[QStringLiteral("lastSeen")] = JsonTime(device.lastSeen);
        o[QStringLiteral("notAnsweringSince")] = JsonTime(device.failingSince);
        devices.append(o);
    }
    root[QStringLiteral("devices")] = devices;

    if (s.alarmsRead) {
        QJsonArray alarms;
        for (const AlarmView& alarm : s.alarms) {
            QJsonObject o;
            o[QStringLiteral("id")] = alarm.id;
            o[QStringLiteral("sensorId")] = alarm.sensorId;
            o[QStringLiteral("device")] = alarm.device;
            o[QStringLiteral("sensor")] = alarm.sensor;
            o[QStringLiteral("reading")] = alarm.reading;
            o[QStringLiteral("start")] = JsonTime(alarm.start);
            o[QStringLiteral("state")] =
                alarm.acknowledged ? QStringLiteral("acknowledged") : QStringLiteral("open");
            o[QStringLiteral("silenced")] = alarm.silenced;
            alarms.append(o);
        }
        root[QStringLiteral("openAlarms")] = alarms;
    } else {
        root[QStringLiteral("openAlarms")] = QJsonValue::Null;
    }

    QJsonObject counters;
    counters[QStringLiteral("cycles")] = s.cycles;
    counters[QStringLiteral("readings")] = s.readings;
    counters[QStringLiteral("emailsSent")] = s.emailsSent;
    counters[QStringLiteral("emailsFailed")] = s.emailsFailed;
    counters[QStringLiteral("emailsWaiting")] = s.emailsWaiting;
    root[QStringLiteral("counters")] = counters;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray Metrics(const Snapshot& s) {
    // Written as bytes: a scrape of a thousand sensors is answered within
    // the event loop, between two devices' exchanges.
    QByteArray out;
    out.reserve(256 * static_cast<qsizetype>(s.sensors.size() + s.devices.size()) + 4096);
    const auto family = [&out](const char* name, const char* type, const char* help) {
        out.append("# HELP ").append(name).append(' ').append(help);
        out.append("\n# TYPE ").append(name).append(' ').append(type).append('\n');
    };
    const auto sample = [&out](const char* name, const QByteArray& labels,
                               const QByteArray& value) {
        out.append(name).append(labels).append(' ').append(value).append('\n');
    };
    const auto label = [](const QString& text) { return LabelEscape(text).toUtf8(); };
    std::vector<QByteArray> sensorLabels;
    sensorLabels.reserve(s.sensors.size());
    for (const SensorView& sensor : s.sensors) {
        sensorLabels.push_back("{device=\"" + label(sensor.device) + "\",sensor=\"" +
                               label(sensor.name) + "\",sensor_id=\"" +
                               QByteArray::number(sensor.id) + "\",unit=\"" + label(sensor.units) +
                               "\"}");
    }
    std::vector<QByteArray> deviceLabels;
    deviceLabels.reserve(s.devices.size());
    for (const DeviceView& device : s.devices) {
        deviceLabels.push_back("{device=\"" + label(device.name) + "\",address=\"" +
                               label(device.address) + "\"}");
    }
    const auto number = [](double value) { return QByteArray::number(value, 'g', 15); };
    const QByteArray zero("0");
    const QByteArray one("1");

    family("fernlog_sensor_value", "gauge",
           "Last reading of the sensor in its unit; no sample while it has no data or reads a "
           "fault (open, shorted, not connected).");
    for (size_t i = 0; i < s.sensors.size(); ++i) {
        if (s.sensors[i].value) {
            sample("fernlog_sensor_value", sensorLabels[i], number(*s.sensors[i].value));
        }
    }
    family("fernlog_sensor_alarm", "gauge", "1 while the sensor is in alarm, else 0.");
    for (size_t i = 0; i < s.sensors.size(); ++i) {
        sample("fernlog_sensor_alarm", sensorLabels[i], s.sensors[i].alarm ? one : zero);
    }
    family("fernlog_sensor_alarm_acknowledged", "gauge",
           "1 while the sensor's open alarm is acknowledged, else 0.");
    qint64 unacknowledged = 0;
    for (size_t i = 0; i < s.sensors.size(); ++i) {
        sample("fernlog_sensor_alarm_acknowledged", sensorLabels[i],
               s.sensors[i].acknowledged ? one : zero);
        if (s.sensors[i].alarm && !s.sensors[i].acknowledged) ++unacknowledged;
    }
    family("fernlog_alarms_unacknowledged", "gauge",
           "Sensors in alarm whose alarm nobody has acknowledged.");
    sample("fernlog_alarms_unacknowledged", {}, QByteArray::number(unacknowledged));
    family("fernlog_silenced", "gauge",
           "1 while a silence or maintenance window covers the sensor (no notices), else 0.");
    for (size_t i = 0; i < s.sensors.size(); ++i) {
        sample("fernlog_silenced", sensorLabels[i], s.sensors[i].silenced ? one : zero);
    }
    family("fernlog_device_up", "gauge",
           "1 when the device answered (or said it was busy) when last polled, else 0.");
    for (size_t i = 0; i < s.devices.size(); ++i) {
        sample("fernlog_device_up", deviceLabels[i], s.devices[i].up ? one : zero);
    }
    family("fernlog_device_last_seen_timestamp_seconds", "gauge",
           "When the device last answered with readings, in seconds since the epoch.");
    for (size_t i = 0; i < s.devices.size(); ++i) {
        if (s.devices[i].lastSeen.isValid()) {
            sample("fernlog_device_last_seen_timestamp_seconds", deviceLabels[i],
                   QByteArray::number(s.devices[i].lastSeen.toSecsSinceEpoch()));
        }
    }
    family("fernlog_cycle_duration_seconds", "gauge", "How long the last polling cycle took.");
    if (s.cycles > 0) sample("fernlog_cycle_duration_seconds", {}, number(s.lastCycleMs / 1000.0));
    family("fernlog_last_cycle_timestamp_seconds", "gauge",
           "When the last polling cycle started, in seconds since the epoch.");
    if (s.cycles > 0) {
        sample("fernlog_last_cycle_timestamp_seconds", {},
               QByteArray::number(s.lastCycleStart.toSecsSinceEpoch()));
    }
    family("fernlog_healthy", "gauge", "1 while polling is alive (as /healthz answers 200).");
    sample("fernlog_healthy", {}, s.health.ok ? one : zero);
    family("fernlog_cycles_total", "counter", "Polling cycles ended since the start.");
    sample("fernlog_cycles_total", {}, QByteArray::number(s.cycles));
    family("fernlog_readings_total", "counter", "Sensor readings taken since the start.");
    sample("fernlog_readings_total", {}, QByteArray::number(s.readings));
    family("fernlog_emails_sent_total", "counter", "E-mails delivered since the start.");
    sample("fernlog_emails_sent_total", {}, QByteArray::number(s.emailsSent));
    family("fernlog_emails_failed_total", "counter",
           "E-mails whose delivery failed since the start.");
    sample("fernlog_emails_failed_total", {}, QByteArray::number(s.emailsFailed));
    family("fernlog_emails_waiting", "gauge", "E-mails waiting in the outbox.");
    sample("fernlog_emails_waiting", {}, QByteArray::number(s.emailsWaiting));
    return out;
}

}  // namespace Web
