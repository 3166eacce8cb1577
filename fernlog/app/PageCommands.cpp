// fernlog sensor show|set|calibrate|remove and device options|set-options:
// the configuration windows' download, edit and upload from the command
// line. The boxes are the windows' own record (Pages::PageForm), so every
// check and every byte written is the windows'.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "core/Decoding.h"
#include "core/Settings.h"
#include "db/SensorDatabase.h"
#include "pages/Calibration.h"
#include "pages/PageMaps.h"
#include "pages/PageTransfer.h"
#include "pages/PageValues.h"
#include "protocol/Commands.h"
#include "registry/Registry.h"

using namespace AdminCommon;
using Pages::Box;

namespace AdminCommands {
namespace {

// How an option's text becomes a box: a number as the window's box takes
// it, or one of two words for a choice the window offers as two buttons.
enum class Value { Number, OnOff, ZeroOne };

struct OptionDef {
    const char* name;
    Box box;
    Value value;
    const char* help;
};

// Options of one port (sensor set).
constexpr OptionDef kPortOptions[] = {
    {"low", Box::Lower, Value::Number, "Lower limit, in degrees or the sensor's unit."},
    {"high", Box::Upper, Value::Number, "Upper limit, in degrees or the sensor's unit."},
    {"minutes", Box::Time, Value::Number, "Time out of limits before the alarm, in minutes."},
    {"correction", Box::Correction, Value::Number,
     "Correction the device adds to the reading, in degrees."},
    {"normal-state", Box::NormalState, Value::OnOff, "Power port: its normal state, on or off."},
};

// Options of the whole device (device set-options).
constexpr OptionDef kDeviceOptions[] = {
    {"relay-logic", Box::RelayLogic, Value::ZeroOne, "Relay logic, 0 or 1."},
    {"buzzer", Box::Buzzer, Value::OnOff, "The buzzer, on or off."},
    {"reminder-delay", Box::ReminderDelay, Value::Number, "Alarm reminder time delay."},
    {"two-stage-delay", Box::TwoStageDelay, Value::Number, "Two stage door alarm time delay."},
    {"erroneous-bits", Box::ErroneousBits, Value::Number, "Erroneous bit change (bits)."},
    {"erroneous-count", Box::ErroneousCount, Value::Number, "Number of erroneous readings."},
};

QCommandLineOption MakeOption(const OptionDef& def) {
    const char* valueName = def.value == Value::OnOff     ? "on|off"
                            : def.value == Value::ZeroOne ? "0|1"
                                                          : "N";
    return QCommandLineOption(QString::fromLatin1(def.name), QString::fromLatin1(def.help),
                              QString::fromLatin1(valueName));
}

// Whether the window's pages hold the field (`index` -1: device-wide).
bool HasField(Window window, Box box, int index) {
    for (const Pages::Field& f : Pages::PageMap(window)) {
        if (f.box == box && f.index == index) return true;
    }
    return false;
}

// Whether the device, as its last download showed it, lets the window
// edit the field (later firmware builds and models add options).
bool Offered(const Pages::PageSession& s, Box box) {
    const bool qx705 = s.window == Window::frmQX705;
    switch (box) {
        case Box::RelayLogic:
            return qx705 ? s.form.relayOptionsEnabled : s.alarmOptionsRead;
        case Box::Buzzer:
        case Box::ReminderDelay:
        case Box::TwoStageDelay:
            return s.alarmOptionsRead;
        case Box::ErroneousBits:
        case Box::ErroneousCount:
            return s.form.rev23Visible && s.images.contains(Pages::QX705Page12::kPage);
        case Box::Correction:
            return qx705 ? s.images.contains(Pages::QX705Page12::kPage) : s.Tenths;
        default:
            return true;
    }
}

// The box text an option's value stands for; nullopt (having said why)
// when it is not a value of that kind.
std::optional<QString> BoxText(const OptionDef& def, const QString& text, int& status) {
    const QString v = text.trimmed().toLower();
    switch (def.value) {
        case Value::Number:
            if (Pages::ScaledNumber(v, 1)) return v;
            status = Fail(QStringLiteral("--%1 takes a number, not '%2'")
                              .arg(QString::fromLatin1(def.name), text),
                          kBadArgument);
            return std::nullopt;
        case Value::OnOff:
            if (v == QLatin1String("on") || v == QLatin1String("off")) return v;
            break;
        case Value::ZeroOne:
            if (v == QLatin1String("0") || v == QLatin1String("1")) return v;
            break;
    }
    status = Fail(
        QStringLiteral("--%1 takes %2, not '%3'")
            .arg(QString::fromLatin1(def.name),
                 def.value == Value::OnOff ? QStringLiteral("on or off") : QStringLiteral("0 or 1"),
                 text),
        kBadArgument);
    return std::nullopt;
}

// Puts a checked value into the window's record.
void SetBox(Pages::PageForm& form, Box box, int port, const QString& v) {
    auto& boxes = form.ports[size_t(std::max(port, 0))];
    switch (box) {
        case Box::Lower:
            boxes.lower = v;
            break;
        case Box::Upper:
            boxes.upper = v;
            break;
        case Box::Time:
            boxes.time = v;
            break;
        case Box::Correction:
            form.correction[size_t(port)] = v;
            break;
        case Box::NormalState:  // cmboNormalState: 0 "On", 1 "Off"
            form.normalState[size_t(port - 4)] = v == QLatin1String("on") ? 0 : 1;
            break;
        case Box::RelayLogic:
            form.relayLogic = v.toInt();
            break;
        case Box::Buzzer:  // optEnableBuzzer: 0 enable, 1 disable
            form.buzzer = v == QLatin1String("on") ? 0 : 1;
            break;
        case Box::ReminderDelay:
            form.reminderDelay = v;
            break;
        case Box::TwoStageDelay:
            form.twoStageDelay = v;
            break;
        case Box::ErroneousBits:
            form.erroneousBits = v;
            break;
        case Box::ErroneousCount:
            form.erroneousCount = v;
            break;
        case Box::Name:
            break;
    }
}

struct Edit {
    const OptionDef* def;
    QString text;  // as SetBox takes it
};

// The options given, checked for their form and for the model (the stored
// one when known, before anything is sent); `port` -1 for device options.
std::optional<int> GivenEdits(const QCommandLineParser& parser, const OptionDef* defs, int count,
                              Window window, int port, const QString& what, QList<Edit>& edits) {
    for (int i = 0; i < count; ++i) {
        const OptionDef& def = defs[i];
        const QString name = QString::fromLatin1(def.name);
        if (!parser.isSet(name)) continue;
        int status = kDone;
        const auto text = BoxText(def, parser.value(name), status);
        if (!text) return status;
        if (window != Window::None && !HasField(window, def.box, port)) {
            return Fail(QStringLiteral("%1 has no --%2").arg(what, name), kBadArgument);
        }
        edits.append({&def, *text});
    }
    return std::nullopt;
}

// A device's pages read as its configuration window reads them.
struct Opened {
    ServerDatabase::ServerRow row;
    Pages::PageSession session;
    QString model;  // the model text of its identification
    QChar unit;     // its name page's unit letter; null when unread
};

// The window the register's model names, to refuse what the model lacks
// before the device is asked; None when the stored model is not known.
Window StoredWindow(const ServerDatabase::ServerRow& row) {
    return WindowForModel(row.model);
}

std::optional<int> OpenPages(const ServerDatabase::ServerRow& row, Opened& opened) {
    Settings::InitCrypt();
    Settings::ReadConfigFile();
    Protocol::InitCommands();
    opened.row = row;
    const QString ip = row.ip.trimmed();
    Protocol::Identification id;
    if (!Registry::Identify(ip, id)) {
        return Fail(QStringLiteral("%1 did not answer at %2").arg(row.name.trimmed(), ip));
    }
    opened.model = Protocol::ModelText(id.family, id.model);
    const Window window = Registry::ConfigWindowFor(id.family, id.model);
    if (window == Window::None) {
        return Fail(
            QStringLiteral("%1 (%2) has no sensor pages").arg(row.name.trimmed(), opened.model));
    }
    QByteArray namePage;
    if (Registry::ReadNamePage(ip, id.family, namePage) == Registry::Outcome::Ok) {
        opened.unit = Registry::PageUnit(namePage);
    }
    opened.session = Pages::NewSession(window, ip, row.id);
    if (!Pages::GetLimits(opened.session)) {
        return Fail(
            QStringLiteral("the pages of %1 could not be read; nothing was written: %2")
                .arg(row.name.trimmed(), opened.session.form.status.join(QStringLiteral("; "))));
    }
    return std::nullopt;
}

std::optional<int> PortInRange(const Opened& o, int port) {
    const int ports = int(o.session.form.ports.size());
    if (port < ports) return std::nullopt;
    return Fail(QStringLiteral("%1 (%2) has ports 0 to %3, not %4")
                    .arg(o.row.name.trimmed(), o.model)
                    .arg(ports - 1)
                    .arg(port),
                kBadArgument);
}

std::optional<int> PortNumber(const QString& text, int& port) {
    bool isNumber = false;
    port = text.toInt(&isNumber);
    if (isNumber && port >= 0) return std::nullopt;
    return Fail(QStringLiteral("PORT is a number as fernlog sensors lists it, not '%1'").arg(text),
                kBadArgument);
}

// Applies the edits after the download: what this device does not offer
// is refused, then every box is checked as the upload will write it.
std::optional<int> ApplyEdits(Opened& o, const QList<Edit>& edits, int port, const QString& what) {
    for (const Edit& e : edits) {
        if (!HasField(o.session.window, e.def->box, port) || !Offered(o.session, e.def->box)) {
            return Fail(
                QStringLiteral("%1 has no --%2").arg(what, QString::fromLatin1(e.def->name)),
                kBadArgument);
        }
        if ((e.def->box == Box::Lower || e.def->box == Box::Upper) &&
            Pages::LimitsLocked(o.session)) {
            return Fail(QStringLiteral("the limits of %1 cannot be written: the sensor readings "
                                       "did not arrive, so it is not known whether it counts in "
                                       "tenths; nothing was written")
                            .arg(o.row.name.trimmed()));
        }
        SetBox(o.session.form, e.def->box, port, e.text);
    }
    QString error;
    if (!Pages::CheckBoxes(o.session, false, &error)) return Fail(error, kBadArgument);
    return std::nullopt;
}

std::optional<int> Upload(Opened& o) {
    const bool written = Pages::SaveLimits(o.session);
    HandOver({QStringLiteral("zolo.mdb")});
    if (written) return std::nullopt;
    return Fail(QStringLiteral("the upload to %1 did not complete: %2")
                    .arg(o.row.name.trimmed(), o.session.form.status.join(QStringLiteral("; "))));
}

QString Unit(const Opened& o, int port) {
    const QString letter = o.unit.isNull() ? QString() : QString(o.unit);
    return Decoding::PortUnits(o.model, port, letter);
}

// A box as a JSON number, null when empty; a box that is not a number
// (a reading shown as "Open") as its text.
QJsonValue Number(const QString& text) {
    if (text.trimmed().isEmpty()) return QJsonValue();
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok ? QJsonValue(value) : QJsonValue(text);
}

QJsonObject PortJson(const Opened& o, int port) {
    const Pages::PortBoxes& b = o.session.form.ports[size_t(port)];
    const QString correction = port < 8 && HasField(o.session.window, Box::Correction, port) &&
                                       Offered(o.session, Box::Correction)
                                   ? o.session.form.correction[size_t(port)]
                                   : QString();
    return QJsonObject{{"port", port},
                       {"name", b.name},
                       {"type", b.type},
                       {"low", Number(b.lower)},
                       {"high", Number(b.upper)},
                       {"minutes", Number(b.time)},
                       {"correction", Number(correction)},
                       {"notes", b.notes},
                       {"reading", Number(b.reading)},
                       {"unit", Unit(o, port)},
                       {"tenths", o.session.Tenths}};
}

QString PortLine(const Opened& o, int port) {
    const QJsonObject j = PortJson(o, port);
    const Pages::PortBoxes& b = o.session.form.ports[size_t(port)];
    const QString unit = Unit(o, port);
    QStringList parts;
    parts << (b.name.isEmpty() ? QStringLiteral("(no name)") : b.name);
    if (!b.lower.isEmpty() || !b.upper.isEmpty()) {
        parts << QStringLiteral("limits %1 to %2%3").arg(b.lower, b.upper, unit);
    }
    if (!b.time.isEmpty()) parts << QStringLiteral("%1 minute(s) out of limits").arg(b.time);
    if (!j.value("correction").isNull()) {
        parts << QStringLiteral("correction ") + o.session.form.correction[size_t(port)];
    }
    if (port >= 4 && port < 8 && o.session.window == Window::frmQX740) {
        const int state = o.session.form.normalState[size_t(port - 4)];
        if (state >= 0)
            parts << (state == 0 ? QStringLiteral("normally on") : QStringLiteral("normally off"));
    }
    parts << QStringLiteral("reading ") + b.reading + unit;
    if (!b.notes.isEmpty()) parts << QStringLiteral("notes: ") + b.notes;
    return QStringLiteral("  %1  %2: %3").arg(port).arg(b.type, parts.join(QStringLiteral(", ")));
}

// The register rows of a device, by port.
QMap<int, ServerDatabase::SensorListing> RegisterRows(qint64 serverId) {
    QList<ServerDatabase::SensorListing> rows;
    ServerDatabase::ListSensors(serverId, rows);
    QMap<int, ServerDatabase::SensorListing> byPort;
    for (const auto& r : rows) byPort.insert(r.port, r);
    return byPort;
}

// Every register row the command added or changed.
void PrintRegisterChanges(const QMap<int, ServerDatabase::SensorListing>& before,
                          const QMap<int, ServerDatabase::SensorListing>& after) {
    for (const auto& row : after) {
        const auto old = before.find(row.port);
        const bool added = old == before.end();
        if (!added && old->name == row.name && old->notes == row.notes) continue;
        Print(QStringLiteral("Register: port %1 %2 as '%3'%4")
                  .arg(row.port)
                  .arg(added ? QStringLiteral("added") : QStringLiteral("changed"), row.name,
                       row.notes.isEmpty() ? QString()
                                           : QStringLiteral(", notes '") + row.notes + '\''));
    }
}

int SensorShow(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the device's pages as its configuration window does and prints each port's "
        "name, type, limits, time out of limits, correction, notes and reading."));
    parser.addPositionalArgument(QStringLiteral("DEVICE"), QStringLiteral("The device's name."));
    parser.addPositionalArgument(QStringLiteral("PORT"), QStringLiteral("Only this port."),
                                 QStringLiteral("[PORT]"));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    parser.addOptions({dir, json});
    if (const auto status = Parse(parser, argc, argv, 2, 2)) return *status;
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        return Fail(QStringLiteral("sensor show takes DEVICE [PORT] (see --help)"), kBadArgument);
    }
    int port = -1;
    if (args.size() > 1) {
        if (const auto status = PortNumber(args.at(1), port)) return *status;
    }
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(args.at(0), row)) return *status;
    Opened o;
    if (const auto status = OpenPages(row, o)) return *status;
    if (port >= 0) {
        if (const auto status = PortInRange(o, port)) return *status;
    }
    QJsonArray list;
    if (!parser.isSet(json)) {
        Print(QStringLiteral("%1 (%2, %3)%4")
                  .arg(row.name.trimmed(), row.ip.trimmed(), o.model,
                       o.session.Tenths ? QStringLiteral(", counts in tenths") : QString()));
    }
    for (int p = 0; p < int(o.session.form.ports.size()); ++p) {
        if (port >= 0 && p != port) continue;
        if (parser.isSet(json)) {
            list.append(PortJson(o, p));
        } else {
            Print(PortLine(o, p));
        }
    }
    if (parser.isSet(json)) PrintJson(list);
    return kDone;
}

