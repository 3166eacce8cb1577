// fernlog settings, settings set and mail-test: the settings dialogs'
// checks, storing and test e-mail from the command line.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <vector>

#include "app/AdminCommands.h"
#include "app/AdminCommon.h"
#include "common/ProgramDir.h"
#include "common/SafeFile.h"
#include "core/AlarmHandling.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/Mailer.h"
#include "core/Options.h"
#include "core/Polling.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "registry/Registry.h"
#include "settings/AdvancedEmailRules.h"
#include "settings/ConfigurationRules.h"
#include "settings/FolderRules.h"
#include "web/Listener.h"

using namespace AdminCommon;
using AdvancedEmailRules::AdvancedEmailForm;
using ConfigurationRules::ConfigurationForm;

namespace AdminCommands {
namespace {

// The dialogs' view: nobody to point at a field.
class NoView : public ConfigurationRules::FormView {
  public:
    void FocusField(ConfigurationRules::Field) override {}
    void SetFieldText(ConfigurationRules::Field, const QString&) override {}
    void MarkField(ConfigurationRules::Field) override {}
    void SetBusy(bool) override {}
};

// Where a key's value goes.
enum class Dialog { Main, Advanced, LogDir, Options };
enum class Kind { Text, Number, Flag, Secret, Method, Listen };

struct Forms {
    ConfigurationForm main;
    AdvancedEmailForm advanced;
    Options::Values options;
    QString logDir;
};

struct Key {
    QString name;
    Dialog dialog;
    Kind kind;
    QString help;
    std::function<QString(const Forms&)> get;
    std::function<void(Forms&, const QString&)> set;
};

QString YesNo(bool on) {
    return on ? QStringLiteral("yes") : QStringLiteral("no");
}

#define TEXT_FIELD(form, field)                  \
    [](const Forms& f) { return f.form.field; }, \
        [](Forms& f, const QString& v) { f.form.field = v; }
#define FLAG_FIELD(form, field)                         \
    [](const Forms& f) { return YesNo(f.form.field); }, \
        [](Forms& f, const QString& v) { f.form.field = v == QLatin1String("yes"); }

const std::vector<Key>& Keys() {
    using enum Dialog;
    static const std::vector<Key> keys{
        {"SmtpHost", Main, Kind::Text, "SMTP server", TEXT_FIELD(main, Host)},
        {"SmtpPort", Advanced, Kind::Number, "its port", TEXT_FIELD(advanced, SMTPPort)},
        {"SmtpSender", Main, Kind::Text, "the e-mails' sender address",
         TEXT_FIELD(main, FromAddress)},
        {"AdminEmail", Main, Kind::Text,
         "the administrator's address (device failures, daily and test e-mails)",
         TEXT_FIELD(main, ServerFailureEmailAddress)},
        {"SmtpTimeOut", Advanced, Kind::Number, "mail server time-out, seconds",
         TEXT_FIELD(advanced, ServerTimeOut)},
        {"SmtpSsl", Advanced, Kind::Flag, "SSL/TLS, yes or no", FLAG_FIELD(advanced, SSL)},
        {"SmtpAuthentication", Advanced, Kind::Flag, "log in to the mail server, yes or no",
         FLAG_FIELD(advanced, Authentication)},
        {"SmtpAuthMethod", Advanced, Kind::Method, "LOGIN, PLAIN, CRAM-MD5, NTLM or NONE",
         TEXT_FIELD(advanced, AuthenticationMethod)},
        {"SmtpUser", Advanced, Kind::Text, "mail server user name", TEXT_FIELD(advanced, UserName)},
        {"SmtpPassword", Advanced, Kind::Secret, "mail server password (standard input only)",
         TEXT_FIELD(advanced, Password)},
        {"SmtpDomain", Advanced, Kind::Text, "login domain (NTLM)",
         TEXT_FIELD(advanced, LoginDomain)},
        {"UpdateRate", Main, Kind::Number, "seconds between polling cycles, 5 or more",
         TEXT_FIELD(main, UpdateRate)},
        {"DeviceTimeOut", Main, Kind::Number, "seconds to wait for a device's answer",
         TEXT_FIELD(main, TCPTimeOut)},
        {"DeviceRetries", Main, Kind::Number, "attempts per device and cycle",
         TEXT_FIELD(main, CommunicationRetry)},
        {"LogDir", LogDir, Kind::Text, "second folder for the data logs (empty: none)",
         [](const Forms& f) { return f.logDir; }, [](Forms& f, const QString& v) { f.logDir = v; }},
        {"OrgName", Main, Kind::Text, "organisation named in the e-mails",
         TEXT_FIELD(main, OrgName)},
        {"OrgAddress", Main, Kind::Text, "its address", TEXT_FIELD(main, OrgAddress)},
        {"OrgPhone", Main, Kind::Text, "its telephone number", TEXT_FIELD(main, OrgPhoneNumber)},
        {"SystemOkEmail", Main, Kind::Flag, "daily \"up and running\" e-mail, yes or no",
         FLAG_FIELD(main, SystemOKEmail)},
        {"RecoveryNotices", Main, Kind::Flag,
         "e-mails when an alarm ends or a device answers again, yes or no",
         FLAG_FIELD(main, RecoveryNotices)},
        {"Trending", Main, Kind::Flag, "the main window's trend chart, yes or no",
         FLAG_FIELD(main, EnableTrending)},
        {"AdminUser", Main, Kind::Text, "administrator login name (empty: no login)",
         TEXT_FIELD(main, UN)},
        {"AdminPassword", Main, Kind::Secret, "administrator password (standard input only)",
         [](const Forms& f) { return f.main.PW; },
         [](Forms& f, const QString& v) { f.main.PW = f.main.PWConfirm = v; }},
        {"Connections", Options, Kind::Number, "devices read at once in a cycle (1: one by one)",
         [](const Forms& f) { return QString::number(f.options.connections); },
         [](Forms& f, const QString& v) { f.options.connections = v.toInt(); }},
        {"RetryMinutes", Options, Kind::Number,
         "minutes a failed e-mail is tried again for (0: not retried)",
         [](const Forms& f) { return QString::number(f.options.retryMinutes); },
         [](Forms& f, const QString& v) { f.options.retryMinutes = v.toInt(); }},
        {"RemindMinutes", Options, Kind::Number,
         "minutes between reminders of an unacknowledged alarm (0: none)",
         [](const Forms& f) { return QString::number(f.options.remindMinutes); },
         [](Forms& f, const QString& v) { f.options.remindMinutes = v.toInt(); }},
        {"EscalateMinutes", Options, Kind::Number,
         "minutes after which an unacknowledged alarm goes to the escalation list (0: never)",
         [](const Forms& f) { return QString::number(f.options.escalateMinutes); },
         [](Forms& f, const QString& v) { f.options.escalateMinutes = v.toInt(); }},
        {"WebListen", Options, Kind::Listen,
         "status page, JSON and metrics at ADDRESS:PORT (empty: off)",
         [](const Forms& f) { return f.options.webListen; },
         [](Forms& f, const QString& v) { f.options.webListen = v; }},
        {"WebToken", Options, Kind::Secret,
         "token a web client outside loopback sends (standard input only)",
         [](const Forms& f) { return f.options.webToken; },
         [](Forms& f, const QString& v) { f.options.webToken = v.trimmed(); }},
    };
    return keys;
}
#undef TEXT_FIELD
#undef FLAG_FIELD

const Key* FindKey(const QString& name) {
    for (const Key& key : Keys()) {
        if (key.name.compare(name, Qt::CaseInsensitive) == 0) return &key;
    }
    return nullptr;
}

QString KeyNames() {
    QStringList names;
    for (const Key& key : Keys()) names << key.name;
    return names.join(QStringLiteral(", "));
}

// A value in the form the dialogs hold it; nullopt (having said why) when it
// cannot be one.
std::optional<QString> Normalised(const Key& key, const QString& value, int& status) {
    const QString v = value.trimmed();
    switch (key.kind) {
        case Kind::Flag: {
            static const QStringList on{"yes", "true", "on", "1"}, off{"no", "false", "off", "0"};
            if (on.contains(v.toLower())) return QStringLiteral("yes");
            if (off.contains(v.toLower())) return QStringLiteral("no");
            status = Fail(QStringLiteral("%1 takes yes or no, not '%2'").arg(key.name, value),
                          kBadArgument);
            return std::nullopt;
        }
        case Kind::Method:
            for (const QString& method : AdvancedEmailRules::Methods()) {
                if (method.compare(v, Qt::CaseInsensitive) == 0) return method;
            }
            status = Fail(
                QStringLiteral("%1 takes one of %2, not '%3'")
                    .arg(key.name, AdvancedEmailRules::Methods().join(QStringLiteral(", ")), value),
                kBadArgument);
            return std::nullopt;
        case Kind::Number:
            if (key.dialog == Dialog::Options) {
                const bool retry = key.name == QLatin1String("RetryMinutes");
                const bool notice = key.name.endsWith(QLatin1String("Minutes")) && !retry;
                const int low = retry || notice ? 0 : 1;
                const int high = retry    ? Options::kMaxRetryMinutes
                                 : notice ? Options::kMaxNoticeMinutes
                                          : Options::kMaxConnections;
                bool ok = false;
                const int n = v.toInt(&ok);
                if (!ok || n < low || n > high) {
                    status = Fail(QStringLiteral("%1 takes a number from %2 to %3, not '%4'")
                                      .arg(key.name)
                                      .arg(low)
                                      .arg(high)
                                      .arg(value),
                                  kBadArgument);
                    return std::nullopt;
                }
            }
            return v;  // the dialogs' own checks judge it
        case Kind::Listen: {
            // The address alone is judged here; the token rule is judged
            // with the token the options file holds, once both are known.
            Web::Endpoint endpoint;
            QString reason;
            if (v.isEmpty() ||
                Web::ParseEndpoint(v, QString(QChar(u'x')).repeated(Web::kMinTokenLength), endpoint,
                                   &reason)) {
                return v;
            }
            status = Fail(QStringLiteral("%1: %2").arg(key.name, reason), kBadArgument);
            return std::nullopt;
        }
        case Kind::Text:
        case Kind::Secret:
            return value;
    }
    return value;
}

// The settings file as it was, put back when a later step refuses.
struct Snapshot {
    bool existed = false;
    QByteArray bytes;
    void Take() {
        QFile file(Settings::FilePath());
        existed = file.open(QIODevice::ReadOnly);
        if (existed) bytes = file.readAll();
    }
    void Restore() const {
        if (!existed) {
            QFile::remove(Settings::FilePath());
            return;
        }
        SafeFile::Replace(Settings::FilePath(), bytes, nullptr, SafeFile::Mode::Private);
        HandOver({Settings::FileName()});
    }
};

Forms LoadForms() {
    Forms forms;
    ServerData::LogDirInUse = ConfigParameters.LogDir.Text();
    forms.main = ConfigurationRules::LoadForm();
    forms.advanced = AdvancedEmailRules::LoadAdvancedForm();
    forms.options = Options::Load();
    forms.logDir = ConfigParameters.LogDir.Text();
    return forms;
}

int Show(bool json) {
    Settings::InitCrypt();
    Settings::ReadConfigFile();
    const Forms stored = LoadForms();
    // The values in force: the defaults the program puts in place of values
    // out of range at its start, and the limits its device link and polling
    // cycle apply on top of them.
    Settings::ApplyDefaults();
    ConfigParameters.TCPTimeOut =
        qint16(DeviceLink::AnswerTimeOutSeconds(ConfigParameters.TCPTimeOut));
    ConfigParameters.CommunicationRetry =
        qint16(Polling::AttemptsFor(ConfigParameters.CommunicationRetry));
    const Forms forms = LoadForms();
    QJsonObject object;
    QStringList defaults;
    for (const Key& key : Keys()) {
        QString value = key.get(forms);
        if (value != key.get(stored)) defaults << key.name;
        if (key.kind == Kind::Secret)
            value = value.isEmpty() ? QStringLiteral("(empty)") : QStringLiteral("(set)");
        if (json) {
            object.insert(key.name, value);
        } else {
            Print(key.name + QStringLiteral("=") + value);
        }
    }
    if (json) {
        object.insert(QStringLiteral("defaults"), QJsonArray::fromStringList(defaults));
        PrintJson(object);
    } else if (!defaults.isEmpty()) {
        Print(QStringLiteral("# in force though not stored (defaults): ") +
              defaults.join(QStringLiteral(", ")));
    }
    return kDone;
}

int Set(const QStringList& args, bool passwordStdin) {
    // Everything is checked before anything is stored.
    QList<QPair<const Key*, QString>> changes;
    QList<const Key*> secrets;
    for (const QString& arg : args) {
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.left(eq);
        const Key* key = FindKey(name);
        if (!key) {
            return Fail(
                QStringLiteral("unknown setting '%1'; the settings are: %2").arg(name, KeyNames()),
                kBadArgument);
        }
        if (key->kind == Kind::Secret) {
            if (eq >= 0) {
                return Fail(QStringLiteral("%1 is a secret and is never taken from the command "
                                           "line; name it without a value and give it on "
                                           "standard input with --password-stdin")
                                .arg(key->name),
                            kBadArgument);
            }
            if (!passwordStdin) {
                return Fail(QStringLiteral("%1 is read from standard input: add --password-stdin")
                                .arg(key->name),
                            kBadArgument);
            }
            secrets << key;
            continue;
        }
        if (eq < 0) {
            return Fail(QStringLiteral("'%1' has no value: KEY=VALUE").arg(arg), kBadArgument);
        }
        int status = kDone;
        const auto value = Normalised(*key, arg.mid(eq + 1), status);
        if (!value) return status;
        changes.append({key, *value});
    }
    if (passwordStdin && secrets.isEmpty()) {
        return Fail(QStringLiteral("--password-stdin needs the secret's name: SmtpPassword, "
                                   "AdminPassword or WebToken"),
                    kBadArgument);
    }
    if (changes.isEmpty() && secrets.isEmpty()) {
        return Fail(QStringLiteral("settings set takes KEY=VALUE... (see --help)"), kBadArgument);
    }
    // One line of standard input per secret, in the order they are named.
    QTextStream in(stdin);
    for (const Key* key : secrets) {
        QString line;
        if (!in.readLineInto(&line)) {
            return Fail(QStringLiteral("standard input ended before the value of ") + key->name,
                        kBadArgument);
        }
        changes.append({key, line});
    }

    // From the read of the files to the last write: commands at once are
    // applied one after another.
    const FolderLock::WriteLock lock;
    if (const auto status = Locked(lock)) return *status;
    // A link the file may not be written through is told as it is, before
    // anything is read through it; the dialogs would only say "not saved".
    QString unwritable;
    if (std::any_of(changes.begin(), changes.end(),
                    [](const auto& change) { return change.first->dialog != Dialog::Options; }) &&
        !SafeFile::Replaceable(Settings::FilePath(), &unwritable)) {
        return Fail(unwritable);
    }
    Answers answers;
    Snapshot before;
    before.Take();
    Settings::InitCrypt();
    // As the program starts: the stored settings, with defaults for what is
    // out of range.
    Settings::ReadConfigFile();
    Settings::ValidateConfig();
    Forms forms = LoadForms();
    QStringList was;  // each key's value before, for the audit trail
    for (const auto& change : changes) was << change.first->get(forms);
    bool main = false, advanced = false, options = false;
    for (const auto& [key, value] : changes) {
        key->set(forms, value);
        main |= key->dialog == Dialog::Main || key->dialog == Dialog::LogDir;
        advanced |= key->dialog == Dialog::Advanced;
        options |= key->dialog == Dialog::Options;
        if (key->dialog == Dialog::LogDir) {
            const QString dir = forms.logDir.trimmed();
            if (dir.isEmpty()) {
                ServerData::LogDirInUse.clear();
                ConfigParameters.LogDir = QString();
            } else if (!QFileInfo(dir).isDir() || !QDir::isAbsolutePath(dir)) {
                before.Restore();
                return Fail(QStringLiteral("LogDir takes an existing folder's full path, not '%1'")
                                .arg(dir),
                            kBadArgument);
            } else if (!FolderRules::ChooseLogDir(dir)) {
                before.Restore();
                return Fail(answers.told.value(0), kBadArgument);
            }
        }
    }
    if (options && !forms.options.webListen.isEmpty()) {
        Web::Endpoint endpoint;
        QString reason;
        if (!Web::ParseEndpoint(forms.options.webListen, forms.options.webToken, endpoint,
                                &reason)) {
            before.Restore();
            return Fail(QStringLiteral("WebListen: ") + reason, kBadArgument);
        }
    }
    NoView view;
    const auto refused = [&](int status) {
        before.Restore();
        QString reason = answers.problems.isEmpty() ? answers.told.value(answers.told.size() - 1)
                                                    : answers.problems.constLast();
        // The dialog asks whether to keep such a value; here nobody answers.
        if (reason.endsWith(u'?')) reason += QStringLiteral(" Not stored: the answer here is no.");
        return Fail(reason, status);
    };
    if (advanced) {
        const auto result = AdvancedEmailRules::ApplyAdvanced(forms.advanced, view);
        if (result == AdvancedEmailRules::OkResult::Stay) return refused(kBadArgument);
        if (!answers.problems.isEmpty()) return refused(kRefused);
    }
    if (main) {
        switch (ConfigurationRules::Apply(forms.main, view)) {
            case ConfigurationRules::ApplyResult::Saved:
                break;
            case ConfigurationRules::ApplyResult::Stopped:
                return refused(kBadArgument);
            case ConfigurationRules::ApplyResult::SaveFailed:
                return refused(kRefused);
        }
    }
    if (options) {
        QString error;
        if (!Options::Save(forms.options, &error)) {
            before.Restore();
            return Fail(Options::FileName() + QStringLiteral(" could not be written: ") + error);
        }
    }
    HandOver({Settings::FileName(), Options::FileName()});
    Print(QStringLiteral("Stored; a running fernlog takes the settings up before its next cycle."));
    // Every change is a row of the audit trail; a secret's value is not.
    const Forms stored = LoadForms();
    const QString user = AlarmHandling::SystemUser();
    const AlarmHandling::Actor actor{user, user, AlarmHandling::Origin::Command};
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const Key& key = *changes[i].first;
        const bool secret = key.kind == Kind::Secret;
        const QString now = key.get(stored);
        if (now == was[i]) continue;
        QString error;
        if (!AlarmHandling::Record(
                actor, QStringLiteral("settings"), 0, QString(),
                key.name + u'=' + (secret ? QStringLiteral("(secret)") : was[i]),
                key.name + u'=' + (secret ? QStringLiteral("(changed secret)") : now), &error)) {
            return Fail(QStringLiteral("the settings were stored, but the audit trail refused "
                                       "them: ") +
                        error);
        }
    }
    return kDone;
}

}  // namespace

