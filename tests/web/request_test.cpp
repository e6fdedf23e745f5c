// The pure request work: parsing (request line, pairs, headers, decoding),
// assembling a request from its packets, and the gate's verdicts.
#include <gtest/gtest.h>

#include <sstream>

#include "core/event_log.h"
#include "platform/clock.h"
#include "web/request.h"
#include "web/request_assembler.h"
#include "web/request_gate.h"

namespace corvane {
namespace {

// One field of a parsed request by a short name: method, page, query,
// header, payload, q:KEY, f:KEY, sv:NAME, nq (query pair count), nf.
std::string Field(const Request& r, std::string_view what) {
  if (what == "method") return r.Method();
  if (what == "page") return r.page();
  if (what == "query") return r.Query();
  if (what == "header") return r.header();
  if (what == "payload") return r.Payload();
  if (what == "nq") return std::to_string(r.QueryStringCol().Count());
  if (what == "nf") return std::to_string(r.FormCol().Count());
  const std::string key(what.substr(what.find(':') + 1));
  if (what.starts_with("q:")) return r.QueryString(key);
  if (what.starts_with("f:")) return r.Form(key);
  return r.ServerVariables(key);
}

TEST(Request, ParsesTheRequestLineHeadersAndPairs) {
  const std::string get =
      "GET /status?x=1&y=a+b HTTP/1.1\r\nHost: 192.168.1.5:8018\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
  const std::string post = "POST /status HTTP/1.1\r\nHost: h\r\nContent-Length: 28\r\n\r\n";
  const std::string form = "name8=Kitchen+%26+Dining&tag8=a%3Db%26c&x=C%2B%2B+%3A+%5B1%5D";
  // Each request with the fields read from it.
  const struct {
    std::string raw;
    std::vector<std::pair<std::string, std::string>> fields;
  } kCases[] = {
      // clang-format off
      // The query is kept as sent: it goes back into addresses.
      {get, {{"method", "GET"}, {"page", "/status"}, {"query", "?x=1&y=a+b"}, {"q:x", "1"},
             {"q:Y", "a b"}, {"q:z", ""}, {"sv:REMOTE_ADDR", "192.168.1.5"},
             {"sv:remote_addr", "192.168.1.5"}, {"sv:HTTP_USER_AGENT", "Mozilla/5.0"},
             {"sv:host", "192.168.1.5:8018"}, {"sv:Referer", ""}, {"nf", "0"},
             {"header", "HTTP/1.1\r\nHost: 192.168.1.5:8018\r\nUser-Agent: Mozilla/5.0"}}},
      // Only header lines that split at ": " into two parts count; the first wins.
      {"GET / HTTP/1.1\r\nX-Time: 10: 20\r\nNoSep\r\nUser-Agent: a\r\nuser-agent: b\r\n\r\n",
       {{"sv:X-Time", ""}, {"sv:http_user_agent", "a"}, {"sv:REMOTE_ADDR", ""}}},
      {post + "clientinput=ON&clientvalue=3",
       {{"method", "POSTx"}, {"payload", "clientinput=ON&clientvalue=3"}, {"f:CLIENTVALUE", "3"}}},
      {post, {{"method", "POST"}, {"nf", "0"}}},
      {post + "a", {{"method", "POST"}}},  // one or two characters are no body
      {post + "\r\n", {{"payload", ""}}},
      {post + "a=1\r\n&b=2\r\n", {{"payload", "a=1&b=2"}, {"f:b", "2"}}},
      // The first of a key wins; malformed pieces are dropped.
      {"GET /s?a=1&a=2&A=3&b=x=y&c&=e&d=%5Bq%5D HTTP/1.1\r\n\r\n",
       {{"q:a", "1"}, {"q:b", "x"}, {"q:c", ""}, {"q:", "e"}, {"q:d", "[q]"}, {"nq", "4"}}},
      // Separators are split as sent, then each part decoded.
      {"GET /a%3Fb?v=1%262%3D3&name%3Dx=A+%26+B&p=%3F%25 HTTP/1.1\r\n\r\n",
       {{"page", "/a?b"}, {"q:v", "1&2=3"}, {"q:name=x", "A & B"}, {"q:p", "?%"}, {"nq", "3"}}},
      {"POST /s HTTP/1.1\r\n\r\n" + form,
       {{"f:name8", "Kitchen & Dining"}, {"f:tag8", "a=b&c"}, {"f:x", "C++ : [1]"},
        {"payload", "name8=Kitchen & Dining&tag8=a=b&c&x=C++ : [1]"}}},
      // Malformed request lines leave what they cannot fill empty.
      {"nospace", {{"method", ""}, {"page", ""}}},
      {"GET /status\r\n\r\n", {{"method", "GET"}, {"page", ""}, {"header", ""}}},
      // A target that mentions "http" keeps its query.
      {"GET /status?back=http://host/x HTTP/1.1\r\nHost: a\r\n\r\n",
       {{"page", "/status"}, {"q:back", "http://host/x"}, {"sv:host", "a"}}},
      // clang-format on
  };
  for (const auto& c : kCases) {
    Request r;
    r.ParsePage(c.raw);
    for (const auto& [what, expected] : c.fields) {
      EXPECT_EQ(Field(r, what), expected) << what << " of " << c.raw;
    }
  }

  // A body that came later is added to the form, decoded once.
  Request later;
  later.ParsePage(post);
  later.AddPostData(form + "&clientvalue=a%2Bb+c");
  EXPECT_EQ(later.Form("tag8"), "a=b&c");
  EXPECT_EQ(later.Form("clientvalue"), "a+b c");
  EXPECT_EQ(later.Method(), "POST");
  EXPECT_EQ(later.Payload(), "");

  std::ostringstream out;
  ManualWallClock wall(46000);
  EventLog log(wall, &out);
  Request no_target(&log);
  no_target.ParsePage("GET HTTP/1.1\r\n\r\n");
  EXPECT_NE(out.str().find("[Corvane] ParsePage i=4,j=5,len=16, Data=GET HTTP/1.1????"),
            std::string::npos);
}

TEST(Request, DecodesAndReadsRawText) {
  const std::pair<std::string, std::string> kDecode[] = {
      {"%41%62", "Ab"},
      {"%0A|%ZZ|%", " | | "},
      {"a+b%2B", "a b+"},
      {"%2541", "%41"},  // decoded once only
      {"%4", "@"},       // a missing digit counts 0
      {"%e9t%C3%A9", "\xe9t\xc3\xa9"},
  };
  for (const auto& [in, out] : kDecode) EXPECT_EQ(Request::Decode(in), out) << in;

  EXPECT_EQ(Request::GetContent("GET / HTTP/1.1\r\nA: b\r\n\r\nbody\r\n\r\nmore"),
            "body\r\n\r\nmore");
  EXPECT_EQ(Request::GetContent("GET / HTTP/1.1\r\n"), "");
  EXPECT_FALSE(HeaderBlockEnd("GET / HTTP/1.1\r\nHost: a\r\n"));
  EXPECT_EQ(HeaderBlockEnd("GET / HTTP/1.1\r\n\r\nxy"), 18u);
  EXPECT_EQ(HeaderBlockEnd("GET / HTTP/1.0\n\n"), 16u);
  const std::pair<std::string, std::optional<size_t>> kLengths[] = {
      {"content-length: 12\r\n\r\n", 12},
      {"Content-Length: 3\r\nContent-Length: 9\r\n\r\n", 3},
      {"Content-Length: -1\r\n\r\n", std::nullopt},
      {"Content-Length: 1e3\r\n\r\n", std::nullopt},
      {"\r\nContent-Length: 5\r\n", std::nullopt},  // in the body
  };
  for (const auto& [headers, length] : kLengths) {
    EXPECT_EQ(AnnouncedContentLength("POST / HTTP/1.1\r\n" + headers), length) << headers;
  }
}

TEST(RequestAssembler, WaitsForTheWholeRequestAndCutsItsBody) {
  const std::string head = "POST /s HTTP/1.1\r\nContent-Length: 7\r\n\r\n";
  const struct {
    std::string held;
    std::vector<std::string> packets;
    bool whole;
    std::string head, body;
  } kCases[] = {
      {"", {"GET / HTTP/1.1\r\n"}, false, "", ""},
      {"GET / HT", {"TP/1.1\r\n", "\r\n", "x"}, true, "GET / HTTP/1.1\r\n\r\n", "x"},
      {"", {head, "a=1"}, false, "", ""},
      // A body that came with the headers is read whole with them.
      {"", {head + "a=1", "&b=2"}, true, head + "a=1&b=2", ""},
      {"", {head + "a=1&b=2&c=evil"}, true, head + "a=1&b=2", ""},
      // One in later packets goes to the form separately, cut likewise.
      {"", {head, "a=1", "&b=2&c=evil"}, true, head, "a=1&b=2"},
      {"", {"POST / HTTP/1.1\r\n\r\n", "a=1"}, true, "POST / HTTP/1.1\r\n\r\n", "a=1"},
      // Lines ended by LF alone end the block but carry no header read.
      {"",
       {"POST / HTTP/1.1\nContent-Length: 2\n\n", "abc"},
       true,
       "POST / HTTP/1.1\nContent-Length: 2\n\n",
       "abc"},
  };
  for (const auto& c : kCases) {
    const auto raw = AssembleRequest(c.held, c.packets);
    ASSERT_EQ(raw.has_value(), c.whole) << c.packets[0];
    if (!raw) continue;
    EXPECT_EQ(raw->head, c.head);
    EXPECT_EQ(raw->body, c.body);
  }
  // A late body reaches the form of a request whose method stays "POST".
  Request r;
  ParseRawRequest(*AssembleRequest("", {head, "a=1&b=2"}), r);
  EXPECT_EQ(r.Method(), "POST");
  EXPECT_EQ(r.Form("b"), "2");
}

TEST(RequestGate, RefusesForeignHostsAndWritesFromOtherOrigins) {
  using V = RequestGate::Verdict;
  RequestGate gate;
  gate.SetNames(ComputerNames("Box.example.lan"), NameList(" Audio.Home , ,proxy"));
  const struct {
    std::string method, headers;
    bool secure;
    V verdict;
  } kCases[] = {
      {"GET", "Host: 127.0.0.1:8018", false, V::kPass},
      {"GET", "Host: [::1]:8018", false, V::kPass},
      {"GET", "Host: LOCALHOST.", false, V::kPass},
      {"GET", "Host: box", false, V::kPass},
      {"GET", "Host: box.local:8018", false, V::kPass},
      {"GET", "Host: box.example.lan", false, V::kPass},
      {"GET", "Host: audio.home", false, V::kPass},
      {"GET", "", false, V::kPass},  // no Host: no rebinding
      {"GET", "Host: evil.example:8018", false, V::kMisdirected},
      {"POST", "Host: evil.example", false, V::kMisdirected},
      {"GET", "Host: 127.0.0.1:99999", false, V::kMisdirected},
      {"GET", "Host: 10.0.0.1.evil.example", false, V::kMisdirected},
      // Writes: the Origin, else the Referer, must be the origin reached.
      {"POSTx", "Host: 127.0.0.1:8018\r\nOrigin: http://127.0.0.1:8018", false, V::kPass},
      {"POST", "Host: box:8018\r\nReferer: http://BOX:8018/status?x", false, V::kPass},
      {"DELETE", "Host: box:8018", false, V::kPass},  // names no origin: a tool
      {"GET", "Host: box:8018\r\nOrigin: http://evil.example", false, V::kPass},
      {"POSTx", "Host: 127.0.0.1:8018\r\nOrigin: http://evil.example", false, V::kForeignOrigin},
      {"PUT", "Host: box:8018\r\nReferer: http://evil.example/box:8018", false, V::kForeignOrigin},
      {"PATCH", "Host: box:8018\r\nOrigin: null", false, V::kForeignOrigin},
      {"POST", "Host: box:8018\r\nOrigin: http://box:8019", false, V::kForeignOrigin},
      {"POST", "Host: box:8018\r\nOrigin: https://box:8018", false, V::kForeignOrigin},
      {"POST", "Host: box\r\nOrigin: https://box", true, V::kPass},
      {"POST", "Host: box\r\nOrigin: http://box", true, V::kForeignOrigin},
      {"POST", "Host: box:443\r\nOrigin: https://box", true, V::kPass},
      {"POST", "Origin: http://box", false, V::kForeignOrigin},
      // Behind a proxy that ends TLS the page's origin is https.
      {"POST", "Host: audio.home\r\nOrigin: https://audio.home", false, V::kPass},
      {"POST", "Host: audio.home\r\nOrigin: https://audio.home:8443", false, V::kForeignOrigin},
  };
  for (const auto& c : kCases) {
    Request r;
    r.ParsePage(c.method + " /status HTTP/1.1\r\n" + c.headers + "\r\n\r\n");
    r.SetSecure(c.secure);
    EXPECT_EQ(gate.Check(r), c.verdict) << c.method << " " << c.headers;
  }
  EXPECT_EQ(ParseWebOrigin("https://u:p@[::1]:8443/x")->host, "[::1]");
  EXPECT_FALSE(ParseWebOrigin("ftp://box"));
}

}  // namespace
}  // namespace corvane
