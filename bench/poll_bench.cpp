// Full polling cycles over 100 simulated devices with 10 named sensors each
// and 5 devices that refuse connections, with real data files and database.
// After a warm-up cycle (which creates the files) it measures steady cycles,
// first with the program directory alone, then with a log directory as
// well. For each it prints sensor readings processed per second, the longest
// time the event loop went without processing events (split into the time
// the thread ran and the time it waited for a core that other processes
// held), the longest such stretch counting only the time it ran, and the
// readings/s of poll_floor (plain POSIX and SQLite doing the irreducible
// work) run against the same devices in the same run, and the open
// descriptors and resident memory after the warm-up and at the end.
//   poll_bench [STEADY_CYCLES]
//   poll_bench --scrape [STEADY_CYCLES]
//     the same cycles over the program directory, without and then with a
//     scraper asking the web listener for /metrics every second (as
//     Prometheus would); then as many /metrics requests as one client gets
//     answered in 5 s, with the 1,000 sensors shown.
//   poll_bench --history [STEADY_CYCLES]
//     one sensor with 30 days of one-minute readings (43,200): the time to
//     answer /api/v1/sensors/ID/history for those 30 days and /sensor/ID for
//     them, then the same cycles without and with a client asking the
//     history once a second; then the time Chromium takes to draw that
//     page (bench/chart_draw.mjs, when node and the browser test's packages
//     are there).
//
// Two more runs, in a network namespace that the bench makes for itself
// (scripts/in-netns), where addresses of 192.0.2.0/24 are routed to the
// loopback interface and held by no one, so that packets to them vanish as
// to a device that is switched off:
//   poll_bench --failing [SECONDS] [--connections N]
//     20 answering devices beside 3 silent, 3 refusing, 3 unreachable and 2
//     unroutable ones (198.51.100.0/24 is a blackhole there: the connect
//     fails at once), update rate 10 s, time-out 2 s, one attempt, the poll
//     timer running for SECONDS (default 60); first with a mail server that
//     answers nothing (no server), then with one that takes connections but
//     never greets. Prints the longest and the mean time between two
//     readings of an answering device, and the open descriptors and resident
//     memory at the start and the end.
//   poll_bench --failing --cycles N [--connections N]
//     the same devices, with no mail server, polled N cycles back to back
//     with the waits shortened to 300 ms (a silent device costs that, not
//     seconds), the open descriptors and resident memory printed every 500
//     cycles: a long run in little time, to see that neither grows.
//   poll_bench --fleet [CYCLES] [--connections N]
//     1,000 devices with 10 named sensors each, 50 of them unreachable;
//     prints the time of each cycle after a warm-up cycle.
#include <curl/curl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "BenchDevices.h"
#include "common/Clock.h"
#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/DataLogs.h"
#include "core/DeviceLink.h"
#include "core/EmailNotification.h"
#include "core/Options.h"
#include "core/Outbox.h"
#include "core/Polling.h"
#include "core/ServerData.h"
#include "core/Settings.h"
#include "core/Silences.h"
#include "core/StatusGrid.h"
#include "core/Timings.h"
#include "db/Provision.h"
#include "db/ServerDatabase.h"
#include "devsim/Simulator.h"
#include "protocol/Commands.h"
#include "web/Listener.h"

