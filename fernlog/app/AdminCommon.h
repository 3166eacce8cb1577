#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "common/Dialogs.h"
#include "common/FolderLock.h"
#include "core/AlarmHandling.h"
#include "core/Windows.h"
#include "db/ServerDatabase.h"

// What the administration commands (fernlog devices, device, sensors,
// sensor, settings, mail-test, poll) share: their command line, the program
// directory, the answers the subsystems give through the dialogs seam, and
// finding a device by its name.
namespace AdminCommon {

// Exit statuses: done, the device or the database refused, a bad argument.
constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kBadArgument = 2;

// Prints "fernlog: reason" (one line) on standard error; returns `status`.
int Fail(const QString& reason, int status = kRefused);
// A refused alarm-handling action: one the rules refused (a closed alarm,
// an empty name) is a bad argument; the store's or the database's own
// refusal is a refusal.
int Refused(const QString& error);
// A line on standard output.
void Print(const QString& line);
// `value` as indented JSON on standard output.
void PrintJson(const QJsonValue& value);

// For a command made of verbs ("device add"): when `word`, in the place of
// the verb, asks for help, prints `usage` and true.
bool VerbHelp(const QString& word, const QString& usage);

QCommandLineOption DirOption();
QCommandLineOption JsonOption();

// Parses the command line without its first `words` words (the command,
// e.g. "device add"); --help names the program "fernlog device add". The
// status to end with, or nullopt to go on.
std::optional<int> Parse(QCommandLineParser& parser, int argc, char** argv, int words,
                         int maxPositional = 0);

// Chooses the program directory (--dir, $FERNLOG_DIR, the installed data
// folder); an installed program's folder gets its database as the program
// itself would make it. nullopt when it can be used, else the status.
std::optional<int> OpenProgramDir(const QString& dirOption);

// While alive, every message box goes to `told` (warnings and errors also to
// `problems`) instead of the console; a question gets the safe answer No.
class Answers {
  public:
    Answers();
    ~Answers();
    Answers(const Answers&) = delete;
    Answers& operator=(const Answers&) = delete;
    QStringList told;
    QStringList problems;
};

// A message box's text as one line.
QString OneLine(const QString& text);

// The registered device of this name (trimmed, exact); otherwise the
// status, having printed the known names (`unknown`) or the database's
// refusal.
std::optional<int> FindDevice(const QString& name, ServerDatabase::ServerRow& row,
                              int unknown = kRefused);

// Held by a command for its read, change and write of the program
// directory's files, so that commands run at once are applied one after
// another. nullopt when held, else the status, having said why (nothing was
// changed).
std::optional<int> Locked(const FolderLock::WriteLock& lock);

// The configuration window of a stored model text; None when the text
// names no model that has one.
Window WindowForModel(const QString& model);

// After a change by the superuser, files made in a program directory that
// belongs to someone else (the service's user) are given to that owner,
// so that the service can still read and replace them.
void HandOver(const QStringList& fileNames);

// What the commands that act on alarms, silences and maintenance share.
// The person named by --by, acting from a command as this system user.
AlarmHandling::Actor CommandActor(const QString& by);
// nullopt when `by` names someone; else the status, having said that
// `command` needs --by.
std::optional<int> NeedBy(const QString& command, const QString& by);
// --OPTION's time (ISO 8601, local unless it carries an offset) into `when`;
// nullopt when it parses, else the status, having named the text.
std::optional<int> TimeOption(const QString& option, const QString& text, QDateTime& when);
// --for's duration ("90m", "4h", "2d") as the time it ends, from now.
std::optional<int> ForOption(const QString& text, QDateTime& end);

}  // namespace AdminCommon
