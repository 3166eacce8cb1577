#pragma once

#include <QString>

// The folder browser's result: the directory of the sensor data log copies
// as the program keeps it (the current log directory and LogDir).
namespace FolderRules {

// True when `dir` and its upper-case spelling name the same existing
// directory, as on file systems that ignore letter case.
bool IgnoresCase(const QString& dir);

// The text stored for a chosen folder: upper case where the file system
// ignores case, as chosen where case matters (the upper-case name would be a
// different, usually missing, folder there).
QString LogDirText(const QString& chosen);

// Why a folder path cannot be stored in LogDir (longer than the field or
// characters outside the file's code page); empty when it can.
QString PathProblem(const QString& path);

// OK of the folder browser: the chosen folder becomes the current log
// directory and LogDir (in memory; Apply stores the file). When the path
// cannot be stored the user is told and nothing changes.
bool ChooseLogDir(const QString& chosen);

}  // namespace FolderRules