int SensorSet(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Changes a port as its configuration window does: the device's pages are read, the "
        "values given replace the boxes (every other value stays as the device holds it), "
        "the pages are written back, and the port's name and notes are stored in the register. "
        "Other ports' register rows stay as they are."));
    parser.addPositionalArgument(QStringLiteral("DEVICE"), QStringLiteral("The device's name."));
    parser.addPositionalArgument(QStringLiteral("PORT"),
                                 QStringLiteral("The port, as fernlog sensors lists it."));
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("The sensor's name (empty: none)."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption notes(QStringLiteral("notes"), QStringLiteral("Its notes."),
                                   QStringLiteral("TEXT"));
    parser.addOptions({dir, name, notes});
    for (const OptionDef& def : kPortOptions) parser.addOption(MakeOption(def));
    if (const auto status = Parse(parser, argc, argv, 2, 2)) return *status;
    const QStringList args = parser.positionalArguments();
    if (args.size() < 2) {
        return Fail(QStringLiteral("sensor set takes DEVICE PORT and what to change (see --help)"),
                    kBadArgument);
    }
    int port = 0;
    if (const auto status = PortNumber(args.at(1), port)) return *status;

    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    // From the read of the device's pages to the register's change: two
    // commands at once would otherwise each write back the other's old values.
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    Answers answers;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(args.at(0), row)) return *status;
    const Window stored = StoredWindow(row);
    const QString what = QStringLiteral("port %1 of %2").arg(port).arg(row.name.trimmed());
    if (stored != Window::None && port >= Pages::PortTypes(stored).size()) {
        return Fail(QStringLiteral("%1 (%2) has ports 0 to %3, not %4")
                        .arg(row.name.trimmed(), row.model.trimmed())
                        .arg(Pages::PortTypes(stored).size() - 1)
                        .arg(port),
                    kBadArgument);
    }
    QList<Edit> edits;
    if (const auto status = GivenEdits(parser, kPortOptions, int(std::size(kPortOptions)), stored,
                                       port, what, edits))
        return *status;
    if (edits.isEmpty() && !parser.isSet(name) && !parser.isSet(notes)) {
        return Fail(QStringLiteral("sensor set takes at least one of --name, --notes, --low, "
                                   "--high, --minutes, --correction, --normal-state"),
                    kBadArgument);
    }

    Opened o;
    if (const auto status = OpenPages(row, o)) return *status;
    if (const auto status = PortInRange(o, port)) return *status;
    if (!o.session.namesRead.contains(port)) {
        return Fail(QStringLiteral("the name of %1 could not be read; nothing was written: %2")
                        .arg(what, o.session.form.status.join(QStringLiteral("; "))));
    }
    Pages::PortBoxes& boxes = o.session.form.ports[size_t(port)];
    if (parser.isSet(name)) boxes.name = parser.value(name);
    if (parser.isSet(notes)) boxes.notes = parser.value(notes);
    if (const auto status = ApplyEdits(o, edits, port, what)) return *status;
    // Only the port named here gets a register row, and only when its name
    // or notes are given: limits live on the device.
    o.session.registerPorts = QSet<int>{};
    if (parser.isSet(name) || parser.isSet(notes)) o.session.registerPorts->insert(port);
    const auto before = RegisterRows(row.id);
    const auto uploaded = Upload(o);
    PrintRegisterChanges(before, RegisterRows(row.id));
    if (uploaded) return *uploaded;
    Print(QStringLiteral("%1 (%2) written:").arg(row.name.trimmed(), o.model));
    Print(PortLine(o, port));
    return kDone;
}

