#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// Warnings that e-mail the program would send can go nowhere: no SMTP host,
// a polled device with named sensors and no usable alarm address, no usable
// administrator address for device failures. Otherwise the reason shows
// only in an alarm record's EmailSent, after the alarm it was for. Told at
// start and whenever the settings or the register change: the service log
// tells each warning once and its end, the status list keeps a line for
// each, the web views show Current().
namespace MailWarnings {

// What the warnings need of one polled (enabled) device.
struct PolledDevice {
    QString name;
    QString emailList;  // as tblServers.EmailAddress holds it
    // Whether it has named sensors, whose alarms would be mailed; Check
    // asks only where the addresses cannot be used.
    bool namedSensors = false;
};

// The warnings for these settings and polled devices, in a fixed order;
// empty when every e-mail has somewhere to go or nothing is polled.
QStringList Compute(const QString& host, const QString& adminAddress,
                    const std::vector<PolledDevice>& devices);

// Computes the warnings from ConfigParameters and the register and shows
// them: each new one is an EventLog warning, each mended one an EventLog
// line, the status list's line of each is set or removed. False, with the warnings
// left as they were, when the register cannot be read.
bool Check();

// The warnings as the last check found them.
QStringList Current();

// What the status list's lines begin with.
QString StatusKey();  // "E-mail warning: "

// Back to the state of a fresh start: no warnings.
void Reset();

}  // namespace MailWarnings
