#pragma once

#include <QString>

// Where fernlog keeps everything it owns: settings file, database, data logs
// and mail logs. Chosen once at start-up from --dir, then FERNLOG_DIR, then
// the executable's own directory when run from the build tree, else the
// user's data directory (an installed executable's directory is read-only).
namespace ProgramDir {

// Where the chosen directory came from.
enum class Origin { Option, Environment, Executable, PerUser };

// The file that the build puts beside its programs and an installation never
// carries: an executable beside it runs from the build tree.
inline constexpr char kBuildTreeMarker[] = "fernlog-build-tree";

// Chooses the directory: `dir` (the --dir option) when given, else
// FERNLOG_DIR, else DefaultFor(the executable's directory, the user's data
// directory). Returns the chosen path; later calls to Path() return the
// same. `origin`, when given, says which of them it was.
QString Configure(const QString& dir, Origin* origin = nullptr);

// The default without --dir or FERNLOG_DIR: `executableDir` when it holds
// kBuildTreeMarker (or no user data directory is known), else `perUserDir`.
QString DefaultFor(const QString& executableDir, const QString& perUserDir,
                   Origin* origin = nullptr);

// Sets the directory directly (tests use their own temporary directory).
void Set(const QString& dir);

// The program directory, without a trailing separator.
QString Path();

// Path() joined with a file name.
QString File(const QString& name);

}  // namespace ProgramDir
