#include "xap_hub.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/text.h"
#include "platform/clock.h"
#include "support/fake_udp.h"

namespace corvane {
namespace {

std::string Heartbeat(const std::string& source, int port, int interval,
                      const std::string& eol = "\n") {
  return ReplaceAll(
      "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.1:00\nclass=xap-hbeat.alive\nsource=" + source +
          "\ninterval=" + std::to_string(interval) + "\nport=" + std::to_string(port) + "\n}\n",
      "\n", eol);
}

struct Client {
  std::unique_ptr<UdpSocket> socket;
  std::vector<std::string> got;
};

class XapHubTest : public ::testing::Test {
 protected:
  XapHubTest() {
    net.SetHostAddresses({"127.0.0.1", "192.0.2.9"});
    HubOptions options;
    options.verbose = true;
    EXPECT_EQ(hub.Start(options), 0);
  }
  Client& AddClient(const std::string& address = "127.0.0.1") {
    auto c = std::make_unique<Client>();
    c->socket = net.OpenUdp();
    EXPECT_EQ(c->socket->Bind(address, 0), 0);
    Client* raw = c.get();
    c->socket->SetReceiveHandler(
        [raw](std::string_view d, const UdpEndpoint&) { raw->got.emplace_back(d); });
    clients.push_back(std::move(c));
    return *raw;
  }
  static uint16_t PortOf(Client& c) { return c.socket->LocalEndpoint().port; }
  void Send(Client& from, const std::string& text) {
    from.socket->SendTo(text, "127.0.0.1", 3639);
    loop.Pump();
  }

  ManualClock clock;
  EventLoop loop{clock};
  FakeUdpNetwork net{loop};
  std::ostringstream out;
  XapHub hub{loop, net, out, {"127.0.0.1"}};
  std::vector<std::unique_ptr<Client>> clients;
};

TEST_F(XapHubTest, LearnsClientsAndRelaysToEachOfThemSenderIncluded) {
  Client& a = AddClient();
  Client& b = AddClient();
  Send(a, Heartbeat("acme.a.one", PortOf(a), 60));
  Send(b, Heartbeat("acme.b.two", PortOf(b), 600, "\r\n"));
  ASSERT_EQ(hub.clients().size(), 2u);
  EXPECT_EQ(hub.clients().at(PortOf(b)).source, "acme.b.two");
  EXPECT_EQ(hub.clients().at(PortOf(b)).interval_s, 600);

  const std::string msg = "xap-header\n{\nclass=test.hello\n}\nx\n{\n}\n";
  Send(a, msg);
  loop.Pump();
  EXPECT_EQ(a.got, std::vector<std::string>{msg});  // heartbeats are not relayed
  EXPECT_EQ(b.got, std::vector<std::string>{msg});
  EXPECT_NE(out.str().find("test.hello (" + std::to_string(msg.size()) + " bytes) from 127.0.0.1:" +
                           std::to_string(PortOf(a)) + " relayed to 2 clients"),
            std::string::npos);

  // A heartbeat from another computer is relayed like any message; one that
  // names the hub's own port is ignored.
  Client& remote = AddClient("192.0.2.9");
  Send(remote, Heartbeat("far.away.node", 40000, 60));
  Send(a, Heartbeat("acme.loop.x", 3639, 60));
  loop.Pump();
  EXPECT_EQ(hub.clients().size(), 2u);
  EXPECT_EQ(b.got.size(), 2u);
  EXPECT_EQ(b.got.back(), Heartbeat("far.away.node", 40000, 60));
}

TEST_F(XapHubTest, ForgetsAClientAfterTwoMissedIntervals) {
  Client& a = AddClient();
  Client& b = AddClient();
  Send(a, Heartbeat("acme.a.one", PortOf(a), 60));
  Send(b, Heartbeat("acme.b.two", PortOf(b), 600));
  loop.WaitMs(119'000);
  EXPECT_EQ(hub.clients().size(), 2u);
  Send(a, Heartbeat("acme.a.one", PortOf(a), 60));  // a heartbeat restarts the count
  loop.WaitMs(119'000);
  EXPECT_EQ(hub.clients().size(), 2u);
  loop.WaitMs(2'000);
  ASSERT_EQ(hub.clients().size(), 1u);
  EXPECT_EQ(hub.clients().begin()->second.source, "acme.b.two");
  EXPECT_NE(
      out.str().find("client acme.a.one at 127.0.0.1:" + std::to_string(PortOf(a)) + " forgotten"),
      std::string::npos);

  EXPECT_FALSE(ReadHubHeartbeat("xap-header\n{\nport=1\n}\n"));
  auto hb = ReadHubHeartbeat("xap-hbeat\n{\nport=99999\ninterval=x\n}\n");
  ASSERT_TRUE(hb);
  EXPECT_FALSE(hb->port);
  EXPECT_EQ(hb->interval_s, 0);
}

}  // namespace
}  // namespace corvane
