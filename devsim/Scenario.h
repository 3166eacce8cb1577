// Makes simulated devices look alive for a demo: temperatures and humidity
// drift, a door opens and closes, and one port goes into alarm and back.
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
    static constexpr int kAlarmStart = 45;  // the alarm port leaves its limits
    static constexpr int kAlarmEnd = 85;

    explicit Scenario(Simulator* simulator, int tickMs = 2000, QObject* parent = nullptr);
    void start();
    void stop();
    int ticks() const { return ticks_; }
    void tick();

  private:
    struct Track {
        bool hasBase = false;
        double base = 0;
        double lastCondition = 0;
        quint8 lastStatus = 0;
        int since = 0;  // tick of the last change of condition
    };
    void drift(Device* d, int port, double phase);
    void keepMinutes(Device* d, int port, double condition);

    Simulator* simulator_;
    QTimer timer_;
    int tickMs_;
    int ticks_ = 0;
    QHash<const Device*, QHash<int, Track>> tracks_;
};

}  // namespace devsim