namespace {
constexpr int kDevices = 100;
constexpr int kRefusing = 5;
constexpr int kSensors = 10;

struct Figure {
    double readingsPerSecond = 0;
    double longestStallMs = 0;
    // Of the longest stall: the thread running, and waiting for a core that
    // other processes held (the rest it was blocked, on a disk say).
    double stallRunningMs = 0;
    double stallQueuedMs = 0;
    // The longest stall counting only the time the thread ran: the work of
    // the program itself, whatever else loads the machine.
    double longestRunningMs = 0;
};

// This thread's time on a core and time waiting for one, in nanoseconds
// (the kernel's schedstat); zeros where the kernel does not keep them.
std::pair<qint64, qint64> ThreadTimes() {
    QFile file(QStringLiteral("/proc/thread-self/schedstat"));
    if (!file.open(QIODevice::ReadOnly)) return {0, 0};
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    if (fields.size() < 2) return {0, 0};
    return {fields[0].toLongLong(), fields[1].toLongLong()};
}

Figure MeasureCycles(int cycles, int sensorsPerCycle) {
    // A 1 ms timer notes the longest gap between its ticks: the longest
    // stretch in which no event was processed.
    // Each gap is split by the thread's own times, to tell the program's
    // work from a machine that other processes keep busy.
    QElapsedTimer sinceTick;
    std::pair<qint64, qint64> atTick;
    Figure figure;
    QTimer probe;
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double gapMs = sinceTick.nsecsElapsed() / 1e6;
        const std::pair<qint64, qint64> now = ThreadTimes();
        const double runningMs = (now.first - atTick.first) / 1e6;
        if (gapMs > figure.longestStallMs) {
            figure.longestStallMs = gapMs;
            figure.stallRunningMs = runningMs;
            figure.stallQueuedMs = (now.second - atTick.second) / 1e6;
        }
        figure.longestRunningMs = std::max(figure.longestRunningMs, runningMs);
        sinceTick.restart();
        atTick = now;
    });
    QElapsedTimer timer;
    timer.start();
    for (int c = 0; c < cycles; ++c) {
        sinceTick.start();
        atTick = ThreadTimes();
        probe.start();
        Polling::PollAll();
        probe.stop();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    figure.readingsPerSecond = cycles * sensorsPerCycle / seconds;
    return figure;
}

// "longest event-loop stall 28.4 ms (running 3.1, waiting for a core 24.9);
// longest running stretch 6.2 ms"
QString StallText(const Figure& f) {
    return QStringLiteral(
               "longest event-loop stall %1 ms (running %2, waiting for a core %3); longest "
               "running stretch %4 ms")
        .arg(f.longestStallMs, 0, 'f', 1)
        .arg(f.stallRunningMs, 0, 'f', 1)
        .arg(f.stallQueuedMs, 0, 'f', 1)
        .arg(f.longestRunningMs, 0, 'f', 1);
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

// Packets to 192.0.2.0/24 go to the loopback interface, where no one holds
// them: a connect there is never answered. Only inside the bench's own
// namespace.
bool RouteUnreachable() {
    QProcess ip;
    ip.start(QStringLiteral("ip"),
             {QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("192.0.2.0/24"),
              QStringLiteral("dev"), QStringLiteral("lo")});
    return ip.waitForFinished(10000) && ip.exitCode() == 0;
}

// The blackhole range: a connect there fails at once (EINVAL), while the
// cycle still waits for the silent and switched-off devices.
bool RouteBlackhole() {
    QProcess ip;
    ip.start(QStringLiteral("ip"),
             {QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("blackhole"),
              QStringLiteral("198.51.100.0/24")});
    return ip.waitForFinished(10000) && ip.exitCode() == 0;
}

// Open descriptors and resident memory, to see a run leave neither behind.
QString Resources() {
    const int descriptors = QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                .size();
    QString rss = QStringLiteral("?");
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:")) rss = QString::fromLatin1(line.mid(6).simplified());
        }
    }
    return QStringLiteral("%1 open descriptors, resident memory %2").arg(descriptors).arg(rss);
}

void Connections(int connections) {
    Options::Values options = Options::Load();
    options.connections = connections;
    Options::Save(options);
}

