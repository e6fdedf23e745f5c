#include "platform/event_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace corvane {
namespace {

class EventLoopTest : public ::testing::Test {
 protected:
  EventLoopTest() : loop_(clock_) {
    loop_.SetErrorReporter([this](std::string_view where, std::string_view what) {
      errors_.push_back(std::string(where) + ": " + std::string(what));
    });
  }
  // A timer of the fixture, ticking every `ms` from now.
  Timer& Started(int64_t ms, std::function<void()> on_tick) {
    auto& t = *timers_.emplace_back(std::make_unique<Timer>(loop_, std::move(on_tick)));
    t.SetInterval(ms);
    t.Start();
    return t;
  }
  ManualClock clock_{1000};
  EventLoop loop_;
  std::vector<std::string> errors_;
  std::vector<std::unique_ptr<Timer>> timers_;
};

TEST_F(EventLoopTest, IntervalZeroNeverFiresEvenWhenEnabled) {
  int ticks = 0;
  Timer t(loop_, [&] { ++ticks; });
  t.SetEnabled(true);
  loop_.WaitMs(100000);
  EXPECT_EQ(ticks, 0);
  t.SetInterval(500);  // a running timer with an interval now ticks
  loop_.WaitMs(1200);
  EXPECT_EQ(ticks, 2);
}

TEST_F(EventLoopTest, TimerRepeatsUntilDisabledAndVirtualTimeJumps) {
  std::vector<int64_t> at;
  Timer t(loop_);
  t.SetHandler([&] {
    at.push_back(clock_.NowMs());
    if (at.size() == 3) t.Stop();
  });
  t.SetInterval(2000);
  t.Start();
  loop_.WaitMs(60000);
  EXPECT_EQ(at, (std::vector<int64_t>{3000, 5000, 7000}));
  EXPECT_EQ(clock_.NowMs(), 61000);  // the wait itself ends on time
}

TEST_F(EventLoopTest, ChangingIntervalOrEnablingRestartsCountdown) {
  std::vector<int64_t> at;
  Timer& t = Started(1000, [&] { at.push_back(clock_.NowMs()); });
  loop_.WaitMs(600);
  t.SetInterval(2000);  // restarts: next tick 2000 ms from now
  loop_.WaitMs(1900);
  EXPECT_TRUE(at.empty());
  loop_.WaitMs(100);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ(at[0], 1000 + 600 + 2000);

  at.clear();
  t.Stop();
  loop_.WaitMs(1500);
  t.Start();  // enabling a stopped timer restarts the countdown
  const int64_t started = clock_.NowMs();
  loop_.WaitMs(2500);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ(at[0], started + 2000);

  // Setting the same interval or enabling a running timer does not restart
  // it, so a burst of such calls cannot postpone a tick for ever.
  at.clear();
  const int64_t next = clock_.NowMs() + 1500;  // the running countdown ends here
  for (int i = 0; i < 30; ++i) {
    t.SetInterval(2000);
    t.Start();
    loop_.WaitMs(50);
  }
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ(at[0], next);
}

TEST_F(EventLoopTest, NestedPumpServesOthersButNotTheRunningTick) {
  int outer_ticks = 0, other_ticks = 0, fd_reads = 0;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  Timer outer(loop_);
  outer.SetHandler([&] {
    ++outer_ticks;
    // A wait inside the tick, as the controller reply wait does.
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    loop_.WaitMs(1000);
    outer.Stop();
  });
  outer.SetInterval(50);
  auto watch = loop_.Watch(fds[0], EventLoop::kReadable, [&](unsigned) {
    char c;
    if (::read(fds[0], &c, 1) == 1) ++fd_reads;
  });
  outer.Start();
  Started(100, [&] { ++other_ticks; });
  loop_.WaitMs(1100);
  EXPECT_EQ(outer_ticks, 1);   // never re-entered while its handler waited
  EXPECT_GE(other_ticks, 10);  // the other timer kept ticking inside the wait
  EXPECT_EQ(fd_reads, 1);      // and the descriptor was served
  loop_.Unwatch(watch);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(EventLoopTest, RunningWatcherIsNotPolledAgainWhileItWaits) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "ab", 2), 2);
  int calls = 0;
  Started(10, [] {});
  loop_.Watch(fds[0], EventLoop::kReadable, [&](unsigned) {
    ++calls;
    // Still readable: a nested wait must not call this handler again (and
    // must not spin on the ready descriptor).
    loop_.WaitMs(100);
    char buf[4];
    (void)!::read(fds[0], buf, sizeof buf);
  });
  loop_.WaitMs(300);
  EXPECT_EQ(calls, 1);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(EventLoopTest, ThrowingHandlerIsReportedAndLoopGoesOn) {
  int good = 0;
  Started(100, [] { throw std::runtime_error("boom"); });
  Started(100, [&] { ++good; });
  loop_.Defer([] { throw std::runtime_error("deferred boom"); });
  loop_.WaitMs(350);
  EXPECT_EQ(good, 3);
  ASSERT_GE(errors_.size(), 4u);
  EXPECT_NE(errors_[0].find("deferred boom"), std::string::npos);
  EXPECT_NE(errors_[1].find("boom"), std::string::npos);
}

TEST_F(EventLoopTest, PumpUntilReturnsOnConditionDeadlineOrQuit) {
  bool flag = false;
  Started(700, [&] { flag = true; });
  const int64_t start = clock_.NowMs();
  EXPECT_TRUE(loop_.PumpUntil([&] { return flag; }, start + 2000));
  EXPECT_EQ(clock_.NowMs(), start + 700);

  EXPECT_FALSE(loop_.PumpUntil([] { return false; }, clock_.NowMs() + 2000));
  EXPECT_EQ(clock_.NowMs(), start + 2700);

  // Quit ends a nested wait early, so a shutdown request is not held up.
  Started(100, [&] { loop_.Quit(); });
  const int64_t before = clock_.NowMs();
  EXPECT_FALSE(loop_.PumpUntil([] { return false; }, before + 60000));
  EXPECT_LT(clock_.NowMs(), before + 1000);
}

TEST_F(EventLoopTest, TimerDestroyedInsideItsOwnTickIsSafe) {
  auto t = std::make_unique<Timer>(loop_);
  int ticks = 0;
  t->SetHandler([&] {
    ++ticks;
    t.reset();
  });
  t->SetInterval(10);
  t->Start();
  loop_.WaitMs(100);
  EXPECT_EQ(ticks, 1);
}

TEST_F(EventLoopTest, DeferredCallsRunInOrderAndRequeueingDoesNotStarve) {
  std::vector<int> order;
  loop_.Defer([&] { order.push_back(1); });
  loop_.Defer([&] { order.push_back(2); });
  loop_.Pump();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));

  int spins = 0, ticks = 0;
  std::function<void()> again = [&] {
    if (++spins < 1000) loop_.Defer(again);
  };
  loop_.Defer(again);
  Started(1, [&] { ++ticks; });
  loop_.WaitMs(5);
  EXPECT_GT(ticks, 0);
}

}  // namespace
}  // namespace corvane