int SensorCalibrate(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Calibrates a temperature port as the calibration panel does: the new correction makes "
        "the current reading match the actual temperature a reference thermometer shows."));
    parser.addPositionalArgument(QStringLiteral("DEVICE"), QStringLiteral("The device's name."));
    parser.addPositionalArgument(QStringLiteral("PORT"), QStringLiteral("A temperature port."));
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption actual(QStringLiteral("actual"),
                                    QStringLiteral("The actual temperature, in degrees."),
                                    QStringLiteral("TEMPERATURE"));
    parser.addOptions({dir, actual});
    if (const auto status = Parse(parser, argc, argv, 2, 2)) return *status;
    const QStringList args = parser.positionalArguments();
    if (args.size() < 2 || !parser.isSet(actual)) {
        return Fail(QStringLiteral("sensor calibrate takes DEVICE PORT --actual TEMPERATURE"),
                    kBadArgument);
    }
    int port = 0;
    if (const auto status = PortNumber(args.at(1), port)) return *status;
    if (!Pages::ScaledNumber(parser.value(actual), 1)) {
        return Fail(
            QStringLiteral("--actual takes a temperature, not '%1'").arg(parser.value(actual)),
            kBadArgument);
    }
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    // From the read of the device's pages to the register's change: two
    // commands at once would otherwise each write back the other's old values.
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    Answers answers;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(args.at(0), row)) return *status;
    const auto notTemperature = [&](Window window) {
        return Fail(QStringLiteral("port %1 of %2 is not a temperature port the calibration "
                                   "takes (ports 0 to %3)")
                        .arg(port)
                        .arg(row.name.trimmed())
                        .arg(Pages::CalibrationPorts(window) - 1),
                    kBadArgument);
    };
    const Window stored = StoredWindow(row);
    if (stored != Window::None && port >= Pages::CalibrationPorts(stored)) {
        return notTemperature(stored);
    }
    Opened o;
    if (const auto status = OpenPages(row, o)) return *status;
    if (port >= Pages::CalibrationPorts(o.session.window)) return notTemperature(o.session.window);
    if (!o.session.form.calibrationAllowed || !Offered(o.session, Box::Correction)) {
        return Fail(QStringLiteral("%1 (%2, build %3) cannot be calibrated")
                        .arg(row.name.trimmed(), o.model)
                        .arg(o.session.firmwareBuild));
    }
    o.session.form.actualTemp[size_t(port)] = parser.value(actual).trimmed();
    QString error;
    if (!Pages::ComputeCalFactors(o.session, &error)) return Fail(error, kBadArgument);
    const QString correction = o.session.form.correction[size_t(port)];
    if (!Pages::CheckBoxes(o.session, true, &error)) return Fail(error, kBadArgument);
    if (!Pages::UploadCalFactors(o.session)) {
        return Fail(QStringLiteral("the upload to %1 did not complete: %2")
                        .arg(row.name.trimmed(), o.session.form.status.join(QStringLiteral("; "))));
    }
    Print(QStringLiteral("Port %1 of %2 calibrated: correction %3")
              .arg(port)
              .arg(row.name.trimmed(), correction));
    return kDone;
}