// The poll timer runs for `seconds`; the devices' readings requests are
// looked at every 50 ms, and the gaps between two of them noted.
void RunFailing(const std::vector<devsim::Device*>& live, int seconds, QTextStream& out,
                const char* what) {
    std::vector<int> seen(live.size(), 0);
    std::vector<qint64> last(live.size(), -1);
    qint64 longestMs = 0;
    qint64 gapsMs = 0;
    int gaps = 0;
    qint64 cycleNumber = Polling::LastCycle().number;
    const qint64 firstCycle = cycleNumber;
    qint64 longestCycleMs = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const Polling::CycleFigures cycle = Polling::LastCycle();
        if (cycle.number != cycleNumber) {
            cycleNumber = cycle.number;
            longestCycleMs = std::max(longestCycleMs, cycle.durationMs);
        }
        for (size_t i = 0; i < live.size(); ++i) {
            const int now = live[i]->requestCount(Protocol::CmdReadings());
            if (now == seen[i]) continue;
            seen[i] = now;
            const qint64 t = clock.elapsed();
            if (last[i] >= 0) {
                longestMs = std::max(longestMs, t - last[i]);
                gapsMs += t - last[i];
                ++gaps;
            }
            last[i] = t;
        }
    });
    watch.start();
    Polling::TicksPerUpdate = Polling::TicksFor(10);
    Polling::PollTicks = Polling::TicksPerUpdate - 1;  // the first tick starts a cycle
    Polling::StartPollTimer();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    Polling::StopPollTimer();
    // A cycle still running ends at its next wait.
    DeviceLink::ProgramRunning = false;
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    DeviceLink::ProgramRunning = true;
    out << what << ": each answering device read every " << (gaps ? gapsMs / gaps / 1000.0 : 0)
        << " s on average, " << longestMs / 1000.0 << " s at the longest (" << gaps
        << " intervals over " << seconds << " s); " << cycleNumber - firstCycle
        << " cycles, the longest " << longestCycleMs / 1000.0 << " s\n";
    out.flush();
}

// `cycles` cycles back to back, the resources noted as they go.
void RunBackToBack(int cycles, QTextStream& out) {
    Timings waits;
    waits.connectMs = 300;
    waits.answerMs = 300;
    Waits::SetForTest(waits);
    QElapsedTimer clock;
    clock.start();
    for (int c = 1; c <= cycles; ++c) {
        Polling::PollAll();
        if (c % 500 == 0 || c == cycles) {
            out << "after " << c << " cycles (" << clock.elapsed() / 1000 << " s): " << Resources()
                << "\n";
            out.flush();
        }
    }
    Waits::Reset();
}

