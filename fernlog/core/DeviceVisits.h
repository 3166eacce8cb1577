#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

// The network part of a polling cycle for many devices at once: each
// device's identification and readings, with the cycle's attempts, each
// request on a connection of its own, with the time-outs and result rule of
// DeviceLink::ReadFromCV. At most `connections` devices are in contact at a
// time. Everything runs on the calling thread's event loop; what each device
// answered is kept, in order, for the cycle to process afterwards exactly as
// if it had asked itself.
namespace DeviceVisits {

// One transaction of a visit.
struct Exchange {
    QByteArray request;
    QByteArray answer;  // empty when nothing complete arrived
    bool ok = false;    // DeviceLink::AnswerAccepted
};

class Visits {
  public:
    // Starts the visits of `addresses` (in register order) at once.
    Visits(const std::vector<QString>& addresses, int attempts, int connections);
    ~Visits();  // abandons what is still in contact
    Visits(const Visits&) = delete;
    Visits& operator=(const Visits&) = delete;

    // Runs the event loop until the visit of `index` has ended; false when
    // the program stops first (DeviceLink::ProgramRunning).
    bool WaitFor(int index);
    const std::vector<Exchange>& Exchanges(int index) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace DeviceVisits
