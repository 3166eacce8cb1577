#include "app/AdminCommon.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include "common/Clock.h"
#include "common/CommandLine.h"
#include "common/ProgramDir.h"
#include "core/Startup.h"
#include "db/Database.h"
#include "db/Provision.h"
#include "protocol/Identification.h"
#include "registry/Registry.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace AdminCommon {

int Fail(const QString& reason, int status) {
    CommandLine::Fail(QStringLiteral("fernlog"), OneLine(reason));
    return status;
}

int Refused(const QString& error) {
    const bool store = error.contains(AlarmHandling::StoreRefusal()) ||
                       error.startsWith(QLatin1String("zolo.mdb refused"));
    return Fail(error, store ? kRefused : kBadArgument);
}

void Print(const QString& line) {
    QTextStream(stdout) << line << Qt::endl;
}

void PrintJson(const QJsonValue& value) {
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    QTextStream(stdout) << document.toJson(QJsonDocument::Indented);
}

bool VerbHelp(const QString& word, const QString& usage) {
    if (word != QLatin1String("--help") && word != QLatin1String("-h") &&
        word != QLatin1String("-?") && word != QLatin1String("help")) {
        return false;
    }
    Print(usage);
    return true;
}

QCommandLineOption DirOption() {
    return QCommandLineOption(
        QStringLiteral("dir"),
        QStringLiteral("Program directory: settings file, zolo.mdb (default: $FERNLOG_DIR, else "
                       "the executable's directory in the build tree, else the user's data "
                       "directory)."),
        QStringLiteral("DIR"));
}

QCommandLineOption JsonOption() {
    return QCommandLineOption(QStringLiteral("json"), QStringLiteral("Write JSON."));
}

std::optional<int> Parse(QCommandLineParser& parser, int argc, char** argv, int words,
                         int maxPositional) {
    QStringList arguments = CommandLine::Arguments(argc, argv);
    QStringList command;
    for (int i = 0; i < words && arguments.size() > 1; ++i) command << arguments.takeAt(1);
    // --help shows the whole command as the program; every other line is
    // "fernlog: reason".
    const bool help =
        arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
    const QString program =
        help ? QStringLiteral("fernlog ") + command.join(u' ') : QStringLiteral("fernlog");
    return CommandLine::Parse(parser, arguments, program, Startup::VersionText(), maxPositional);
}

std::optional<int> OpenProgramDir(const QString& dirOption) {
    ProgramDir::Origin origin;
    const QString path = ProgramDir::Configure(dirOption, &origin);
    if (!QFileInfo(path).isDir()) {
        const QString shown = QDir::toNativeSeparators(path);
        return Fail(QStringLiteral("the program folder %1 does not exist; fernlog init --dir %1 "
                                   "makes it ready")
                        .arg(shown),
                    kBadArgument);
    }
    if (QFileInfo(Database::Path()).isFile()) return std::nullopt;
    // As the program itself: an installed one makes its database, elsewhere
    // a missing one is the owner's to provide.
    if (origin == ProgramDir::Origin::PerUser) {
        bool created = false;
        QString error;
        if (Provision::CreateMissingDatabase(path, &created, &error)) return std::nullopt;
        return Fail(QStringLiteral("cannot create the database in ") + path + QStringLiteral(": ") +
                    error);
    }
    return Fail(QStringLiteral("there is no zolo.mdb in ") + QDir::toNativeSeparators(path) +
                QStringLiteral("; zolo-provision ") + QDir::toNativeSeparators(path) +
                QStringLiteral(" makes an empty one"));
}

Answers::Answers() {
    Dialogs::SetHandler([this](const Dialogs::Request& request) {
        Dialogs::Reply reply;
        const QString text = OneLine(request.text);
        told << text;
        if (request.icon == Dialogs::Icon::Warning || request.icon == Dialogs::Icon::Critical) {
            problems << text;
        }
        switch (request.buttons) {
            case Dialogs::Buttons::YesNo:
            case Dialogs::Buttons::YesNoCancel:
                reply.answer = Dialogs::Answer::No;
                break;
            case Dialogs::Buttons::OkCancel:
            case Dialogs::Buttons::RetryCancel:
                reply.answer = Dialogs::Answer::Cancel;
                break;
            case Dialogs::Buttons::Ok:
                break;
        }
        return reply;
    });
}

