#pragma once

#include <QString>

// Choices that the 1499-byte settings file has no room for. They live in a
// small text file beside it, so that the settings file keeps its layout and
// an older copy of the program, which ignores this file, still works.
namespace Options {

QString FileName();  // "FernlogOptions.ini", in the program directory

struct Values {
    // An e-mail when an alarm ends and when a failed device answers again.
    // Off unless the owner turns it on: installations keep their mail as is.
    bool recoveryNotices = false;
    // Devices whose exchanges a polling cycle runs at once ("Connections" in
    // [Polling]); 1 visits them one after the other. A failed device then
    // costs its own time-outs, not everyone else's.
    int connections = 64;
    // Minutes a failed e-mail is tried again for, counted from its first
    // attempt ("RetryMinutes" in [Mail]); 0, the default, makes the first
    // failure final.
    int retryMinutes = 0;
    // The web listener ("Listen" and "Token" in [Web], written by hand):
    // ADDRESS:PORT, empty when off; the token a client outside loopback
    // must send.
    QString webListen = QString();
    QString webToken = QString();
    // An open, unacknowledged alarm is mailed again every so many minutes
    // ("RemindMinutes" in [Notifications]), and once to the device's
    // escalation list when it is still unacknowledged so many minutes after
    // it began ("EscalateMinutes"); 0, the default: never.
    int remindMinutes = 0;
    int escalateMinutes = 0;
};
constexpr int kMaxConnections = 1024;
constexpr int kMaxRetryMinutes = 1440;
constexpr int kMaxNoticeMinutes = 10080;  // a week

// The stored choices; defaults for a missing file and for lines not
// understood (which are named in *warning when given).
Values Load(QString* warning = nullptr);
// Changes the values in the file, keeping its other lines (comments, keys
// it does not know) as they are.
bool Save(const Values& values, QString* error = nullptr);

}  // namespace Options
