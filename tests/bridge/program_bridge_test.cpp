// The bridge inside the program: script events dropped until a script host
// is installed, the answer queue released at shutdown. (The real program's
// bridge is exercised end to end in tests/bridge_integration.)
#include <gtest/gtest.h>

#include <sstream>

#include "app/program.h"
#include "support/fake_udp.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using ::corvane::testing::TempDir;
using ::corvane::testing::WriteFile;

class Recorder final : public ScriptEventQueue {
 public:
  void QueueScriptEvent(DeviceRecord record) override { tags.push_back(record->Tag); }
  std::vector<std::string> tags;
};

TEST(ProgramBridgeTest, ScriptEventsWaitForAHostAndShutdownReleasesTheQueue) {
  TempDir home;
  WriteFile(home.File("Config/zynXap.ini"), "[Interface]\nBroadcastAddress=127.0.0.1\n");
  ManualClock clock;
  ManualWallClock wall{46000.5, &clock};
  std::ostringstream err;
  Program program(ProgramPaths{home.path(), home.File("corvane"), "HOST"}, clock, wall, &err,
                  [](EventLoop& loop) { return std::make_unique<FakeUdpNetwork>(loop); });
  ASSERT_EQ(program.Startup(), 0);
  // An answer in flight when the program ends is dropped with the queue.
  program.bridge().BSCQuery(">:*.*.status");
  EXPECT_TRUE(program.bridge().reporter().BSCTimer().Enabled());
  EXPECT_GT(program.bridge().reporter().QueueSize(), 0u);

  // Script events are dropped until a script host is installed.
  ZoneRecord r = program.devices().Record(7);
  r->EventNotification = true;
  r->Tag = "lamp";
  program.devices().ChangeEvent(r, 2);
  Recorder host;
  program.SetScriptEventQueue(&host);
  program.devices().ChangeEvent(r, 1);
  EXPECT_EQ(host.tags, std::vector<std::string>{"lamp"});
  program.SetScriptEventQueue(nullptr);

  program.Shutdown();
  EXPECT_FALSE(program.bridge().reporter().BSCTimer().Enabled());
  EXPECT_EQ(program.bridge().reporter().QueueSize(), 0u);
}

}  // namespace
}  // namespace corvane
