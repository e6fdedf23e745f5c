// Request parsing: the request line, query and form pairs, the header
// values, URL decoding, and the helpers the listener uses on raw text.
#include <gtest/gtest.h>

#include <sstream>

#include "core/event_log.h"
#include "platform/clock.h"
#include "web/request.h"

namespace corvane {
namespace {

TEST(Request, GetWithQuery) {
  Request r;
  r.ParsePage(
      "GET /status?x=1&y=a+b HTTP/1.1\r\nHost: 192.168.1.5:8018\r\n"
      "User-Agent: Mozilla/5.0\r\n\r\n");
  EXPECT_EQ(r.Method(), "GET");
  EXPECT_EQ(r.page(), "/status");
  EXPECT_EQ(r.Query(), "?x=1&y=a+b");  // as sent: it goes back into addresses
  EXPECT_EQ(r.QueryString("x"), "1");
  EXPECT_EQ(r.QueryString("Y"), "a b");
  EXPECT_EQ(r.QueryString("z"), "");
  EXPECT_EQ(r.header(), "HTTP/1.1\r\nHost: 192.168.1.5:8018\r\nUser-Agent: Mozilla/5.0");
  EXPECT_EQ(r.ServerVariables("REMOTE_ADDR"), "192.168.1.5");
  EXPECT_EQ(r.ServerVariables("remote_addr"), "192.168.1.5");
  EXPECT_EQ(r.ServerVariables("HTTP_USER_AGENT"), "Mozilla/5.0");
  EXPECT_EQ(r.ServerVariables("host"), "192.168.1.5:8018");
  EXPECT_EQ(r.ServerVariables("Referer"), "");
  EXPECT_EQ(r.Payload(), "");
  EXPECT_EQ(r.FormCol().Count(), 0u);

  // Only lines that split at ": " into two parts count; the first wins.
  Request h;
  h.ParsePage(
      "GET / HTTP/1.1\r\nX-Time: 10: 20\r\nNoSeparator\r\nUser-Agent: a\r\n"
      "user-agent: b\r\n\r\n");
  EXPECT_EQ(h.ServerVariables("X-Time"), "");
  EXPECT_EQ(h.ServerVariables("http_user_agent"), "a");
  EXPECT_EQ(h.ServerVariables("REMOTE_ADDR"), "");
}

TEST(Request, PostBodyWithHeadersOrLater) {
  const std::string head = "POST /status HTTP/1.1\r\nHost: h\r\nContent-Length: 28\r\n\r\n";
  Request with_body;
  with_body.ParsePage(head + "clientinput=ON&clientvalue=3");
  EXPECT_EQ(with_body.Method(), "POSTx");
  EXPECT_EQ(with_body.Payload(), "clientinput=ON&clientvalue=3");
  EXPECT_EQ(with_body.Form("clientinput"), "ON");
  EXPECT_EQ(with_body.Form("CLIENTVALUE"), "3");

  Request later;
  later.ParsePage(head);
  EXPECT_EQ(later.Method(), "POST");
  EXPECT_EQ(later.FormCol().Count(), 0u);
  later.AddPostData("clientinput=ON&clientvalue=a%2Bb+c");
  EXPECT_EQ(later.Method(), "POST");
  EXPECT_EQ(later.Payload(), "");
  // Each value is decoded once: a "+" sent as %2B stays a "+".
  EXPECT_EQ(later.Form("clientvalue"), "a+b c");

  for (const char* tiny : {"a", "\r\n"}) {
    Request r;
    r.ParsePage(head + tiny);
    EXPECT_EQ(r.Method(), "POST");
    EXPECT_EQ(r.Payload(), "");
  }
  // Line breaks inside a body are dropped before it is read.
  Request broken;
  broken.ParsePage(head + "a=1\r\n&b=2\r\n");
  EXPECT_EQ(broken.Payload(), "a=1&b=2");
  EXPECT_EQ(broken.Form("b"), "2");
}

TEST(Request, DecodeRules) {
  EXPECT_EQ(Request::Decode("%41%62"), "Ab");
  EXPECT_EQ(Request::Decode("%0A|%ZZ|%"), " | | ");
  EXPECT_EQ(Request::Decode("a+b%2B"), "a b+");
  EXPECT_EQ(Request::Decode("%2541"), "%41");  // decoded once only
  EXPECT_EQ(Request::Decode("%4"), "@");       // a missing digit counts 0
  EXPECT_EQ(Request::Decode("%e9t%C3%A9"), "\xe9t\xc3\xa9");
}

TEST(Request, PairsKeepTheFirstOfAKeyAndDropWhatIsMalformed) {
  Request r;
  r.ParsePage("GET /s?a=1&a=2&A=3&b=x=y&c&=e&d=%5Bq%5D HTTP/1.1\r\n\r\n");
  EXPECT_EQ(r.QueryString("a"), "1");
  EXPECT_EQ(r.QueryString("b"), "x");
  EXPECT_FALSE(r.QueryStringCol().Contains("c"));
  EXPECT_EQ(r.QueryString(""), "e");
  EXPECT_EQ(r.QueryString("d"), "[q]");
  ASSERT_EQ(r.QueryStringCol().Count(), 4u);
  EXPECT_EQ(r.QueryStringCol()[2].KEY, "");
}

TEST(Request, EncodedSeparatorsStayInsideTheirNameOrValue) {
  // The text is split at the separators as sent, then each part decoded.
  Request q;
  q.ParsePage("GET /s?v=1%262%3D3&name%3Dx=Kitchen+%26+Dining&p=%3F%25 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(q.QueryString("v"), "1&2=3");
  EXPECT_EQ(q.QueryString("name=x"), "Kitchen & Dining");
  EXPECT_EQ(q.QueryString("p"), "?%");
  EXPECT_EQ(q.QueryStringCol().Count(), 3u);
  // An encoded "?" belongs to the path.
  Request path;
  path.ParsePage("GET /a%3Fb?c=d HTTP/1.1\r\n\r\n");
  EXPECT_EQ(path.page(), "/a?b");
  EXPECT_EQ(path.Query(), "?c=d");

  // A form as a browser sends it, whole or with the body in a later packet;
  // what the user typed comes back as typed.
  const std::string body = "name8=Kitchen+%26+Dining&tag8=a%3Db%26c&x=C%2B%2B+%3A+%5B1%5D";
  const std::string head =
      "POST /status HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  Request whole;
  whole.ParsePage(head + body);
  Request split;
  split.ParsePage(head);
  split.AddPostData(body);
  for (const Request* r : {&whole, &split}) {
    EXPECT_EQ(r->Form("name8"), "Kitchen & Dining");
    EXPECT_EQ(r->Form("tag8"), "a=b&c");
    EXPECT_EQ(r->Form("x"), "C++ : [1]");
    EXPECT_EQ(r->FormCol().Count(), 3u);
  }
  // Scripts still see the whole body decoded.
  EXPECT_EQ(whole.Payload(), "name8=Kitchen & Dining&tag8=a=b&c&x=C++ : [1]");
}

TEST(Request, MalformedRequestLines) {
  Request none;
  none.ParsePage("nospace");
  EXPECT_EQ(none.Method(), "");
  EXPECT_EQ(none.page(), "");

  Request no_http;
  no_http.ParsePage("GET /status\r\n\r\n");
  EXPECT_EQ(no_http.Method(), "GET");
  EXPECT_EQ(no_http.page(), "");
  EXPECT_EQ(no_http.header(), "");

  std::ostringstream out;
  ManualWallClock wall(46000);
  EventLog log(wall, &out);
  Request no_target(&log);
  no_target.ParsePage("GET HTTP/1.1\r\n\r\n");
  EXPECT_EQ(no_target.Method(), "GET");
  EXPECT_EQ(no_target.page(), "");
  EXPECT_NE(out.str().find("[Corvane] ParsePage i=4,j=5,len=16, Data=GET HTTP/1.1????"),
            std::string::npos);

  // A target that mentions "http" keeps its query.
  Request link;
  link.ParsePage("GET /status?back=http://host/x HTTP/1.1\r\nHost: a\r\n\r\n");
  EXPECT_EQ(link.page(), "/status");
  EXPECT_EQ(link.QueryString("back"), "http://host/x");
  EXPECT_EQ(link.ServerVariables("host"), "a");
}

TEST(Request, RawTextHelpers) {
  EXPECT_EQ(Request::GetContent("GET / HTTP/1.1\r\nA: b\r\n\r\nbody\r\n\r\nmore"),
            "body\r\n\r\nmore");
  EXPECT_EQ(Request::GetContent("GET / HTTP/1.1\r\n"), "");

  EXPECT_FALSE(HeaderBlockEnd("GET / HTTP/1.1\r\nHost: a\r\n"));
  EXPECT_EQ(HeaderBlockEnd("GET / HTTP/1.1\r\n\r\nxy"), 18u);
  EXPECT_EQ(HeaderBlockEnd("GET / HTTP/1.0\n\n"), 16u);

  EXPECT_EQ(AnnouncedContentLength("POST / HTTP/1.1\r\ncontent-length: 12\r\n\r\n"), 12u);
  EXPECT_EQ(AnnouncedContentLength("POST / HTTP/1.1\r\nContent-Length: 3\r\n"
                                   "Content-Length: 9\r\n\r\n"),
            3u);
  EXPECT_FALSE(AnnouncedContentLength("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"));
  EXPECT_FALSE(AnnouncedContentLength("POST / HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n"));
  EXPECT_FALSE(AnnouncedContentLength("POST / HTTP/1.1\r\n\r\nContent-Length: 5\r\n"));
}

}  // namespace
}  // namespace corvane
