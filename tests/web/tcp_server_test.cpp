// The listener on the fake transport: routing, the queue and its drain, POST
// bodies, the socket pool, chunked files and the limits on connections.
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include "core/text.h"
#include "web_fixture.h"

namespace corvane::testing {
namespace {

using Web = WebFixture;

constexpr std::string_view kPageHeader =
    "HTTP/1.1 200 OK\r\nServer: zyn\r\nDate: 06-Dec-26\r\n"
    "Expires: Tue, 04 Dec 1993 21:29:02 GMT\r\nAccept-Ranges: bytes\r\n"
    "Content-Type: text/html\r\n";
constexpr std::string_view kNotFound =
    "HTTP/1.1 200 Object Not Found\r\nServer: zyn\r\nDate: 06-Dec-26\r\nConnection: Close\r\n"
    "Content-Type: text/html\r\nContent-Length: 40\r\n\r\n"
    "<html><h1>404 File Not Found</h1></html>";

std::string Post(const std::string& body, const std::string& extra_headers = "") {
  return "POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
         "application/x-www-form-urlencoded\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n" + extra_headers + "\r\n";
}

// A page added beside the status page (as the JSON API adds its own).
class RecordingPage : public PageHandler {
 public:
  void ServePage(Request& request, Response& response, int index) override {
    methods.push_back(request.Method());
    response.SendTextString("added", index);
  }
  std::vector<std::string> methods;
};

TEST_F(Web, EachPathTakesTheFirstRouteThatMatchesAndEveryAnswerClosesItsConnection) {
  WebFile("s.css", "css");
  WebFile("img/a.gif", "gif");
  WebFile("help/corvane/corvane.HTM", "<img src='CORVANE_FILES/a.gif'>");
  WebFile("help/corvane/Scripting.htm", "<p>scripting guide</p>");
  WriteFile(dir_.File("secret.css"), "secret");
  WriteFile(dir_.File("secret.gif"), "secret");
  RecordingPage added;
  server_.AddPage("/Added", &added);
  const std::string status = std::string(kPageHeader) +
                             "Content-Length: 19\r\nCache-Control: no-cache\r\nConnection: "
                             "close\r\n\r\n<html>status</html>";
  const std::string help = "\r\n\r\n<img src='help/Corvane/Corvane_files/a.gif'>";
  const std::string nf(kNotFound);
  const std::pair<std::string, std::string> kRoutes[] = {
      {"/STATUS", status},
      {"/stat", status},
      {"/status?x=1", status},
      {"/nothing", nf},
      {"/x.txt", nf},
      {"/stxt", nf},
      {"/sta", nf},
      {"/helpme.css", nf},
      {"/none.css", nf},
      {"/S.CSS", "HTTP/1.0 200 OK\r\n"},
      {"/img/A.gif", "HTTP/1.1 200 OK\r\n"},
      {"/img/none.gif", "HTTP/1.1 404 Not Found\r\n"},
      {"/", "HTTP/1.1 302 Found\r\nServer: zyn\r\nDate: 06-Dec-26\r\nLocation: /status\r\n"},
      {"/help", help},
      {"/help/../corvane", help},
      {"/help/nothing", help},
      {"/help/SCRIPTING", "\r\n\r\n<p>scripting guide</p>"},
      {"/added/x", "\r\n\r\nadded"},
      {"/added/x.css", nf},
      // Nothing outside the web folder.
      {"/../secret.css", nf},
      {"/img/..%2f..%2fsecret.css", nf},
      {"/img/%2e%2e/%2e%2e/secret.css", nf},
      {"/img\\..\\..\\secret.css", nf},
      {"/./s.css", nf},
      {"/img", nf},
      {"/../secret.gif", "HTTP/1.1 404 Not Found\r\n"},
  };
  for (const auto& [path, expected] : kRoutes) {
    const std::string answer = Get(GetLine(path));
    if (expected.starts_with("HTTP")) {
      EXPECT_EQ(answer.substr(0, expected.size()), expected) << path;
    } else {
      EXPECT_NE(answer.find(expected), std::string::npos) << path << "\n" << answer;
    }
    const std::string head = corvane::ToLower(answer.substr(0, answer.find("\r\n\r\n") + 2));
    EXPECT_NE(head.find("\r\nconnection: close\r\n"), std::string::npos) << path;
    EXPECT_EQ(head.find("connection:"), head.rfind("connection:")) << path;
  }
  ASSERT_EQ(status_.seen.size(), 3u);
  EXPECT_EQ(status_.seen[0].page, "/STATUS");
  EXPECT_EQ(status_.seen[2].page, "/status");
  EXPECT_EQ(status_.seen[2].query, "?x=1");
  EXPECT_EQ(added.methods.size(), 1u);
  EXPECT_EQ(Get("garbage\r\n\r\n"), kNotFound);

  // A page that answered itself is not answered again; an empty one is sent.
  status_.redirect = true;
  EXPECT_NE(Get(GetLine("/status")).find("Content-Length: 31\r\n"), std::string::npos);
  status_.redirect = false;
  status_.answer = "";
  EXPECT_NE(Get(GetLine("/status")).find("Content-Length: 0\r\n"), std::string::npos);
  // Without page code the status path is not found either.
  server_.SetStatusPage(nullptr);
  EXPECT_EQ(Get(GetLine("/status")), kNotFound);
  EXPECT_EQ(server_.Routes().HelpSubPage("a1"), std::nullopt);
  std::filesystem::remove(dir_.File("HTML/help/corvane/corvane.HTM"));
  EXPECT_EQ(server_.Routes().HelpPage(),
            "Sorry, Help from " + dir_.path() + "/HTML/Help/Corvane/Corvane.htm is not available");
}

TEST_F(Web, TheGateAnswersForeignHostsAndOtherSitesWritesBeforeAnyHandler) {
  RecordingPage api;
  server_.AddPage("/api", &api);
  auto request = [](std::string method, std::string path, std::string headers) {
    return method + " " + path + " HTTP/1.1\r\n" + headers + "\r\nContent-Length: 3\r\n\r\na=1";
  };
  const struct {
    std::string raw, status;
  } kCases[] = {
      {request("GET", "/status", "Host: evil.example:8018"), "421 Misdirected Request"},
      {request("PATCH", "/api/x", "Host: rebound.example"), "421 Misdirected Request"},
      {request("POST", "/status", "Host: 127.0.0.1:8018\r\nOrigin: http://evil.example"),
       "403 Forbidden"},
      {request("DELETE", "/api/x", "Host: 127.0.0.1:8018\r\nReferer: http://evil.example/"),
       "403 Forbidden"},
      {request("PUT", "/api/x", "Host: 127.0.0.1:8018\r\nOrigin: http://127.0.0.1:8018"), "200 OK"},
      {request("POST", "/status", "Host: 127.0.0.1:8018\r\nOrigin: http://127.0.0.1:8018"),
       "200 OK"},
  };
  for (const auto& c : kCases) {
    const std::string answer = Get(c.raw);
    EXPECT_EQ(answer.substr(0, answer.find("\r\n")), "HTTP/1.1 " + c.status) << c.raw;
    if (c.status != "200 OK") {
      EXPECT_NE(answer.find("Content-Type: application/problem+json\r\n"), std::string::npos);
    }
  }
  EXPECT_EQ(api.methods, std::vector<std::string>{"PUT"});
  EXPECT_EQ(status_.seen.size(), 1u);
  EXPECT_NE(log_text_.str().find("Web request from 127.0.0.1 for /status refused: POST from "
                                 "another site (http://evil.example)"),
            std::string::npos);
}

TEST_F(Web, PicturesGoOutInChunksOfAThousandBytesThenTheConnectionCloses) {
  WebFile("img/photo.png", std::string(1000, 'a') + std::string(1000, 'b') + std::string(500, 'c'));
  auto c = Connect();
  c->Send(GetLine("/img/photo.png"));
  ASSERT_TRUE(RunUntilClosed(c));
  const auto& sends = c->Sends();
  ASSERT_EQ(sends.size(), 4u);
  EXPECT_EQ(Plain(sends[0]).substr(0, Plain(sends[0]).find("Last-Modified")),
            "HTTP/1.1 200 OK\r\nServer: zyn\r\nDate:06-Dec-26\r\n");
  EXPECT_NE(sends[0].find("\r\nAccept-Ranges: bytes\r\nContent-Length: 2500\r\n"
                          "Connection: Close\r\nContent-Type: unknown/binary\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(sends[1] + sends[2] + sends[3], ReadFile(dir_.File("HTML/img/photo.png")));
  EXPECT_EQ(sends[3], std::string(500, 'c'));

  // Completions that never come: the first chunk goes at once; the second,
  // the third and the close each wait for the 5 s watchdog.
  const int64_t start = loop_.NowMs();
  auto slow = Open("/img/photo.png", false);
  ASSERT_TRUE(RunUntilClosed(slow, 60000));
  EXPECT_EQ(slow->Sends().size(), 4u);
  EXPECT_GE(loop_.NowMs() - start, 15000);
  EXPECT_LT(loop_.NowMs() - start, 16000);
  EXPECT_EQ(server_.OpenSocketCount(), 0);
}

TEST_F(Web, AClientThatVanishesDuringAChunkedFileLeavesTheServerServing) {
  WebFile("big.gif", std::string(50000, 'g'));
  WebFile("s.css", "css");
  auto c = Connect();
  c->SetAutoComplete(false);
  c->Send(GetLine("/big.gif"));
  At(6000, [&] { c->CompleteSends(); });
  At(6001, [&] { c->Close(); });
  ASSERT_TRUE(RunUntilClosed(c));
  EXPECT_GE(c->Sends().size(), 3u);  // the header and the first chunks
  EXPECT_LT(c->Sends().size(), 10u);
  auto other = Connect();
  other->Send(GetLine("/s.css"));
  ASSERT_TRUE(RunUntilClosed(other));
  EXPECT_NE(other->Received().find("\r\n\r\ncss"), std::string::npos);
  EXPECT_EQ(server_.OpenSocketCount(), 0);
  EXPECT_TRUE(server_.Queue().Empty());
}

TEST_F(Web, RequestsArrivingDuringADrainAreServedByThatDrainInOrder) {
  WebFile("a.gif", std::string(3000, 'a'));
  WebFile("s.css", "css");
  auto slow = Connect();
  slow->SetAutoComplete(false);
  slow->Send(GetLine("/a.gif"));
  std::shared_ptr<FakeTcpPeer> quick;
  At(100, [&] {
    quick = listener_.Connect();
    quick->Send(GetLine("/s.css"));
  });
  std::string quick_meanwhile = "?";
  size_t queued_meanwhile = 0;
  bool timer_meanwhile = false;
  At(200, [&] {
    quick_meanwhile = quick->Received();
    queued_meanwhile = server_.Queue().Count();
    timer_meanwhile = server_.ServerTimerEnabled();
  });
  At(300, [&] {
    slow->SetAutoComplete(true);
    slow->CompleteSends();
  });
  Run(400);
  ASSERT_TRUE(quick);
  EXPECT_EQ(quick_meanwhile, "");  // one request after another
  EXPECT_EQ(queued_meanwhile, 1u);
  EXPECT_TRUE(timer_meanwhile);  // held at interval 0 while draining
  EXPECT_TRUE(slow->ClosedByServer());
  EXPECT_TRUE(quick->ClosedByServer());
  EXPECT_NE(quick->Received().find("\r\n\r\ncss"), std::string::npos);
  EXPECT_FALSE(server_.ServerTimerEnabled());
}

TEST_F(Web, ARequestIsAssembledFromItsPacketsAcrossDrains) {
  // Header and body packets queued together make one request.
  auto c = Connect();
  c->Send(Post("clientinput=ON&clientvalue=3"));
  c->Send("clientinput=ON&clientvalue=3");
  ASSERT_TRUE(RunUntilClosed(c));
  ASSERT_EQ(status_.seen.size(), 1u);
  EXPECT_EQ(status_.seen[0].method, "POST");
  EXPECT_EQ(status_.seen[0].form.size(), 2u);
  EXPECT_EQ(c->Sends().size(), 1u);

  // The request line and the body arrive long after the drain ran.
  status_.field_to_read = "b";
  auto d = Connect();
  d->Send("POST /sta");
  Run(500);
  d->Send(Post("a=1&b=2").substr(9));
  Run(500);
  d->Send("a=1&");
  Run(500);
  EXPECT_EQ(status_.seen.size(), 1u);
  d->Send("b=2");
  ASSERT_TRUE(RunUntilClosed(d));
  ASSERT_EQ(status_.seen.size(), 2u);
  EXPECT_EQ(status_.seen[1].form_field, "2");
}

TEST_F(Web, AtCapacityNewcomersWaitAndIdleConnectionsMakeRoomOldestFirst) {
  log_.SetDebugEnabled([] { return true; });
  // 24 connections that send nothing, 10 ms apart, and one whose answer is due.
  std::vector<std::shared_ptr<FakeTcpPeer>> idle;
  for (int i = 0; i < 24; ++i) {
    idle.push_back(listener_.Connect("127.0.0." + std::to_string(i + 1)));
    Run(10);
    if (i == 2) {
      EXPECT_EQ(server_.HighestSocket(), 7);
    }
  }
  EXPECT_EQ(server_.HighestSocket(), 25);
  auto asking = Connect();
  asking->Send(GetLine("/status?n=1"));
  EXPECT_EQ(server_.OpenSocketCount(), 25);
  EXPECT_FALSE(server_.Accepting());

  // The 26th waits (and may already send); nobody counted open is dropped.
  auto late = listener_.Connect("127.0.1.1");
  late->Send(GetLine("/status?n=2"));
  loop_.Pump();
  EXPECT_FALSE(late->Accepted());
  EXPECT_EQ(listener_.Waiting(), 1u);
  ASSERT_TRUE(RunUntilClosed(asking, 500));
  EXPECT_NE(asking->Received().find("<html>status</html>"), std::string::npos);
  // The freed socket goes to the newcomer, which gets its answer.
  ASSERT_TRUE(RunUntilClosed(late, 500));
  EXPECT_NE(late->Received().find("<html>status</html>"), std::string::npos);
  for (const auto& c : idle) EXPECT_FALSE(c->ClosedByServer());
  ASSERT_EQ(status_.seen.size(), 2u);
  EXPECT_EQ(status_.seen[1].query, "?n=2");

  // Full again with a newcomer waiting: connections idle for a second are
  // closed, oldest first, and the newest ones stay.
  auto last = Connect();
  auto late2 = listener_.Connect();
  late2->Send(GetLine("/status?n=3"));
  ASSERT_TRUE(RunUntilClosed(late2, 2000));
  EXPECT_NE(late2->Received().find("<html>status</html>"), std::string::npos);
  size_t closed = 0;
  while (closed < idle.size() && idle[closed]->ClosedByServer()) ++closed;
  EXPECT_GT(closed, 0u);
  EXPECT_LT(closed, idle.size());
  for (size_t i = closed; i < idle.size(); ++i) EXPECT_FALSE(idle[i]->ClosedByServer());
  EXPECT_FALSE(last->ClosedByServer());
  EXPECT_LT(log_text_.str().find("from 127.0.0.1 closed"),
            log_text_.str().find("from 127.0.0.2 closed"));
  EXPECT_TRUE(server_.Accepting());

  // Without a crowd the others wait for their own request time-out; the
  // pool keeps its size.
  Run(TCPServer::kRequestCloseMs);
  EXPECT_TRUE(last->ClosedByServer());
  EXPECT_EQ(server_.OpenSocketCount(), 0);
  EXPECT_EQ(server_.HighestSocket(), 25);
  EXPECT_EQ(Get(GetLine("/none")), kNotFound);
}

TEST_F(Web, IdleStuckOrOversizedConnectionsAreClosedByTheirOwnTimeOuts) {
  // No request within 10 s, whether silent or trickling a byte at a time.
  auto silent = Connect();
  auto partial = Connect();
  const std::string head = "GET /status HTTP/1.1\r\nHost: x\r\n";
  for (size_t i = 0; i < head.size(); ++i) {
    At(static_cast<int64_t>(i) * 300, [&, i] { partial->Send(head.substr(i, 1)); });
  }
  Run(9900);
  EXPECT_FALSE(silent->ClosedByServer());
  EXPECT_FALSE(partial->ClosedByServer());
  Run(700);
  EXPECT_TRUE(silent->ClosedByServer());
  EXPECT_TRUE(partial->ClosedByServer());
  EXPECT_EQ(partial->Received(), "");

  // An answer the client stops taking: the idle time-out, 30 s after the
  // last data.
  auto stalled = Open("/status", false);
  Run(28900);
  EXPECT_FALSE(stalled->ClosedByServer());
  EXPECT_NE(stalled->Received().find("<html>status</html>"), std::string::npos);
  Run(2000);
  EXPECT_TRUE(stalled->ClosedByServer());

  auto flood = Connect();
  for (int i = 0; i < 20 && !flood->ClosedByServer(); ++i) {
    flood->Send(std::string(100 * 1024, 'A'));
    Run(10);
  }
  EXPECT_TRUE(flood->ClosedByServer());
  EXPECT_EQ(server_.OpenSocketCount(), 0);
  EXPECT_TRUE(server_.Queue().Empty());
  EXPECT_EQ(status_.seen.size(), 1u);
}

TEST_F(Web, AClosedConnectionLeavesNothingBehindButAHalfClosedOneIsAnswered) {
  // The body never came: nothing of it is served, now or to the next
  // connection on the same socket.
  auto gone = Connect();
  gone->Send(Post("a=1&b=2"));
  gone->Send("a=1");
  gone->Close();
  Run(200);
  EXPECT_TRUE(gone->ClosedByServer());
  EXPECT_TRUE(server_.Queue().Empty());
  EXPECT_EQ(Get(GetLine("/none")), kNotFound);
  EXPECT_TRUE(status_.seen.empty());

  // A client that finished sending still reads its answer.
  auto half = Connect();
  half->Send(Post("a=1") + "a=1");
  half->FinishSending();
  ASSERT_TRUE(RunUntilClosed(half));
  EXPECT_EQ(status_.seen.size(), 1u);
  EXPECT_NE(half->Received().find("<html>status</html>"), std::string::npos);
  EXPECT_EQ(server_.OpenSocketCount(), 0);
}

TEST_F(Web, ListeningFollowsTheSettings) {
  EXPECT_EQ(server_.ListeningPort(), 8018);
  EXPECT_EQ(listener_.address, "");
  EXPECT_EQ(listener_.listen_calls, 1);
  server_.StartListening();  // same port: nothing changes
  EXPECT_EQ(listener_.listen_calls, 1);
  WriteFile(dir_.File("Config/Corvane.ini"),
            "[Vaux]\r\nHTTPPort=\"8020\"\r\nHTTPBindAddress=127.0.0.1\r\n");
  server_.StartListening();
  EXPECT_EQ(server_.ListeningPort(), 8020);
  EXPECT_EQ(listener_.address, "127.0.0.1");

  WriteFile(dir_.File("Config/Corvane.ini"), "[Vaux]\r\nHTTPPort=99999\r\n");
  server_.StartListening();
  EXPECT_NE(log_text_.str().find("[error log] Corvane StartListening 0 HTTPPort 99999 is not a "
                                 "port number"),
            std::string::npos);
  listener_.refuse_listen = true;
  WriteFile(dir_.File("Config/Corvane.ini"), "[Vaux]\r\nHTTPPort=8030\r\n");
  server_.StartListening();
  EXPECT_NE(log_text_.str().find("Address already in use"), std::string::npos);
  EXPECT_FALSE(server_.ServerTimerEnabled());
}

}  // namespace
}  // namespace corvane::testing
