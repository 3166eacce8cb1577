#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

#include "core/Windows.h"

class QTimer;

// The polling cycle: every UpdateRate seconds (counted in 5-second ticks of
// the poll timer) each enabled device is identified and read, its sensors
// processed, and failed devices recorded. The devices are contacted many at
// once (Options "Connections") and processed one by one in register order.
// Flags, not locks, keep cycles from overlapping: the poll timer is stopped
// while a cycle runs, and the time the cycle took counts toward the next. While the database cannot
// be read, the cycle goes on with the register it read last.
namespace Polling {

extern bool CycleRunning;
extern int TicksPerUpdate;
extern int PollTicks;
extern bool ReportPrinted;

// The poll timer's tick; tests may shorten it (core/Timings.h).
constexpr int kPollIntervalMs = 5000;

// UpdateRate / 5, rounded (5 -> 1, 7 -> 1, 12 -> 2, 13 -> 3, 60 -> 12).
int TicksFor(int updateRate);
// CommunicationRetry when it is 1-5, else 3.
int AttemptsFor(int communicationRetry);

// tmrInterupt.
QTimer& PollTimer();
void StartPollTimer();
void StopPollTimer();

// What the main window does around a cycle.
class CycleView {
  public:
    virtual ~CycleView() = default;
    virtual void BlockGridInput(bool blocked) = 0;
    virtual void SetHourglass(bool busy) = 0;
    virtual void AfterCycle() = 0;  // the trending update
};
void SetView(CycleView* view);  // nullptr removes it

// Back to the state of a fresh start: timer stopped, flags cleared.
void Reset();

// The poll timer's tick and the refresh button.
void OnPollTick();
void Refresh();

// One full cycle over every enabled device.
void PollAll();

// What the last whole cycle did, for status pages and benchmarks.
struct CycleFigures {
    qint64 number = 0;      // cycles ended since the start
    QDateTime start;        // Clock::Now() at its start
    QDateTime end;          // Clock::Now() at its end
    qint64 durationMs = 0;  // measured, not from the clock
    int devices = 0;        // enabled devices visited
    int answered = 0;
    int busy = 0;
    int failed = 0;
    bool lastRegister = false;  // the database could not be read
};
CycleFigures LastCycle();
// When each device (by IDNum) last answered with readings.
QDateTime LastSeen(qint64 deviceId);
// What each device of the last register did when it was last visited.
struct DeviceState {
    enum class Outcome { Answered, Busy, Failed };
    qint64 id = 0;
    QString name;
    QString address;
    Outcome outcome = Outcome::Answered;
    QDateTime lastSeen;      // its last readings answer
    QDateTime failingSince;  // start of the first failed cycle; invalid unless failing
};
// In register order; devices not visited yet are left out.
std::vector<DeviceState> Devices();

// The status line key of one device.
QString DeviceStatusKey(const QString& name, const QString& address);

// The daily "up and running" check, run once per enabled device.
void DailySystemOkCheck();
// The daily report check, after a good readings answer.
void DailyReportCheck();

}  // namespace Polling
