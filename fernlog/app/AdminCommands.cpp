#include "app/AdminCommands.h"

#include <cstring>

namespace AdminCommands {
namespace {
struct Entry {
    const char* word;
    int (*run)(int, char**);
};
constexpr Entry kCommands[] = {
    {"init", Init},
    {"devices", Devices},
    {"device", Device},
    {"sensors", Sensors},
    {"sensor", Sensor},
    {"settings", SettingsCommand},
    {"mail-test", MailTest},
    {"poll", Poll},
    {"alarms", Alarms},
    {"alarm", Alarm},
    {"audit", Audit},
    {"backup", BackupCommand},
    {"restore", RestoreCommand},
    {"silence", Silence},
    {"silences", SilencesCommand},
    {"unsilence", Unsilence},
    {"maintenance", Maintenance},
    {"channels", ChannelsCommand},
    {"channel", Channel},
};
}  // namespace

QString Summary() {
    return QStringLiteral(
        "init      make the program folder ready (database, settings, options)\n"
        "  devices   the registered devices (--json)\n"
        "  device    add NAME ADDRESS, set NAME, remove NAME: register and change devices;\n"
        "            options NAME, set-options NAME: the device-wide options\n"
        "  sensors   the ports and sensor names of the devices (--json)\n"
        "  sensor    show DEVICE [PORT], set DEVICE PORT (name, limits, time, correction),\n"
        "            calibrate DEVICE PORT --actual T, remove DEVICE PORT,\n"
        "            review ID DATE --by NAME: sign off a day of its readings as reviewed\n"
        "  settings  the settings; settings set KEY=VALUE... changes them\n"
        "  mail-test ADDRESS: send the test e-mail with the stored settings\n"
        "  poll      read every enabled device once and print the readings (--json)\n"
        "  alarms    the alarm records, newest first (--open, --since TIME, --json)\n"
        "  alarm     show ID, ack ID, unack ID, comment ID, resolve ID: an alarm's timeline "
        "and what people do about it\n"
        "  audit     the audit trail of those actions (--since TIME, --json, --verify)\n"
        "  backup    FILE: the folder's databases, settings, options and outbox in one tar "
        "archive, while fernlog runs\n"
        "  restore   FILE: put a backup back into a folder no fernlog runs on (--force to "
        "replace)\n"
        "  silence   --device NAME [--port N] (--for DURATION | --until TIME) --by NAME: no\n"
        "            notices about it for a while; silences lists them, unsilence ID ends one\n"
        "  maintenance add, list, remove ID: a device's one-off or weekly maintenance windows\n"
        "  channels  the notification channels (--json); channel add KIND NAME, remove NAME,\n"
        "            test NAME: webhooks, an Alertmanager, a command, a heartbeat");
}

bool Wanted(int argc, char** argv) {
    if (argc < 2) return false;
    for (const Entry& e : kCommands) {
        if (std::strcmp(argv[1], e.word) == 0) return true;
    }
    return false;
}

int Run(int argc, char** argv) {
    for (const Entry& e : kCommands) {
        if (std::strcmp(argv[1], e.word) == 0) return e.run(argc, argv);
    }
    return 2;
}

}  // namespace AdminCommands
