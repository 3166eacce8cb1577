// fernlog devices, device add, device set, device remove: the registry
// window's Save and Delete from the command line.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "core/AlarmHandling.h"
#include "protocol/Address.h"
#include "registry/Registry.h"

using namespace AdminCommon;

namespace AdminCommands {
namespace {

const QStringList kDeviceFiles{QStringLiteral("zolo.mdb")};

// As the polling cycle reads the column: only 1 is polled.
bool Polled(int enabled) {
    return enabled == 1;
}

QString EnabledText(int enabled) {
    return Polled(enabled) ? QStringLiteral("yes") : QStringLiteral("no");
}

// "a@b.c, d@e.f" as the stored list; nullopt (having said why) for a text
// that is not an address.
std::optional<QString> EmailList(const QString& text, int& status) {
    QStringList addresses;
    for (const QString& part :
         text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts)) {
        if (!Registry::LooksLikeEmailAddress(part)) {
            status = Fail(QStringLiteral("'%1' is not an e-mail address").arg(part), kBadArgument);
            return std::nullopt;
        }
        addresses << part;
    }
    return Registry::JoinEmailList(addresses);
}

std::optional<QChar> Unit(const QString& text, int& status) {
    const QString unit = text.trimmed().toUpper();
    if (unit == QLatin1String("F") || unit == QLatin1String("C")) return unit.at(0);
    status = Fail(QStringLiteral("--unit takes F or C, not '%1'").arg(text), kBadArgument);
    return std::nullopt;
}

bool AddressOk(const QString& text, int& status) {
    QString error;
    if (Protocol::ParseIPv4(text, &error)) return true;
    status = Fail(error, kBadArgument);
    return false;
}

// Another device of this name, other than `exceptId`: the commands find
// devices by name, so names stay unique.
bool NameTaken(const QString& name, qint64 exceptId, int& status) {
    QList<ServerDatabase::ServerRow> rows;
    QString error;
    if (!ServerDatabase::ListServers(rows, &error)) {
        status = Fail(QStringLiteral("the devices cannot be read from the database: ") + error);
        return true;
    }
    for (const auto& row : rows) {
        if (row.id != exceptId && row.name.trimmed() == name.trimmed()) {
            status = Fail(QStringLiteral("a device named '%1' is already registered, at %2")
                              .arg(name.trimmed(), row.ip.trimmed()));
            return true;
        }
    }
    return false;
}

// Save as the window's button does; the outcome told as the window tells it.
int Save(qint64 serverId, const Registry::ServerEntry& entry, bool offline, bool adding,
         const Answers& answers) {
    Registry::SaveReport report;
    const bool stored = Registry::SaveServer(serverId, entry, report, !offline);
    if (stored) HandOver(kDeviceFiles);
    if (!stored) {
        if (report.field != Registry::SaveReport::Field::None) {
            return Fail(report.message, kBadArgument);
        }
        if (report.silent) {
            return Fail(QStringLiteral("%1 did not answer at %2; nothing was stored (--offline "
                                       "stores it without asking the device)")
                            .arg(entry.name.trimmed(), entry.ip));
        }
        if (!report.message.isEmpty()) {
            return Fail(report.message);
        }
        return Fail(answers.problems.value(0, QStringLiteral("the database refused the change")));
    }
    const QString what = adding ? QStringLiteral("Added") : QStringLiteral("Stored");
    // Told as the register now holds it, not as it was asked for.
    Registry::ServerEntry told = entry;
    QList<ServerDatabase::ServerRow> rows;
    if (ServerDatabase::ListServers(rows)) {
        for (const auto& row : rows) {
            if (row.id != report.serverId) continue;
            told.name = row.name;
            told.ip = row.ip.trimmed();
        }
    }
    if (entry.enabled && !report.enabled) {
        // Stored disabled, as the window stores a device that did not take
        // its name page.
        return Fail(report.message + QStringLiteral(" (stored, disabled)"));
    }
    if (entry.enabled && !report.contacted) {
        Print(QStringLiteral("%1 %2 at %3 without asking the device (--offline): its name page "
                             "was not written")
                  .arg(what, told.name.trimmed(), told.ip));
        return kDone;
    }
    Print(QStringLiteral("%1 %2 at %3%4, %5")
              .arg(what, told.name.trimmed(), told.ip,
                   report.model.isEmpty() ? QString() : QStringLiteral(" (") + report.model + ')',
                   report.enabled ? QStringLiteral("enabled; name page written")
                                  : QStringLiteral("disabled")));
    return kDone;
}

}  // namespace

