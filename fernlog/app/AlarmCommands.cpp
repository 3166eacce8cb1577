// fernlog alarms, alarm show|ack|unack|comment|resolve, audit: the alarm
// records and what people did about them, from a shell.
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/AlarmTimeline.h"
#include "core/AlarmViews.h"
#include "core/Silences.h"
#include "registry/Registry.h"

using namespace AdminCommon;

namespace AdminCommands {
namespace {

const QStringList kAlarmFiles{AlarmHandling::FileName(), QStringLiteral("zolo.mdb")};

using AlarmViews::TextOrNull;
using AlarmViews::View;

using AlarmTimeline::Local;

std::optional<int> AlarmId(const QString& text, qint64& id) {
    bool ok = false;
    id = text.toLongLong(&ok);
    if (!ok || id <= 0) {
        return Fail(QStringLiteral("'%1' is not an alarm number").arg(text), kBadArgument);
    }
    return std::nullopt;
}

std::optional<int> FindAlarm(qint64 id, AlarmHandling::AlarmRef& alarm) {
    QString error;
    if (AlarmHandling::LookUp(id, alarm, &error)) return std::nullopt;
    return Fail(error,
                error.startsWith(QLatin1String("there is no alarm")) ? kBadArgument : kRefused);
}

int Show(const QCommandLineParser& parser, const QCommandLineOption& json) {
    qint64 id = 0;
    if (const auto status = AlarmId(parser.positionalArguments().value(0), id)) return *status;
    View view;
    QList<AlarmTimeline::Event> events;
    QString error;
    if (!AlarmViews::Read(id, view, events, &error)) {
        return Fail(error,
                    error.startsWith(QLatin1String("there is no alarm")) ? kBadArgument : kRefused);
    }
    if (parser.isSet(json)) {
        PrintJson(AlarmViews::DetailJson(view, events));
        return kDone;
    }
    const auto& r = view.record;
    Print(QStringLiteral("Alarm %1: %2 on %3, %4").arg(r.id).arg(r.sensor, r.server, view.State()));
    Print(QStringLiteral("Started: %1   Ended: %2").arg(Local(r.start), Local(r.end)));
    Print(QStringLiteral("Cause: ") + r.cause);
    if (view.ack) {
        Print(QStringLiteral("Acknowledged by %1 at %2%3%4")
                  .arg(view.ack->by, Local(view.ack->at),
                       view.ack->expires.isValid()
                           ? QStringLiteral(" until ") + Local(view.ack->expires)
                           : QString(),
                       view.ack->comment.isEmpty() ? QString()
                                                   : QStringLiteral(": ") + view.ack->comment));
    }
    if (!r.resolution.isEmpty()) Print(QStringLiteral("Resolution: ") + OneLine(r.resolution));
    Print(QStringLiteral("Timeline:"));
    for (const AlarmTimeline::Event& e : events)
        Print(QStringLiteral("  ") + AlarmTimeline::Line(e));
    return kDone;
}

}  // namespace

int Alarms(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the alarm records, newest first: number, start and end, state (open, "
                       "acknowledged, closed), device and sensor."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    const QCommandLineOption open(QStringLiteral("open"), QStringLiteral("Only open alarms."));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Only alarms that started at or after TIME "
                                                  "(ISO 8601, local time unless it has an "
                                                  "offset)."),
                                   QStringLiteral("TIME"));
    parser.addOptions({dir, json, open, since});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    QDateTime from;
    if (const QString text = parser.value(since); !text.isEmpty()) {
        if (const auto status = TimeOption(QStringLiteral("since"), text, from)) return *status;
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    QList<View> views;
    QString error;
    if (!AlarmViews::List(views, parser.isSet(open), from, &error)) return Fail(error);
    if (parser.isSet(json)) {
        QJsonArray list;
        for (const auto& view : views) list.append(AlarmViews::Json(view));
        PrintJson(list);
        return kDone;
    }
    for (const auto& view : views) {
        const auto& r = view.record;
        Print(QStringLiteral("%1  %2 - %3  %4  %5 / %6%7")
                  .arg(r.id)
                  .arg(Local(r.start), r.end.isValid() ? Local(r.end) : QStringLiteral("open"),
                       view.State(), r.server, r.sensor,
                       view.ack ? QStringLiteral("  (by %1)").arg(view.ack->by) : QString()));
    }
    if (views.isEmpty()) Print(QStringLiteral("No alarm is recorded."));
    return kDone;
}

int Alarm(int argc, char** argv) {
    const QString verb = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString usage = QStringLiteral(
        "Usage: fernlog alarm show ID [--json]\n"
        "       fernlog alarm ack ID --by NAME [--comment TEXT] [--for DURATION]\n"
        "       fernlog alarm unack ID --by NAME\n"
        "       fernlog alarm comment ID --by NAME --text TEXT\n"
        "       fernlog alarm resolve ID --by NAME --text TEXT\n"
        "ID is the alarm's number (fernlog alarms); DURATION as 90m, 4h or 2d. Each takes "
        "--dir DIR and --help.");
    if (argc <= 2)
        return Fail(QStringLiteral("alarm takes show, ack, unack, comment or resolve"),
                    kBadArgument);
    if (VerbHelp(verb, usage)) return kDone;
    const QStringList verbs{QStringLiteral("show"), QStringLiteral("ack"), QStringLiteral("unack"),
                            QStringLiteral("comment"), QStringLiteral("resolve")};
    if (!verbs.contains(verb)) {
        return Fail(
            QStringLiteral("alarm takes show, ack, unack, comment or resolve, not '%1'").arg(verb),
            kBadArgument);
    }
    QCommandLineParser parser;
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    const QCommandLineOption by(QStringLiteral("by"), QStringLiteral("Who acts."),
                                QStringLiteral("NAME"));
    const QCommandLineOption comment(QStringLiteral("comment"), QStringLiteral("A comment."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption forTime(
        QStringLiteral("for"),
        QStringLiteral("The acknowledgement expires after DURATION (90m, 4h, 2d); without it, it "
                       "lasts until the alarm ends."),
        QStringLiteral("DURATION"));
    const QCommandLineOption text(QStringLiteral("text"), QStringLiteral("The text."),
                                  QStringLiteral("TEXT"));
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("The alarm's number."));
    if (verb == QLatin1String("show")) {
        parser.setApplicationDescription(
            QStringLiteral("Shows an alarm with its timeline: opened, notices, acknowledgements, "
                           "comments, closed, resolution."));
        parser.addOptions({dir, json});
    } else if (verb == QLatin1String("ack")) {
        parser.setApplicationDescription(QStringLiteral(
            "Acknowledges an open alarm: someone is on it. It lasts until the alarm ends or the "
            "acknowledgement expires."));
        parser.addOptions({dir, by, comment, forTime});
    } else if (verb == QLatin1String("unack")) {
        parser.setApplicationDescription(QStringLiteral("Withdraws an acknowledgement."));
        parser.addOptions({dir, by});
    } else {
        parser.setApplicationDescription(
            verb == QLatin1String("comment")
                ? QStringLiteral("Adds a comment to an alarm's timeline.")
                : QStringLiteral("Enters the alarm's resolution, as the main window's Save does."));
        parser.addOptions({dir, by, text});
    }
    if (const auto status = Parse(parser, argc, argv, 2, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (parser.positionalArguments().size() != 1) {
        return Fail(QStringLiteral("alarm %1 takes the alarm's number").arg(verb), kBadArgument);
    }
    qint64 id = 0;
    if (const auto status = AlarmId(parser.positionalArguments().value(0), id)) return *status;
    if (verb != QLatin1String("show")) {
        if (const auto status = NeedBy(QStringLiteral("alarm ") + verb, parser.value(by))) {
            return *status;
        }
    }
    QDateTime expires;
    if (verb == QLatin1String("ack") && parser.isSet(forTime)) {
        if (const auto status = ForOption(parser.value(forTime), expires)) return *status;
    }
    if ((verb == QLatin1String("comment") || verb == QLatin1String("resolve")) &&
        parser.value(text).trimmed().isEmpty()) {
        return Fail(QStringLiteral("alarm %1 needs --text TEXT").arg(verb), kBadArgument);
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    if (verb == QLatin1String("show")) return Show(parser, json);

    AlarmHandling::AlarmRef alarm;
    if (const auto status = FindAlarm(id, alarm)) return *status;
    const AlarmHandling::Actor actor = CommandActor(parser.value(by));
    QString error;
    bool done = false;
    QString told;
    if (verb == QLatin1String("ack")) {
        done = AlarmHandling::Acknowledge(alarm, actor, parser.value(comment), expires, &error);
        told = expires.isValid()
                   ? QStringLiteral("Alarm %1 acknowledged by %2 until %3")
                         .arg(id)
                         .arg(actor.by, Local(expires))
                   : QStringLiteral("Alarm %1 acknowledged by %2").arg(id).arg(actor.by);
    } else if (verb == QLatin1String("unack")) {
        done = AlarmHandling::Unacknowledge(alarm, actor, &error);
        told = QStringLiteral("Alarm %1: acknowledgement withdrawn by %2").arg(id).arg(actor.by);
    } else if (verb == QLatin1String("comment")) {
        done = AlarmHandling::Comment(alarm, actor, parser.value(text), &error);
        told = QStringLiteral("Alarm %1: comment by %2 recorded").arg(id).arg(actor.by);
    } else {
        done = AlarmHandling::Resolve(alarm, actor, parser.value(text), &error);
        told = QStringLiteral("Alarm %1: resolution by %2 stored").arg(id).arg(actor.by);
    }
    if (!done) return Refused(error);
    HandOver(kAlarmFiles);
    Print(told);
    return kDone;
}

int Audit(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the audit trail: every acknowledgement, comment and resolution, when (UTC), who, "
        "from where, and the old and new value. --verify checks the trail's hash chain and "
        "exits 1 naming the first row that does not match it."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Only rows written at or after TIME."),
                                   QStringLiteral("TIME"));
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    QStringLiteral("Check the hash chain of the whole trail."));
    parser.addOptions({dir, json, since, verify});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    QDateTime from;
    if (const QString text = parser.value(since); !text.isEmpty()) {
        if (const auto status = TimeOption(QStringLiteral("since"), text, from)) return *status;
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    QString error;
    if (parser.isSet(verify)) {
        qint64 firstBad = 0;
        int rows = 0;
        if (!AlarmHandling::VerifyAudit(firstBad, rows, &error)) {
            return Fail(QStringLiteral("the audit trail cannot be read: ") + error);
        }
        if (firstBad != 0) {
            return Fail(QStringLiteral("the audit trail does not match its chain from row %1 on: "
                                       "a row was changed or removed")
                            .arg(firstBad));
        }
        Print(QStringLiteral("The audit trail's %1 row(s) match their chain.").arg(rows));
        return kDone;
    }
    QList<AlarmHandling::AuditRow> rows;
    if (!AlarmHandling::ListAudit(rows, from, 0, &error)) {
        return Fail(QStringLiteral("the audit trail cannot be read: ") + error);
    }
    if (parser.isSet(json)) {
        QJsonArray list;
        for (const auto& row : rows) {
            list.append(AlarmHandling::Json(row));
        }
        PrintJson(list);
        return kDone;
    }
    for (const auto& row : rows) {
        Print(QStringLiteral("%1  %2 (%3, %4)  %5%6%7: %8")
                  .arg(AlarmHandling::IsoText(row.at), row.by, row.user, row.origin, row.action,
                       row.alarm ? QStringLiteral(" alarm %1").arg(row.alarm) : QString(),
                       row.device.isEmpty() ? QString() : QStringLiteral(" on ") + row.device,
                       OneLine(row.newValue)));
    }
    if (rows.isEmpty()) Print(QStringLiteral("The audit trail is empty."));
    return kDone;
}

}  // namespace AdminCommands
