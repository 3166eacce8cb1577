#include "tarnset/Cli.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <cstdio>
#include <deque>

#include "common/Dialogs.h"
#include "common/StopSignals.h"
#include "tarnset/Link.h"
#include "tarnset/Procedures.h"
#include "tarnset/Wire.h"

namespace Cli {
namespace {

using Procedures::Outcome;

QTextStream& Err() {
    static QTextStream err(stderr);
    return err;
}

// Status lines and progress on standard error; the results alone go to
// standard output, so that scripts can read them.
class ConsoleView : public Tarnset::ToolView {
  public:
    void SetFindEnabled(bool) override {}
    void SetSetIpEnabled(bool) override {}
    void SetRowItemsEnabled(bool) override {}
    void ResetList() override {}
    void AddListRow(const QString&, const QString&, const QString&) override {}
    void HighlightAddress(int) override {}
    void ClearDebug() override {}
    void AddDebug(const QString& line) override { Line(QStringLiteral("debug: ") + line); }
    void SetByteList(const QStringList&) override {}
    void SetStatus(const QString& text) override {
        if (!text.isEmpty() && text != status_) Line(text);
        status_ = text;
    }
    void SetStatusColour(Tarnset::StatusColour) override {}
    void SetProgressMaximum(int maximum) override { maximum_ = maximum; }
    void SetProgressValue(int value) override {
        // A bar only where someone watches; logs get the status lines.
        if (!tty_ || maximum_ < 10) return;
        const int width = 30;
        const int done = value <= 0 ? 0 : qMin(width, value * width / maximum_);
        Err() << '\r' << '[' << QString(done, QLatin1Char('#'))
              << QString(width - done, QLatin1Char('.')) << "] "
              << QString::number(value / 10.0, 'f', 1) << " of "
              << QString::number(maximum_ / 10.0, 'f', 1) << " s";
        if (value <= 0) Err() << '\r' << QString(width + 20, QLatin1Char(' ')) << '\r';
        Err().flush();
    }
    QString NetworkDetail(int index) const override { return details_[index]; }
    void SetNetworkDetail(int index, const QString& text) override { details_[index] = text; }
    void SetOctet(int, const QString&) override {}
    void FocusOctet(int) override {}
    bool OpenUrl(const QString&) override { return false; }

  private:
    void Line(const QString& text) {
        Err() << "tarnset: " << text << '\n';
        Err().flush();
    }
    QString status_;
    QString details_[3];
    int maximum_ = 0;
    bool tty_ = ::isatty(STDERR_FILENO);
};

// Message boxes become lines on standard error. Questions are answered yes
// when the command itself is the confirmation (or --yes was given), asked on
// the terminal when there is one, and answered no otherwise. Input boxes
// take the command's arguments in order.
struct ConsoleDialogs {
    bool assumeYes = false;
    std::deque<QString> inputs;

    Dialogs::Reply operator()(const Dialogs::Request& request) {
        QString text = request.text;
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        if (request.kind == Dialogs::Request::Kind::Input) {
            if (inputs.empty()) return {Dialogs::Answer::Cancel, {}};
            const QString value = inputs.front();
            inputs.pop_front();
            return {Dialogs::Answer::Ok, value};
        }
        Err() << text;
        if (request.buttons == Dialogs::Buttons::Ok) {
            Err() << '\n';
            Err().flush();
            return {Dialogs::Answer::Ok, {}};
        }
        const bool okCancel = request.buttons == Dialogs::Buttons::OkCancel;
        const Dialogs::Reply yes{okCancel ? Dialogs::Answer::Ok : Dialogs::Answer::Yes, {}};
        const Dialogs::Reply no{okCancel ? Dialogs::Answer::Cancel : Dialogs::Answer::No, {}};
        if (assumeYes) {
            Err() << " [yes]\n";
            Err().flush();
            return yes;
        }
        if (::isatty(STDIN_FILENO)) {
            Err() << " [y/N] ";
            Err().flush();
            QTextStream in(stdin);
            const QString line = in.readLine().trimmed().toLower();
            return line == QLatin1String("y") || line == QLatin1String("yes") ? yes : no;
        }
        Err() << " [no: give --yes to confirm]\n";
        Err().flush();
        return no;
    }
};

int ExitCode(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done:
            return 0;
        case Outcome::Invalid:
            return 2;
        default:
            return 1;
    }
}

int Fail(const QString& text) {
    Err() << "tarnset: " << text << "\n"
          << "Try 'tarnset --help'.\n";
    Err().flush();
    return 2;
}

void PrintAnswers(bool json) {
    QTextStream out(stdout);
    const QList<Link::Answer>& answers = Link::Answers();
    if (json) {
        QJsonArray list;
        for (int i = 0; i < answers.size(); ++i) {
            list.append(QJsonObject{{QStringLiteral("number"), i + 1},
                                    {QStringLiteral("address"), answers[i].sender},
                                    {QStringLiteral("mac"), Wire::FormatMac(answers[i].data)}});
        }
        out << QJsonDocument(list).toJson(QJsonDocument::Indented);
        return;
    }
    for (int i = 0; i < answers.size(); ++i)
        out << i + 1 << '\t' << answers[i].sender << '\t' << Wire::FormatMac(answers[i].data)
            << '\n';
}

// A loose shape check so that octet values above 255 still reach the
// procedure and get its message; anything else is a bad argument.
std::optional<QStringList> OctetTexts(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4) return std::nullopt;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3) return std::nullopt;
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    }
    return parts;
}

}  // namespace

