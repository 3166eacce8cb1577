#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

// A device's visit in a polling cycle, and many visits at once. The visit
// rule is the one of the cycle, of the windowless "poll" command and of
// either way of reaching the devices: one at a time over
// DeviceLink::ReadFromCV, or many at once, each request an
// DeviceLink::Exchange of its own, at most `connections` devices in contact
// at a time, on the calling thread's event loop. What each device answered
// is kept, in order, for the cycle to process afterwards.
namespace DeviceVisits {

// One exchange of a visit.
struct Exchanged {
    QByteArray request;
    QByteArray answer;  // empty when nothing complete arrived
    bool ok = false;    // DeviceLink::AnswerAccepted
};

enum class Outcome { Answered, Busy, Failed };

struct Visit {
    std::vector<Exchanged> exchanges;
    Outcome outcome = Outcome::Failed;
};

// The visit rule: the identification first and, when it is accepted, the
// readings. A busy answer to either ends the visit; accepted readings end
// it answered; any other failure starts the next attempt, until `attempts`
// attempts have failed. Given what the visit has exchanged so far: the
// command of its next request, or an empty one when the visit has ended
// (`visit.outcome` then says how).
QByteArray NextCommand(Visit& visit, int attempts);

// What the cycle makes of the answers: each accepted identification and
// readings answer decoded (Decoding::ParseMessage), in order. True when the
// readings were decoded, the only case their sensors are processed in.
bool Decode(const Visit& visit);

// A visit one request at a time through `transact` (ReadFromCV for the
// link). False when the program stops first (DeviceLink::ProgramRunning).
using Transaction = std::function<bool(const QByteArray& request, QByteArray& answer)>;
bool VisitOne(int attempts, const Transaction& transact, Visit& visit);

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
    const Visit& Result(int index) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace DeviceVisits
