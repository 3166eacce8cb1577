// A power cut: 200 sensors on 20 simulated devices go into alarm in one
// polling cycle, with every way of telling configured at once: e-mail to a
// local SMTP server (tests/support's aiosmtpd), one webhook receiver and
// Debian's Alertmanager, all on loopback. The poll timer runs at an update
// rate of 10 s throughout. Prints the time from the cut to the last e-mail
// at the server, the last webhook notice at the receiver and the moment
// Alertmanager holds an alert for every alarm, the longest time between two
// readings of a device (a cycle late shows there), and the outboxes'
// figures.
//   powercut_bench [TIMEOUT_SECONDS]   (default 120)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include "BenchDevices.h"
#include "common/Dialogs.h"
#include "common/ProgramDir.h"
#include "core/AlarmHandling.h"
#include "core/ChannelOutbox.h"
#include "core/Channels.h"
#include "core/EmailNotification.h"
#include "core/Mailer.h"
#include "core/Outbox.h"
#include "core/Polling.h"
#include "core/Settings.h"
#include "core/StatusGrid.h"
#include "db/Provision.h"
#include "db/ServerDatabase.h"
#include "devsim/Simulator.h"
#include "protocol/Commands.h"
#include "support/AlertmanagerServer.h"
#include "support/SmtpServer.h"
#include "support/WebReceiver.h"