int Failing(int seconds, int backToBack, QTextStream& out) {
    if (!RouteUnreachable() || !RouteBlackhole()) {
        QTextStream(stderr) << "poll_bench: cannot route 192.0.2.0/24 to lo or 198.51.100.0/24 "
                               "to a blackhole in the namespace\n";
        return 1;
    }
    devsim::Simulator sim;
    std::vector<devsim::Device*> live;
    int number = 0;
    for (int d = 0; d < 20; ++d) {
        const QString address = QStringLiteral("127.0.1.%1").arg(d + 1);
        live.push_back(Simulate(sim, address));
        // The first device's freezer is in alarm: its e-mail queues with the rest.
        Register(++number, address, kSensors, live.back(),
                 d == 0 ? QStringLiteral("chef@corvane.test") : QString());
    }
    live[0]->setPort(0, {80, 4, 1});
    for (int d = 0; d < 3; ++d) {
        const QString address = QStringLiteral("127.0.2.%1").arg(d + 1);
        Simulate(sim, address)->setFault(devsim::Fault::Silent);
        Register(++number, address, kSensors, nullptr);
    }
    for (int d = 0; d < 3; ++d) {
        const QString address = QStringLiteral("127.0.3.%1").arg(d + 1);
        Simulate(sim, address)->setFault(devsim::Fault::Refuse);
        Register(++number, address, kSensors, nullptr);
    }
    for (int d = 0; d < 3; ++d) {
        Register(++number, QStringLiteral("192.0.2.%1").arg(d + 1), kSensors, nullptr);
    }
    for (int d = 0; d < 2; ++d) {
        Register(++number, QStringLiteral("198.51.100.%1").arg(d + 1), kSensors, nullptr);
    }
    int named = 0;
    ServerDatabase::CountNamedSensors(named);
    StatusGrid::Model().ConfigureServerStatusGrid(named);
    out << "20 answering devices, 3 silent, 3 refusing, 3 unreachable, 2 unroutable; update "
           "rate 10 s, time-out 2 s, one attempt; "
        << Options::Load().connections << " connection(s) at once\n";
    out << "at the start: " << Resources() << "\n";

    Mail::GlobalInit();
    ConfigParameters.FromAddress = "monitor@corvane.test";
    ConfigParameters.ServerFailureEmailAddress = "admin@corvane.test";
    ConfigParameters.Host = "127.0.0.1";
    ConfigParameters.ServerTimeOut = 10;
    QTcpServer closed;  // nothing listens: every e-mail fails at once
    closed.listen(QHostAddress::LocalHost);
    ConfigParameters.SMTPPort = static_cast<qint16>(closed.serverPort());
    closed.close();
    EmailNotification::SetupMailer();
    if (backToBack > 0) {
        RunBackToBack(backToBack, out);
        const Outbox::Figures mail = Outbox::Counts();
        out << "e-mails: " << mail.sent << " sent, " << mail.failed << " failed, " << mail.waiting
            << " waiting\n";
        return 0;
    }
    RunFailing(live, seconds, out, "no mail server");

    // Takes connections and never says a word; mail time-out 10 s.
    QTcpServer silent;
    std::vector<QTcpSocket*> held;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = silent.nextPendingConnection()) held.push_back(s);
    });
    silent.listen(QHostAddress::LocalHost);
    ConfigParameters.SMTPPort = static_cast<qint16>(silent.serverPort());
    EmailNotification::SetupMailer();
    RunFailing(live, seconds, out, "silent mail server");
    out << "at the end: " << Resources() << "\n";
    const Outbox::Figures mail = Outbox::Counts();
    out << "e-mails: " << mail.sent << " sent, " << mail.failed << " failed, " << mail.waiting
        << " waiting\n";
    Outbox::Stop();
    QEventLoop settle;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!Outbox::Delivering()) settle.quit();
    });
    check.start(50);
    QTimer::singleShot(5000, &settle, &QEventLoop::quit);
    settle.exec();
    return 0;
}

int Fleet(int cycles, QTextStream& out) {
    if (!RouteUnreachable()) {
        QTextStream(stderr) << "poll_bench: cannot route 192.0.2.0/24 to lo in the namespace\n";
        return 1;
    }
    // A listening socket per simulated device, and the connections in flight.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    devsim::Simulator sim;
    constexpr int kFleet = 1000;
    constexpr int kDead = 50;
    int dead = 0;
    for (int d = 0; d < kFleet; ++d) {
        // Every 20th device is switched off, spread over the register.
        if (d % (kFleet / kDead) == kFleet / kDead - 1) {
            Register(d + 1, QStringLiteral("192.0.2.%1").arg(++dead), kSensors, nullptr);
            continue;
        }
        const QString address = QStringLiteral("127.1.%1.%2").arg(d / 200).arg(d % 200 + 1);
        Register(d + 1, address, kSensors, Simulate(sim, address));
    }
    int named = 0;
    ServerDatabase::CountNamedSensors(named);
    StatusGrid::Model().ConfigureServerStatusGrid(named);
    out << kFleet << " devices, " << kDead << " unreachable, " << named << " named sensors; "
        << Options::Load().connections << " connection(s) at once\n";
    out.flush();
    MeasureCycles(1, 0);
    for (int c = 0; c < cycles; ++c) {
        QElapsedTimer timer;
        timer.start();
        const Figure f = MeasureCycles(1, (kFleet - kDead) * kSensors);
        out << "cycle " << c + 1 << ": " << timer.elapsed() / 1000.0 << " s, "
            << qRound(f.readingsPerSecond) << " sensor readings/s, " << StallText(f) << "\n";
        out.flush();
    }
    return 0;
}

QString Line(const char* what, const Figure& figure, double floor);

