#include "platform/event_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace corvane {

namespace {

short ToPoll(unsigned events) {
  short e = 0;
  if (events & EventLoop::kReadable) e |= POLLIN;
  if (events & EventLoop::kWritable) e |= POLLOUT;
  return e;
}

unsigned FromPoll(short revents) {
  unsigned e = 0;
  if (revents & POLLIN) e |= EventLoop::kReadable;
  if (revents & POLLOUT) e |= EventLoop::kWritable;
  if (revents & POLLHUP) e |= EventLoop::kHangup | EventLoop::kReadable;
  if (revents & (POLLERR | POLLNVAL)) e |= EventLoop::kError | EventLoop::kReadable;
  return e;
}

// With a manual clock and nothing scheduled, real descriptors are polled in
// short slices.
constexpr int64_t kManualRealPollMs = 20;

}  // namespace

EventLoop::EventLoop(Clock& clock) : clock_(clock) {
  reporter_ = [](std::string_view where, std::string_view what) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(where.size()), where.data(),
                 static_cast<int>(what.size()), what.data());
  };
}

EventLoop::~EventLoop() {
  for (auto& t : timers_) t->alive = false;
  for (auto& w : watches_) w->alive = false;
}

void EventLoop::Guard(std::string_view where, const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    try {
      reporter_(where, e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      reporter_(where, "unknown error");
    } catch (...) {
    }
  }
}

EventLoop::WatchId EventLoop::Watch(int fd, unsigned events,
                                    std::function<void(unsigned revents)> handler) {
  auto w = std::make_shared<WatchEntry>();
  w->id = next_watch_id_++;
  w->fd = fd;
  w->events = events;
  w->handler = std::move(handler);
  watches_.push_back(w);
  return w->id;
}

void EventLoop::SetEvents(WatchId id, unsigned events) {
  for (auto& w : watches_) {
    if (w->id == id) w->events = events;
  }
}

void EventLoop::Unwatch(WatchId id) {
  for (auto it = watches_.begin(); it != watches_.end(); ++it) {
    if ((*it)->id == id) {
      (*it)->alive = false;
      watches_.erase(it);
      return;
    }
  }
}

size_t EventLoop::WatchCount() const {
  return watches_.size();
}

void EventLoop::Defer(std::function<void()> fn) {
  deferred_.push_back(std::move(fn));
}

std::shared_ptr<EventLoop::TimerEntry> EventLoop::AddTimerEntry() {
  auto t = std::make_shared<TimerEntry>();
  timers_.push_back(t);
  return t;
}

void EventLoop::RemoveTimerEntry(const std::shared_ptr<TimerEntry>& entry) {
  entry->alive = false;
  entry->enabled = false;
  timers_.erase(std::remove(timers_.begin(), timers_.end(), entry), timers_.end());
}

int64_t EventLoop::NextTimerDeadline() const {
  int64_t next = INT64_MAX;
  for (const auto& t : timers_) {
    if (t->enabled && t->interval_ms > 0 && !t->running) next = std::min(next, t->deadline_ms);
  }
  return next;
}

bool EventLoop::RunDeferred() {
  if (deferred_.empty()) return false;
  // Only what was queued before this round runs now; calls queued by these
  // run in the next round, so a call that re-queues itself cannot starve I/O.
  size_t n = deferred_.size();
  for (size_t i = 0; i < n && !deferred_.empty(); ++i) {
    auto fn = std::move(deferred_.front());
    deferred_.pop_front();
    if (fn) Guard("EventLoop deferred call", fn);
  }
  return true;
}

void EventLoop::FireDueTimers() {
  const int64_t now = clock_.NowMs();
  std::vector<std::shared_ptr<TimerEntry>> due;
  for (const auto& t : timers_) {
    if (t->enabled && t->interval_ms > 0 && !t->running && t->deadline_ms <= now) due.push_back(t);
  }
  std::stable_sort(due.begin(), due.end(),
                   [](const auto& a, const auto& b) { return a->deadline_ms < b->deadline_ms; });
  for (auto& t : due) {
    // A handler that ran before may have stopped, changed or removed this one.
    if (!t->alive || !t->enabled || t->interval_ms <= 0 || t->running ||
        t->deadline_ms > clock_.NowMs())
      continue;
    t->deadline_ms = clock_.NowMs() + t->interval_ms;
    t->running = true;
    if (t->handler) {
      auto handler = t->handler;  // survives the timer being destroyed meanwhile
      Guard("Timer", handler);
    }
    t->running = false;
  }
}

