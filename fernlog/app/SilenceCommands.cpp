// fernlog silence, silences, unsilence, maintenance add|list|remove and sensor review:
// quiet periods of a device or sensor, and days signed off, from a shell.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/AlarmTimeline.h"
#include "core/SensorHistory.h"
#include "core/Silences.h"
#include "db/SensorDatabase.h"

using namespace AdminCommon;

namespace AdminCommands {
namespace {

const QStringList kSilenceFiles{AlarmHandling::FileName()};

using AlarmTimeline::Local;

std::optional<int> Id(const QString& command, const QStringList& words, qint64& id) {
    bool ok = false;
    id = words.size() == 1 ? words.first().toLongLong(&ok) : 0;
    if (ok && id > 0) return std::nullopt;
    return Fail(QStringLiteral("%1 takes the number %2 lists, not '%3'")
                    .arg(command,
                         command == QLatin1String("unsilence") ? QStringLiteral("fernlog silences")
                                                               : QStringLiteral("its list"),
                         words.join(u' ')),
                kBadArgument);
}

QString PortText(int port) {
    return port == Silences::kDevice ? QStringLiteral("all") : QString::number(port);
}

int ListSilences(bool json) {
    QList<Silences::Silence> silences;
    QString error;
    if (!Silences::ListSilences(silences, &error)) {
        return Fail(QStringLiteral("the silences cannot be read: ") + error);
    }
    if (json) {
        QJsonArray list;
        for (const auto& s : silences) {
            list.append(Silences::Json(s));
        }
        PrintJson(list);
        return kDone;
    }
    for (const auto& s : silences) {
        Print(QStringLiteral("%1  %2 port %3  %4 - %5  by %6%7")
                  .arg(s.id)
                  .arg(s.device, PortText(s.port), Local(s.from), Local(s.until), s.by,
                       s.comment.isEmpty() ? QString() : QStringLiteral(": ") + s.comment));
    }
    if (silences.isEmpty()) Print(QStringLiteral("No silence is in force or planned."));
    return kDone;
}

}  // namespace

int Silence(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Silences a device, or one of its ports, from now for DURATION or until TIME: readings, "
        "logs and alarm records go on, but no notice is sent about it. When the silence ends, an "
        "alarm still open and unacknowledged is told at once. Prints the silence's number."));
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("The device."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Only this port (as fernlog sensors lists it)."),
                                  QStringLiteral("N"));
    const QCommandLineOption forTime(QStringLiteral("for"),
                                     QStringLiteral("How long: 90m, 4h, 2d."),
                                     QStringLiteral("DURATION"));
    const QCommandLineOption until(
        QStringLiteral("until"),
        QStringLiteral("Until TIME (ISO 8601, local time unless it has an offset)."),
        QStringLiteral("TIME"));
    const QCommandLineOption by(QStringLiteral("by"), QStringLiteral("Who acts."),
                                QStringLiteral("NAME"));
    const QCommandLineOption comment(QStringLiteral("comment"), QStringLiteral("Why."),
                                     QStringLiteral("TEXT"));
    parser.addOptions({dir, device, port, forTime, until, by, comment});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (parser.value(device).trimmed().isEmpty()) {
        return Fail(QStringLiteral("silence needs --device NAME"), kBadArgument);
    }
    if (parser.isSet(forTime) == parser.isSet(until)) {
        return Fail(QStringLiteral("silence takes one of --for DURATION and --until TIME"),
                    kBadArgument);
    }
    if (const auto status = NeedBy(QStringLiteral("silence"), parser.value(by))) return *status;
    int portNumber = Silences::kDevice;
    if (parser.isSet(port)) {
        bool ok = false;
        portNumber = parser.value(port).toInt(&ok);
        if (!ok || portNumber < 0) {
            return Fail(
                QStringLiteral("--port takes a port number, not '%1'").arg(parser.value(port)),
                kBadArgument);
        }
    }
    QDateTime end;
    if (parser.isSet(forTime)) {
        if (const auto status = ForOption(parser.value(forTime), end)) return *status;
    } else if (const auto status = TimeOption(QStringLiteral("until"), parser.value(until), end)) {
        return *status;
    } else if (end <= Clock::Now()) {
        return Fail(QStringLiteral("--until %1 has passed").arg(parser.value(until)), kBadArgument);
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(parser.value(device), row, kBadArgument)) return *status;
    if (portNumber != Silences::kDevice) {
        QList<ServerDatabase::SensorListing> sensors;
        QString error;
        if (!ServerDatabase::ListSensors(row.id, sensors, &error)) {
            return Fail(QStringLiteral("the sensors cannot be read from the database: ") + error);
        }
        QStringList ports;
        bool known = false;
        for (const auto& s : sensors) {
            ports << QString::number(s.port);
            known = known || s.port == portNumber;
        }
        if (!known) {
            return Fail(QStringLiteral("%1 has no sensor on port %2; its ports are: %3")
                            .arg(row.name.trimmed())
                            .arg(portNumber)
                            .arg(ports.isEmpty() ? QStringLiteral("none") : ports.join(", ")),
                        kBadArgument);
        }
    }
    qint64 id = 0;
    QString error;
    if (!Silences::AddSilence(row.id, row.name.trimmed(), portNumber, end,
                              CommandActor(parser.value(by)), parser.value(comment), id, &error)) {
        return Refused(error);
    }
    HandOver(kSilenceFiles);
    Print(QString::number(id));
    return kDone;
}