// A client of the web listener in a thread of its own (the listener answers
// in the program's event loop): GET `path` every `intervalMs`, or as fast
// as answers come with 0, over one kept-alive connection.
class Scraper {
  public:
    Scraper(quint16 port, int intervalMs, const QString& path = QStringLiteral("/metrics")) {
        thread_ = std::thread([this, port, intervalMs, path] {
            CURL* curl = curl_easy_init();
            const QByteArray url =
                QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path).toUtf8();
            curl_easy_setopt(curl, CURLOPT_URL, url.constData());
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bytes_);
            curl_easy_setopt(
                curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t n, void* count) {
                    *static_cast<std::atomic<qint64>*>(count) += size * n;
                    return size * n;
                });
            auto next = std::chrono::steady_clock::now();
            while (!stop_) {
                if (curl_easy_perform(curl) == CURLE_OK) ++answered_;
                if (intervalMs > 0) {
                    next += std::chrono::milliseconds(intervalMs);
                    while (!stop_ && std::chrono::steady_clock::now() < next) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                }
            }
            curl_easy_cleanup(curl);
        });
    }
    ~Scraper() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    qint64 Answered() const { return answered_; }
    qint64 Bytes() const { return bytes_; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<qint64> answered_{0};
    std::atomic<qint64> bytes_{0};
    std::thread thread_;
};

int Scraped(int cycles, QTextStream& out) {
    Web::Endpoint endpoint;
    Web::ParseEndpoint(QStringLiteral("127.0.0.1:0"), QString(), endpoint);
    Web::Listener listener;
    QString error;
    if (!listener.Start(endpoint, &error)) {
        QTextStream(stderr) << "poll_bench: " << error << "\n";
        return 1;
    }
    const Figure plain = MeasureCycles(cycles, kDevices * kSensors);
    out << Line("no scraper", plain, 0);
    qint64 scrapes = 0;
    {
        Scraper scraper(listener.Port(), 1000);
        const Figure scraped = MeasureCycles(cycles, kDevices * kSensors);
        scrapes = scraper.Answered();
        scraper.Stop();
        out << Line("/metrics every second", scraped, 0) << "  (" << scrapes
            << " scrapes answered during the cycles)\n";
    }
    Scraper flood(listener.Port(), 0);
    QEventLoop loop;
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    QElapsedTimer took;
    took.start();
    loop.exec();
    flood.Stop();
    const double seconds = took.nsecsElapsed() / 1e9;
    out << "/metrics with " << StatusGrid::Model().Rows().size()
        << " sensors: " << qRound(flood.Answered() / seconds) << " requests/s from one client, "
        << (flood.Answered() ? flood.Bytes() / flood.Answered() : 0) << " bytes each\n";
    return 0;
}

// 30 days of one-minute readings of `sensorId` up to now, written as the
// program writes them, in one go per monthly file.
void WriteMonthOfReadings(const QString& dir, qint64 sensorId) {
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime first = now.addDays(-30);
    QMap<QString, QByteArray> files;
    for (int m = 0; m < 30 * 1440; ++m) {
        const QDateTime when = first.addSecs(60 * m);
        files[DataLogs::InstantaneousFileName(sensorId, when)] +=
            DataLogs::EncodeInstant(when, 20 + 5 * std::sin(m / 300.0));
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(QDir(dir).filePath(it.key()));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(it.value());
    }
}