void EventLoop::DispatchOnce(int64_t max_wait_ms) {
  ++depth_;
  struct DepthGuard {
    int& d;
    ~DepthGuard() { --d; }
  } depth_guard{depth_};

  bool had_deferred = RunDeferred();

  std::vector<std::shared_ptr<WatchEntry>> polled;
  std::vector<pollfd> fds;
  for (const auto& w : watches_) {
    if (w->running || w->events == 0) continue;
    polled.push_back(w);
    fds.push_back(pollfd{w->fd, ToPoll(w->events), 0});
  }

  int64_t wait = max_wait_ms;
  if (had_deferred || !deferred_.empty() || quit_) wait = 0;
  const int64_t now = clock_.NowMs();
  const int64_t next_timer = NextTimerDeadline();
  if (next_timer != INT64_MAX) {
    int64_t until = std::max<int64_t>(0, next_timer - now);
    wait = (wait < 0) ? until : std::min(wait, until);
  }

  int ready = 0;
  if (clock_.IsManual()) {
    // Virtual time: look at the descriptors without blocking; when nothing is
    // ready, jump the clock to the next deadline instead of sleeping. Only a
    // loop with no deadline at all waits (briefly) for real descriptors.
    if (!fds.empty()) ready = ::poll(fds.data(), fds.size(), 0);
    if (ready <= 0 && wait > 0) {
      clock_.AdvanceTo(now + wait);
    } else if (ready <= 0 && wait < 0 && !fds.empty()) {
      ready = ::poll(fds.data(), fds.size(), static_cast<int>(kManualRealPollMs));
    }
  } else {
    int timeout = wait < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait, INT_MAX));
    ready = ::poll(fds.empty() ? nullptr : fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) {
      reporter_("EventLoop poll", "poll failed");
    }
  }

  if (ready > 0) {
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto& w = polled[i];
      if (!w->alive || w->running) continue;
      unsigned revents = FromPoll(fds[i].revents);
      if ((revents & (w->events | kHangup | kError)) == 0) continue;
      w->running = true;
      auto handler = w->handler;
      Guard("EventLoop watcher", [&] { handler(revents); });
      w->running = false;
    }
  }

  FireDueTimers();
}

void EventLoop::Run() {
  // A Quit() that came before Run() (a signal during start-up) still counts.
  while (!quit_) {
    DispatchOnce(-1);
    if (clock_.IsManual() && watches_.empty() && deferred_.empty() &&
        NextTimerDeadline() == INT64_MAX) {
      break;  // nothing could ever happen on virtual time
    }
  }
}

void EventLoop::Pump() {
  DispatchOnce(0);
}

bool EventLoop::PumpUntil(const std::function<bool()>& done, int64_t deadline_ms) {
  while (!done()) {
    if (quit_) return done();
    const int64_t now = clock_.NowMs();
    if (now >= deadline_ms) return done();
    DispatchOnce(deadline_ms - now);
  }
  return true;
}

void EventLoop::WaitMs(int64_t ms) {
  PumpUntil([] { return false; }, clock_.NowMs() + ms);
}

// --- Timer -----------------------------------------------------------------

Timer::Timer(EventLoop& loop, std::function<void()> on_tick)
    : loop_(loop), entry_(loop.AddTimerEntry()) {
  entry_->handler = std::move(on_tick);
}

Timer::~Timer() {
  loop_.RemoveTimerEntry(entry_);
}

void Timer::SetHandler(std::function<void()> on_tick) {
  entry_->handler = std::move(on_tick);
}

void Timer::SetInterval(int64_t ms) {
  if (ms < 0) ms = 0;
  if (ms == entry_->interval_ms) return;
  entry_->interval_ms = ms;
  entry_->deadline_ms = loop_.NowMs() + ms;
}

void Timer::SetEnabled(bool enabled) {
  if (enabled && !entry_->enabled) entry_->deadline_ms = loop_.NowMs() + entry_->interval_ms;
  entry_->enabled = enabled;
}

}  // namespace corvane
