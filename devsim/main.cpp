// corvane-sim: serves simulated devices on loopback addresses until it is
// interrupted (Ctrl-C) or terminated.
#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <csignal>

#include "DeviceOption.h"
#include "Scenario.h"
#include "Simulator.h"

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here; the event loop does the rest.
void onSignal(int signal) {
    const char c = char(signal);
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

const char* kDescription =
    "Serves simulated Corvane devices on loopback addresses, each on its own data\n"
    "port (10001 unless told otherwise), answering identification, readings,\n"
    "configuration pages, factory reset, clock and log requests.\n"
    "\n"
    "Device: ADDRESS,MODEL[,key=value...]\n"
    "  ADDRESS  a loopback address: 127.0.0.2, 127.0.0.3, ... (Linux routes all of\n"
    "           127.0.0.0/8 to the loopback interface)\n"
    "  MODEL    one of the models below\n"
    "  build=N  firmware build (default per model)\n"
    "  unit=C|F temperature unit (default F)\n"
    "  port=N   data port (default from --port; 0 picks a free port)\n"
    "  name=T   device name on its name page (default the model)\n"
    "  family=N, model=N  override the identification numbers\n"
    "  flag=N   force the resolution byte (59) of the readings answer\n"
    "\n"
    "%1"
    "\n"
    "Example:\n"
    "  corvane-sim --device 127.0.0.2,QX700-5,build=23 --device 127.0.0.3,Zolo605,unit=C\n"
    "\n"
    "Scenarios: 'lively' (default) moves values: every temperature and humidity\n"
    "port drifts around its starting value; the first door port of the fleet\n"
    "opens at step 10 and closes at step 40 of each 90-step round; port 0 of\n"
    "the first --device goes 5 above its upper limit at step 45 and comes back\n"
    "once its device has shown the alarm for 40 steps. 'static' leaves the\n"
    "values alone. Each device judges its values as a device does: a port with\n"
    "limits is in alarm (status 1) once it has been outside the limits on its\n"
    "page 0 for its time out of limits (factory: 5 minutes).\n"
    "\n"
    "--config-port also serves each device's configuration port 30718: it answers\n"
    "the discovery broadcast (to 127.255.255.255 on this computer) with a MAC\n"
    "address 00-20-4A and the address's last three octets, hands out its setup\n"
    "record, and moves to a new loopback address after a written-back record or a\n"
    "reset to DHCP (to 127.0.0.200 and up), after --reboot-delay ms.\n"
    "\n"
    "Stops cleanly on Ctrl-C (SIGINT) or SIGTERM.";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-sim"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    QString models = QStringLiteral("Models (family.model, default build):\n");
    for (devsim::Model m : devsim::allModels()) {
        const auto& info = devsim::modelInfo(m);
        models += QStringLiteral("  %1 %2.%3, build %4%5\n")
                      .arg(QString::fromLatin1(info.name).remove(QLatin1Char(' ')), -9)
                      .arg(info.family)
                      .arg(info.number)
                      .arg(info.defaultBuild)
                      .arg(devsim::hasClockAndLog(info.family, info.defaultBuild)
                               ? QStringLiteral(", clock and log")
                               : QString());
    }
    parser.setApplicationDescription(QString::fromLatin1(kDescription).arg(models));
    parser.addHelpOption();
    const QCommandLineOption deviceOpt(QStringLiteral("device"),
                                       QStringLiteral("A device to serve (repeatable)."),
                                       QStringLiteral("device"));
    const QCommandLineOption scenarioOpt(QStringLiteral("scenario"),
                                         QStringLiteral("lively (default) or static."),
                                         QStringLiteral("name"), QStringLiteral("lively"));
    const QCommandLineOption tickOpt(QStringLiteral("tick"),
                                     QStringLiteral("Scenario step in ms (default 2000)."),
                                     QStringLiteral("ms"), QStringLiteral("2000"));
    const QCommandLineOption portOpt(QStringLiteral("port"),
                                     QStringLiteral("Default data port (default 10001)."),
                                     QStringLiteral("port"), QStringLiteral("10001"));
    const QCommandLineOption configOpt(
        QStringLiteral("config-port"),
        QStringLiteral("Also serve the configuration port 30718 (discovery, addressing)."));
    const QCommandLineOption rebootOpt(
        QStringLiteral("reboot-delay"),
        QStringLiteral("Configuration port: ms a device takes to come back on a new address "
                       "(default 2000)."),
        QStringLiteral("ms"), QStringLiteral("2000"));
    const QCommandLineOption anySenderOpt(
        QStringLiteral("config-any-sender"),
        QStringLiteral("Configuration port: answer non-loopback senders too (only inside a "
                       "network namespace made for a test)."));
    parser.addOptions(
        {deviceOpt, scenarioOpt, tickOpt, portOpt, configOpt, rebootOpt, anySenderOpt});
    parser.process(app);

    bool ok = false;
    const int defaultPort = parser.value(portOpt).toInt(&ok);
    if (!ok || defaultPort < 0 || defaultPort > 65535) {
        err << "corvane-sim: --port needs a port number\n";
        return 2;
    }
    const int tickMs = parser.value(tickOpt).toInt(&ok);
    if (!ok || tickMs < 10) {
        err << "corvane-sim: --tick needs at least 10 ms\n";
        return 2;
    }
    const QString scenarioName = parser.value(scenarioOpt).toLower();
    if (scenarioName != QLatin1String("lively") && scenarioName != QLatin1String("static")) {
        err << "corvane-sim: unknown scenario '" << scenarioName << "'\n";
        return 2;
    }
    const int rebootMs = parser.value(rebootOpt).toInt(&ok);
    if (!ok || rebootMs < 0) {
        err << "corvane-sim: --reboot-delay needs a number of ms\n";
        return 2;
    }
    const QStringList deviceOptions = parser.values(deviceOpt);
    if (deviceOptions.isEmpty()) {
        err << "corvane-sim: no devices; give at least one --device (see --help)\n";
        return 2;
    }

    devsim::Simulator simulator;
    for (const QString& option : deviceOptions) {
        QString error;
        auto config = devsim::parseDeviceOption(option, quint16(defaultPort), &error);
        if (config && parser.isSet(configOpt)) {
            devsim::ConfigPortSettings settings;
            settings.rebootDelayMs = rebootMs;
            settings.anySender = parser.isSet(anySenderOpt);
            config->configPort = settings;
        }
        devsim::Device* device = config ? simulator.addDevice(*config, &error) : nullptr;
        if (!device) {
            err << "corvane-sim: " << error << "\n";
            return 1;
        }
        out << "listening: " << device->describe();
        if (device->configPort())
            out << ", configuration port " << devsim::kConfigPort << ", MAC "
                << device->configPort()->macText();
        out << "\n";
    }
    out.flush();

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        err << "corvane-sim: cannot set up signal handling\n";
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char c = 0;
        [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
        out << "stopping on " << (c == SIGINT ? "SIGINT" : "SIGTERM") << "\n";
        out.flush();
        QCoreApplication::quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    devsim::Scenario scenario(&simulator, tickMs);
    scenario.setMoving(scenarioName == QLatin1String("lively"));
    scenario.start();

    const int rc = app.exec();
    scenario.stop();
    simulator.removeAll();
    out << "stopped\n";
    return rc;
}
