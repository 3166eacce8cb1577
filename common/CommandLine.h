#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <optional>

// The command line of every program, handled the same way: --help and
// --version print and end with status 0; an unknown option, a missing value
// or an unexpected argument prints one line "program: reason" to standard
// error and ends with status 2. Works before any application object exists,
// so a windowed program can answer --help without a display.
namespace CommandLine {

QStringList Arguments(int argc, char** argv);

// Adds --help and --version to `parser`, parses `arguments` and returns the
// exit status when the program must end now, nullopt when it goes on.
// `maxPositional` is how many plain arguments the program takes.
std::optional<int> Parse(QCommandLineParser& parser, const QStringList& arguments,
                         const QString& program, const QString& version, int maxPositional = 0);

// Whether a window can be shown: a display, or a Qt platform chosen by
// hand. Without one Qt would abort the program; callers say what works.
bool HasDisplay();

// Prints "program: message" to standard error and returns 2.
int Fail(const QString& program, const QString& message);

}  // namespace CommandLine
