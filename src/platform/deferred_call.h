// Helpers for transports that report events through handlers the event loop
// calls later, when the object that owns the handlers may be gone.
#pragma once

#include <functional>
#include <memory>

#include "platform/event_loop.h"

namespace corvane {

// Calls a handler through a copy: the handler may destroy its owner.
inline void CallHandler(const std::function<void()>& handler) {
  if (!handler) return;
  auto copy = handler;
  copy();
}

// Runs `fn` from the loop unless `alive` was cleared (or released) meanwhile.
template <typename F>
void DeferWhileAlive(EventLoop& loop, const std::shared_ptr<bool>& alive, F fn) {
  std::weak_ptr<bool> weak = alive;
  loop.Defer([weak, fn] {
    auto a = weak.lock();
    if (a && *a) fn();
  });
}

}  // namespace corvane
