#pragma once

#include <functional>

// fernlog without a window: the same start-up, polling, logging, alarms and
// e-mails. Standard output is the service log: one line per event that
// matters (alarms, device failures, e-mails, errors, start and stop); the
// routine status lines only when verbose, every connection only when
// tracing. SIGINT or SIGTERM is a confirmed
// close.
namespace Headless {

// Runs until stopped; returns the exit code. `started` runs once the
// service log is set up and the start-up is done (the program's other
// services start there).
int Run(bool verbose = false, bool trace = false, const std::function<void()>& started = {});

}  // namespace Headless