int SettingsCommand(int argc, char** argv) {
    const bool set = argc > 2 && QString::fromLocal8Bit(argv[2]) == QLatin1String("set");
    QCommandLineParser parser;
    const QCommandLineOption dir = DirOption(), json = JsonOption();
    const QCommandLineOption passwordStdin(
        QStringLiteral("password-stdin"),
        QStringLiteral("Read the secrets named without a value (SmtpPassword, AdminPassword) "
                       "from standard input, one line each."));
    if (set) {
        QString keys;
        for (const Key& key : Keys())
            keys += QStringLiteral("\n  ") + key.name + QStringLiteral("  ") + key.help;
        parser.setApplicationDescription(
            QStringLiteral("Changes settings with the settings dialogs' checks; nothing is "
                           "stored when one is refused. The settings:") +
            keys);
        parser.addPositionalArgument(QStringLiteral("KEY=VALUE"), QStringLiteral("A setting."),
                                     QStringLiteral("KEY=VALUE..."));
        parser.addOptions({dir, passwordStdin});
    } else {
        parser.setApplicationDescription(QStringLiteral(
            "Shows the settings as KEY=VALUE (secrets only as set or empty); fernlog settings "
            "set changes them."));
        parser.addOptions({dir, json});
    }
    if (const auto status = Parse(parser, argc, argv, set ? 2 : 1, set ? 1000 : 0)) {
        return *status;
    }
    QCoreApplication app(argc, argv);
    if (!QFileInfo(ProgramDir::Configure(parser.value(dir))).isDir()) {
        return Fail(QStringLiteral("the folder %1 does not exist")
                        .arg(QDir::toNativeSeparators(ProgramDir::Path())),
                    kBadArgument);
    }
    if (!set) return Show(parser.isSet(json));
    return Set(parser.positionalArguments(), parser.isSet(passwordStdin));
}

