// The real corvane and xap-hub programs on loopback. Each test first moves
// into a network namespace of its own when the system allows it, so the
// fixed ports it occupies are not shared with other tests.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <regex>

#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::ReadFile;
using testing::Subprocess;
using testing::TempDir;
using testing::TestUdpSocket;

constexpr uint16_t kXapPort = 3639;

class XapIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::EnterPrivateNetwork()) {
      std::fprintf(stderr, "note: no private network namespace; using the shared loopback\n");
    }
  }
  bool StartCorvane(Subprocess& p, const std::string& broadcast) {
    testing::WriteLoopbackXapConfig(home.File("home"), broadcast);
    return p.Start({"corvane", "--home", home.File("home")}, home.File("corvane"));
  }
  // Reads datagrams until one satisfies `want`; others are skipped.
  template <typename F>
  std::string ReceiveUntil(TestUdpSocket& s, F want) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
      auto d = s.Receive(200ms);
      if (d && want(d->data)) return d->data;
    }
    return "";
  }

  TempDir home;
};

// The messages' exact texts and the move past a taken first port are
// checked on the in-memory network (xap_program_test); here the real
// sockets: both broadcast forms arrive, and all three leave through one port.
TEST_F(XapIntegrationTest, StartupSendsHeartbeatPortEventAndTimeQuery) {
  for (const std::string broadcast : {"127.0.0.1", "127.255.255.255"}) {
    SCOPED_TRACE(broadcast);
    TestUdpSocket listener;
    ASSERT_EQ(listener.Bind(broadcast, kXapPort), 0);
    Subprocess corvane;
    ASSERT_TRUE(StartCorvane(corvane, broadcast));
    std::vector<TestUdpSocket::Datagram> got;
    for (const char* cls :
         {"\nclass=xap-hbeat.alive\n", "\nclass=Homeseer.Event\n", "\nclass=time.query\n"}) {
      auto d = listener.Receive(10s);
      ASSERT_TRUE(d);
      EXPECT_NE(d->data.find(cls), std::string::npos) << d->data;
      got.push_back(*d);
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_search(got[0].data, m, std::regex("\nport=(\\d+)\n")));
    EXPECT_NE(got[1].data.find("Data=Using xAP port " + m[1].str() + "\n"), std::string::npos);
    for (const auto& d : got) EXPECT_EQ(d.from_port, got[0].from_port);
    EXPECT_EQ(corvane.Stop(SIGTERM), 0);
  }
}

TEST_F(XapIntegrationTest, NoFreePortWritesTheErrorLogAndEnds) {
  std::vector<std::unique_ptr<TestUdpSocket>> taken;
  for (int p = 32768; p <= 32967; ++p) {
    taken.push_back(std::make_unique<TestUdpSocket>());
    taken.back()->Bind("127.0.0.1", static_cast<uint16_t>(p), false);
  }
  Subprocess corvane;
  ASSERT_TRUE(StartCorvane(corvane, "127.0.0.1"));
  const int rc = corvane.Wait(10s);
  EXPECT_NE(rc, 0);
  EXPECT_NE(rc, -1) << "still running";
  EXPECT_NE(ReadFile(home.File("home/Data/Corvane.txt")).find("xAP Init Error -1 occurred"),
            std::string::npos);
  EXPECT_EQ(corvane.Stderr().find("Corvane running"), std::string::npos);
}

// A hub that binds the xAP port for itself: xap-send cannot share it, so it
// listens on a port of its own and announces it by heartbeat, and what the
// hub relays there is printed; at the end it announces its stop.
TEST_F(XapIntegrationTest, XapSendListensBehindAHubThatHoldsThePort) {
  TestUdpSocket hub;
  ASSERT_EQ(hub.Bind("0.0.0.0", kXapPort, false), 0);
  Subprocess send;
  ASSERT_TRUE(send.Start({"xap-send", "--class", "test.ping", "--to", "127.0.0.1", "ping", "n=1",
                          "--listen", "5", "--count", "1"},
                         home.File("send")));
  std::smatch m;
  const std::string hb =
      ReceiveUntil(hub, [](const std::string& d) { return d.rfind("xap-hbeat\n", 0) == 0; });
  const std::regex alive(
      "(?:.|\n)*class=xap-hbeat\\.alive\n(?:.|\n)*interval=60\nport=(\\d+)\n\\}\n");
  ASSERT_TRUE(std::regex_match(hb, m, alive)) << hb;
  const auto port = static_cast<uint16_t>(std::stoi(m[1]));
  EXPECT_NE(
      ReceiveUntil(hub, [](const std::string& d) { return d.find("class=test.ping") != d.npos; }),
      "");
  const std::string relayed =
      "xap-header\n{\nv=13\nhop=1\nuid=FF.1:00\nclass=test.pong\n"
      "source=a.b.c\n}\npong\n{\nn=1\n}\n";
  ASSERT_TRUE(hub.SendTo(relayed, "127.0.0.1", port));
  EXPECT_EQ(send.Wait(10s), 0);
  EXPECT_NE(send.Stdout().find("class=test.pong"), std::string::npos) << send.Stdout();
  EXPECT_NE(send.Stderr().find("held by a hub"), std::string::npos);
  EXPECT_NE(
      ReceiveUntil(hub, [](const std::string& d) { return d.find("xap-hbeat.stopped") != d.npos; }),
      "");
}

// How the hub relays (to every client, the sender too) is checked on the
// in-memory network (xap_hub_test); here the real hub relays corvane's
// messages to a client that announced itself.
TEST_F(XapIntegrationTest, HubRelaysCorvaneToItsClients) {
  Subprocess hub;
  ASSERT_TRUE(hub.Start({"xap-hub", "--bind", "127.0.0.1", "--verbose"}, home.File("hub")));
  ASSERT_TRUE(Eventually([&] { return hub.Stdout().find("listening") != std::string::npos; }));
  TestUdpSocket b;
  ASSERT_EQ(b.Bind("127.0.0.1", 0, false), 0);
  ASSERT_TRUE(
      b.SendTo("xap-hbeat\n{\nv=13\nhop=1\nuid=FF.ABCD:00\nclass=xap-hbeat.alive\n"
               "source=test.client.b\ninterval=60\nport=" +
                   std::to_string(b.port()) + "\n}\n",
               "127.0.0.1", kXapPort));
  ASSERT_TRUE(Eventually([&] { return hub.Stdout().find("test.client.b") != std::string::npos; }));
  Subprocess corvane;
  ASSERT_TRUE(StartCorvane(corvane, "127.0.0.1"));
  std::string query = ReceiveUntil(
      b, [](const std::string& d) { return d.find("\nclass=time.query\n") != std::string::npos; });
  EXPECT_NE(query.find("\nsource=zyn.Vaux."), std::string::npos);
  // The hub writes its line after relaying.
  EXPECT_TRUE(Eventually([&] {
    const std::string out = hub.Stdout();
    return out.find("client zyn.Vaux.") != std::string::npos &&
           out.find("time.query") != std::string::npos;
  }));
  EXPECT_EQ(corvane.Stop(SIGTERM), 0);
  EXPECT_EQ(hub.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace corvane
