// The xAP steps of start-up and the drain of received messages, on an
// in-memory network and virtual time.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "app/program.h"
#include "support/fake_udp.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using ::corvane::testing::TempDir;
using ::corvane::testing::WriteFile;

class XapProgramTest : public ::testing::Test {
 protected:
  XapProgramTest() {
    std::filesystem::create_directories(home.File("Config"));
    WriteFile(home.File("Config/zynXap.ini"), "[Interface]\nBroadcastAddress=127.0.0.1\n");
    WriteFile(home.File("Config/Corvane.ini"), "[Vaux]\r\nHTTPPort=0\r\n");  // no web listener
    program = std::make_unique<Program>(ProgramPaths{home.path(), home.File("corvane"), "HOST"},
                                        clock, wall, &err, [this](EventLoop& loop) {
                                          auto n = std::make_unique<FakeUdpNetwork>(loop);
                                          net = n.get();
                                          return n;
                                        });
  }
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    for (const auto& d : net->SentTo(3639)) out.push_back(d.data);
    return out;
  }

  TempDir home;
  ManualClock clock;
  ManualWallClock wall{46000.5, &clock};  // 12/9/2025 12:00:00 PM
  std::ostringstream err;
  FakeUdpNetwork* net = nullptr;
  std::unique_ptr<Program> program;
};

// With a UID and an instance from the settings and another program on the
// first port: the heartbeat, the port event and the time query, in that
// order, carry the same UID and source; an orderly stop is announced (the
// repeats are checked in xap_transport_test).
TEST_F(XapProgramTest, StartupSendsHeartbeatThenPortEventThenTimeQueryAndAnnouncesTheStop) {
  WriteFile(home.File("Config/Corvane.ini"),
            "[Vaux]\r\nHTTPPort=0\r\nUID=FF.1234:00\r\nInstance=Upstairs\r\n");
  auto early = net->OpenUdp();
  ASSERT_EQ(early->Bind("127.0.0.1", 32768), 0);
  ASSERT_EQ(program->Startup(), 0);
  EXPECT_TRUE(program->xap_ready());
  // The first three; the controller's start-up events follow them.
  const auto sent = Sent();
  ASSERT_GE(sent.size(), 3u);
  const std::string header = "{\nv=13\nhop=1\nuid=FF.1234:00\nclass=";
  const std::string source = "source=zyn.Vaux.HOST.Upstairs\n";
  EXPECT_EQ(sent[0], "xap-hbeat\n" + header + "xap-hbeat.alive\n" + source +
                         "interval=60\nport=32769\n}\n");
  EXPECT_EQ(sent[1], "xap-header\n" + header + "Homeseer.Event\n" + source +
                         "}\nEvent.Log\n{\nTime=12/9/2025 12:00:00 PM\nType=Corvane\n"
                         "Data=Using xAP port 32769\n}\n");
  EXPECT_EQ(sent[2], "xap-header\n" + header + "time.query\n" + source +
                         "}\ntime.query\n{\nid=*\n}\n");

  // Events from now on go out at once.
  program->log().LogEvent("Corvane", "later");
  EXPECT_NE(Sent().back().find("Data=later\n"), std::string::npos);
  program->Shutdown();
  EXPECT_EQ(Sent().back(), "xap-hbeat\n" + header + "xap-hbeat.stopped\n" + source +
                               "interval=60\nport=32769\n}\n");
}

// Hands each message to a function.
struct HandlerFn final : XapMessageHandler {
  std::function<void(const std::string&)> fn;
  void Readmessage(const std::string& text) override { fn(text); }
};

// A handler that waits on the loop while handling its first message, as the
// controller command path does; datagrams arriving meanwhile must be taken
// by the running drain, never by a nested one.
TEST_F(XapProgramTest, OnMessageDrainsEverythingWithoutNesting) {
  ASSERT_EQ(program->Startup(), 0);
  const auto port = static_cast<uint16_t>(program->xap().port());
  auto peer = net->OpenUdp();
  std::vector<std::string> got;
  int depth = 0, max_depth = 0;
  HandlerFn handler;
  handler.fn = [&](const std::string& text) {
    max_depth = std::max(max_depth, ++depth);
    got.push_back(text);
    if (got.size() == 1) {
      peer->SendTo("xap-header\nsecond\n", "127.0.0.1", port);
      program->loop().WaitMs(500);
    }
    --depth;
    if (text == "xap-header\nthrows\n") throw std::runtime_error("bad message");
  };
  program->SetMessageHandler(&handler);
  peer->SendTo("xap-header\nfirst\n", "127.0.0.1", port);
  peer->SendTo("xap-header\nthrows\n", "127.0.0.1", port);
  peer->SendTo("xap-header\nthird\n", "127.0.0.1", port);
  program->loop().WaitMs(2000);
  EXPECT_EQ(got, (std::vector<std::string>{"xap-header\nfirst\n", "xap-header\nthrows\n",
                                           "xap-header\nthird\n", "xap-header\nsecond\n"}));
  EXPECT_EQ(max_depth, 1);
  EXPECT_NE(err.str().find("Readmessage Line 0 bad message"), std::string::npos);

  program->SetMessageHandler(nullptr);
  peer->SendTo("xap-header\nignored\n", "127.0.0.1", port);
  program->loop().WaitMs(100);
  EXPECT_EQ(got.size(), 4u);
  EXPECT_EQ(program->xap().ReceiveQueueSize(), 0u);
}

// The bridge inside the program (exercised end to end in
// tests/bridge_integration): script events are dropped until a script host
// is installed, and an answer in flight at the end is dropped with its queue.
class Recorder final : public ScriptEventQueue {
 public:
  void QueueScriptEvent(DeviceRecord record) override { tags.push_back(record->Tag); }
  std::vector<std::string> tags;
};

TEST_F(XapProgramTest, ScriptEventsWaitForAHostAndShutdownReleasesTheQueue) {
  ASSERT_EQ(program->Startup(), 0);
  BscReporter& reporter = program->bridge().reporter();
  program->bridge().BSCQuery(">:*.*.status");
  EXPECT_TRUE(reporter.BSCTimer().Enabled());
  EXPECT_GT(reporter.QueueSize(), 0u);
  ZoneRecord r = program->devices().Record(7);
  r->EventNotification = true;
  r->Tag = "lamp";
  program->devices().ChangeEvent(r, 2);
  Recorder host;
  program->SetScriptEventQueue(&host);
  program->devices().ChangeEvent(r, 1);
  EXPECT_EQ(host.tags, std::vector<std::string>{"lamp"});
  program->SetScriptEventQueue(nullptr);
  program->Shutdown();
  EXPECT_FALSE(reporter.BSCTimer().Enabled());
  EXPECT_EQ(reporter.QueueSize(), 0u);
}

}  // namespace
}  // namespace corvane
