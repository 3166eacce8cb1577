#pragma once

#include <QString>

// "fernlog export ...": the readings of the data logs as CSV, without
// starting the program.
namespace ExportCommand {

// The command's line in "fernlog --help".
QString Summary();

// True when the command line is "fernlog export ...".
bool Wanted(int argc, char** argv);

// Runs the export; the exit status: 0 done, 1 nothing exported (unknown
// sensor or device, no readings, a damaged or unreadable file, a failed
// write), 2 a bad option or value.
int Run(int argc, char** argv);

}  // namespace ExportCommand
