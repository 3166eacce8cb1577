// Times identification + readings transactions against one simulated device
// on loopback and prints transactions per second.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include "core/DeviceLink.h"
#include "core/Settings.h"
#include "devsim/Simulator.h"
#include "protocol/Commands.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pairs = argc > 1 ? QByteArray(argv[1]).toInt() : 1000;
    devsim::Simulator sim;
    QString error;
    devsim::Device* device =
        sim.addDevice(QStringLiteral("127.0.0.2"), devsim::Model::QX700_5, &error);
    if (!device) {
        QTextStream(stderr) << "link_bench: " << error << "\n";
        return 1;
    }
    ConfigParameters.TCPTimeOut = 2;
    Protocol::InitCommands();

    QByteArray identify, readings, answer;
    Protocol::BuildRequest(identify, Protocol::CmdIdentify());
    Protocol::BuildRequest(readings, Protocol::CmdReadings());
    int failures = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < pairs; ++i) {
        if (!DeviceLink::ReadFromCV("127.0.0.2", device->port(), identify, answer, 60)) ++failures;
        if (!DeviceLink::ReadFromCV("127.0.0.2", device->port(), readings, answer, 60)) ++failures;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    QTextStream(stdout) << pairs << " identification+readings transactions in "
                        << QString::number(seconds, 'f', 3)
                        << " s: " << QString::number(pairs / seconds, 'f', 1)
                        << " transactions per second (each two requests on fresh connections; "
                        << failures << " failed requests)\n";
    return failures == 0 ? 0 : 1;
}
