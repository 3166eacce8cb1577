#pragma once

#include <QString>

// The administration commands of fernlog: a fleet set up from a shell with
// the same rules and device exchanges as the windows. Each takes --dir and
// --help; exit status 0 done, 1 the device or the database refused, 2 a bad
// argument, with one line "fernlog: reason" on standard error.
namespace AdminCommands {

// The commands' lines in "fernlog --help".
QString Summary();

// True when the command line is one of these commands.
bool Wanted(int argc, char** argv);

// Runs the command the command line names.
int Run(int argc, char** argv);

// Each command, argv[1] (and argv[2]) being its words.
int Devices(int argc, char** argv);           // devices
int Device(int argc, char** argv);            // device add|set|remove
int Sensors(int argc, char** argv);           // sensors
int Sensor(int argc, char** argv);            // sensor show|set|calibrate|remove
int Poll(int argc, char** argv);              // poll
int SettingsCommand(int argc, char** argv);   // settings [set]
int MailTest(int argc, char** argv);          // mail-test
int Init(int argc, char** argv);              // init
int DeviceOptions(int argc, char** argv);     // device options
int DeviceSetOptions(int argc, char** argv);  // device set-options
int Alarms(int argc, char** argv);            // alarms
int Alarm(int argc, char** argv);             // alarm show|ack|unack|comment|resolve
int Audit(int argc, char** argv);             // audit
int BackupCommand(int argc, char** argv);     // backup
int RestoreCommand(int argc, char** argv);    // restore
int Silence(int argc, char** argv);           // silence
int SilencesCommand(int argc, char** argv);   // silences
int Unsilence(int argc, char** argv);         // unsilence
int SensorReview(int argc, char** argv);      // sensor review
int Maintenance(int argc, char** argv);       // maintenance add|list|remove
int ChannelsCommand(int argc, char** argv);   // channels
int Channel(int argc, char** argv);           // channel add|remove|test

}  // namespace AdminCommands