int SensorRemove(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Takes a port out of the register: it is no longer polled. Its alarm records and log "
        "files stay; the device keeps its pages."));
    parser.addPositionalArgument(QStringLiteral("DEVICE"), QStringLiteral("The device's name."));
    parser.addPositionalArgument(QStringLiteral("PORT"), QStringLiteral("The port."));
    const QCommandLineOption dir = DirOption();
    parser.addOption(dir);
    if (const auto status = Parse(parser, argc, argv, 2, 2)) return *status;
    const QStringList args = parser.positionalArguments();
    if (args.size() < 2) {
        return Fail(QStringLiteral("sensor remove takes DEVICE PORT"), kBadArgument);
    }
    int port = 0;
    if (const auto status = PortNumber(args.at(1), port)) return *status;
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    // From the read of the device's pages to the register's change: two
    // commands at once would otherwise each write back the other's old values.
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    Answers answers;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(args.at(0), row)) return *status;
    const auto rows = RegisterRows(row.id);
    if (!rows.contains(port)) {
        return Fail(QStringLiteral("port %1 of %2 is not in the register")
                        .arg(port)
                        .arg(row.name.trimmed()),
                    kBadArgument);
    }
    QString error;
    if (!ServerDatabase::RemoveSensor(row.id, port, &error)) {
        return Fail(QStringLiteral("the database refused: ") + error);
    }
    HandOver({QStringLiteral("zolo.mdb")});
    Print(QStringLiteral("Register: port %1 of %2 removed ('%3')")
              .arg(port)
              .arg(row.name.trimmed(), rows.value(port).name));
    return kDone;
}

}  // namespace

