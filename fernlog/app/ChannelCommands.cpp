// fernlog channel add|remove|test and fernlog channels: where notices go
// beside e-mail, from a shell.
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "common/Clock.h"
#include "core/AlarmHandling.h"
#include "core/AlertmanagerSync.h"
#include "core/ChannelOutbox.h"
#include "core/Channels.h"
#include "core/Notices.h"
#include "core/Settings.h"

using namespace AdminCommon;

namespace AdminCommands {
namespace {

const QStringList kChannelFiles{AlarmHandling::FileName()};
constexpr qint64 kLongestSecret = 4096;

AlarmHandling::Actor CommandActor(const QString& by) {
    const QString user = AlarmHandling::SystemUser();
    return AlarmHandling::Actor{by.trimmed().isEmpty() ? user : by.trimmed(), user,
                                AlarmHandling::Origin::Command};
}

QStringList ListOf(const QString& text) {
    QStringList items;
    for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
        if (!item.trimmed().isEmpty()) items << item.trimmed();
    }
    return items;
}

QString Target(const Channels::Channel& c) {
    return c.kind == QLatin1String("command") ? c.command.join(u' ') : c.url;
}

int Add(int argc, char** argv) {
    const QString kind = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    if (!Channels::Kinds().contains(kind)) {
        return Fail(
            QStringLiteral("channel add takes webhook, alertmanager, command or heartbeat%1")
                .arg(kind.isEmpty() ? QString() : QStringLiteral(", not '%1'").arg(kind)),
            kBadArgument);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Adds a notification channel. webhook: a signed JSON POST per notice; alertmanager: "
        "alarms pushed to an Alertmanager; command: PROGRAM run without a shell, the JSON on "
        "standard input (give it after --); heartbeat: a request after a healthy polling cycle "
        "at most every MINUTES."));
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption url(QStringLiteral("url"), QStringLiteral("The http or https URL."),
                                 QStringLiteral("URL"));
    const QCommandLineOption secret(
        QStringLiteral("secret-stdin"),
        QStringLiteral("Reads the webhook's HMAC secret from standard input."));
    const QCommandLineOption events(QStringLiteral("events"),
                                    QStringLiteral("Only these events (comma-separated): ") +
                                        Channels::EventNames().join(QStringLiteral(", ")) + u'.',
                                    QStringLiteral("LIST"));
    const QCommandLineOption devices(QStringLiteral("devices"),
                                     QStringLiteral("Only notices of these devices."),
                                     QStringLiteral("LIST"));
    const QCommandLineOption every(QStringLiteral("every"),
                                   QStringLiteral("A heartbeat's period in minutes."),
                                   QStringLiteral("MINUTES"));
    const QCommandLineOption fallback(
        QStringLiteral("fallback"),
        QStringLiteral("Also told when an e-mail could not be delivered for good."));
    const QCommandLineOption by(QStringLiteral("by"),
                                QStringLiteral("Who acts (the audit trail); your user name "
                                               "unless given."),
                                QStringLiteral("NAME"));
    parser.addOptions({dir, url, secret, events, devices, every, fallback, by});
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The channel's name."));
    const bool command = kind == QLatin1String("command");
    if (const auto status = Parse(parser, argc, argv, 3, command ? 1 << 16 : 1)) return *status;
    QCoreApplication app(argc, argv);
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return Fail(QStringLiteral("channel add %1 needs NAME").arg(kind), kBadArgument);
    Channels::Channel c;
    c.kind = kind;
    c.name = words.first();
    c.command = words.mid(1);
    c.url = parser.value(url).trimmed();
    c.events = ListOf(parser.value(events));
    c.devices = ListOf(parser.value(devices));
    c.fallback = parser.isSet(fallback);
    if (parser.isSet(every)) {
        bool ok = false;
        c.everyMinutes = parser.value(every).toInt(&ok);
        if (!ok) {
            return Fail(QStringLiteral("--every takes minutes, not '%1'").arg(parser.value(every)),
                        kBadArgument);
        }
    }
    if (!command && !parser.isSet(url)) {
        return Fail(QStringLiteral("channel add %1 needs --url URL").arg(kind), kBadArgument);
    }
    if (command && parser.isSet(url)) {
        return Fail(QStringLiteral("a command channel takes no --url"), kBadArgument);
    }
    if (kind != QLatin1String("heartbeat") && parser.isSet(every)) {
        return Fail(QStringLiteral("--every is for heartbeat channels"), kBadArgument);
    }
    if (parser.isSet(secret) && kind != QLatin1String("webhook")) {
        return Fail(QStringLiteral("--secret-stdin is for webhook channels"), kBadArgument);
    }
    QString error;
    if (!Channels::Check(c, &error)) return Fail(error, kBadArgument);
    QString secretText;
    if (parser.isSet(secret)) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly)) {
            return Fail(QStringLiteral("standard input cannot be read"), kBadArgument);
        }
        const QByteArray bytes = in.read(kLongestSecret + 1);
        secretText = QString::fromUtf8(bytes).trimmed();
        if (secretText.isEmpty()) {
            return Fail(QStringLiteral("--secret-stdin found no secret on standard input"),
                        kBadArgument);
        }
        if (bytes.size() > kLongestSecret || secretText.contains(u'\n')) {
            return Fail(QStringLiteral("the secret must be one line of at most %1 bytes")
                            .arg(kLongestSecret),
                        kBadArgument);
        }
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    if (!Channels::Add(c, secretText, CommandActor(parser.value(by)), &error))
        return Refused(error);
    HandOver(kChannelFiles);
    Print(QStringLiteral("Channel %1 added: %2 %3").arg(c.name, c.kind, Target(c)));
    return kDone;
}

