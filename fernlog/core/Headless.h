#pragma once

// fernlog without a window: the same start-up, polling, logging, alarms and
// e-mails; status lines go to standard output as they change; SIGINT or
// SIGTERM is a confirmed close.
namespace Headless {

// Runs until stopped; returns the exit code.
int Run();

}  // namespace Headless
