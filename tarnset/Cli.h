#pragma once

#include <QStringList>

// The command-line mode: discover, set-ip, dhcp, test and manual, for
// scripts and machines without a desktop. It runs the same procedures as the
// window. Exit status: 0 success, 1 nothing answered or the device refused,
// 2 bad arguments.
namespace Cli {

// True when the arguments (without the program name) ask for the command
// line rather than the window: any argument at all.
bool Wanted(const QStringList& arguments);

// Runs under a QCoreApplication; returns the exit status.
int Run(const QStringList& arguments);

QString Usage();
QString VersionText();  // "Corvane Tarnset 1.0.0"

}  // namespace Cli
