// Clocks: a monotonic clock that drives timers, and a wall clock for time
// stamps. Both are injected so that tests run on virtual time.
#pragma once

#include <cstdint>

namespace corvane {

// Monotonic milliseconds. The event loop schedules every timer on it.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowMs() const = 0;
  // A manual clock lets the loop jump to the next deadline instead of sleeping.
  virtual bool IsManual() const { return false; }
  virtual void AdvanceTo(int64_t /*ms*/) {}
};

class SteadyClock final : public Clock {
 public:
  int64_t NowMs() const override;
};

// Virtual time for tests: it only moves when told to, or when the event loop
// has nothing ready and jumps to its next deadline.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(int64_t start_ms = 0) : now_(start_ms) {}
  int64_t NowMs() const override { return now_; }
  bool IsManual() const override { return true; }
  void AdvanceTo(int64_t ms) override {
    if (ms > now_) now_ = ms;
  }
  void Advance(int64_t ms) { now_ += ms; }

 private:
  int64_t now_;
};

// Local wall-clock time as a date value: days since 30 Dec 1899, the time of
// day as the fraction (the form every date text of the program is built from).
class WallClock {
 public:
  virtual ~WallClock() = default;
  virtual double Now() const = 0;
};

class SystemWallClock final : public WallClock {
 public:
  double Now() const override;
};

// A wall clock that starts at a fixed date value and, when given a monotonic
// clock, moves with it (so virtual time jumps move "now" as well).
class ManualWallClock final : public WallClock {
 public:
  explicit ManualWallClock(double start, const Clock* follow = nullptr)
      : start_(start), follow_(follow), follow_start_ms_(follow ? follow->NowMs() : 0) {}
  double Now() const override;
  void Set(double value) {
    start_ = value;
    follow_start_ms_ = follow_ ? follow_->NowMs() : 0;
  }

 private:
  double start_;
  const Clock* follow_;
  int64_t follow_start_ms_;
};

}  // namespace corvane
