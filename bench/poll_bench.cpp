// Full polling cycles over 100 simulated devices with 10 named sensors each,
// with real data files and database. Prints sensor readings processed per
// second and the longest time the event loop went without processing events
// during a cycle.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "db/Provision.h"
#include "db/ServerDatabase.h"
#include "devsim/Simulator.h"
#include "protocol/Commands.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int deviceCount = 100;
    const int sensorsPerDevice = 10;
    const int cycles = argc > 1 ? QByteArray(argv[1]).toInt() : 3;
    QTextStream out(stdout);

    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !Provision::CreateDatabase(dir.path(), &error)) {
        QTextStream(stderr) << "poll_bench: " << error << "\n";
        return 1;
    }
    ProgramDir::Set(dir.path());
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;
    Protocol::InitCommands();
    Dialogs::SetHandler([](const Dialogs::Request&) { return Dialogs::Reply{}; });

    devsim::Simulator sim;
    for (int d = 0; d < deviceCount; ++d) {
        const QString address = QStringLiteral("127.0.1.%1").arg(d + 1);
        devsim::DeviceConfig config;
        config.address = QHostAddress(address);
        config.model = devsim::Model::QX700_10;
        devsim::Device* device = sim.addDevice(config, &error);
        if (!device) {
            QTextStream(stderr) << "poll_bench: " << error << "\n";
            return 1;
        }
        for (int p = 0; p < sensorsPerDevice; ++p) device->setPortValue(p, 20 + p);
        ServerDatabase::AddServer(QStringLiteral("Device %1").arg(d + 1),
                                  QStringLiteral("Model QX700-10"), address, QString(), 1,
                                  QString(), QString(), -1);
        for (int p = 0; p < sensorsPerDevice; ++p) {
            ServerDatabase::AddSensor(d + 1, QStringLiteral("Sensor %1.%2").arg(d + 1).arg(p), p,
                                      QString(), QStringLiteral("Temperature"));
        }
    }
    int named = 0;
    ServerDatabase::CountNamedSensors(named);
    StatusGrid::Model().ConfigureServerStatusGrid(named);

    // A 1 ms timer notes the longest gap between its ticks: the longest
    // stretch in which no event was processed.
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    QTimer probe;
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });

    QElapsedTimer timer;
    timer.start();
    for (int c = 0; c < cycles; ++c) {
        sinceTick.start();
        probe.start();
        Polling::PollAll();
        probe.stop();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    const int readings = cycles * named;
    out << cycles << " cycles over " << deviceCount << " devices, " << named
        << " named sensors: " << QString::number(seconds, 'f', 2) << " s, "
        << QString::number(readings / seconds, 'f', 1) << " sensor readings per second; "
        << "longest event-loop stall " << QString::number(longestGapNs / 1e6, 'f', 1) << " ms\n";
    return 0;
}
