// The program's single-threaded reactor: file-descriptor watchers, timers and
// deferred calls, dispatched by poll(2). Waits that must keep the program
// responsive (a controller reply, a TCP connect) nest a PumpUntil inside a
// handler; a watcher or timer whose handler is running is not fired again
// until it returns, while every other source keeps being served.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace corvane {

class EventLoop {
 public:
  enum : unsigned { kReadable = 1, kWritable = 2, kHangup = 4, kError = 8 };
  using ErrorReporter = std::function<void(std::string_view where, std::string_view what)>;

  explicit EventLoop(Clock& clock);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  Clock& clock() const { return clock_; }
  int64_t NowMs() const { return clock_.NowMs(); }

  // Handlers that throw are reported here and the loop goes on. The default
  // reporter writes to standard error.
  void SetErrorReporter(ErrorReporter reporter) { reporter_ = std::move(reporter); }

  // --- file descriptors -------------------------------------------------
  using WatchId = uint64_t;
  WatchId Watch(int fd, unsigned events, std::function<void(unsigned revents)> handler);
  void SetEvents(WatchId id, unsigned events);
  void Unwatch(WatchId id);
  size_t WatchCount() const;

  // --- deferred calls ---------------------------------------------------
  // Runs `fn` at the next dispatch, after what is already queued.
  void Defer(std::function<void()> fn);

  // --- running ----------------------------------------------------------
  // Dispatches until Quit(). Quit is final: once requested, Run returns and
  // every nested wait ends early.
  void Run();
  void Quit() { quit_ = true; }
  bool QuitRequested() const { return quit_; }
  // Dispatches what is ready now and returns ("do events").
  void Pump();
  // Dispatches until done() is true, the deadline (on this loop's clock)
  // passes or Quit() is called. Returns done().
  bool PumpUntil(const std::function<bool()>& done, int64_t deadline_ms);
  // Waits `ms` while dispatching.
  void WaitMs(int64_t ms);
  // How deep the current dispatch is nested (0 outside any handler).
  int Depth() const { return depth_; }

 private:
  friend class Timer;
  struct TimerEntry {
    int64_t interval_ms = 0;
    int64_t deadline_ms = 0;
    bool enabled = false;
    bool running = false;
    bool alive = true;
    std::function<void()> handler;
  };
  struct WatchEntry {
    WatchId id = 0;
    int fd = -1;
    unsigned events = 0;
    bool running = false;
    bool alive = true;
    std::function<void(unsigned)> handler;
  };

  std::shared_ptr<TimerEntry> AddTimerEntry();
  void RemoveTimerEntry(const std::shared_ptr<TimerEntry>& entry);

  // One round: deferred calls, poll (waiting at most max_wait_ms, -1 = until
  // the next timer), ready descriptors, due timers.
  void DispatchOnce(int64_t max_wait_ms);
  bool RunDeferred();
  void FireDueTimers();
  int64_t NextTimerDeadline() const;  // INT64_MAX when none
  void Guard(std::string_view where, const std::function<void()>& fn);

  Clock& clock_;
  ErrorReporter reporter_;
  std::vector<std::shared_ptr<TimerEntry>> timers_;
  std::vector<std::shared_ptr<WatchEntry>> watches_;
  std::deque<std::function<void()>> deferred_;
  WatchId next_watch_id_ = 1;
  bool quit_ = false;
  int depth_ = 0;
};

// A timer that behaves like a form's timer control: an interval in ms, an
// enabled flag and a tick handler. Interval 0 never fires; enabling a stopped
// timer or changing the interval of a running one restarts the countdown; a
// tick repeats every interval until the timer is disabled.
class Timer {
 public:
  explicit Timer(EventLoop& loop, std::function<void()> on_tick = nullptr);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void SetHandler(std::function<void()> on_tick);
  void SetInterval(int64_t ms);
  int64_t Interval() const { return entry_->interval_ms; }
  void SetEnabled(bool enabled);
  bool Enabled() const { return entry_->enabled; }
  void Start() { SetEnabled(true); }
  void Stop() { SetEnabled(false); }
  // True while this timer's tick handler runs (nested waits included).
  bool Running() const { return entry_->running; }

 private:
  EventLoop& loop_;
  std::shared_ptr<EventLoop::TimerEntry> entry_;
};

}  // namespace corvane
