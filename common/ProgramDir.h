#pragma once

#include <QString>

// Where fernlog keeps everything it owns: settings file, database, data logs
// and mail logs. Chosen once at start-up from --dir, then FERNLOG_DIR, then
// the executable's own directory.
namespace ProgramDir {

// Chooses the directory: `dir` (the --dir option) when given, else
// FERNLOG_DIR, else the executable's directory. Returns the chosen path;
// later calls to Path() return the same.
QString Configure(const QString& dir);

// Sets the directory directly (tests use their own temporary directory).
void Set(const QString& dir);

// The program directory, without a trailing separator.
QString Path();

// Path() joined with a file name.
QString File(const QString& name);

}  // namespace ProgramDir