int Devices(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the registered devices: name, address, enabled, model and alarm e-mail list."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    parser.addOptions({dir, json});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    QList<ServerDatabase::ServerRow> rows;
    QString error;
    if (!ServerDatabase::ListServers(rows, &error)) {
        return Fail(QStringLiteral("the devices cannot be read from the database: ") + error);
    }
    if (parser.isSet(json)) {
        QHash<qint64, QString> escalation;
        AlarmHandling::EscalationLists(escalation);
        QJsonArray devices;
        for (const auto& row : rows) {
            devices.append(QJsonObject{
                {"name", row.name.trimmed()},
                {"address", row.ip.trimmed()},
                {"model", row.model.trimmed()},
                {"enabled", Polled(row.enabled)},
                {"emails", QJsonArray::fromStringList(Registry::SplitEmailList(row.emailList))},
                {"escalateTo", QJsonArray::fromStringList(
                                   escalation.value(row.id).split(u',', Qt::SkipEmptyParts))},
                {"notes", row.notes}});
        }
        PrintJson(devices);
        return kDone;
    }
    for (const auto& row : rows) {
        Print(QStringLiteral("%1  %2  enabled: %3  %4  e-mail: %5")
                  .arg(row.name.trimmed(), row.ip.trimmed(), EnabledText(row.enabled),
                       row.model.trimmed(),
                       Registry::SplitEmailList(row.emailList).join(QStringLiteral(", "))));
    }
    if (rows.isEmpty()) Print(QStringLiteral("No device is registered."));
    return kDone;
}

