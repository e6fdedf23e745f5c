#include "core/event_log.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/datetime.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

TEST(EventLogTest, EventsGoToStderrAndToTheXapSender) {
  ManualWallClock wall(ToDateValue(CivilDateTime{2026, 12, 6, 8, 5, 9}));
  std::ostringstream err;
  EventLog log(wall, &err);
  std::vector<std::string> sent;
  log.SetXapSender([&](std::string_view items) { sent.emplace_back(items); });
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
  EXPECT_NE(sent.back().find("Data\x01ReadLastChange Line 0 bad value"), std::string::npos);
}

TEST(EventLogTest, EventRaisedWhileSendingDoesNotRecurse) {
  ManualWallClock wall(46000);
  std::ostringstream err;
  EventLog log(wall, &err);
  int sends = 0;
  log.SetXapSender([&](std::string_view) {
    ++sends;
    log.LogEvent("Corvane", "nested");
  });
  log.LogEvent("Corvane", "outer");
  EXPECT_EQ(sends, 1);
  EXPECT_NE(err.str().find("nested"), std::string::npos);
}

TEST(EventLogTest, ErrorLogAppendsOneLinePerEntry) {
  testing::TempDir dir;
  ManualWallClock wall(46000);
  std::ostringstream err;
  EventLog log(wall, &err);
  log.SetErrorLogPath(dir.File("Corvane.txt"));
  log.WriteErrorLog("Corvane", "xAP Init Error -1 occurred");
  log.WriteErrorLog("From XAP", "", "Key already exists", 0);
  EXPECT_EQ(testing::ReadFile(dir.File("Corvane.txt")),
            "Corvane xAP Init Error -1 occurred 0 \nFrom XAP  0 Key already exists\n");
  log.SetErrorLogPath(dir.File("missing/folder/Corvane.txt"));
  log.WriteErrorLog("Corvane", "not written");  // no crash, nothing further
}

}  // namespace
}  // namespace corvane
