// demo-setup DIR SMTP_PORT: a program directory for the demo, with a system
// database that registers three simulated devices and their named sensors,
// and settings that poll every 10 seconds and mail to an SMTP sink on
// loopback.
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/Options.h"
#include "core/Settings.h"
#include "db/Provision.h"
#include "db/ServerDatabase.h"

namespace {
struct DemoSensor {
    int port;
    const char* name;
    const char* type;
};
struct DemoDevice {
    const char* address;
    const char* name;
    const char* model;
    const char* emails;
    std::vector<DemoSensor> sensors;
};

const std::vector<DemoDevice> kDevices = {
    {"127.0.0.2",
     "Kitchen",
     "Model QX700-5: Refrigerator/Freezer Keeper",
     "chef@kitchen.test,manager@kitchen.test,",
     {{0, "Walk-in Freezer", "Temperature"},
      {1, "Reach-in Cooler", "Temperature"},
      {8, "Back Door", "Door Sensor"}}},
    {"127.0.0.3",
     "Server Room",
     "Model QX700-8: Computer Room Keeper",
     "it@office.test,",
     {{0, "Rack Inlet", "Temperature"},
      {1, "Rack Humidity", "Humidity"},
      {8, "Under-floor Water", "Water Sensor Input"}}},
    {"127.0.0.4",
     "Pharmacy",
     "Zolo 605: Refrigerator/Freezer netKeeper",
     "pharmacist@clinic.test,",
     {{0, "Vaccine Fridge", "Temperature"}, {2, "Fridge Door", "Door Sensor"}}},
};
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    bool portOk = false;
    const int smtpPort = args.size() == 3 ? args[2].toInt(&portOk) : 0;
    if (!portOk || smtpPort < 1 || smtpPort > 32767) {
        err << "usage: demo-setup DIR SMTP_PORT   (SMTP_PORT 1-32767)\n";
        return 2;
    }
    const QString dir = args[1];
    QString error;
    QDir(dir).removeRecursively();
    if (!Provision::CreateDatabase(dir, &error)) {
        err << "demo-setup: " << error << "\n";
        return 1;
    }
    ProgramDir::Set(dir);
    Dialogs::SetHandler([&err](const Dialogs::Request& request) {
        err << "demo-setup: " << request.text << "\n";
        return Dialogs::Reply{};
    });

    qint64 id = 0;
    for (const DemoDevice& device : kDevices) {
        if (!ServerDatabase::AddServer(device.name, device.model, device.address,
                                       QStringLiteral("Simulated device"), 1, QString(),
                                       device.emails, -1)) {
            return 1;
        }
        ++id;
        for (const DemoSensor& sensor : device.sensors) {
            ServerDatabase::AddSensor(id, sensor.name, sensor.port, QString(), sensor.type);
        }
    }

    ConfigRecord& c = ConfigParameters;
    c.OrgName = QStringLiteral("Demo Organisation");
    c.OrgAddress = QStringLiteral("1 Loopback Lane");
    c.Host = QStringLiteral("127.0.0.1");
    c.SMTPPort = static_cast<qint16>(smtpPort);
    c.ServerTimeOut = 10;
    c.AuthenticationMethod = QStringLiteral("NONE");
    c.FromAddress = QStringLiteral("fernlog@demo.test");
    c.ServerFailureEmailAddress = QStringLiteral("it-support@demo.test");
    c.TCPTimeOut = 2;
    c.CommunicationRetry = 1;
    c.UpdateRate = 10;
    c.EnableTrending = 1;
    c.SystemOKEmail = 1;
    c.AutoPrintReport = QStringLiteral("No");
    if (!Settings::SaveConfigFile()) {
        err << "demo-setup: cannot write the settings file in " << dir << "\n";
        return 1;
    }
    // The walk-in freezer's alarm ends during the demo: show its notice too.
    if (!Options::Save({true}, &error)) {
        err << "demo-setup: " << error << "\n";
        return 1;
    }
    return 0;
}
