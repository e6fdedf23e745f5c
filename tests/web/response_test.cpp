// The writers that the listener's routes do not reach on their own.
#include "web_fixture.h"

namespace corvane::testing {
namespace {

class Writers : public WebFixture {
 protected:
  // A connected socket; returns its client end and sets index_.
  std::shared_ptr<FakeTcpPeer> Open() {
    auto c = Connect();
    index_ = 0;
    for (int i = 1; i <= TCPServer::kHighestSocket; ++i) {
      if (server_.SocketConnected(i)) index_ = i;
    }
    EXPECT_NE(index_, 0);
    return c;
  }
  int index_ = 0;
};

TEST_F(Writers, ContentTypesFollowTheFirstMatchingNamePart) {
  const std::pair<std::string_view, std::string_view> kTypes[] = {
      {"\\a.txt", "text/plain"},        {"\\a.html", "text/html"},
      {"\\photo.jpg.bmp", "image/jpg"}, {"\\a.gif", "image/gif"},
      {"\\a.bmp", "image/bmp"},         {"\\a.php", "text/html"},
      {"\\a.png", "unknown/binary"},    {"\\a.css", "text/css"},
      {"\\A.GIF", "unknown/binary"},  // exact letter case
  };
  for (const auto& [name, type] : kTypes) EXPECT_EQ(ContentTypeFor(name), type) << name;
}

TEST_F(Writers, SendAndRedirectWriteToTheResponsesSocket) {
  auto c = Open();
  Response r(server_);
  r.index(static_cast<int16_t>(index_));
  r.Send("hi");
  RunUntilClosed(c);
  // The header lines before these are pinned by the status route (tcp_server_test).
  EXPECT_TRUE(Plain(c->Received())
                  .ends_with("Content-Length: 2\r\nCache-Control: no-cache\r\n"
                             "Connection: close\r\n\r\nhi"));
  EXPECT_EQ(server_.SocketTag(1), "0");
  EXPECT_TRUE(r.Answered());

  // A socket that is gone gets nothing, and the writer says so.
  Response late(server_);
  late.SendTextString("x", 1);
  EXPECT_TRUE(Logged("TCPSever_SendTextString  Line 0 socket 1 is not connected"));
  late.SendTextFile("\\none.css", 1);
  WebFile("there.css", "t");
  late.SendTextFile("\\there.css", 1);
  EXPECT_TRUE(Logged("TCPServer Unable to send TextFile " + dir_.path() +
                     "/HTML\\there.css to socket 1 because State is 0"));
}

TEST_F(Writers, RedirectToAnotherServerKeepsPageQueryAndBody) {
  const std::string appliance_page =
      "<HTML><HEAD><SCRIPT LANGUAGE=\"JavaScript\">function initialize() "
      "{document.redo.submit();}</script></HEAD><body onLoad='initialize()'>"
      "<form name='redo' action='http://hs/stat' method='POST'>"
      "<input type='hidden' name='q' value='1'>"
      "<input type='hidden' name='name' value='&#39;&gt;&lt;script&gt;'>"
      "<input type='hidden' name='b' value='2'></form></HTML>";
  const std::string moved = "HTTP/1.0 307 NoSupport\r\nServer: zyn\r\nDate: 06-Dec-26\r\n"
                            "Connection: close\r\nContent-Type: text/html\r\nLocation: http://";
  const struct {
    std::string location, raw, answer;
  } kCases[] = {
      {"hs.example:81", "GET /status?x=1 HTTP/1.1\r\nHost: h\r\n\r\n",
       moved + "hs.example:81/status?x=1\r\n\r\n"},
      {"hs", "POST /stat HTTP/1.1\r\nHost: h\r\n\r\na=1&b=2",
       moved + "hs/stat\r\nContent-Length: 7\r\n\r\na=1&b=2"},
      // An appliance browser that does not follow 307 gets a page that posts itself on.
      {"hs", "POST /stat?q=1 HTTP/1.1\r\nUser-Agent: Audrey/2\r\n\r\nname=%27%3E%3Cscript%3E&b=2",
       "HTTP/1.0 200 OK\r\nServer: zyn\r\nDate: 06-Dec-26\r\nConnection: close\r\n"
       "Content-Type: text/html\r\nLocation: http://hs/stat?q=1\r\nContent-Length: " +
           std::to_string(appliance_page.size()) + "\r\n\r\n" + appliance_page},
  };
  for (const auto& c : kCases) {
    auto peer = Open();
    Response r(server_);
    Request request;
    request.ParsePage(c.raw);
    r.RedirectToHS(c.location, request, index_);
    RunUntilClosed(peer);
    EXPECT_EQ(Plain(peer->Received()), c.answer);
  }
}

}  // namespace
}  // namespace corvane::testing