bool Wanted(const QStringList& arguments) {
    return !arguments.isEmpty();
}

QString VersionText() {
    return Procedures::ApplicationTitle() + QLatin1Char(' ') + QStringLiteral(TARNSET_VERSION);
}

QString Usage() {
    return QStringLiteral(
        "Usage: tarnset [COMMAND ARGUMENTS... [OPTIONS]]\n"
        "\n"
        "Finds Corvane devices on the local network by one UDP broadcast to port 30718,\n"
        "sets their addresses, resets them to DHCP and tests them. Without a command it\n"
        "opens its window (the broadcast address is $TARNSET_BROADCAST, else\n"
        "255.255.255.255).\n"
        "\n"
        "Commands:\n"
        "  discover [--broadcast ADDR] [--wait SECONDS] [--json]\n"
        "      list every device that answers: number, address and MAC address, one\n"
        "      line each (tab-separated), or a JSON array\n"
        "  set-ip CURRENT NEW [--yes] [--broadcast ADDR]\n"
        "      give the device at CURRENT the static address NEW through its setup\n"
        "      record, wait for its reboot and check that it answers at NEW\n"
        "  dhcp ADDRESS [--broadcast ADDR] [--wait SECONDS]\n"
        "      reset the device that answers discovery at ADDRESS to DHCP\n"
        "  test ADDRESS\n"
        "      identify the device at ADDRESS on its data port (TCP 10001)\n"
        "  manual MAC ADDRESS [--yes] [--broadcast ADDR]\n"
        "      for a device that discovery does not find: ARP entry for MAC\n"
        "      (00-20-4A-xx-xx-xx) at ADDRESS (ip neigh; needs root), a TCP knock, then\n"
        "      set-ip ADDRESS ADDRESS\n"
        "\n"
        "Options:\n"
        "  --broadcast ADDR  where discovery and the reset go (default 255.255.255.255)\n"
        "  --wait SECONDS    the discovery window, 1 to 32 seconds (default 2)\n"
        "  --json            discover: print JSON\n"
        "  --yes             answer yes to the confirmation questions\n"
        "  -h, --help        this text\n"
        "  -v, --version     the version\n"
        "\n"
        "Messages and progress go to standard error, results to standard output.\n"
        "Exit status: 0 success, 1 nothing answered or the device refused or did not\n"
        "change, 2 bad arguments.\n");
}

