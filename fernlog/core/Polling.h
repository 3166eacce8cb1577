#pragma once

#include <QString>
#include <functional>

class QTimer;

// The polling cycle: every UpdateRate seconds (counted in 5-second ticks of
// the poll timer) each enabled device is identified and read, its sensors
// processed, and failed devices recorded. Flags, not locks, keep cycles from
// overlapping: the poll timer is stopped while a cycle runs.
namespace Polling {

extern bool CycleRunning;
extern int TicksPerUpdate;
extern int PollTicks;
extern bool ReportPrinted;

constexpr int kPollIntervalMs = 5000;

// UpdateRate / 5, rounded (5 -> 1, 7 -> 1, 12 -> 2, 13 -> 3, 60 -> 12).
int TicksFor(int updateRate);
// CommunicationRetry when it is 1-5, else 3.
int AttemptsFor(int communicationRetry);

// tmrInterupt.
QTimer& PollTimer();
void StartPollTimer();
void StopPollTimer();

// What the main window adds around a cycle; all optional.
struct Hooks {
    std::function<void(bool blocked)> blockGridInput;
    std::function<void(bool busy)> hourglass;
    std::function<void()> afterCycle;  // the trending update
};
void SetHooks(Hooks hooks);

// The poll timer's tick and the refresh button.
void OnPollTick();
void Refresh();

// One full cycle over every enabled device.
void PollAll();

// The status line key of one device.
QString DeviceStatusKey(const QString& name, const QString& address);

// The daily "up and running" check, run once per enabled device.
void DailySystemOkCheck();
// The daily report check, after a good readings answer.
void DailyReportCheck();

}  // namespace Polling
