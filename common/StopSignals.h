#pragma once

#include <functional>

// SIGINT and SIGTERM as a confirmed close: the handler only writes to a
// pipe; the event loop then runs the stop on the UI thread.
namespace StopSignals {

void Install(std::function<void(int signal)> onSignal);

}  // namespace StopSignals