int Run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption broadcast(QStringLiteral("broadcast"), QString(),
                                       QStringLiteral("ADDR"));
    const QCommandLineOption wait(QStringLiteral("wait"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption json(QStringLiteral("json"), QString());
    const QCommandLineOption yes(QStringLiteral("yes"), QString());
    parser.addOptions({help, version, broadcast, wait, json, yes});
    if (!parser.parse(QStringList{QStringLiteral("tarnset")} + arguments))
        return Fail(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << Usage();
        return 0;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << VersionText() << '\n';
        return 0;
    }

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) return Fail(QStringLiteral("no command"));
    const QString command = args[0];
    struct Shape {
        const char* name;
        int operands;
        bool broadcast, wait, json, yes;
    };
    static const Shape shapes[] = {
        {"discover", 0, true, true, true, false}, {"set-ip", 2, true, false, false, true},
        {"dhcp", 1, true, true, false, false},    {"test", 1, false, false, false, false},
        {"manual", 2, true, false, false, true},
    };
    const Shape* shape = nullptr;
    for (const Shape& s : shapes)
        if (command == QLatin1String(s.name)) shape = &s;
    if (!shape) return Fail(QStringLiteral("unknown command '%1'").arg(command));
    if (args.size() - 1 != shape->operands) {
        return Fail(QStringLiteral("%1 takes %2 argument(s), %3 given")
                        .arg(command)
                        .arg(shape->operands)
                        .arg(args.size() - 1));
    }
    const std::pair<const QCommandLineOption*, bool> allowed[] = {{&broadcast, shape->broadcast},
                                                                  {&wait, shape->wait},
                                                                  {&json, shape->json},
                                                                  {&yes, shape->yes}};
    for (const auto& [option, ok] : allowed) {
        if (!ok && parser.isSet(*option))
            return Fail(QStringLiteral("%1 does not take --%2").arg(command, option->names()[0]));
    }

    if (parser.isSet(broadcast)) {
        const QString address = parser.value(broadcast).trimmed();
        if (!Wire::ParseAddress(address))
            return Fail(QStringLiteral("--broadcast needs an IPv4 address, not '%1'").arg(address));
        Link::SetBroadcastAddress(address);
    }
    if (parser.isSet(wait)) {
        bool ok = false;
        const int seconds = parser.value(wait).toInt(&ok);
        if (!ok || seconds < 1 || seconds > 32)
            return Fail(QStringLiteral("--wait needs a number of seconds from 1 to 32"));
        Link::Timings().discoveryMs = seconds * 1000;
    }
    // Operands: the MAC of manual, the loose octet shape for set-ip's new
    // address, and a strict address everywhere else.
    for (int i = 1; i < args.size(); ++i) {
        const bool isMac = command == QLatin1String("manual") && i == 1;
        const bool isNew = command == QLatin1String("set-ip") && i == 2;
        if (isMac && !Wire::ParseMac(args[i]))
            return Fail(
                QStringLiteral("'%1' is not a MAC address like 00-20-4A-01-02-03").arg(args[i]));
        if (!isMac && !(isNew ? bool(OctetTexts(args[i])) : bool(Wire::ParseAddress(args[i]))))
            return Fail(QStringLiteral("'%1' is not an IPv4 address").arg(args[i]));
    }

    // Ctrl-C ends the running wait; the procedure then stops where it is.
    static bool interrupted = false;
    StopSignals::Install([](int) {
        interrupted = true;
        Link::SetRunning(false);
    });
    ConsoleView view;
    Link::SetView(&view);
    ConsoleDialogs dialogs;
    // The command itself confirms a test or a reset; a new address needs --yes.
    dialogs.assumeYes =
        parser.isSet(yes) || command == QLatin1String("test") || command == QLatin1String("dhcp");
    Dialogs::SetHandler([&dialogs](const Dialogs::Request& r) { return dialogs(r); });
    Outcome outcome = Outcome::Failed;
    if (command == QLatin1String("discover")) {
        outcome = Procedures::Discover();
        PrintAnswers(parser.isSet(json));
    } else if (command == QLatin1String("set-ip") || command == QLatin1String("manual")) {
        const QString wanted = args[2];
        if (command == QLatin1String("set-ip")) {
            outcome = Procedures::SetStaticAddress(args[1], *OctetTexts(wanted));
        } else {
            dialogs.inputs = {args[1], wanted};
            outcome = Procedures::ManualSetAddress();
        }
        // The device does not say whether it took the record: the new
        // discovery does.
        if (outcome == Outcome::Done) {
            bool found = false;
            for (const Link::Answer& a : Link::Answers()) found = found || a.sender == wanted;
            if (!found) {
                Err() << "tarnset: no device answered discovery at " << wanted
                      << " after the change\n";
                outcome = Outcome::Failed;
            }
        }
    } else if (command == QLatin1String("dhcp")) {
        outcome = Procedures::Discover();
        int row = 0;
        const QList<Link::Answer>& answers = Link::Answers();
        for (int i = 0; i < answers.size() && row == 0; ++i)
            if (answers[i].sender == args[1]) row = i + 1;
        if (row == 0) {
            if (outcome == Outcome::Done)
                Err() << "tarnset: " << args[1] << " did not answer the discovery\n";
            outcome = Outcome::Failed;
        } else {
            outcome = Procedures::ResetToDhcp(row, args[1]);
        }
    } else if (command == QLatin1String("test")) {
        outcome = Procedures::TestCommunication(args[1]);
    }
    if (interrupted) {
        Err() << "tarnset: interrupted\n";
        outcome = Outcome::Failed;
    }
    Err().flush();
    Dialogs::SetHandler({});
    Link::SetView(nullptr);
    return ExitCode(outcome);
}

}  // namespace Cli