int SilencesCommand(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the silences in force or planned: number, device, port, from, "
                       "until, by whom and why."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    parser.addOptions({dir, json});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    return ListSilences(parser.isSet(json));
}

int Unsilence(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Ends a silence now; what it held back and is still open is told at the "
                       "next polling cycle."));
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption by(QStringLiteral("by"), QStringLiteral("Who acts."),
                                QStringLiteral("NAME"));
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("The silence's number."));
    parser.addOptions({dir, by});
    if (const auto status = Parse(parser, argc, argv, 1, 1)) return *status;
    QCoreApplication app(argc, argv);
    qint64 id = 0;
    if (const auto status = Id(QStringLiteral("unsilence"), parser.positionalArguments(), id)) {
        return *status;
    }
    if (const auto status = NeedBy(QStringLiteral("unsilence"), parser.value(by))) return *status;
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    QString error;
    if (!Silences::RemoveSilence(id, CommandActor(parser.value(by)), &error)) {
        return Refused(error);
    }
    HandOver(kSilenceFiles);
    Print(QStringLiteral("Silence %1 removed").arg(id));
    return kDone;
}

int SensorReview(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Signs off a day of a sensor's readings (its minimum, maximum and mean, "
                       "shown on the sensor's web page) as reviewed; a day is signed off once."));
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption by(QStringLiteral("by"), QStringLiteral("Who reviewed it."),
                                QStringLiteral("NAME"));
    parser.addPositionalArgument(QStringLiteral("ID"),
                                 QStringLiteral("The sensor's number (fernlog sensors)."));
    parser.addPositionalArgument(QStringLiteral("DATE"), QStringLiteral("The day, 2026-12-09."));
    parser.addOptions({dir, by});
    if (const auto status = Parse(parser, argc, argv, 2, 2)) return *status;
    QCoreApplication app(argc, argv);
    const QStringList args = parser.positionalArguments();
    bool ok = false;
    const qint64 id = args.value(0).toLongLong(&ok);
    if (args.size() != 2 || !ok || id <= 0) {
        return Fail(QStringLiteral("sensor review takes a sensor's number and a day, not '%1'")
                        .arg(args.join(u' ')),
                    kBadArgument);
    }
    const QDate date = QDate::fromString(args.at(1), Qt::ISODate);
    if (!date.isValid() || args.at(1).size() != 10) {
        return Fail(QStringLiteral("'%1' is not a day such as 2026-12-09").arg(args.at(1)),
                    kBadArgument);
    }
    if (const auto status = NeedBy(QStringLiteral("sensor review"), parser.value(by))) {
        return *status;
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    QString error;
    if (!SensorHistory::SignOffDay(id, date, CommandActor(parser.value(by)), &error)) {
        return Refused(error);
    }
    Print(QStringLiteral("%1 of sensor %2 signed off by %3")
              .arg(args.at(1))
              .arg(id)
              .arg(parser.value(by).trimmed()));
    return kDone;
}

