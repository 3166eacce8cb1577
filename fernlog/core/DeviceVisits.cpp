#include "core/DeviceVisits.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QPointer>
#include <QTimer>
#include <deque>

#include "core/Decoding.h"
#include "core/DeviceLink.h"
#include "core/Timings.h"
#include "protocol/Address.h"
#include "protocol/Commands.h"

namespace DeviceVisits {

QByteArray NextCommand(Visit& visit, int attempts) {
    using namespace Protocol;
    if (visit.exchanges.empty()) return CmdIdentify();
    const Exchanged& last = visit.exchanges.back();
    // A device busy on its line says so to every request; that is not a
    // failure, and asking again in this cycle would not help.
    if (last.answer.left(4) == ReplyBusy()) {
        visit.outcome = Outcome::Busy;
        return QByteArray();
    }
    const bool identify = last.request.left(4) == CmdIdentify();
    if (last.ok && identify) return CmdReadings();
    if (last.ok) {
        visit.outcome = Outcome::Answered;
        return QByteArray();
    }
    int made = 0;
    for (const Exchanged& e : visit.exchanges) made += e.request.left(4) == CmdIdentify();
    if (made < attempts) return CmdIdentify();
    visit.outcome = Outcome::Failed;
    return QByteArray();
}

bool Decode(const Visit& visit) {
    using namespace Protocol;
    for (const Exchanged& e : visit.exchanges) {
        if (!e.ok) continue;
        // An identification that does not decode still lets the readings
        // be asked for; only the readings decide what is processed.
        if (e.request.left(4) == CmdIdentify()) {
            Decoding::ParseMessage(CmdIdentify(), e.answer);
        } else {
            return Decoding::ParseMessage(CmdReadings(), e.answer);
        }
    }
    return false;
}

bool VisitOne(int attempts, const Transaction& transact, Visit& visit) {
    visit = Visit();
    for (QByteArray command = NextCommand(visit, attempts); !command.isEmpty();
         command = NextCommand(visit, attempts)) {
        Exchanged e;
        Protocol::BuildRequest(e.request, command);
        e.ok = transact(e.request, e.answer);
        if (!DeviceLink::ProgramRunning) return false;
        visit.exchanges.push_back(std::move(e));
    }
    return true;
}

namespace {
// One device's visit in progress.
struct Contact {
    QString address;
    QHostAddress host;  // null when the address rule refuses the address
    Visit visit;
    bool done = false;
    DeviceLink::Exchange exchange;
};
}  // namespace

struct Visits::State {
    std::vector<std::unique_ptr<Contact>> contacts;
    std::deque<Contact*> waiting;  // not yet started, in register order
    int attempts = 1;
    int connections = 1;
    int inFlight = 0;
    QPointer<QEventLoop> loop;

    void StartNext() {
        while (inFlight < connections && !waiting.empty()) {
            Contact* c = waiting.front();
            waiting.pop_front();
            // The window shows a cycle in contact while any exchange is open.
            if (inFlight++ == 0) DeviceLink::ShowTalking(true);
            Send(*c, NextCommand(c->visit, attempts));
        }
    }

    void Send(Contact& c, const QByteArray& command) {
        QByteArray request;
        Protocol::BuildRequest(request, command);
        c.exchange.Start(c.host, c.address, Protocol::kDevicePort, request,
                         Protocol::kRequestLength);
    }

    void Ended(Contact& c) {
        const DeviceLink::Exchange& e = c.exchange;
        c.visit.exchanges.push_back({e.Request(), e.Answer(), e.Accepted()});
        const QByteArray next = NextCommand(c.visit, attempts);
        if (!next.isEmpty()) {
            Send(c, next);
            return;
        }
        c.done = true;
        --inFlight;
        StartNext();
        if (inFlight == 0) DeviceLink::ShowTalking(false);
        if (loop) loop->quit();
    }
};

Visits::Visits(const std::vector<QString>& addresses, int attempts, int connections)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.attempts = attempts;
    s.connections = std::max(1, connections);
    for (const QString& address : addresses) {
        auto c = std::make_unique<Contact>();
        c->address = address;
        // A refused address is told when the device is processed, in
        // register order (DeviceLink::DeviceAddress), not here.
        if (const auto parsed = Protocol::ParseIPv4(address.trimmed())) {
            c->host = QHostAddress(parsed->Value());
        }
        Contact* p = c.get();
        c->exchange.SetListener([&s, p] {
            if (p->exchange.Progress() == DeviceLink::Exchange::Step::Ended) s.Ended(*p);
        });
        s.waiting.push_back(p);
        s.contacts.push_back(std::move(c));
    }
    s.StartNext();
}

Visits::~Visits() {
    if (state_->inFlight > 0) DeviceLink::ShowTalking(false);
}

bool Visits::WaitFor(int index) {
    State& s = *state_;
    const Contact& c = *s.contacts.at(index);
    // The window's progress bar runs while the cycle waits, as on the one
    // link; a tenth-second tick sees a stop soon.
    const bool waits = !c.done && DeviceLink::ProgramRunning;
    if (waits) {
        DeviceLink::StartWatchDog(Waits::Current().connectMs +
                                  DeviceLink::AnswerWaitMs(Protocol::kRequestLength));
    }
    QTimer tick;
    tick.setInterval(100);
    while (!c.done && DeviceLink::ProgramRunning) {
        QEventLoop loop;
        s.loop = &loop;
        QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
        tick.start();
        const int code = loop.exec();
        s.loop = nullptr;
        if (code == -1) break;  // the application is quitting
    }
    if (waits && DeviceLink::ProgramRunning) DeviceLink::StopWatchDog();
    return c.done && DeviceLink::ProgramRunning;
}

const Visit& Visits::Result(int index) const {
    return state_->contacts.at(index)->visit;
}

}  // namespace DeviceVisits