Answers::~Answers() {
    Dialogs::SetHandler({});
}

QString OneLine(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(u'\r', u' ');
    line.replace(u'\n', u' ');
    return line.simplified();
}

std::optional<int> FindDevice(const QString& name, ServerDatabase::ServerRow& row, int unknown) {
    QList<ServerDatabase::ServerRow> rows;
    QString error;
    if (!ServerDatabase::ListServers(rows, &error)) {
        return Fail(QStringLiteral("the devices cannot be read from the database: ") + error);
    }
    QStringList known;
    for (const auto& r : rows) {
        if (r.name.trimmed() == name.trimmed()) {
            row = r;
            return std::nullopt;
        }
        known << r.name.trimmed();
    }
    if (known.isEmpty()) {
        return Fail(QStringLiteral("there is no device named '%1'; no device is registered yet "
                                   "(fernlog device add)")
                        .arg(name),
                    unknown);
    }
    return Fail(QStringLiteral("there is no device named '%1'; the devices are: %2")
                    .arg(name, known.join(QStringLiteral(", "))),
                unknown);
}

std::optional<int> Locked(const FolderLock::WriteLock& lock) {
    if (lock.Held()) return std::nullopt;
    return Fail(lock.Error());
}

Window WindowForModel(const QString& model) {
    const QString text = model.trimmed();
    if (text == Protocol::UnknownModelText()) return Window::None;
    for (int family : {0, 3, 5}) {
        for (int number = 0; number <= 60; ++number) {
            if (Protocol::ModelText(family, number) == text) {
                return Registry::ConfigWindowFor(family, number);
            }
        }
    }
    return Window::None;
}

void HandOver(const QStringList& fileNames) {
#ifdef Q_OS_UNIX
    if (::geteuid() != 0) return;
    struct stat folder {};
    if (::stat(QFile::encodeName(ProgramDir::Path()).constData(), &folder) != 0) return;
    if (folder.st_uid == 0) return;
    for (const QString& name : fileNames) {
        const QByteArray path = QFile::encodeName(ProgramDir::File(name));
        struct stat file {};
        if (::lstat(path.constData(), &file) != 0 || !S_ISREG(file.st_mode)) continue;
        if (file.st_uid == folder.st_uid) continue;
        if (::chown(path.constData(), folder.st_uid, folder.st_gid) != 0) {
            Fail(QStringLiteral("warning: %1 could not be given to the folder's owner; the "
                                "service may not read it")
                     .arg(name),
                 kDone);
        }
    }
#else
    Q_UNUSED(fileNames);
#endif
}

AlarmHandling::Actor CommandActor(const QString& by) {
    return AlarmHandling::Actor{by.trimmed(), AlarmHandling::SystemUser(),
                                AlarmHandling::Origin::Command};
}

std::optional<int> NeedBy(const QString& command, const QString& by) {
    if (!by.trimmed().isEmpty()) return std::nullopt;
    return Fail(QStringLiteral("%1 needs --by NAME: who acts").arg(command), kBadArgument);
}

std::optional<int> TimeOption(const QString& option, const QString& text, QDateTime& when) {
    const auto parsed = AlarmHandling::ParseTime(text);
    if (!parsed) {
        return Fail(QStringLiteral("--%1 takes a time such as 2026-12-09T02:00, not '%2'")
                        .arg(option, text),
                    kBadArgument);
    }
    when = *parsed;
    return std::nullopt;
}

std::optional<int> ForOption(const QString& text, QDateTime& end) {
    const auto seconds = AlarmHandling::ParseDuration(text);
    if (!seconds) {
        return Fail(
            QStringLiteral("--for takes a duration such as 90m, 4h or 2d, not '%1'").arg(text),
            kBadArgument);
    }
    end = Clock::Now().addSecs(*seconds);
    return std::nullopt;
}

}  // namespace AdminCommon
