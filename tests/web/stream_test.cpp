// Added pages and long-lived answers: a stream keeps its connection through
// completed sends and idle time, its handle dies with the connection (a
// later connection on the same socket never gets its data), a peer that
// does not read is cut off, and streams never take the whole pool.
#include "web_fixture.h"

namespace corvane::testing {
namespace {

// Opens a stream for every request and says "hello" on it.
class StreamPage : public PageHandler {
 public:
  explicit StreamPage(TCPServer& server) : server_(server) {}
  void ServePage(Request&, Response& response, int index) override {
    const uint64_t s = server_.BeginStream(index);
    if (s == 0) return response.SendErrorResponse(index);
    server_.StreamSend(s, "hello\n");
    streams.push_back(s);
  }
  std::vector<uint64_t> streams;

 private:
  TCPServer& server_;
};

class Streams : public WebFixture {
 protected:
  Streams() { server_.AddPage("/echo", &page_); }
  std::shared_ptr<FakeTcpPeer> Open() { return WebFixture::Open("/Echo/stream"); }
  StreamPage page_{server_};
};

TEST_F(Streams, AStreamOutlivesItsSendsAndIdleTime) {
  auto c = Open();
  ASSERT_EQ(page_.streams.size(), 1u);
  Run(TCPServer::kIdleCloseMs * 3);
  EXPECT_FALSE(c->ClosedByServer());
  EXPECT_TRUE(server_.StreamSend(page_.streams[0], "more\n"));
  EXPECT_EQ(c->Received(), "hello\nmore\n");
  EXPECT_EQ(server_.StreamCount(), 1);
}

TEST_F(Streams, TheHandleDiesWithItsConnection) {
  auto c = Open();
  const uint64_t first = page_.streams.at(0);
  c->Close();
  Run(100);
  EXPECT_FALSE(server_.StreamSend(first, "lost\n"));
  EXPECT_EQ(server_.StreamCount(), 0);
  // Whatever socket the next connection takes, the old handle reaches nothing.
  std::vector<std::shared_ptr<FakeTcpPeer>> later;
  for (int i = 0; i < 3; ++i) later.push_back(Open());
  EXPECT_FALSE(server_.StreamSend(first, "lost\n"));
  for (const auto& p : later) EXPECT_EQ(p->Received().find("lost"), std::string::npos);
}

TEST_F(Streams, APeerThatDoesNotReadIsCutOff) {
  auto c = WebFixture::Open("/echo/stream", false);
  const uint64_t s = page_.streams.at(0);
  const std::string chunk(64 * 1024, 'x');
  int sent = 0;
  while (server_.StreamSend(s, chunk) && sent < 100) ++sent;
  EXPECT_LT(sent, 100);
  EXPECT_TRUE(c->ClosedByServer());
  EXPECT_TRUE(Logged("it does not take its data"));
}

TEST_F(Streams, StreamsLeaveRoomInThePool) {
  std::vector<std::shared_ptr<FakeTcpPeer>> open;
  for (int i = 0; i < TCPServer::kMaxStreamingSockets + 2; ++i) open.push_back(Open());
  EXPECT_EQ(server_.StreamCount(), TCPServer::kMaxStreamingSockets);
  EXPECT_NE(open.back()->Received().find("404"), std::string::npos);
  // Ordinary requests still get their answer and their close meanwhile.
  EXPECT_NE(Get(GetLine("/status")).find("status"), std::string::npos);
}

}  // namespace
}  // namespace corvane::testing
