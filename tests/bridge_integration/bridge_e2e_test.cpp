// The bridge end to end: xap-hub on port 3639, vaux-sim on TCP, corvane
// pointed at both, and this test as an xAP client that broadcasts to
// 127.255.255.255 (the hub relays to corvane) and hears corvane's broadcasts
// on 3639 beside the hub. The test moves into a network namespace of its own
// when the system allows it.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "../device_integration/sim_harness.h"
#include "bridge/xap_text.h"
#include "core/folders.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace corvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kXapPort = 3639;
const std::string kBroadcast = "127.255.255.255";

// Which records a sub-address or ID selects, the event texts, one event per
// change, the query answers' order, texts and pacing, echo, role, time and
// watched sources are checked on virtual time (CommandTest, BridgeTest,
// QueryTest, WatchTest, LinkTest). Here, in the real programs: a command
// from xap-send reaches the controller through the hub and its event comes
// back; odd datagrams and a burst of queries neither stop nor flood corvane,
// and its answers are paced on the real clock.
TEST(BridgeE2ETest, CommandsAndEventsPassTheHubAndBadInputNeitherStopsNorFloods) {
  EnterPrivateNetwork();
  const std::string me = "zyn.Vaux." + ComputerName();
  TempDir dir;
  // Made after entering the namespace: a socket belongs to the network it was made in.
  TestUdpSocket listener, sender;
  ASSERT_EQ(listener.Bind(kBroadcast, kXapPort), 0);
  ASSERT_EQ(sender.Bind("0.0.0.0", 0, false), 0);
  Subprocess hub, corvane, tool;
  Sim sim;
  ASSERT_TRUE(hub.Start({"xap-hub", "--verbose"}, dir.File("hub")));
  ASSERT_TRUE(Eventually([&] { return hub.Printed("listening"); }));
  ASSERT_TRUE(sim.Start(dir, {"--tcp", "0"}));
  WriteLoopbackXapConfig(dir.File("home"), kBroadcast);
  WriteFile(dir.File("home/Config/Corvane.ini"),
            "[Vaux]\r\nUPBCommPort=" + sim.address + "\r\nSerialIP=127.0.0.1\r\n");
  ASSERT_TRUE(StartCorvane(corvane, dir.File("home"), dir.File("corvane")));
  ASSERT_TRUE(Eventually([&] { return hub.Printed("client " + me + " at"); }));

  // xap-send listens beside this test's own listener and the hub.
  ASSERT_TRUE(tool.Start(
      {"xap-send", "--class", "xAPBSC.cmd", "--target", "zyn.Vaux.*:>", "output.state.1", "ID=0A",
       "Level=2", "--listen", "10", "--filter-class", "xapbsc.event", "--count", "1"},
      dir.File("tool")));
  EXPECT_EQ(tool.Wait(15s), 0);
  EXPECT_TRUE(
      Has(tool.Stdout(), "\nclass=xapbsc.event\nsource=" + me +
                             ":Corvane_Channel4_Status.Vaux_Aris_700_0A.Status\n}\n"
                             "output.state\n{\nstate=ON\nDisplayText=2 / Mute\nlevel=2/2\n}\n"))
      << tool.Stdout() << tool.Stderr();

  const size_t commands = sim.Commands().size();
  auto message = [](const std::string& cls, const std::string& target,
                    const std::vector<std::vector<std::string>>& sections) {
    return XapText(cls, "test.client.e2e", target, sections);
  };
  const std::vector<std::string> odd = {
      "xap-header\n{\nclass=xAPBSC.cmd\ntarget=" + me + ":>\n}\n",
      message("xAPBSC.cmd", me + ":>.>.>", {{"output.state.1", "ID=zz!", "Level=x"}}),
      std::string(60000, 'x'),
  };
  for (const auto& m : odd) ASSERT_TRUE(sender.SendTo(m, kBroadcast, kXapPort));
  // A burst of status queries: an answer already waiting is not queued
  // again, so a few answers leave, at most one every 200 ms.
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(sender.SendTo(message("xAPBSC.query", me + ":*.*.status", {{"request"}}),
                              kBroadcast, kXapPort));
  }
  std::vector<std::chrono::steady_clock::time_point> answers;
  for (const auto end = std::chrono::steady_clock::now() + 2500ms;
       std::chrono::steady_clock::now() < end;) {
    const auto d = listener.Receive(100ms);
    if (d && d->data.find("\nsource=" + me) != std::string::npos &&
        d->data.find("\nclass=xAPBSC.") != std::string::npos) {
      answers.push_back(std::chrono::steady_clock::now());
    }
  }
  ASSERT_GE(answers.size(), 3u);
  EXPECT_LE(answers.size(), 14u);  // paced: about 2.5 s / 200 ms
  for (size_t i = 1; i < answers.size(); ++i) EXPECT_GE(answers[i] - answers[i - 1], 150ms) << i;
  const auto sent = sim.Commands();
  for (size_t i = commands; i < sent.size(); ++i) {
    EXPECT_TRUE(sent[i].rfind("VP21", 0) && sent[i].rfind("VPX", 0)) << sent[i];
  }
  EXPECT_TRUE(corvane.Running());
  EXPECT_EQ(corvane.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace corvane::testing
