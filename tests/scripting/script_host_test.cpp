// The script host on virtual time: events reach Main in order with their
// tags, one per turn of the loop; errors give their two reports and the
// next event runs; the time-out ends a runaway script while the loop keeps
// being served; the periodic timer follows its setting.
#include "scripting/scripting_fixture.h"

namespace corvane {
namespace {

using ::testing::ElementsAre;

TEST_F(ScriptingTest, MainGetsEachEventsTagInOrderAndEmptyForAPeriodicTick) {
  Script("lib.txt", "Function Twice(s)\n Twice = s & s\nEnd Function\n");
  Main("#include \"LIB.txt\"\nSub main(tag)\n test.Note Twice(tag)\nEnd Sub\n");
  Queue("kitchen");
  Queue("hall");
  host().QueueScriptEvent(nullptr);
  // Nothing runs inside the caller, nor before the 5 ms queue delay.
  EXPECT_TRUE(notes_.empty());
  const int64_t start = loop_.NowMs();
  loop_.PumpUntil([&] { return !notes_.empty(); }, start + 100);
  EXPECT_EQ(loop_.NowMs() - start, 5);
  Drain();
  EXPECT_THAT(notes_, ElementsAre("kitchenkitchen", "hallhall", ""));
}

// What a script causes while it runs takes its turn: work it asks of the
// loop runs before the next event's Main, events it queues after those queued
// before, a ReadScript once it ends. A Main without argument, in any letter
// case, is called too.
TEST_F(ScriptingTest, WorkAScriptCausesRunsInTurn) {
  const std::string note_then_hook =
      "Sub Main(t)\n test.Note t\n If t = \"1\" Then test.Hook\nEnd Sub\n";
  const std::tuple<std::string, std::function<void()>, std::vector<std::string>> cases[] = {
      {"SUB MAIN\n test.note LCase(\"Called\")\nEnd Sub\n", nullptr, {"called", "called"}},
      {note_then_hook,
       [this] { loop_.Defer([this] { notes_.push_back("loop"); }); },
       {"1", "loop", "2"}},
      {note_then_hook, [this] { Queue("3"); }, {"1", "2", "3"}},
      {"Sub Main(t)\n test.Hook\n test.Note \"old \" & t\nEnd Sub\n",
       [this] {
         Script("Corvane.txt", "Sub Main(t)\n test.Note \"new \" & t\nEnd Sub\n");
         host().ReadScript();
       },
       {"old 1", "new 2"}}};
  for (const auto& [main, hook, notes] : cases) {
    SCOPED_TRACE(main);
    notes_.clear();
    hook_ = hook;
    Main(main);
    Queue("1");
    Queue("2");
    Drain();
    EXPECT_EQ(notes_, notes);
  }
}

TEST_F(ScriptingTest, EventsRaisedWhileTheScriptLoadsRunOnceItIsLoaded) {
  hook_ = [this] { Queue("boot"); };
  Main("test.Hook\nSub Main(t)\n test.Note t\nEnd Sub\n");
  Drain();
  EXPECT_THAT(notes_, ElementsAre("boot"));
}

TEST_F(ScriptingTest, SyntaxErrorsAreReportedWithTheFileAndTheRestStillLoads) {
  Script("bad.txt", "Sub Broken(\nEnd Sub\n");
  Main("#include \"bad.txt\"\nSub Main(t)\n test.Note t\nEnd Sub\n");
  EXPECT_TRUE(Logged("[Corvane] Error in script syntax  / bad.txt "));
  EXPECT_TRUE(Logged("@ Line 1 col "));
  EXPECT_NE(testing::ReadFile(dir_.File("Data/Corvane.txt")).find("Error in script syntax"),
            std::string::npos);
  Queue("ok");
  Drain();
  EXPECT_THAT(notes_, ElementsAre("ok"));
}

// Each bad script gives its run-time report and the next event runs.
TEST_F(ScriptingTest, RunTimeErrorsAreReportedAndTheNextEventRuns) {
  Main(
      "Function Deep(n)\n Deep = Deep(n + 1)\nEnd Function\n"
      "Sub Main(t)\n"
      " Select Case t\n"
      "  Case \"div\": x = 1 / 0\n"
      "  Case \"deep\": Deep 1\n"
      "  Case \"nothing\": Dim o : Set o = Nothing : o.Foo\n"
      "  Case \"huge\": s = String(1000, \"x\") : Do : s = s & s : Loop\n"
      "  Case Else: test.Note t\n"
      " End Select\n"
      "End Sub\n");
  for (const char* t : {"div", "deep", "nothing", "huge", "fine"}) Queue(t);
  Drain();
  EXPECT_TRUE(Logged("Script Run Error  / 11 - Division by zero@ Line 6 col "));
  EXPECT_TRUE(Logged("Script Run Error  / 28 - Out of stack space@ Line 2 col "));
  EXPECT_TRUE(Logged("Script Run Error  / 424 - Object required"));
  EXPECT_TRUE(Logged("Script Run Error  / 7 - Out of memory"));
  EXPECT_THAT(notes_, ElementsAre("fine"));
}

TEST_F(ScriptingTest, AMainWithTheWrongArgumentsOrNoneAtAllIsReported) {
  Main("Sub Main(a, b)\nEnd Sub\n");
  Queue("x");
  Drain();
  EXPECT_TRUE(Logged("Script Run Error  / 450 - Wrong number of arguments"));
  Main("Sub Other(t)\nEnd Sub\n");
  EXPECT_TRUE(Logged("Script Corvane.txt has no Main procedure"));
  Queue("x");
  Drain();
  EXPECT_EQ(host().QueuedEvents(), 0u);
}

TEST_F(ScriptingTest, TheTimeOutEndsARunawayScriptWhileTheLoopIsServed) {
  host().SetTimeout(300);
  Main("Sub Main(t)\n If t = \"loop\" Then test.Hook : Do : Loop Else test.Note t\nEnd Sub\n");
  bool served_while_running = false;
  hook_ = [&] { loop_.Defer([&] { served_while_running = host().RunningEvent(); }); };
  Queue("loop");
  Queue("after");
  Drain();
  EXPECT_TRUE(served_while_running);
  EXPECT_TRUE(Logged("Script Run Error  / -2147467260 - Script execution timed out"));
  EXPECT_THAT(notes_, ElementsAre("after"));
}

TEST_F(ScriptingTest, RunAndRunExReplaceModuleM1EachTime) {
  Script("one.txt",
         "Function Get(p)\n Get = \"one \" & p\nEnd Function\nSub Main\n test.Note \"run\"\nEnd "
         "Sub\n");
  Script("two.txt", "Function Get(p)\n Get = \"two \" & p\nEnd Function\n");
  Main(
      "Sub Main(t)\n Run \"one.txt\"\n test.Note RunEx(\"one.txt\", \"get\", t)\n"
      " test.Note RunEx(\"two.txt\", \"Get\", t)\n"
      " test.Note \"[\" & RunEx(\"gone.txt\", \"Get\", t) & \"]\"\nEnd Sub\n");
  Queue("x");
  Drain();
  EXPECT_THAT(notes_, ElementsAre("run", "one x", "two x", "[]"));
}

TEST_F(ScriptingTest, ThePeriodicTimerFollowsItsSettingLive) {
  Main("Sub Main(t)\n test.Note \"tick \" & t\nEnd Sub\n");
  settings_.periodic_script_interval = "90";
  module_->ApplySettings();
  EXPECT_EQ(host().PeriodicScriptTimer().Interval(), 30000);
  EXPECT_EQ(host().MinuteCounter(), 1);
  const int64_t start = loop_.NowMs();
  std::vector<int64_t> at;
  hook_ = nullptr;
  for (int i = 0; i < 2; ++i) {
    const size_t n = notes_.size();
    loop_.PumpUntil([&] { return notes_.size() > n; }, loop_.NowMs() + 200000);
    at.push_back(loop_.NowMs() - start);
  }
  EXPECT_THAT(at, ElementsAre(90005, 180005));
  EXPECT_THAT(notes_, ElementsAre("tick ", "tick "));
  // A change from the setup page: 0 means every 60 s; text stops the timer.
  host().ArmPeriodic("0");
  EXPECT_EQ(host().PeriodicScriptTimer().Interval(), 60000);
  const int64_t changed = loop_.NowMs();
  loop_.PumpUntil([] { return false; }, changed + 30000);
  host().ArmPeriodic("0");  // saved again unchanged: the countdown goes on
  loop_.PumpUntil([&] { return notes_.size() == 3; }, changed + 200000);
  EXPECT_EQ(loop_.NowMs() - changed, 60005);
  host().ArmPeriodic("soon");
  EXPECT_FALSE(host().PeriodicScriptTimer().Enabled());
}

}  // namespace
}  // namespace corvane