int Device(int argc, char** argv) {
    const QString verb = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (verb == QLatin1String("options")) return DeviceOptions(argc, argv);
    if (verb == QLatin1String("set-options")) return DeviceSetOptions(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("The new name."),
                                  QStringLiteral("TEXT"));
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("The new address."),
                                     QStringLiteral("ADDRESS"));
    const QCommandLineOption unit(QStringLiteral("unit"),
                                  QStringLiteral("Temperature unit the device shows: F or C "
                                                 "(default: the unit the device has)."),
                                  QStringLiteral("F|C"));
    const QCommandLineOption notes(QStringLiteral("notes"), QStringLiteral("Notes."),
                                   QStringLiteral("TEXT"));
    const QCommandLineOption emails(
        QStringLiteral("emails"),
        QStringLiteral("The alarm e-mail addresses, separated by commas (empty: none)."),
        QStringLiteral("LIST"));
    const QCommandLineOption escalateTo(
        QStringLiteral("escalate-to"),
        QStringLiteral("Who is told when an alarm stays unacknowledged (EscalateMinutes): "
                       "addresses separated by commas (empty: nobody)."),
        QStringLiteral("LIST"));
    const QCommandLineOption disabled(QStringLiteral("disabled"),
                                      QStringLiteral("Store it disabled: not polled, not asked."));
    const QCommandLineOption enable(QStringLiteral("enable"), QStringLiteral("Enable it."));
    const QCommandLineOption disable(QStringLiteral("disable"), QStringLiteral("Disable it."));
    const QCommandLineOption offline(
        QStringLiteral("offline"),
        QStringLiteral("Store it without asking the device; its name page is not written."));
    const QCommandLineOption yes(QStringLiteral("yes"),
                                 QStringLiteral("Confirms the removal of the device and of its "
                                                "sensors' names."));
    int positional = 0;
    if (verb == QLatin1String("add")) {
        parser.setApplicationDescription(QStringLiteral(
            "Registers a device as the registry window's Save does: asks the device who it is, "
            "writes its name page (name, unit, address) and stores it in zolo.mdb. A device that "
            "does not answer is not stored, unless --offline."));
        parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The device's name."));
        parser.addPositionalArgument(QStringLiteral("ADDRESS"),
                                     QStringLiteral("Its IPv4 address."));
        parser.addOptions({dir, unit, disabled, notes, emails, escalateTo, offline});
        positional = 2;
    } else if (verb == QLatin1String("set")) {
        parser.setApplicationDescription(QStringLiteral(
            "Changes a registered device as the registry window's Save does; an enabled device "
            "gets its name page written again."));
        parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The device's name."));
        parser.addOptions(
            {dir, name, address, enable, disable, unit, notes, emails, escalateTo, offline});
        positional = 1;
    } else if (verb == QLatin1String("remove")) {
        parser.setApplicationDescription(QStringLiteral(
            "Removes a device and its sensors from zolo.mdb; its alarm and failure records "
            "stay."));
        parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The device's name."));
        parser.addOptions({dir, yes});
        positional = 1;
    } else if (VerbHelp(verb, QStringLiteral("Usage: fernlog device add NAME ADDRESS [options]\n"
                                             "       fernlog device set NAME [options]\n"
                                             "       fernlog device remove NAME --yes\n"
                                             "       fernlog device options NAME [--json]\n"
                                             "       fernlog device set-options NAME [options]\n"
                                             "fernlog device VERB --help tells more."))) {
        return kDone;
    } else {
        return Fail(
            verb.isEmpty()
                ? QStringLiteral("device takes add, set, remove, options or set-options (see "
                                 "fernlog --help)")
                : QStringLiteral("device takes add, set, remove, options or set-options, "
                                 "not '%1'")
                      .arg(verb),
            kBadArgument);
    }
    if (const auto status = Parse(parser, argc, argv, 2, positional)) return *status;
    // Options of the other verbs are not defined here: asked by name, they
    // are simply not given.
    const QStringList found = parser.optionNames();
    const auto given = [&found](const QCommandLineOption& option) {
        return found.contains(option.names().constFirst());
    };
    const QStringList args = parser.positionalArguments();
    if (args.size() < positional) {
        return Fail(QStringLiteral("device %1 takes %2 (see --help)")
                        .arg(verb, positional == 2 ? QStringLiteral("NAME ADDRESS")
                                                   : QStringLiteral("NAME")),
                    kBadArgument);
    }
    int status = kDone;
    std::optional<QChar> unitLetter;
    if (given(unit) && !(unitLetter = Unit(parser.value(unit), status))) return status;
    std::optional<QString> emailList;
    if (given(emails) && !(emailList = EmailList(parser.value(emails), status))) {
        return status;
    }
    std::optional<QString> escalateList;
    if (given(escalateTo) && !(escalateList = EmailList(parser.value(escalateTo), status))) {
        return status;
    }
    // The escalation list is kept in the alarm-handling store, once the
    // device is.
    const auto storeEscalation = [&](int saved, const QString& deviceName) {
        if (!escalateList || saved == kBadArgument) return saved;
        ServerDatabase::ServerRow stored;
        if (FindDevice(deviceName, stored)) return saved;
        const QString list = Registry::SplitEmailList(*escalateList).join(u',');
        const QString user = AlarmHandling::SystemUser();
        QString error;
        if (!AlarmHandling::SetEscalationList(stored.id, stored.name.trimmed(), list,
                                              {user, user, AlarmHandling::Origin::Command},
                                              &error)) {
            return Fail(QStringLiteral("the escalation list was not stored: ") + error);
        }
        Print(QStringLiteral("Escalation list of %1: %2")
                  .arg(stored.name.trimmed(), list.isEmpty() ? QStringLiteral("none") : list));
        return saved;
    };
    if (verb == QLatin1String("set") && given(enable) && given(disable)) {
        return Fail(QStringLiteral("--enable and --disable cannot be combined"), kBadArgument);
    }
    if (verb == QLatin1String("add") && !AddressOk(args.at(1), status)) return status;
    if (given(address) && !AddressOk(parser.value(address), status)) return status;
    if (verb == QLatin1String("remove") && !given(yes)) {
        return Fail(QStringLiteral("removing %1 also forgets its sensors' names; add --yes")
                        .arg(args.at(0)),
                    kBadArgument);
    }

    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    // From the check of the names to the change: one command at once.
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    Answers answers;
    Registry::ServerEntry entry;
    if (verb == QLatin1String("add")) {
        if (NameTaken(args.at(0), -1, status)) return status;
        entry.name = args.at(0);
        entry.ip = args.at(1);
        entry.notes = parser.value(notes);
        entry.emailList = emailList.value_or(QString());
        // A null unit keeps the one the device's name page holds: a device
        // counting in C must not be told F by a register command.
        if (unitLetter) entry.unit = *unitLetter;
        entry.enabled = !given(disabled);
        entry.model = Protocol::UnknownModelText();
        return storeEscalation(Save(-1, entry, given(offline), true, answers), entry.name);
    }
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(args.at(0), row)) return *status;
    if (verb == QLatin1String("remove")) {
        if (!ServerDatabase::DeleteServer(row.id)) {
            return Fail(answers.problems.value(0, QStringLiteral("the database refused")));
        }
        HandOver(kDeviceFiles);
        Print(QStringLiteral("Removed %1 at %2").arg(row.name.trimmed(), row.ip.trimmed()));
        return kDone;
    }
    if (given(name) && NameTaken(parser.value(name), row.id, status)) return status;
    entry.name = given(name) ? parser.value(name) : row.name.trimmed();
    entry.ip = given(address) ? parser.value(address) : row.ip.trimmed();
    entry.notes = given(notes) ? parser.value(notes) : row.notes;
    entry.password = row.password;
    entry.emailList = emailList.value_or(row.emailList);
    entry.model = row.model;
    if (unitLetter) entry.unit = *unitLetter;
    entry.enabled = given(enable) || (Polled(row.enabled) && !given(disable));
    return storeEscalation(Save(row.id, entry, given(offline), false, answers), entry.name);
}

}  // namespace AdminCommands
