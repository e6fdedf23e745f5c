// Real UDP sockets on loopback, dispatched by the event loop.
#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/event_loop.h"

namespace corvane {
namespace {

class UdpSocketTest : public ::testing::Test {
 protected:
  std::unique_ptr<UdpSocket> Receiver(const std::string& address) {
    auto s = net.OpenUdp();
    EXPECT_EQ(s->Bind(address, 0), 0);
    s->SetReceiveHandler([this](std::string_view d, const UdpEndpoint& from) {
      got.emplace_back(d);
      senders.push_back(from);
    });
    return s;
  }
  bool WaitFor(size_t n) {
    return loop.PumpUntil([&] { return got.size() >= n; }, loop.NowMs() + 5000);
  }

  SteadyClock clock;
  EventLoop loop{clock};
  PosixUdpNetwork net{loop};
  std::vector<std::string> got;
  std::vector<UdpEndpoint> senders;
};

TEST_F(UdpSocketTest, BindsSendsAndReceivesThroughTheLoop) {
  auto rx = Receiver("127.0.0.1");
  const UdpEndpoint at = rx->LocalEndpoint();
  EXPECT_EQ(at.address, "127.0.0.1");
  ASSERT_NE(at.port, 0);

  auto tx = net.OpenUdp();
  const std::string big(65'000, 'x');
  ASSERT_EQ(tx->SendTo("hello", "127.0.0.1", at.port), 0);
  ASSERT_EQ(tx->SendTo(big, "localhost", at.port), 0);
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(got[0], "hello");
  EXPECT_EQ(got[1], big);
  EXPECT_EQ(senders[0].port, tx->LocalEndpoint().port);
  EXPECT_EQ(tx->SendTo(std::string(70'000, 'y'), "127.0.0.1", at.port), EMSGSIZE);
}

TEST_F(UdpSocketTest, HandlerMayCloseItsOwnSocket) {
  auto rx = Receiver("127.0.0.1");
  const uint16_t port = rx->LocalEndpoint().port;
  int calls = 0;
  rx->SetReceiveHandler([&](std::string_view, const UdpEndpoint&) {
    ++calls;
    rx.reset();
  });
  auto tx = net.OpenUdp();
  for (int i = 0; i < 5; ++i) tx->SendTo("x", "127.0.0.1", port);
  loop.PumpUntil([&] { return calls > 0; }, loop.NowMs() + 5000);
  loop.WaitMs(20);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(loop.WatchCount(), 0u);
}

}  // namespace
}  // namespace corvane
