// fernlog sensors and poll: the register's sensors, and one reading of
// every enabled device that writes nothing.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "core/Alarms.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/DeviceVisits.h"
#include "core/Polling.h"
#include "core/SensorState.h"
#include "core/Settings.h"
#include "db/SensorDatabase.h"
#include "pages/PageMaps.h"
#include "pages/PageTransfer.h"
#include "protocol/Commands.h"
#include "registry/Registry.h"

using namespace AdminCommon;

namespace AdminCommands {
namespace {

struct SensorLine {
    int port = 0;
    QString type, name, notes;
};

// The ports of the device's model with their names in the register, and
// any registered port the model does not list.
QList<SensorLine> PortsOf(const ServerDatabase::ServerRow& device,
                          const QList<ServerDatabase::SensorListing>& sensors) {
    QList<SensorLine> lines;
    const QStringList types = Pages::PortTypes(WindowForModel(device.model));
    for (int port = 0; port < types.size(); ++port) lines.append({port, types.at(port), {}, {}});
    for (const auto& sensor : sensors) {
        auto it = std::find_if(lines.begin(), lines.end(),
                               [&](const SensorLine& l) { return l.port == sensor.port; });
        if (it == lines.end()) {
            lines.append({sensor.port, sensor.type, sensor.name, sensor.notes});
        } else if (it->name.isEmpty()) {
            it->name = sensor.name;
            it->notes = sensor.notes;
        }
    }
    std::sort(lines.begin(), lines.end(),
              [](const SensorLine& a, const SensorLine& b) { return a.port < b.port; });
    return lines;
}

}  // namespace

int Sensors(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists each device's ports (by the model stored for it) with the sensor "
                       "names and notes of the register. PORT numbers are those that fernlog "
                       "sensor set takes."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Only the device of this name."),
                                    QStringLiteral("NAME"));
    parser.addOptions({dir, json, device});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    QList<ServerDatabase::ServerRow> devices;
    QString error;
    if (parser.isSet(device)) {
        ServerDatabase::ServerRow row;
        if (const auto status = FindDevice(parser.value(device), row)) return *status;
        devices << row;
    } else if (!ServerDatabase::ListServers(devices, &error)) {
        return Fail(QStringLiteral("the devices cannot be read from the database: ") + error);
    }
    QJsonArray all;
    for (const auto& row : devices) {
        QList<ServerDatabase::SensorListing> sensors;
        if (!ServerDatabase::ListSensors(row.id, sensors, &error)) {
            return Fail(QStringLiteral("the sensors cannot be read from the database: ") + error);
        }
        const QList<SensorLine> ports = PortsOf(row, sensors);
        if (parser.isSet(json)) {
            QJsonArray list;
            for (const SensorLine& p : ports) {
                list.append(QJsonObject{
                    {"port", p.port}, {"type", p.type}, {"name", p.name}, {"notes", p.notes}});
            }
            all.append(QJsonObject{{"device", row.name.trimmed()}, {"ports", list}});
            continue;
        }
        Print(row.name.trimmed() + QStringLiteral(" (") + row.ip.trimmed() + QStringLiteral(")"));
        for (const SensorLine& p : ports) {
            Print(QStringLiteral("  %1  %2  %3%4")
                      .arg(p.port)
                      .arg(p.type, p.name.isEmpty() ? QStringLiteral("(no name)") : p.name,
                           p.notes.isEmpty() ? QString() : QStringLiteral("  notes: ") + p.notes));
        }
    }
    if (parser.isSet(json)) PrintJson(all);
    return kDone;
}

int Poll(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads every enabled device once, as a polling cycle does, and prints each device's "
        "result and its named sensors' readings. Writes no log file, record or e-mail. Exit "
        "status 1 when a device did not answer."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    parser.addOptions({dir, json});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    // The settings as stored; defaults for what is out of range stay in
    // memory (nothing is written).
    Settings::InitCrypt();
    Settings::ReadConfigFile();
    Protocol::InitCommands();
    const int attempts = Polling::AttemptsFor(ConfigParameters.CommunicationRetry);
    QList<ServerDatabase::ServerRow> devices;
    QString error;
    if (!ServerDatabase::ListServers(devices, &error)) {
        return Fail(QStringLiteral("the devices cannot be read from the database: ") + error);
    }
    int failed = 0;
    QJsonArray results;
    for (const auto& device : devices) {
        if (device.enabled != 1) continue;  // as the polling cycle: only 1 is polled
        const QString ip = device.ip.trimmed();
        // The cycle's own visit and decoding, so that what is printed is
        // what a cycle would make of the same answers.
        DeviceVisits::Visit visit;
        DeviceVisits::VisitOne(
            attempts,
            [&](const QByteArray& request, QByteArray& answer) {
                return DeviceLink::ReadFromCV(ip, Protocol::kDevicePort, request, answer,
                                              Protocol::kRequestLength);
            },
            visit);
        const bool decoded = DeviceVisits::Decode(visit);
        using DeviceVisits::Outcome;
        const QString resultText = visit.outcome == Outcome::Answered ? QStringLiteral("OK")
                                   : visit.outcome == Outcome::Busy   ? QStringLiteral("busy")
                                                                      : QStringLiteral("FAILED");
        if (visit.outcome == Outcome::Failed) ++failed;
        QList<ServerDatabase::SensorListing> sensors;
        if (!ServerDatabase::ListSensors(device.id, sensors, &error)) {
            return Fail(QStringLiteral("the sensors cannot be read from the database: ") + error);
        }
        if (!parser.isSet(json)) {
            Print(QStringLiteral("%1 (%2): %3").arg(device.name.trimmed(), ip, resultText));
        }
        QJsonArray readings;
        for (const auto& sensor : sensors) {
            if (!decoded || sensor.name.isEmpty() || sensor.port < 0 || sensor.port > 9) {
                continue;
            }
            const size_t slot = size_t(3 * sensor.port);
            const float value = Decoding::Readings[slot];
            const int status = int(Decoding::Readings[slot + 2]);
            QString reading = Decoding::NumberText(value);
            SensorState::ReadingText(value, sensor.type, reading);
            const QString units = Decoding::PortUnits(device.model, sensor.port);
            const bool alarm = Alarms::IsAlarmCondition(value, status);
            if (parser.isSet(json)) {
                // The key names of /api/v1/status, so that one reader takes both.
                readings.append(QJsonObject{{"port", sensor.port},
                                            {"name", sensor.name},
                                            {"value", double(value)},
                                            {"reading", reading},
                                            {"unit", units},
                                            {"alarm", alarm}});
            } else {
                Print(QStringLiteral("  %1  %2: %3%4%5")
                          .arg(sensor.port)
                          .arg(sensor.name, reading, units,
                               alarm ? QStringLiteral("  ALARM") : QString()));
            }
        }
        if (parser.isSet(json)) {
            results.append(QJsonObject{{"name", device.name.trimmed()},
                                       {"address", ip},
                                       {"up", visit.outcome == Outcome::Answered},
                                       {"busy", visit.outcome == Outcome::Busy},
                                       {"result", resultText.toLower()},
                                       {"sensors", readings}});
        }
    }
    if (parser.isSet(json)) PrintJson(results);
    if (failed > 0) {
        return Fail(QStringLiteral("%1 device(s) did not answer").arg(failed));
    }
    return kDone;
}

}  // namespace AdminCommands
