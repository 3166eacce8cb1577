// Full polling cycles over 100 simulated devices with 10 named sensors each
// and 5 devices that refuse connections, with real data files and database.
// After a warm-up cycle (which creates the files) it measures steady cycles,
// first with the program directory alone, then with a log directory as
// well. For each it prints sensor readings processed per second, the longest
// time the event loop went without processing events, and the same figure
// of poll_floor (plain POSIX and SQLite doing the irreducible work) run
// against the same devices in the same run.
//   poll_bench [STEADY_CYCLES]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/DeviceLink.h"
#include "core/Polling.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "db/Provision.h"
#include "db/ServerDatabase.h"
#include "devsim/Simulator.h"
#include "protocol/Commands.h"

namespace {
constexpr int kDevices = 100;
constexpr int kRefusing = 5;
constexpr int kSensors = 10;

struct Figure {
    double readingsPerSecond = 0;
    double longestStallMs = 0;
};

Figure MeasureCycles(int cycles, int sensorsPerCycle) {
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
    return {cycles * sensorsPerCycle / seconds, longestGapNs / 1e6};
}

// Runs poll_floor while this event loop keeps serving the simulated devices.
double MeasureFloor(const QString& dir, const QString& logDir, int cycles) {
    QProcess floor;
    QStringList args = {
        QStringLiteral("--dir"),      dir,
        QStringLiteral("--database"), QDir(dir).filePath(QStringLiteral("zolo.mdb")),
        QStringLiteral("--devices"),  QString::number(kDevices + kRefusing),
        QStringLiteral("--cycles"),   QString::number(cycles)};
    if (!logDir.isEmpty()) args << QStringLiteral("--log-dir") << logDir;
    QEventLoop loop;
    QObject::connect(&floor, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&floor, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    floor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/poll_floor"), args);
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();
    return QString::fromUtf8(floor.readAllStandardOutput())
        .section(QLatin1Char(' '), 0, 0)
        .toDouble();
}

QString Line(const char* what, const Figure& figure, double floor) {
    return QStringLiteral(
               "%1: %2 sensor readings/s, longest event-loop stall %3 ms; floor %4/s, "
               "ratio %5\n")
        .arg(QLatin1String(what))
        .arg(figure.readingsPerSecond, 0, 'f', 0)
        .arg(figure.longestStallMs, 0, 'f', 1)
        .arg(floor, 0, 'f', 0)
        .arg(floor > 0 ? figure.readingsPerSecond / floor : 0, 0, 'f', 2);
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 3;
    QTextStream out(stdout);

    QTemporaryDir dir;
    QTemporaryDir logDir;
    QString error;
    if (!dir.isValid() || !logDir.isValid() || !Provision::CreateDatabase(dir.path(), &error)) {
        QTextStream(stderr) << "poll_bench: " << error << "\n";
        return 1;
    }
    ProgramDir::Set(dir.path());
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;
    Protocol::InitCommands();
    Dialogs::SetHandler([](const Dialogs::Request&) { return Dialogs::Reply{}; });

    devsim::Simulator sim;
    for (int d = 0; d < kDevices + kRefusing; ++d) {
        const QString address = QStringLiteral("127.0.1.%1").arg(d + 1);
        devsim::DeviceConfig config;
        config.address = QHostAddress(address);
        config.model = devsim::Model::QX700_10;
        devsim::Device* device = sim.addDevice(config, &error);
        if (!device) {
            QTextStream(stderr) << "poll_bench: " << error << "\n";
            return 1;
        }
        for (int p = 0; p < kSensors; ++p) device->setPortValue(p, 20 + p);
        if (d >= kDevices) device->setFault(devsim::Fault::Refuse);
        ServerDatabase::AddServer(QStringLiteral("Device %1").arg(d + 1),
                                  QStringLiteral("Model QX700-10"), address, QString(), 1,
                                  QString(), QString(), -1);
        for (int p = 0; p < kSensors; ++p) {
            ServerDatabase::AddSensor(d + 1, QStringLiteral("Sensor %1.%2").arg(d + 1).arg(p), p,
                                      QString(), QStringLiteral("Temperature"));
        }
    }
    int named = 0;
    ServerDatabase::CountNamedSensors(named);
    StatusGrid::Model().ConfigureServerStatusGrid(named);

    out << kDevices << " devices answering, " << kRefusing << " refusing, " << named
        << " named sensors; " << cycles << " steady cycles after a warm-up cycle\n";
    MeasureCycles(1, kDevices * kSensors);
    const Figure plain = MeasureCycles(cycles, kDevices * kSensors);
    out << Line("program directory", plain, MeasureFloor(dir.path(), QString(), cycles));

    ServerData::LogDirInUse = logDir.path();
    MeasureCycles(1, kDevices * kSensors);
    const Figure copied = MeasureCycles(cycles, kDevices * kSensors);
    out << Line("with log directory", copied, MeasureFloor(dir.path(), logDir.path(), cycles));
    return 0;
}
