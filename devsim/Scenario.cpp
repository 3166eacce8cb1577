#include "Scenario.h"

#include <cmath>

#include "Device.h"
#include "Simulator.h"

namespace devsim {

Scenario::Scenario(Simulator* simulator, int tickMs, QObject* parent)
    : QObject(parent), simulator_(simulator), tickMs_(tickMs) {
    timer_.setInterval(tickMs);
    connect(&timer_, &QTimer::timeout, this, &Scenario::tick);
    connect(simulator, &Simulator::deviceRemoved, this, [this](Device* d) { tracks_.remove(d); });
}

void Scenario::start() {
    timer_.start();
}
void Scenario::stop() {
    timer_.stop();
}

void Scenario::drift(Device* d, int port, double phase) {
    Track& t = tracks_[d][port];
    if (!t.hasBase) {
        t.hasBase = true;
        t.base = d->portState(port).value;
    }
    const double swing = d->portKind(port) == PortKind::Humidity ? 5.0 : 1.5;
    double v = t.base + swing * std::sin(ticks_ / 15.0 + phase);
    v = d->tenths() ? std::round(v * 10) / 10 : std::round(v);
    d->setPortValue(port, v);
}

void Scenario::keepMinutes(Device* d, int port, double condition) {
    Track& t = tracks_[d][port];
    const quint8 status = d->portState(port).status;
    if (condition != t.lastCondition || status != t.lastStatus) {
        t.lastCondition = condition;
        t.lastStatus = status;
        t.since = ticks_;
    }
    const qint64 ms = qint64(ticks_ - t.since) * tickMs_;
    d->setPortMinutes(port, quint16(std::min<qint64>(ms / 60000, 65535)));
}

void Scenario::tick() {
    ++ticks_;
    const int phase = ticks_ % kCycle;
    const QList<Device*> devices = simulator_->devices();
    Device* alarmDevice = devices.isEmpty() ? nullptr : devices.first();
    Device* doorDevice = nullptr;
    int doorPort = -1;
    for (Device* d : devices) {
        for (int p = 0; p < kPortCount && doorPort < 0; ++p)
            if (d->portKind(p) == PortKind::Door) {
                doorDevice = d;
                doorPort = p;
            }
        if (doorDevice) break;
    }

    for (Device* d : devices) {
        for (int p = 0; p < kPortCount; ++p) {
            const PortKind kind = d->portKind(p);
            if (kind == PortKind::Temperature || kind == PortKind::Humidity) {
                const bool inAlarm =
                    d == alarmDevice && p == 0 && phase >= kAlarmStart && phase < kAlarmEnd;
                if (inAlarm) {
                    // Port 0's upper limit sits at page 0 bytes 11-12 on every model.
                    double upper = wordAt(d->page(0), 11);
                    if (d->tenths()) upper /= 10;
                    d->setPortValue(p, upper + 5);
                    d->setPortStatus(p, 1);
                } else {
                    drift(d, p, p * 0.7);
                    d->setPortStatus(p, 0);
                }
                keepMinutes(d, p, inAlarm ? 1 : 0);
            } else if (d == doorDevice && p == doorPort) {
                const bool open = phase >= kDoorOpen && phase < kDoorClose;
                d->setPortValue(p, open ? 0 : 1);
                keepMinutes(d, p, open ? 0 : 1);
            } else if (kind != PortKind::Unused) {
                keepMinutes(d, p, d->portState(p).value);
            }
        }
    }
}

}  // namespace devsim
