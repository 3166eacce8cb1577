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
    if (condition != t.lastCondition) {
        t.lastCondition = condition;
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

    if (moving_ && phase == kAlarmStart && !excursion_) {
        excursion_ = true;
        alarmTicks_ = 0;
    }
    if (excursion_ && alarmDevice && alarmDevice->portState(0).status != 0 &&
        ++alarmTicks_ > kAlarmHold) {
        excursion_ = false;
    }
    for (Device* d : devices) {
        for (int p = 0; p < kPortCount; ++p) {
            const PortKind kind = d->portKind(p);
            if (kind == PortKind::Temperature || kind == PortKind::Humidity) {
                if (!moving_) {
                    // the value stays where it was set
                } else if (d == alarmDevice && p == 0 && excursion_) {
                    // Port 0's upper limit sits at page 0 bytes 11-12 on every model;
                    // the value goes 5 above it, before the device's correction.
                    double upper = wordAt(d->page(0), 11);
                    if (d->tenths()) upper /= 10;
                    d->setPortValue(p, upper + 5 - d->correction(p));
                } else {
                    drift(d, p, p * 0.7);
                }
                keepMinutes(d, p, d->outOfLimits(p) ? 1 : 0);
                d->applyLimits(p);
            } else if (d == doorDevice && p == doorPort && moving_) {
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