namespace {

constexpr int kDevices = 20;
constexpr int kSensors = 10;
constexpr int kAlarms = kDevices * kSensors;
constexpr int kUpdateSeconds = 10;

int Fail(const QString& why) {
    QTextStream(stderr) << "powercut_bench: " << why << "\n";
    return 1;
}

// Runs the event loop until `done` holds or `ms` pass; false on the latter.
template <class Done>
bool RunUntil(Done done, int ms) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    check.start(20);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!done()) loop.exec();
    return done();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int timeoutSeconds = argc > 1 ? std::max(10, QString(argv[1]).toInt()) : 120;
    QTextStream out(stdout);

    if (AlertmanagerServer::Program().isEmpty()) {
        return Fail("Debian's prometheus-alertmanager is not installed (scripts/setup-deps)");
    }
    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !Provision::CreateDatabase(dir.path(), &error)) return Fail(error);
    ProgramDir::Set(dir.path());
    Protocol::InitCommands();
    Dialogs::SetHandler([](const Dialogs::Request&) { return Dialogs::Reply{}; });
    ConfigParameters.TCPTimeOut = 2;
    ConfigParameters.CommunicationRetry = 1;

    SmtpServer smtp;
    AlertmanagerServer alertmanager;
    WebReceiver hook;
    if (!smtp.IsRunning()) return Fail(smtp.Error());
    if (!alertmanager.Ready()) return Fail(alertmanager.Problem());
    Mail::GlobalInit();
    smtp.UseInSettings(10);
    ConfigParameters.OrgName = QStringLiteral("Cold Chain Ltd");
    ConfigParameters.FromAddress = QStringLiteral("monitor@corvane.test");
    ConfigParameters.ServerFailureEmailAddress = QStringLiteral("admin@corvane.test");
    EmailNotification::SetupMailer();
    const AlarmHandling::Actor bench{QStringLiteral("bench"), QStringLiteral("bench"),
                                     AlarmHandling::Origin::Command};
    if (!Channels::Add({"hook", "webhook", hook.Url(), {}, {}, {}, 0, false}, {}, bench, &error) ||
        !Channels::Add({"am", "alertmanager", alertmanager.Url().toString(), {}, {}, {}, 0, false},
                       {}, bench, &error)) {
        return Fail(error);
    }

    devsim::Simulator sim;
    std::vector<devsim::Device*> devices;
    for (int d = 0; d < kDevices; ++d) {
        const QString address = QStringLiteral("127.0.4.%1").arg(d + 1);
        devices.push_back(Simulate(sim, address));
        Register(d + 1, address, kSensors, devices.back(), QStringLiteral("chef@corvane.test"));
    }
    int named = 0;
    ServerDatabase::CountNamedSensors(named);
    StatusGrid::Model().ConfigureServerStatusGrid(named);
    out << kDevices << " devices, " << named << " sensors; update rate " << kUpdateSeconds
        << " s; e-mail to a local SMTP server, a webhook receiver and Alertmanager\n";

    // The gaps between two readings of the first device: a late cycle
    // shows as one longer than the update rate.
    QElapsedTimer clock;
    clock.start();
    int seen = 0;
    qint64 lastRead = -1, longestGapMs = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const int now = devices[0]->requestCount(Protocol::CmdReadings());
        if (now == seen) return;
        seen = now;
        if (lastRead >= 0) longestGapMs = std::max(longestGapMs, clock.elapsed() - lastRead);
        lastRead = clock.elapsed();
    });
    watch.start(20);
    Polling::TicksPerUpdate = Polling::TicksFor(kUpdateSeconds);
    Polling::PollTicks = Polling::TicksPerUpdate - 1;  // the first tick starts a cycle
    Polling::StartPollTimer();
    // Two quiet cycles first, so the cut lands on a running program.
    if (!RunUntil([&] { return Polling::LastCycle().number >= 2; }, 60000)) {
        return Fail("the first two cycles did not end within 60 s");
    }

    for (devsim::Device* device : devices) {
        for (int p = 0; p < kSensors; ++p) device->setPort(p, {80, 4, 1});
    }
    const qint64 cut = clock.elapsed();
    qint64 mailedAt = -1, hookedAt = -1, syncedAt = -1;
    const auto opened = [&] {
        int n = 0;
        for (const WebReceiver::Request& r : hook.Requests()) {
            if (r.Header("X-Fernlog-Event") == "alarm.opened") ++n;
        }
        return n;
    };
    // Alertmanager is asked at most twice a second (each question runs a
    // local event loop, so fernlog goes on meanwhile).
    const auto sensorAlerts = [&] {
        int n = 0;
        for (const auto& alert : alertmanager.Alerts()) {
            const QJsonObject labels = alert.toObject().value("labels").toObject();
            if (labels.value("alertname").toString() == QLatin1String("FernlogSensorAlarm")) ++n;
        }
        return n;
    };
    qint64 askedAt = -1000;
    const bool all = RunUntil(
        [&] {
            const qint64 t = clock.elapsed() - cut;
            if (mailedAt < 0 && int(smtp.Messages().size()) >= kAlarms) mailedAt = t;
            if (hookedAt < 0 && opened() >= kAlarms) hookedAt = t;
            if (syncedAt < 0 && t - askedAt >= 500) {
                askedAt = t;
                if (sensorAlerts() >= kAlarms) syncedAt = clock.elapsed() - cut;
            }
            return mailedAt >= 0 && hookedAt >= 0 && syncedAt >= 0;
        },
        timeoutSeconds * 1000);
    // One more cycle, to see the one after the flood on time too.
    const qint64 last = Polling::LastCycle().number;
    RunUntil([&] { return Polling::LastCycle().number > last; }, 3 * kUpdateSeconds * 1000);
    Polling::StopPollTimer();

    const int alerting = sensorAlerts();
    const auto seconds = [](qint64 ms) {
        return ms < 0 ? QStringLiteral("not within the time-out")
                      : QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 1);
    };
    out << "from the cut: " << smtp.Messages().size() << " e-mails at the server after "
        << seconds(mailedAt) << ", " << opened() << " webhook notices after " << seconds(hookedAt)
        << ", Alertmanager brought up to date after " << seconds(syncedAt) << " (" << alerting
        << " sensor alerts there)\n";
    out << "longest time between two readings of a device: " << longestGapMs / 1000.0
        << " s (update rate " << kUpdateSeconds << " s)\n";
    const Outbox::Figures mail = Outbox::Counts();
    const ChannelOutbox::Figures webhook = ChannelOutbox::Counts().value("hook");
    out << "e-mail outbox: " << mail.sent << " sent, " << mail.failed << " failed, " << mail.waiting
        << " waiting; webhook: " << webhook.delivered << " delivered, " << webhook.retried
        << " retried, " << webhook.waiting << " waiting\n";
    Outbox::Stop();
    ChannelOutbox::Stop();
    return all && alerting >= kAlarms && longestGapMs <= (kUpdateSeconds + 1) * 1000 ? 0 : 1;
}