int Sensor(int argc, char** argv) {
    const QString verb = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (verb == QLatin1String("show")) return SensorShow(argc, argv);
    if (verb == QLatin1String("set")) return SensorSet(argc, argv);
    if (verb == QLatin1String("calibrate")) return SensorCalibrate(argc, argv);
    if (verb == QLatin1String("remove")) return SensorRemove(argc, argv);
    if (verb == QLatin1String("review")) return SensorReview(argc, argv);
    if (VerbHelp(verb, QStringLiteral("Usage: fernlog sensor show DEVICE [PORT] [--json]\n"
                                      "       fernlog sensor set DEVICE PORT [options]\n"
                                      "       fernlog sensor calibrate DEVICE PORT --actual T\n"
                                      "       fernlog sensor remove DEVICE PORT\n"
                                      "       fernlog sensor review ID DATE --by NAME\n"
                                      "fernlog sensor VERB --help tells more."))) {
        return kDone;
    }
    return Fail(
        QStringLiteral("sensor takes show, set, calibrate, remove or review (see fernlog --help)"),
        kBadArgument);
}

int DeviceOptions(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads the device-wide options its configuration window shows."));
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The device's name."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    parser.addOptions({dir, json});
    if (const auto status = Parse(parser, argc, argv, 2, 1)) return *status;
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) return Fail(QStringLiteral("device options takes NAME"), kBadArgument);
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(args.at(0), row)) return *status;
    Opened o;
    if (const auto status = OpenPages(row, o)) return *status;
    const Pages::PageForm& f = o.session.form;
    QJsonObject options;
    for (const OptionDef& def : kDeviceOptions) {
        if (!HasField(o.session.window, def.box, -1) || !Offered(o.session, def.box)) continue;
        QJsonValue value;
        switch (def.box) {
            case Box::RelayLogic:
                value = f.relayLogic >= 0 ? QJsonValue(f.relayLogic) : QJsonValue();
                break;
            case Box::Buzzer:
                value = f.buzzer >= 0 ? QJsonValue(f.buzzer == 0 ? "on" : "off") : QJsonValue();
                break;
            case Box::ReminderDelay:
                value = Number(f.reminderDelay);
                break;
            case Box::TwoStageDelay:
                value = Number(f.twoStageDelay);
                break;
            case Box::ErroneousBits:
                value = Number(f.erroneousBits);
                break;
            case Box::ErroneousCount:
                value = Number(f.erroneousCount);
                break;
            default:
                break;
        }
        options.insert(QString::fromLatin1(def.name), value);
    }
    if (parser.isSet(json)) {
        PrintJson(options);
        return kDone;
    }
    Print(QStringLiteral("%1 (%2)").arg(row.name.trimmed(), o.model));
    for (auto it = options.begin(); it != options.end(); ++it) {
        const QJsonValue v = it.value();
        Print(QStringLiteral("  %1=%2").arg(it.key(), v.isNull() ? QStringLiteral("(not set)")
                                                      : v.isString()
                                                          ? v.toString()
                                                          : QString::number(v.toDouble())));
    }
    if (options.isEmpty()) Print(QStringLiteral("  (no device-wide options)"));
    return kDone;
}

