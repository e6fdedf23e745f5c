// Termination signals (SIGINT, SIGTERM, SIGHUP) delivered through the event
// loop instead of interrupting whatever runs.
#pragma once

#include <functional>

namespace corvane {

class EventLoop;

// Blocks the termination signals and returns a descriptor that reports them
// (-1 when the system refuses one).
int BlockTerminationSignals();

// Calls `on_signal` with the signal number for each signal the descriptor
// reports.
void WatchTerminationSignals(EventLoop& loop, int fd, std::function<void(int signo)> on_signal);

}  // namespace corvane
