#include "core/event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "core/datetime.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

// A log on a manual clock (12/6/2026 8:05:09 AM) writing to `err`, the
// error log file in `dir` and every xAP send into `sent`.
class EventLogTest : public ::testing::Test {
 protected:
  EventLogTest() {
    log.SetXapSender([this](std::string_view items) { sent.emplace_back(items); });
    log.SetErrorLogPath(dir.File("Corvane.txt"));
  }
  std::string ErrorLog() { return testing::ReadFile(dir.File("Corvane.txt")); }

  testing::TempDir dir;
  ManualClock clock{0};
  ManualWallClock wall{ToDateValue(CivilDateTime{2026, 12, 6, 8, 5, 9}), &clock};
  std::ostringstream err;
  EventLog log{wall, &err};
  std::vector<std::string> sent;
};

TEST_F(EventLogTest, EventsGoToStderrAndToTheXapSender) {
  log.LogEvent("Corvane", "Using xAP port 32768");
  EXPECT_EQ(err.str(), "12/6/2026 8:05:09 AM [Corvane] Using xAP port 32768\n");
  ASSERT_EQ(sent.size(), 1u);
  using namespace std::string_literals;
  EXPECT_EQ(sent[0],
            "Time\x01"
            "12/6/2026 8:05:09 AM\0Type\x01"
            "Corvane\0Data\x01"
            "Using xAP port 32768"s);

  // Debug events only while the setting is on.
  bool debug = false;
  log.SetDebugEnabled([&] { return debug; });
  log.DebugEvent("Corvane", "Sending Command VPFE010000");
  EXPECT_EQ(sent.size(), 1u);
  debug = true;
  log.DebugEvent("Corvane", "Sending Command VPFE010000");
  EXPECT_EQ(sent.size(), 2u);

  // A failure caught in a routine carries " Line ", 0, a space and the text;
  // line ends in a report cannot split the event.
  log.LogError("Corvane", "ReadLastChange", "bad\nvalue");
  EXPECT_TRUE(testing::Has(sent.back(), "Data\x01ReadLastChange Line 0 bad value"));
}

TEST_F(EventLogTest, EventRaisedWhileSendingDoesNotRecurse) {
  int sends = 0;
  log.SetXapSender([&](std::string_view) {
    ++sends;
    log.LogEvent("Corvane", "nested");
  });
  log.LogEvent("Corvane", "outer");
  EXPECT_EQ(sends, 1);
  EXPECT_TRUE(testing::Has(err.str(), "nested"));
  // A send that fails is noted on standard error; the log goes on.
  log.SetXapSender([](std::string_view) { throw std::runtime_error("no socket"); });
  log.LogEvent("Corvane", "unsent");
  EXPECT_TRUE(testing::Has(err.str(), "could not be sent over xAP"));
}

TEST_F(EventLogTest, ErrorLogAppendsOneLinePerEntry) {
  log.WriteErrorLog("Corvane", "xAP Init Error -1 occurred");
  log.WriteErrorLog("From XAP", "", "Key already exists", 0);
  EXPECT_EQ(ErrorLog(), "Corvane xAP Init Error -1 occurred 0 \nFrom XAP  0 Key already exists\n");
  log.SetErrorLogPath(dir.File("missing/folder/Corvane.txt"));
  log.WriteErrorLog("Corvane", "not written");  // no crash, nothing further
}

// A flood of one bad input: the first report is written, the repeats are
// counted and written as one line when the run ends or a minute has passed.
TEST_F(EventLogTest, IdenticalReportsCollapseIntoACount) {
  for (int i = 0; i < 1000; ++i) {
    log.WriteErrorLog("From XAP", "", "repeated section a");
    log.LogEvent("Corvane", "Readmessage Line 0 bad");
  }
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(ErrorLog(), "From XAP  0 repeated section a\n");
  // A minute on, the run's count so far; then a different line ends it.
  clock.Advance(60'000);
  log.WriteErrorLog("From XAP", "", "repeated section a");
  log.WriteErrorLog("From XAP", "", "repeated section b");
  log.WriteErrorLog("From XAP", "", "repeated section b");
  EXPECT_EQ(ErrorLog(),
            "From XAP  0 repeated section a\n"
            "(the last line came 1000 more times) From XAP  0 repeated section a\n"
            "From XAP  0 repeated section b\n");
  log.LogEvent("Corvane", "other");
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_TRUE(
      testing::Has(sent[1], "(the last report came 999 more times) Readmessage Line 0 bad"));
  log.FlushRepeats();
  EXPECT_TRUE(testing::Has(ErrorLog(),
                           "(the last line came 1 more times) From XAP  0 repeated section b\n"));
  // Standard error carries the same lines, no more.
  EXPECT_LT(err.str().size(), 1000u);
}

TEST_F(EventLogTest, ErrorLogRollsOverAtItsLimitKeepingOnePreviousFile) {
  const std::string path = dir.File("Corvane.txt");
  const std::string filler(1000, 'x');
  const long lines = 3 * EventLog::kErrorLogLimit / 1000;  // three files' worth
  for (long i = 0; i < lines; ++i) log.WriteErrorLog("Corvane", std::to_string(i), filler);
  const auto size = std::filesystem::file_size(path);
  const auto previous = std::filesystem::file_size(path + ".1");
  EXPECT_LE(size, static_cast<uintmax_t>(EventLog::kErrorLogLimit));
  EXPECT_LE(previous, static_cast<uintmax_t>(EventLog::kErrorLogLimit));
  EXPECT_GT(previous, static_cast<uintmax_t>(EventLog::kErrorLogLimit) - 1100);
  EXPECT_FALSE(std::filesystem::exists(path + ".2"));
  // The newest line is in the current file, whole.
  const std::string text = testing::ReadFile(path);
  EXPECT_TRUE(testing::Has(text, "Corvane " + std::to_string(lines - 1) + " 0 " + filler + "\n"));
}

}  // namespace
}  // namespace corvane
