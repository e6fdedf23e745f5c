#include "xap/xap_transport.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <tuple>

#include <cerrno>

#include "core/event_log.h"
#include "platform/clock.h"
#include "support/fake_udp.h"
#include "xap/xap_sender.h"

namespace corvane {
namespace {

// Calls a function when the transport says messages arrived.
struct Receiver final : XapCallback {
  std::function<void()> fn;
  void onMessage() override { fn(); }
};

class XapTransportTest : public ::testing::Test {
 protected:
  XapTransportTest() {
    xap.SetXapSource("zyn.Vaux.HOST");
    xap.SetXapUID("FF.0022:00");
    xap.SetBroadcastAddress("127.255.255.255");
    log.SetDebugEnabled([] { return true; });
    log.SetXapSender([this](std::string_view items) { events.emplace_back(items); });
  }
  // Another program holding 127.0.0.1:port.
  void Occupy(uint16_t port) {
    occupied.push_back(net.OpenUdp());
    ASSERT_EQ(occupied.back()->Bind("127.0.0.1", port), 0);
  }
  std::vector<std::string> SentTexts() {
    std::vector<std::string> out;
    for (const auto& d : net.SentTo(3639)) out.push_back(d.data);
    return out;
  }

  ManualClock clock;
  EventLoop loop{clock};
  ManualWallClock wall{46000.0};
  std::ostringstream err;
  EventLog log{wall, &err};
  FakeUdpNetwork net{loop};
  XapTransport xap{loop, net, log};
  std::vector<std::unique_ptr<UdpSocket>> occupied;
  std::vector<std::string> events;
};

// A hub that restarted forgets its clients; a heartbeat every interval (the
// interval it announces) lets it relay to the program again within a minute.
// The heartbeat's text (after a taken first port) and the stop's
// announcement are checked in xap_program_test.
TEST_F(XapTransportTest, HeartbeatFromTheFirstFreePortRepeatsEveryClampedInterval) {
  xap.SendStoppedHeartbeat();  // not started: nothing to withdraw
  EXPECT_TRUE(SentTexts().empty());
  Occupy(32768);
  ASSERT_EQ(xap.Init(), 32769);
  xap.SendHeartbeat(60);
  EXPECT_EQ(net.sent().back().to.address, "127.255.255.255");
  EXPECT_EQ(xap.HBeatTimer().Interval(), 60000);
  loop.WaitMs(59'000);
  EXPECT_EQ(SentTexts().size(), 1u);
  loop.WaitMs(600'000 + 2'000);
  EXPECT_EQ(SentTexts(), std::vector<std::string>(12, SentTexts()[0]));
  // The interval is clamped to 0 or 5..60 and announced as it is.
  const std::pair<int, const char*> clamps[] = {
      {3, "interval=5\n"}, {100, "interval=60\n"}, {-4, "interval=0\n"}, {0, "interval=0\n"}};
  for (const auto& [n, line] : clamps) {
    xap.SendHeartbeat(n);
    EXPECT_NE(SentTexts().back().find(line), std::string::npos) << n;
  }
  EXPECT_FALSE(xap.HBeatTimer().Enabled());
}

TEST_F(XapTransportTest, NoFreePortOrAnUnbindableSenderIsAFailure) {
  for (int p = 32768; p <= 32967; ++p) Occupy(static_cast<uint16_t>(p));
  EXPECT_EQ(xap.Init(), -1);

  occupied.clear();
  net.SetHostAddresses({"192.0.2.7"});
  net.FailBinds("192.0.2.7", EADDRNOTAVAIL);
  EXPECT_EQ(xap.Init(), -EADDRNOTAVAIL);
  EXPECT_THROW(xap.SendHeartbeat(60), std::runtime_error);  // no heartbeat tail, no sender
}

TEST_F(XapTransportTest, SenderAddressFollowsTheHostAddressOrFallsBackToAny) {
  // A loopback host address: the sender takes any address and a system port.
  ASSERT_EQ(xap.Init(), 32768);
  EXPECT_EQ(xap.SendEndpoint().address, "0.0.0.0");
  EXPECT_NE(xap.SendEndpoint().port, 32768);

  // A LAN address picked by the interface pattern keeps the same port.
  net.SetHostAddresses({"192.0.2.7", "198.51.100.9"});
  xap.SetInterfaceAddress("198.51.100.255");
  ASSERT_EQ(xap.Init(), 32768);
  EXPECT_EQ(xap.local_address(), "198.51.100.9");
  EXPECT_EQ(xap.SendEndpoint().address, "198.51.100.9");
  EXPECT_EQ(xap.SendEndpoint().port, 32768);

  // That port already in use there: any address again.
  xap.Unload();
  auto other = net.OpenUdp();
  ASSERT_EQ(other->Bind("198.51.100.9", 32768), 0);
  ASSERT_EQ(xap.Init(), 32768);
  EXPECT_EQ(xap.SendEndpoint().address, "0.0.0.0");

  xap.SetInterfaceAddress("Default");
  EXPECT_EQ(xap.GetIP(), "192.0.2.7");
  net.SetHostAddresses({});
  EXPECT_EQ(xap.GetIP(), "");
}

TEST_F(XapTransportTest, SendAddressAndInterfacePatterns) {
  xap.SetBroadcastAddress("DEFAULT");
  ASSERT_GT(xap.Init(), 0);
  EXPECT_EQ(xap.send_address(), "255.255.255.255");
  xap.SendHeartbeat(60);  // broadcasts need SO_BROADCAST: the fake refuses them without
  EXPECT_EQ(net.sent().back().to.address, "255.255.255.255");

  const std::tuple<const char*, const char*, bool> patterns[] = {
      {"192.168.1.255", "192.168.1.20", true}, {"255.255.255.255", "10.0.0.1", true},
      {"192.168.1.255", "192.168.2.20", false}, {"Default", "192.168.1.20", false},
      {"192.168.1", "192.168.1.20", false},     {"x.y.z.w", "0.0.0.0", true},
      {"1e20.0.0.0", "1.0.0.0", false}};
  for (const auto& [pattern, address, match] : patterns)
    EXPECT_EQ(XapTransport::MatchesInterface(pattern, address), match) << pattern << " " << address;
}

TEST(XapSourceAddressTest, AnInstanceExtendsTheInstancePart) {
  // What would change the address's meaning is left out.
  const std::pair<const char*, const char*> cases[] = {
      {"", "zyn.Vaux.HOST"},          {"Kitchen", "zyn.Vaux.HOST.Kitchen"},
      {"zone.2", "zyn.Vaux.HOST.zone.2"}, {" up stairs:>*", "zyn.Vaux.HOST.upstairs"},
      {"..a..", "zyn.Vaux.HOST.a"},   {":", "zyn.Vaux.HOST"}};
  for (const auto& [instance, address] : cases)
    EXPECT_EQ(XapSourceAddress("HOST", instance), address) << instance;
}

TEST_F(XapTransportTest, SendXapBuildsOneSectionFromTheItemList) {
  ASSERT_GT(xap.Init(), 0);
  using namespace std::string_literals;
  EXPECT_EQ(xap.SendXap("", "c.d", "Sec",
                        "a\x01"
                        "1\0junk\0b\x01x\x01y"s,
                        "Zone1", "FF.0022:05"),
            "");
  EXPECT_EQ(SentTexts().back(),
            "xap-header\n{\nv=13\nhop=1\nuid=FF.0022:05\nclass=c.d\nsource=zyn.Vaux.HOST:Zone1\n"
            "}\nSec\n{\na=1\nb=x\x01y\n}\n");
  xap.SendXap("acme.x.y", "c.d", "s", "", "", "", "sub");
  EXPECT_NE(SentTexts().back().find("uid=FF.0022:00\n"), std::string::npos);
  EXPECT_NE(SentTexts().back().find("\ntarget=acme.x.y:sub\n}\ns\n{\n}\n"), std::string::npos);

  net.FailSends(ENETUNREACH);
  EXPECT_EQ(xap.SendXap("", "c.d", "s", ""), "0 " + ErrorText(ENETUNREACH));
  EXPECT_THROW(xap.SendRawXap("x"), std::runtime_error);
}

TEST_F(XapTransportTest, ReceivesMessagesDropsHeartbeatsAndCallsBackAfter50Ms) {
  int calls = 0;
  std::vector<std::string> got;
  Receiver receiver;
  receiver.fn = [&] {
    ++calls;
    for (std::string m = xap.GetMessage(); !m.empty(); m = xap.GetMessage()) got.push_back(m);
  };
  xap.RegisterNewMessageCallback(&receiver);
  const int32_t port = xap.Init();
  auto peer = net.OpenUdp();
  peer->SendTo("xap-hbeat\n{\n}\n", "127.0.0.1", static_cast<uint16_t>(port));
  peer->SendTo("XAP-HEADER\n{\n}\n", "127.0.0.1", static_cast<uint16_t>(port));
  peer->SendTo("xap-header\n2\n", "127.0.0.1", static_cast<uint16_t>(port));
  peer->SendTo("junk", "127.0.0.1", static_cast<uint16_t>(port));
  const int64_t start = clock.NowMs();
  loop.Pump();
  EXPECT_EQ(xap.ReceiveQueueSize(), 2u);
  loop.PumpUntil([&] { return calls > 0; }, start + 1000);
  EXPECT_EQ(clock.NowMs() - start, 50);
  EXPECT_EQ(got, (std::vector<std::string>{"XAP-HEADER\n{\n}\n", "xap-header\n2\n"}));
  EXPECT_FALSE(xap.ReceiveTimer().Enabled());
  EXPECT_EQ(xap.GetMessage(), "");

  xap.SetFilterHeartbeats(false);
  peer->SendTo("xap-hbeat\n{\n}\n", "127.0.0.1", static_cast<uint16_t>(port));
  loop.WaitMs(100);
  EXPECT_EQ(got.back(), "xap-hbeat\n{\n}\n");
}

// A flood fills the queue: the oldest go, and what went is counted and
// reported once a minute while it lasts (one error-log line, not one each).
TEST_F(XapTransportTest, ReceiveQueueIsCappedAndDropsAreReportedOnceAMinute) {
  ASSERT_GT(xap.Init(), 0);
  auto flood = [&](size_t n) {
    for (size_t i = 0; i < n; ++i) xap.ProcessReceivedMessage("xap-header " + std::to_string(i));
  };
  flood(XapTransport::kReceiveQueueLimit + 5);
  EXPECT_EQ(xap.ReceiveQueueSize(), XapTransport::kReceiveQueueLimit);
  EXPECT_EQ(xap.DroppedCount(), 5u);
  EXPECT_EQ(xap.GetMessage(), "xap-header 5");
  EXPECT_EQ(err.str(), "");
  loop.WaitMs(30'000);
  flood(7);
  loop.WaitMs(30'000);
  EXPECT_NE(err.str().find("ProcessReceivedMessage 0 11 datagrams dropped in the last minute"),
            std::string::npos)
      << err.str();
  err.str("");
  flood(3);
  loop.WaitMs(60'000);
  EXPECT_NE(err.str().find(" 3 datagrams dropped"), std::string::npos);
  // A quiet minute ends the reports.
  loop.WaitMs(60'000);
  err.str("");
  loop.WaitMs(120'000);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(xap.DroppedCount(), 14u);
}

TEST_F(XapTransportTest, OutboxHoldsMessagesUntilReadyAndWorksOutUIDs) {
  ASSERT_GT(xap.Init(), 0);
  XapOutbox outbox(xap, log);
  outbox.SetBaseUID("FF.0022:00");
  outbox.SendXap("", "first.class", "s",
                 "a\x01"
                 "1");
  outbox.SendXap("", "second.class", "s", "", "", "05");
  EXPECT_TRUE(SentTexts().empty());
  EXPECT_EQ(outbox.PendingCount(), 2u);
  outbox.SetReady(true);
  outbox.SendXap("", "third.class", "s", "", "", "AB.CDEF:12");
  const auto sent = SentTexts();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_NE(sent[0].find("uid=FF.0022:00\nclass=first.class"), std::string::npos);
  EXPECT_NE(sent[1].find("uid=FF.0022:05\nclass=second.class"), std::string::npos);
  EXPECT_NE(sent[2].find("uid=AB.CDEF:12\nclass=third.class"), std::string::npos);
  EXPECT_EQ(outbox.PendingCount(), 0u);
  EXPECT_EQ(XapOutbox::WorkOutUID("X", "05"), "05");
}

}  // namespace
}  // namespace corvane