int Maintenance(int argc, char** argv) {
    const QString verb = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString usage = QStringLiteral(
        "Usage: fernlog maintenance add --device NAME (--from TIME --to TIME | --weekly \"DAY "
        "HH:MM-HH:MM\") --by NAME [--comment TEXT]\n"
        "       fernlog maintenance list [--json]\n"
        "       fernlog maintenance remove ID --by NAME\n"
        "While a window is on, the device's readings and records go on, but no notice about it "
        "is sent; when it ends, what is still open is told at once. TIME as 2026-12-09T02:00 "
        "(local time unless it has an offset); a weekly window is in local time, and one that "
        "ends before it starts runs past midnight. Each takes --dir DIR and --help.");
    if (argc <= 2) {
        return Fail(QStringLiteral("maintenance takes add, list or remove"), kBadArgument);
    }
    if (VerbHelp(verb, usage)) return kDone;
    if (verb != QLatin1String("add") && verb != QLatin1String("list") &&
        verb != QLatin1String("remove")) {
        return Fail(QStringLiteral("maintenance takes add, list or remove, not '%1'").arg(verb),
                    kBadArgument);
    }
    QCommandLineParser parser;
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    const QCommandLineOption device(QStringLiteral("device"), QStringLiteral("The device."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("A one-off window's start."),
                                  QStringLiteral("TIME"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("A one-off window's end."),
                                QStringLiteral("TIME"));
    const QCommandLineOption weekly(QStringLiteral("weekly"),
                                    QStringLiteral("A weekly window, such as \"Sun 02:00-04:00\"."),
                                    QStringLiteral("PERIOD"));
    const QCommandLineOption by(QStringLiteral("by"), QStringLiteral("Who acts."),
                                QStringLiteral("NAME"));
    const QCommandLineOption comment(QStringLiteral("comment"), QStringLiteral("Why."),
                                     QStringLiteral("TEXT"));
    if (verb == QLatin1String("add")) {
        parser.setApplicationDescription(QStringLiteral("Adds a maintenance window of a device."));
        parser.addOptions({dir, device, from, to, weekly, by, comment});
    } else if (verb == QLatin1String("list")) {
        parser.setApplicationDescription(
            QStringLiteral("Lists the weekly windows and the one-off windows not yet over."));
        parser.addOptions({dir, json});
    } else {
        parser.setApplicationDescription(QStringLiteral("Removes a maintenance window."));
        parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("The window's number."));
        parser.addOptions({dir, by});
    }
    if (const auto status = Parse(parser, argc, argv, 2, verb == QLatin1String("remove") ? 1 : 0)) {
        return *status;
    }
    QCoreApplication app(argc, argv);
    if (verb == QLatin1String("list")) {
        if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
        Answers answers;
        QList<Silences::Window> windows;
        QString error;
        if (!Silences::ListWindows(windows, &error)) {
            return Fail(QStringLiteral("the maintenance windows cannot be read: ") + error);
        }
        if (parser.isSet(json)) {
            QJsonArray list;
            for (const auto& w : windows) {
                list.append(Silences::Json(w));
            }
            PrintJson(list);
            return kDone;
        }
        for (const auto& w : windows) {
            Print(QStringLiteral("%1  %2  %3  by %4%5")
                      .arg(w.id)
                      .arg(w.device,
                           w.weekly ? QStringLiteral("weekly ") + w.weekly->Text()
                                    : Local(w.from) + QStringLiteral(" - ") + Local(w.to),
                           w.by,
                           w.comment.isEmpty() ? QString() : QStringLiteral(": ") + w.comment));
        }
        if (windows.isEmpty()) Print(QStringLiteral("No maintenance window is planned."));
        return kDone;
    }
    if (verb == QLatin1String("remove")) {
        qint64 id = 0;
        if (const auto status =
                Id(QStringLiteral("maintenance remove"), parser.positionalArguments(), id)) {
            return *status;
        }
        if (const auto status = NeedBy(QStringLiteral("maintenance remove"), parser.value(by))) {
            return *status;
        }
        if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
        Answers answers;
        const FolderLock::WriteLock lock;
        if (const auto status = Locked(lock)) return *status;
        QString error;
        if (!Silences::RemoveWindow(id, CommandActor(parser.value(by)), &error)) {
            return Refused(error);
        }
        HandOver(kSilenceFiles);
        Print(QStringLiteral("Maintenance window %1 removed").arg(id));
        return kDone;
    }
    if (parser.value(device).trimmed().isEmpty()) {
        return Fail(QStringLiteral("maintenance add needs --device NAME"), kBadArgument);
    }
    const bool oneOff = parser.isSet(from) || parser.isSet(to);
    if (oneOff == parser.isSet(weekly) || (oneOff && !(parser.isSet(from) && parser.isSet(to)))) {
        return Fail(QStringLiteral("maintenance add takes --from TIME --to TIME, or --weekly "
                                   "\"DAY HH:MM-HH:MM\""),
                    kBadArgument);
    }
    if (const auto status = NeedBy(QStringLiteral("maintenance add"), parser.value(by))) {
        return *status;
    }
    Silences::Window window;
    window.comment = parser.value(comment);
    QString reason;
    if (!Silences::ParseSchedule(
            oneOff ? parser.value(from) : QString(), oneOff ? parser.value(to) : QString(),
            oneOff ? QString() : parser.value(weekly), QStringLiteral("--"), window, &reason)) {
        return Fail(reason, kBadArgument);
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    ServerDatabase::ServerRow row;
    if (const auto status = FindDevice(parser.value(device), row, kBadArgument)) return *status;
    window.deviceId = row.id;
    window.device = row.name.trimmed();
    qint64 id = 0;
    QString error;
    if (!Silences::AddWindow(window, CommandActor(parser.value(by)), id, &error)) {
        return Refused(error);
    }
    HandOver(kSilenceFiles);
    Print(QString::number(id));
    return kDone;
}

}  // namespace AdminCommands