int MailTest(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends the settings dialog's test e-mail to ADDRESS through the stored mail settings; "
        "on failure prints the mail server's answer."));
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("The recipient."));
    const QCommandLineOption dir = DirOption();
    parser.addOption(dir);
    if (const auto status = Parse(parser, argc, argv, 1, 1)) return *status;
    const QString address = parser.positionalArguments().value(0).trimmed();
    if (!Registry::LooksLikeEmailAddress(address)) {
        return Fail(QStringLiteral("mail-test takes an e-mail address, not '%1'").arg(address),
                    kBadArgument);
    }
    QCoreApplication app(argc, argv);
    if (!QFileInfo(ProgramDir::Configure(parser.value(dir))).isDir()) {
        return Fail(QStringLiteral("the folder %1 does not exist")
                        .arg(QDir::toNativeSeparators(ProgramDir::Path())),
                    kBadArgument);
    }
    Mail::GlobalInit();
    Settings::InitCrypt();
    Settings::ReadConfigFile();
    Answers answers;
    ConfigurationForm form = ConfigurationRules::LoadForm();
    form.ServerFailureEmailAddress = address;
    NoView view;
    const bool sent = ConfigurationRules::TestEmail(form, view);
    HandOver({EmailNotification::MailLogFileName(), EmailNotification::ErrorReportFileName(),
              QStringLiteral("zolo.mdb")});
    const QString told = answers.told.isEmpty() ? QString() : answers.told.constLast();
    if (!sent) return Fail(told);
    Print(told);
    return kDone;
}

}  // namespace AdminCommands