int DeviceSetOptions(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Changes device-wide options as its configuration window does; what is not given stays "
        "as the device holds it."));
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The device's name."));
    const QCommandLineOption dir = DirOption();
    parser.addOption(dir);
    for (const OptionDef& def : kDeviceOptions) parser.addOption(MakeOption(def));
    if (const auto status = Parse(parser, argc, argv, 2, 1)) return *status;
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) return Fail(QStringLiteral("device set-options takes NAME"), kBadArgument);
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    // From the read of the device's pages to the register's change: two
    // commands at once would otherwise each write back the other's old values.
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    Answers answers;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(args.at(0), row)) return *status;
    const QString what = row.name.trimmed() + QStringLiteral(" (") + row.model.trimmed() + ')';
    QList<Edit> edits;
    if (const auto status = GivenEdits(parser, kDeviceOptions, int(std::size(kDeviceOptions)),
                                       StoredWindow(row), -1, what, edits))
        return *status;
    if (edits.isEmpty()) {
        return Fail(QStringLiteral("device set-options takes at least one option (see --help)"),
                    kBadArgument);
    }
    Opened o;
    if (const auto status = OpenPages(row, o)) return *status;
    if (const auto status = ApplyEdits(o, edits, -1, what)) return *status;
    o.session.registerPorts = QSet<int>{};  // the register's rows stay as they are
    if (const auto status = Upload(o)) return *status;
    Print(QStringLiteral("%1 (%2): options written").arg(row.name.trimmed(), o.model));
    return kDone;
}

}  // namespace AdminCommands
