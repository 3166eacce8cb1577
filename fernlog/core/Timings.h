#pragma once

#include <QString>

// How long the program waits for a device, between two ticks of the poll
// timer and for the mail server when it stops. The defaults are the
// program's own; only tests shorten them: in their own process through
// Waits::SetForTest, in a fernlog they start through the environment
// variable Waits::kTestVariable.
struct Timings {
    int connectMs = 5000;  // a connection to a device
    int answerMs = 0;      // a 60-byte answer; 0: the settings' TCPTimeOut seconds
    int tickMs = 5000;     // the poll timer (Polling::kPollIntervalMs)
    int stopMs = 0;        // the stop's e-mail (Startup::StopProgram); 0: the mail time-out
    int channelMs = 0;     // a notice channel's request or command; 0: 30 s
};

namespace Waits {

// For tests only: "connect=200,answer=200,tick=50,stop=500,channel=500", in
// milliseconds, each key optional, at most once.
inline constexpr char kTestVariable[] = "FERNLOG_TEST_TIMINGS";

const Timings& Current();
void SetForTest(const Timings& timings);
// Back to the program's defaults.
void Reset();

// The text of kTestVariable as timings; false with the reason for a key it
// does not know, a repeated key or a value that is not 1-600000 ms.
bool Parse(const QString& text, Timings& timings, QString* error = nullptr);
// Takes kTestVariable when it is set and not empty; false with the reason
// (nothing changed) when it does not parse.
bool UseTestVariable(QString* error = nullptr);

}  // namespace Waits
