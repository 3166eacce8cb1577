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
#include "protocol/Address.h"
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

QTextStream& Out() {
    static QTextStream out(stdout);
    return out;
}

// Every line of a message, each with the program's name in front.
void Say(const QString& text) {
    QString copy = text;
    copy.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString& line : copy.split(QLatin1Char('\n'))) Err() << "tarnset: " << line << '\n';
    Err().flush();
}

// Status lines and progress on standard error; the results alone go to
// standard output, so that scripts can read them.
class ConsoleView : public Tarnset::ToolView {
  public:
    explicit ConsoleView(bool verbose) : verbose_(verbose) {}
    void SetFindEnabled(bool) override {}
    void SetSetIpEnabled(bool) override {}
    void SetRowItemsEnabled(bool) override {}
    void ResetList() override { ++discoveries; }
    void AddListRow(const QString&, const QString&, const QString&) override {}
    void HighlightAddress(int) override {}
    void ClearDebug() override {}
    void AddDebug(const QString& line) override { Line(QStringLiteral("debug: ") + line); }
    void SetRecord(const QStringList&, const QString& dump) override {
        if (verbose_) Line(QStringLiteral("debug: ") + dump);
    }
    void SetStatus(const QString& text) override {
        if (!text.isEmpty() && text != status_) Line(text);
        status_ = text;
    }
    void SetWindowStatus(const QString&) override {}
    void ShowResult(const QString& text) override {
        Out() << text << '\n';
        Out().flush();
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

    int discoveries = 0;  // every discovery starts with an empty list

  private:
    void Line(const QString& text) { Say(text); }
    bool verbose_ = false;
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
        text.replace(QLatin1Char('\n'), QLatin1String("\ntarnset: "));
        text.prepend(QLatin1String("tarnset: "));
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

// One line, as for every bad argument of the suite's programs.
int Fail(const QString& text) {
    Err() << "tarnset: " << text << " (see tarnset --help)\n";
    Err().flush();
    return 2;
}

void PrintAnswers(bool json) {
    QTextStream& out = Out();
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
    out.flush();
}

// The device's address after a change, found by its MAC in the new
// discovery: on standard output, or a message that it was not seen.
void PrintWhereMacIs(const QString& mac) {
    const QString address = Procedures::AddressOfMac(mac);
    if (address.isEmpty()) {
        Say(QStringLiteral("the Corvane server with MAC address %1 was not seen again").arg(mac));
        return;
    }
    Out() << address << '\n';
    Out().flush();
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
        "  set-ip CURRENT NEW [--yes] [--broadcast ADDR] [--wait SECONDS]\n"
        "      give the device that answers discovery at CURRENT the static address\n"
        "      NEW through its setup record (refused when another device answers at\n"
        "      NEW), wait for its reboot, check by its MAC address that it answers at\n"
        "      NEW and no longer at CURRENT, and print where it answers\n"
        "  dhcp ADDRESS [--yes] [--broadcast ADDR] [--wait SECONDS]\n"
        "      reset the device that answers discovery at ADDRESS to DHCP and print\n"
        "      the address it answers at afterwards\n"
        "  test ADDRESS\n"
        "      identify the device at ADDRESS on its data port (TCP 10001) and print\n"
        "      its model line\n"
        "  manual MAC ADDRESS [--yes] [--broadcast ADDR] [--wait SECONDS]\n"
        "      for a device that discovery does not find: a permanent ARP entry for\n"
        "      MAC (00-20-4A-xx-xx-xx) at ADDRESS (ip neigh; needs root), a TCP\n"
        "      knock, then set-ip ADDRESS ADDRESS; the entry is removed again when\n"
        "      that fails\n"
        "\n"
        "Addresses are four decimal numbers 0-255; a number with a leading zero\n"
        "(041) is refused, since other programs read it as octal.\n"
        "\n"
        "Options:\n"
        "  --broadcast ADDR  where discovery and the reset go (default 255.255.255.255)\n"
        "  --wait SECONDS    the discovery window, 1 to 32 seconds (default 2)\n"
        "  --json            discover: print JSON\n"
        "  --yes             answer yes to the confirmation questions\n"
        "  --verbose         also print the setup record that set-ip writes back\n"
        "  -h, --help        this text\n"
        "  -v, --version     the version\n"
        "\n"
        "Messages and progress go to standard error, results (the list, the model\n"
        "line, the device's address after a change) to standard output.\n"
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
    const QCommandLineOption verbose(QStringLiteral("verbose"), QString());
    parser.addOptions({help, version, broadcast, wait, json, yes, verbose});
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

    // Only tests set it, to shorten the waits of the tool they start.
    if (QString why; !Link::UseTestTimings(&why)) return Fail(why);
    const QStringList args = parser.positionalArguments();
    if (args.isEmpty()) return Fail(QStringLiteral("no command"));
    const QString command = args[0];
    struct Shape {
        const char* name;
        int operands;
        bool broadcast, wait, json, yes;
    };
    static const Shape shapes[] = {
        {"discover", 0, true, true, true, false}, {"set-ip", 2, true, true, false, true},
        {"dhcp", 1, true, true, false, true},     {"test", 1, false, false, false, false},
        {"manual", 2, true, true, false, true},
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

    QString error;
    if (parser.isSet(broadcast) &&
        !Link::SetBroadcastAddress(parser.value(broadcast).trimmed(), &error)) {
        return Fail(QStringLiteral("--broadcast: ") + error);
    }
    if (parser.isSet(wait)) {
        bool ok = false;
        const int seconds = parser.value(wait).toInt(&ok);
        if (!ok || seconds < 1 || seconds > 32)
            return Fail(QStringLiteral("--wait needs a number of seconds from 1 to 32"));
        Link::Timings().discoveryMs = seconds * 1000;
    }
    // Operands: the MAC of manual, the octet checks of the window for
    // set-ip's new address, and the address rule everywhere else.
    for (int i = 1; i < args.size(); ++i) {
        const bool isMac = command == QLatin1String("manual") && i == 1;
        const bool isNew = command == QLatin1String("set-ip") && i == 2;
        if (isMac) {
            if (!Wire::ParseMac(args[i]))
                return Fail(QStringLiteral("'%1' is not a MAC address like 00-20-4A-01-02-03")
                                .arg(args[i]));
        } else if (isNew) {
            const auto octets = OctetTexts(args[i]);
            if (!octets) return Fail(QStringLiteral("'%1' is not an IPv4 address").arg(args[i]));
            QString message;
            if (!Procedures::CheckOctets(*octets, message)) {
                Say(message);
                return 2;
            }
        } else if (!Protocol::ParseIPv4(args[i], &error)) {
            return Fail(error);
        }
    }

    // Ctrl-C ends the running wait; the procedure then stops where it is.
    static bool interrupted = false;
    StopSignals::Install([](int) {
        interrupted = true;
        Link::SetRunning(false);
    });
    ConsoleView view(parser.isSet(verbose));
    Link::SetView(&view);
    ConsoleDialogs dialogs;
    // A change to a device needs --yes; without it a terminal is asked.
    dialogs.assumeYes = parser.isSet(yes);
    Dialogs::SetHandler([&dialogs](const Dialogs::Request& r) { return dialogs(r); });
    // The device a change is about, known by its MAC address.
    const auto macAt = [](const QString& address) {
        for (const Link::Answer& a : Link::Answers())
            if (a.discovery && a.sender == address) return Wire::FormatMac(a.data);
        return QString();
    };
    // After a procedure that ran the rediscovery, where its MAC answers now.
    int before = 0;
    const auto printWhere = [&](const QString& mac) {
        if (view.discoveries > before) PrintWhereMacIs(mac);
    };
    Outcome outcome = Outcome::Failed;
    if (command == QLatin1String("discover")) {
        outcome = Procedures::Discover();
        PrintAnswers(parser.isSet(json));
    } else if (command == QLatin1String("set-ip")) {
        outcome = Procedures::Discover();
        const QString mac = macAt(args[1]);
        if (mac.isEmpty()) {
            if (outcome == Outcome::Done) {
                Say(args[1] + QStringLiteral(" did not answer the discovery: its move could not be "
                                             "checked by its MAC address, so nothing was changed"));
            }
            outcome = Outcome::Failed;
        } else {
            before = view.discoveries;
            outcome = Procedures::SetStaticAddress(args[1], *OctetTexts(args[2]));
            printWhere(mac);
        }
    } else if (command == QLatin1String("manual")) {
        // Not finding the device is why manual is used: no message for it.
        Procedures::Discover(false);
        dialogs.inputs = {args[1], args[2]};
        before = view.discoveries;
        outcome = Procedures::ManualSetAddress();
        QString mac = args[1].trimmed().toUpper();
        mac.replace(QLatin1Char(':'), QLatin1Char('-'));
        printWhere(mac);
    } else if (command == QLatin1String("dhcp")) {
        outcome = Procedures::Discover();
        int row = 0;
        const QList<Link::Answer>& answers = Link::Answers();
        for (int i = 0; i < answers.size() && row == 0; ++i)
            if (answers[i].sender == args[1]) row = i + 1;
        if (row == 0) {
            if (outcome == Outcome::Done)
                Say(args[1] + QStringLiteral(" did not answer the discovery"));
            outcome = Outcome::Failed;
        } else {
            const QString mac = Wire::FormatMac(answers[row - 1].data);
            before = view.discoveries;
            outcome = Procedures::ResetToDhcp(row, args[1]);
            printWhere(mac);
        }
    } else if (command == QLatin1String("test")) {
        outcome = Procedures::TestAddress(args[1]);
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
