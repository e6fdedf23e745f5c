// The system TCP listener on loopback: accept, receive, send completion,
// the peer's close, and a connection that closes itself from its handler.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/posix_tcp.h"
#include "support/loopback.h"

namespace corvane {
namespace {

class PosixTcp : public ::testing::Test {
 protected:
  // Dispatches in short slices, so that `done` (which may read the client
  // end) runs often.
  bool Until(const std::function<bool()>& done) {
    const int64_t deadline = loop_.NowMs() + 5000;
    while (!done() && loop_.NowMs() < deadline) loop_.PumpUntil(done, loop_.NowMs() + 5);
    return done();
  }
  // Listens on a free loopback port, keeping each accepted connection.
  void Listen() {
    std::string error;
    ASSERT_TRUE(listener_.Listen(
        "127.0.0.1", 0, [&](auto c) { accepted_.push_back(std::move(c)); }, &error))
        << error;
  }
  SteadyClock clock_;
  EventLoop loop_{clock_};
  PosixTcpListener listener_{loop_};
  std::vector<std::unique_ptr<TcpConnection>> accepted_;
};

TEST_F(PosixTcp, ServesAConnectionFromAcceptToClose) {
  Listen();
  ASSERT_GT(listener_.LocalPort(), 0);
  int client = testing::ConnectLoopbackTcp(listener_.LocalPort());
  ASSERT_GE(client, 0);
  ASSERT_TRUE(Until([&] { return !accepted_.empty(); }));
  TcpConnection& conn = *accepted_[0];
  EXPECT_EQ(conn.State(), TcpConnection::kConnected);
  EXPECT_EQ(conn.RemoteAddress(), "127.0.0.1");

  std::string got;
  int completions = 0;
  bool closed = false;
  conn.SetEvents(
      {[&](std::string d) { got += d; }, [&] { ++completions; }, [&] { closed = true; }});
  ASSERT_EQ(::send(client, "hello", 5, 0), 5);
  ASSERT_TRUE(Until([&] { return got == "hello"; }));

  // A large send completes once, after every byte went out.
  const std::string big(3 * 1024 * 1024, 'z');
  ASSERT_TRUE(conn.Send(big));
  EXPECT_EQ(completions, 0);  // never from inside Send
  size_t read_total = 0;
  char buf[65536];
  ASSERT_TRUE(Until([&] {
    ssize_t n = ::recv(client, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) read_total += static_cast<size_t>(n);
    return completions == 1 && read_total == big.size();
  }));
  EXPECT_EQ(conn.PendingSendBytes(), 0u);

  // The client finishes sending but still reads.
  ::shutdown(client, SHUT_WR);
  ASSERT_TRUE(Until([&] { return closed; }));
  EXPECT_EQ(conn.State(), TcpConnection::kClosing);
  ASSERT_TRUE(conn.Send("bye"));
  ASSERT_TRUE(Until([&] { return completions == 2; }));
  conn.Close();
  EXPECT_EQ(conn.State(), TcpConnection::kClosed);
  EXPECT_FALSE(conn.Send("x"));
  char tail[8];
  EXPECT_EQ(::recv(client, tail, sizeof tail, 0), 3);
  EXPECT_EQ(::recv(client, tail, sizeof tail, 0), 0);
  ::close(client);
}

TEST_F(PosixTcp, AConnectionMayBeDestroyedFromItsOwnHandler) {
  Listen();
  int client = testing::ConnectLoopbackTcp(listener_.LocalPort());
  ASSERT_TRUE(Until([&] { return !accepted_.empty(); }));
  bool seen = false;
  accepted_[0]->SetEvents({[&](std::string) {
                             seen = true;
                             accepted_.clear();
                           },
                           nullptr, nullptr});
  ASSERT_EQ(::send(client, "x", 1, 0), 1);
  ASSERT_TRUE(Until([&] { return seen; }));
  // The server side is gone: the client sees the end of the stream.
  char c;
  EXPECT_EQ(::recv(client, &c, 1, 0), 0);
  ::close(client);
}

TEST_F(PosixTcp, WhileNotAcceptingConnectionsWaitInTheBacklogInOrder) {
  constexpr int kClients = 40;
  std::vector<std::string> got(kClients);
  std::string error;
  ASSERT_TRUE(listener_.Listen(
      "127.0.0.1", 0,
      [&](std::unique_ptr<TcpConnection> c) {
        const size_t k = accepted_.size();
        c->SetEvents({[&got, k](std::string d) { got[k] += d; }, nullptr, nullptr});
        accepted_.push_back(std::move(c));
        // A full server stops accepting from inside its handler.
        if (accepted_.size() == 1) listener_.SetAccepting(false);
      },
      &error));
  std::vector<int> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(testing::ConnectLoopbackTcp(listener_.LocalPort()));
    const std::string mark = std::to_string(i);
    ASSERT_EQ(::send(clients.back(), mark.data(), mark.size(), 0),
              static_cast<ssize_t>(mark.size()));
  }
  ASSERT_TRUE(Until([&] { return !accepted_.empty(); }));
  loop_.PumpUntil([] { return false; }, loop_.NowMs() + 100);
  EXPECT_EQ(accepted_.size(), 1u);
  listener_.SetAccepting(true);
  ASSERT_TRUE(Until([&] { return accepted_.size() == kClients && !got.back().empty(); }));
  // Oldest first: each connection's first bytes tell which client it is.
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(got[i], std::to_string(i));
  for (int fd : clients) ::close(fd);
}

TEST_F(PosixTcp, ListenReportsBadAddressesAndBusyPorts) {
  std::string error;
  EXPECT_FALSE(listener_.Listen("not-an-address", 0, nullptr, &error));
  EXPECT_NE(error.find("not an IPv4 address"), std::string::npos);
  ASSERT_TRUE(listener_.Listen("127.0.0.1", 0, nullptr, &error));
  PosixTcpListener second(loop_);
  EXPECT_FALSE(second.Listen("127.0.0.1", listener_.LocalPort(), nullptr, &error));
  EXPECT_NE(error.find("bind"), std::string::npos);
}

}  // namespace
}  // namespace corvane
