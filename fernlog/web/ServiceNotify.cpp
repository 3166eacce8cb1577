#include "web/ServiceNotify.h"

#include <systemd/sd-daemon.h>

#include "core/Polling.h"
#include "web/Snapshot.h"

namespace Web {
namespace {
constexpr int kCheckMs = 1000;

void Notify(const QString& text) {
    sd_notify(0, text.toUtf8().constData());
}
}  // namespace

ServiceNotify::ServiceNotify() {
    connect(&timer_, &QTimer::timeout, this, &ServiceNotify::Check);
}

bool ServiceNotify::Start() {
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) return false;
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) watchdogMs_ = static_cast<qint64>(usec / 1000);
    timer_.start(kCheckMs);
    Check();
    return true;
}

void ServiceNotify::Check() {
    const Health health = CurrentHealth();
    const Polling::CycleFigures cycle = Polling::LastCycle();
    if (!ready_ && (cycle.number > 0 || health.waiting)) {
        ready_ = true;
        Notify(QStringLiteral("READY=1\nSTATUS=") +
               (health.waiting
                    ? health.reason
                    : QStringLiteral("polling: first cycle took %1 ms").arg(cycle.durationMs)));
    }
    // Fed at half the watchdog's time, and only while cycles end in time: a
    // program that waits for sensors to poll is alive, a hung polling is
    // not. An unreadable database does not stop it: polling goes on with
    // the last register, and a restart would not mend the file.
    sinceFedMs_ += kCheckMs;
    if (watchdogMs_ > 0 && sinceFedMs_ >= watchdogMs_ / 2 && (health.alive || health.waiting)) {
        sinceFedMs_ = 0;
        Notify(QStringLiteral("WATCHDOG=1"));
    }
}

}  // namespace Web