int Remove(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Removes a channel; notices still waiting for it are dropped."));
    const QCommandLineOption dir = DirOption();
    const QCommandLineOption by(QStringLiteral("by"), QStringLiteral("Who acts."),
                                QStringLiteral("NAME"));
    parser.addOptions({dir, by});
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The channel's name."));
    if (const auto status = Parse(parser, argc, argv, 2, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (parser.positionalArguments().isEmpty()) {
        return Fail(QStringLiteral("channel remove needs NAME"), kBadArgument);
    }
    const QString name = parser.positionalArguments().first();
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    QString error;
    if (!Channels::Remove(name, CommandActor(parser.value(by)), &error)) return Refused(error);
    HandOver(kChannelFiles);
    Print(QStringLiteral("Channel %1 removed").arg(name));
    return kDone;
}

int Test(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends a test event to the channel now and prints its answer; exit 0 when delivered."));
    const QCommandLineOption dir = DirOption();
    parser.addOptions({dir});
    parser.addPositionalArgument(QStringLiteral("NAME"), QStringLiteral("The channel's name."));
    if (const auto status = Parse(parser, argc, argv, 2, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (parser.positionalArguments().isEmpty()) {
        return Fail(QStringLiteral("channel test needs NAME"), kBadArgument);
    }
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    Channels::Channel c;
    QString error;
    if (!Channels::Find(parser.positionalArguments().first(), c, &error)) return Refused(error);
    if (c.kind == QLatin1String("alertmanager")) {
        QString answer;
        const bool sent = AlertmanagerSync::SendTest(QUrl(c.url), answer, &error);
        if (!answer.trimmed().isEmpty()) Print(answer.trimmed());
        if (!sent) return Fail(QStringLiteral("not delivered: ") + error);
        Print(QStringLiteral("Delivered to %1").arg(c.name));
        return kDone;
    }
    Settings::ReadConfigFile();
    Notices::Event event;
    event.name = QStringLiteral("test");
    event.text = QStringLiteral("A test notice from fernlog, sent by channel test.");
    const ChannelOutbox::Result result =
        ChannelOutbox::DeliverAndWait(c, event.name, Notices::Document(event, Clock::Now()));
    if (!result.answer.trimmed().isEmpty()) Print(result.answer.trimmed());
    if (!result.delivered) return Fail(QStringLiteral("not delivered: ") + result.reason);
    Print(QStringLiteral("Delivered to %1").arg(c.name));
    return kDone;
}

}  // namespace

int ChannelsCommand(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the notification channels: name, kind, where to, events, devices."));
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    parser.addOptions({dir, json});
    if (const auto status = Parse(parser, argc, argv, 1)) return *status;
    QCoreApplication app(argc, argv);
    if (const auto status = OpenProgramDir(parser.value(dir))) return *status;
    Answers answers;
    QList<Channels::Channel> channels;
    QString error;
    if (!Channels::List(channels, &error)) {
        return Fail(QStringLiteral("the channels cannot be read: ") + error);
    }
    if (parser.isSet(json)) {
        QJsonArray list;
        for (const auto& c : channels) {
            list.append(QJsonObject{
                {"name", c.name},
                {"kind", c.kind},
                {"url", c.url.isEmpty() ? QJsonValue() : QJsonValue(c.url)},
                {"command", c.command.isEmpty()
                                ? QJsonValue()
                                : QJsonValue(QJsonArray::fromStringList(c.command))},
                {"events", QJsonArray::fromStringList(c.events)},
                {"devices", QJsonArray::fromStringList(c.devices)},
                {"everyMinutes", c.everyMinutes > 0 ? QJsonValue(c.everyMinutes) : QJsonValue()},
                {"fallback", c.fallback},
                {"signed", !Channels::Secret(c.name).isEmpty()}});
        }
        PrintJson(list);
        return kDone;
    }
    for (const auto& c : channels) {
        Print(QStringLiteral("%1  %2  %3  events: %4  devices: %5%6%7")
                  .arg(c.name, c.kind, Target(c),
                       c.events.isEmpty() ? QStringLiteral("all") : c.events.join(u','),
                       c.devices.isEmpty() ? QStringLiteral("all") : c.devices.join(u','),
                       c.everyMinutes > 0 ? QStringLiteral("  every %1 min").arg(c.everyMinutes)
                                          : QString(),
                       c.fallback ? QStringLiteral("  fallback") : QString()));
    }
    if (channels.isEmpty())
        Print(QStringLiteral("No channel is set up; notices go by e-mail only."));
    return kDone;
}

int Channel(int argc, char** argv) {
    const QString verb = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString usage =
        QStringLiteral(
            "Usage: fernlog channel add webhook NAME --url URL [--secret-stdin] [--events LIST] "
            "[--devices LIST] [--fallback]\n"
            "       fernlog channel add alertmanager NAME --url URL\n"
            "       fernlog channel add command NAME [--events LIST] [--devices LIST] [--fallback] "
            "-- "
            "PROGRAM [ARG...]\n"
            "       fernlog channel add heartbeat NAME --url URL --every MINUTES\n"
            "       fernlog channel remove NAME\n"
            "       fernlog channel test NAME\n"
            "Events: ") +
        Channels::EventNames().join(QStringLiteral(", ")) +
        QStringLiteral(". Each takes --dir DIR and --help.");
    if (argc <= 2) return Fail(QStringLiteral("channel takes add, remove or test"), kBadArgument);
    if (VerbHelp(verb, usage)) return kDone;
    if (verb == QLatin1String("add")) return Add(argc, argv);
    if (verb == QLatin1String("remove")) return Remove(argc, argv);
    if (verb == QLatin1String("test")) return Test(argc, argv);
    return Fail(QStringLiteral("channel takes add, remove or test, not '%1'").arg(verb),
                kBadArgument);
}

}  // namespace AdminCommands