// Chromium draws the 30-day page (bench/chart_draw.mjs) while the event
// loop serves it. Skipped, and said so, without node or the browser test's
// packages.
int DrawInChromium(const QString& url) {
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QString script = QStringLiteral(CORVANE_BENCH_DIR "/chart_draw.mjs");
    if (node.isEmpty() || !QFileInfo::exists(QStringLiteral(
                              CORVANE_SOURCE_DIR "/tests/browser/node_modules/playwright-core"))) {
        QTextStream(stdout) << "Chromium: not measured (no node, or scripts/setup-deps not run)\n";
        return 0;
    }
    QProcess browser;
    browser.setProcessChannelMode(QProcess::ForwardedChannels);
    QEventLoop loop;
    QObject::connect(&browser, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&browser, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(180000, &loop, &QEventLoop::quit);
    browser.start(node, {script, url, QStringLiteral("5")});
    loop.exec();
    if (browser.state() != QProcess::NotRunning) {
        browser.kill();
        browser.waitForFinished(5000);
        QTextStream(stderr) << "poll_bench: Chromium took more than 3 minutes\n";
        return 1;
    }
    return browser.exitStatus() == QProcess::NormalExit ? browser.exitCode() : 1;
}

int History(const QString& dir, int cycles, QTextStream& out) {
    constexpr qint64 kSensor = 1;
    WriteMonthOfReadings(dir, kSensor);
    const QString from = QDateTime::currentDateTime().addDays(-30).toString(Qt::ISODate);
    const auto timed = [](const Web::Request& request, int times, qint64& bytes) {
        std::vector<double> ms;
        for (int i = 0; i < times; ++i) {
            QElapsedTimer t;
            t.start();
            bytes = Web::Respond(request, QString()).body.size();
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        return QStringLiteral("median %1 ms, longest %2 ms")
            .arg(ms[ms.size() / 2], 0, 'f', 1)
            .arg(ms.back(), 0, 'f', 1);
    };
    qint64 bytes = 0;
    const Web::Request api{
        "GET", QStringLiteral("/api/v1/sensors/1/history"), {}, {}, QStringLiteral("from=") + from};
    const QString apiTimes = timed(api, 20, bytes);
    out << "/api/v1/sensors/1/history for 30 days (43,200 readings): " << apiTimes << ", " << bytes
        << " bytes\n";
    const Web::Request page{
        "GET", QStringLiteral("/sensor/1"), {}, {}, QStringLiteral("range=30d")};
    const QString pageTimes = timed(page, 20, bytes);
    out << "/sensor/1?range=30d: " << pageTimes << ", " << bytes << " bytes\n";

    Web::Endpoint endpoint;
    Web::ParseEndpoint(QStringLiteral("127.0.0.1:0"), QString(), endpoint);
    Web::Listener listener;
    QString error;
    if (!listener.Start(endpoint, &error)) {
        QTextStream(stderr) << "poll_bench: " << error << "\n";
        return 1;
    }
    out << Line("no client", MeasureCycles(cycles, kDevices * kSensors), 0);
    Scraper client(listener.Port(), 1000, QStringLiteral("/api/v1/sensors/1/history?from=") + from);
    const Figure asked = MeasureCycles(cycles, kDevices * kSensors);
    client.Stop();
    out << Line("history asked every second", asked, 0) << "  (" << client.Answered()
        << " answered during the cycles)\n";
    out.flush();
    return DrawInChromium(
        QStringLiteral("http://127.0.0.1:%1/sensor/1?range=30d").arg(listener.Port()));
}

QString Line(const char* what, const Figure& figure, double floor) {
    if (floor <= 0) {
        return QStringLiteral("%1: %2 sensor readings/s, %3\n")
            .arg(QLatin1String(what))
            .arg(figure.readingsPerSecond, 0, 'f', 0)
            .arg(StallText(figure));
    }
    return QStringLiteral("%1: %2 sensor readings/s, %3; floor %4/s, ratio %5\n")
        .arg(QLatin1String(what))
        .arg(figure.readingsPerSecond, 0, 'f', 0)
        .arg(StallText(figure))
        .arg(floor, 0, 'f', 0)
        .arg(floor > 0 ? figure.readingsPerSecond / floor : 0, 0, 'f', 2);
}
}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const bool failing = args.contains(QStringLiteral("--failing"));
    const bool fleet = args.contains(QStringLiteral("--fleet"));
    const bool scrape = args.contains(QStringLiteral("--scrape"));
    const bool history = args.contains(QStringLiteral("--history"));
    // The unreachable devices need a namespace of the bench's own.
    if ((failing || fleet) && qgetenv("POLL_BENCH_IN_NETNS").isEmpty()) {
        qputenv("POLL_BENCH_IN_NETNS", "1");
        std::vector<char*> command{const_cast<char*>(CORVANE_IN_NETNS)};
        for (int i = 0; i < argc; ++i) command.push_back(argv[i]);
        command.push_back(nullptr);
        execv(CORVANE_IN_NETNS, command.data());
        QTextStream(stderr) << "poll_bench: cannot run " << CORVANE_IN_NETNS << "\n";
        return 1;
    }
    int connections = 0;
    const qsizetype at = args.indexOf(QStringLiteral("--connections"));
    if (at >= 0) {
        connections = args.value(at + 1).toInt();
        args.remove(at, 2);
    }
    int backToBack = 0;
    const qsizetype cyclesAt = args.indexOf(QStringLiteral("--cycles"));
    if (cyclesAt >= 0) {
        backToBack = std::max(1, args.value(cyclesAt + 1).toInt());
        args.remove(cyclesAt, std::min<qsizetype>(2, args.size() - cyclesAt));
    }
    args.removeAll(QStringLiteral("--failing"));
    args.removeAll(QStringLiteral("--fleet"));
    args.removeAll(QStringLiteral("--scrape"));
    args.removeAll(QStringLiteral("--history"));
    QCoreApplication app(argc, argv);
    const int cycles = !args.isEmpty() ? std::max(1, args.first().toInt()) : 3;
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
    if (connections > 0) Connections(connections);
    if (failing) return Failing(!args.isEmpty() ? cycles : 60, backToBack, out);
    if (fleet) return Fleet(cycles, out);

    devsim::Simulator sim;
    for (int d = 0; d < kDevices + kRefusing; ++d) {
        const QString address = QStringLiteral("127.0.1.%1").arg(d + 1);
        devsim::Device* device = Simulate(sim, address);
        Register(d + 1, address, kSensors, device);
        if (d >= kDevices) device->setFault(devsim::Fault::Refuse);
    }
    int named = 0;
    ServerDatabase::CountNamedSensors(named);
    StatusGrid::Model().ConfigureServerStatusGrid(named);

    // Silences and maintenance in use, as where people handle alarms: each
    // cycle then marks the grid from the alarm-handling store.
    qint64 silence = 0;
    Silences::Window weekly;
    weekly.deviceId = 2;
    weekly.device = QStringLiteral("Device 2");
    weekly.weekly = Silences::ParseWeekly(QStringLiteral("Sun 02:00-04:00"));
    const AlarmHandling::Actor bench{QStringLiteral("bench"), QStringLiteral("bench"),
                                     AlarmHandling::Origin::Command};
    if (!Silences::AddSilence(1, QStringLiteral("Device 1"), Silences::kDevice,
                              Clock::Now().addDays(1), bench, QString(), silence, &error) ||
        !Silences::AddWindow(weekly, bench, silence, &error)) {
        QTextStream(stderr) << "poll_bench: " << error << "\n";
        return 1;
    }
    out << kDevices << " devices answering (one silenced, one with weekly maintenance), "
        << kRefusing << " refusing, " << named << " named sensors; " << cycles
        << " steady cycles after a warm-up cycle\n";
    MeasureCycles(1, kDevices * kSensors);
    out << "after the warm-up: " << Resources() << "\n";
    if (scrape || history) {
        Mail::GlobalInit();
        return scrape ? Scraped(cycles, out) : History(dir.path(), cycles, out);
    }
    const Figure plain = MeasureCycles(cycles, kDevices * kSensors);
    out << Line("program directory", plain, MeasureFloor(dir.path(), QString(), cycles));

    ServerData::LogDirInUse = logDir.path();
    MeasureCycles(1, kDevices * kSensors);
    const Figure copied = MeasureCycles(cycles, kDevices * kSensors);
    out << Line("with log directory", copied, MeasureFloor(dir.path(), logDir.path(), cycles));
    out << "at the end: " << Resources() << "\n";
    return 0;
}
