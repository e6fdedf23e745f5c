// The one place where an operation's failure is caught: at its boundary (an
// event handler, a web request, a start-up step, a script call). The
// operation's name goes into the event log with the error's description and
// the program goes on; code inside an operation lets exceptions travel up to
// its guard. The event loop keeps a last-resort catch of its own for
// handlers that forget theirs.
#pragma once

#include <exception>
#include <string_view>
#include <utility>

#include "core/event_log.h"

namespace corvane {

// Runs `body`; a failure is reported once as `operation` (event type
// "Corvane") and swallowed here. True when `body` finished.
template <typename F>
bool Guard(EventLog& log, std::string_view operation, F&& body) {
  try {
    std::forward<F>(body)();
    return true;
  } catch (const std::exception& e) {
    log.LogError("Corvane", operation, e.what());
  } catch (...) {
    log.LogError("Corvane", operation, "unknown error");
  }
  return false;
}

}  // namespace corvane
