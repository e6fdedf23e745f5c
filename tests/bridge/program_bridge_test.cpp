// The bridge inside the program: installed at construction, its queue
// created at start-up and released at shutdown, script events dropped until
// a script host is installed.
#include <gtest/gtest.h>

#include <sstream>

#include "core/program.h"
#include "platform/fake_udp.h"
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

TEST(ProgramBridgeTest, ReceivedMessagesReachTheBridge) {
  TempDir home;
  WriteFile(home.File("Config/zynXap.ini"), "[Interface]\nBroadcastAddress=127.0.0.1\n");
  ManualClock clock;
  ManualWallClock wall{46000.5, &clock};
  std::ostringstream err;
  FakeUdpNetwork* net = nullptr;
  Program program(ProgramPaths{home.path(), home.File("corvane"), "HOST"}, clock, wall, &err,
                  [&](EventLoop& loop) {
                    auto n = std::make_unique<FakeUdpNetwork>(loop);
                    net = n.get();
                    return n;
                  });
  ASSERT_EQ(program.Startup(), 0);
  auto peer = net->OpenUdp();
  const auto port = static_cast<uint16_t>(program.xap().port());
  auto answers = [&] {
    size_t n = 0;
    for (const auto& d : net->SentTo(3639))
      n += d.data.find("\nclass=xAPBSC.") != std::string::npos;
    return n;
  };
  peer->SendTo("xap-header\n{\nclass=WDT.Echo\nsource=a.b.c\n}\nEcho.Query\n{\nQuery=Ping\n}\n",
               "127.0.0.1", port);
  peer->SendTo(
      "xap-header\n{\nclass=xAPBSC.query\nsource=a.b.c\ntarget=zyn.Vaux.HOST:>\n}\nrequest\n{\n}\n",
      "127.0.0.1", port);
  program.loop().WaitMs(2100);  // the query's whole-zone wait
  size_t echoes = 0;
  for (const auto& d : net->SentTo(3639))
    echoes += d.data.find("\nResponse=ping\n") != std::string::npos;
  EXPECT_EQ(echoes, 1u);
  // 42 records, each with a value list and an info message, paced.
  EXPECT_EQ(answers(), 1u);
  EXPECT_GT(program.bridge().reporter().QueueSize(), 80u);
  program.loop().WaitMs(1000);
  EXPECT_EQ(answers(), 6u);

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
