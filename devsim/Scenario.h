// Makes simulated devices look alive for a demo: temperatures and humidity
// drift, a door opens and closes, and one port leaves its limits and comes
// back. The scenario moves values only; each device judges them against
// the limits and time out of limits in its own pages (Device::applyLimits).
#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

namespace devsim {

class Device;
class Simulator;

class Scenario : public QObject {
    Q_OBJECT
  public:
    // Phases are counted in ticks; tests pass a short tick.
    static constexpr int kCycle = 90;       // ticks of one round
    static constexpr int kDoorOpen = 10;    // door opens at this tick ...
    static constexpr int kDoorClose = 40;   // ... and closes here
    static constexpr int kAlarmStart = 45;  // the alarm port leaves its limits ...
    // ... and comes back once its device has shown the alarm for this many
    // ticks (a device waits its time out of limits before it alarms).
    static constexpr int kAlarmHold = 40;

    explicit Scenario(Simulator* simulator, int tickMs = 2000, QObject* parent = nullptr);
    void start();
    void stop();
    // false: values stay as they are; the devices still judge them.
    void setMoving(bool moving) { moving_ = moving; }
    int ticks() const { return ticks_; }
    void tick();

  private:
    struct Track {
        bool hasBase = false;
        double base = 0;
        double lastCondition = 0;
        int since = 0;  // tick of the last change of condition
    };
    void drift(Device* d, int port, double phase);
    void keepMinutes(Device* d, int port, double condition);

    Simulator* simulator_;
    QTimer timer_;
    int tickMs_;
    int ticks_ = 0;
    bool moving_ = true;
    // The alarm port's excursion: running, and ticks its device has shown
    // the alarm.
    bool excursion_ = false;
    int alarmTicks_ = 0;
    QHash<const Device*, QHash<int, Track>> tracks_;
};

}  // namespace devsim
