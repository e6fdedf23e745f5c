// A web server on the fake transport and virtual time, with a temporary
// program folder, for the listener and response tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/ini_cache.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "support/fake_tcp.h"
#include "support/temp_dir.h"
#include "web/page_handler.h"
#include "web/request.h"
#include "web/response.h"
#include "web/tcp_server.h"

namespace corvane::testing {

// Records what the status page was asked and answers with a fixed text.
class FakeStatusPage : public StatusPageHandler {
 public:
  struct Seen {
    std::string method, page, query;
    std::vector<KeyValuePair> form;
    std::string form_field;  // Form(field_to_read)
  };
  std::string StatusPage(Request& request, Response& response) override {
    Seen s{request.Method(), request.page(), request.Query(), {}, request.Form(field_to_read)};
    for (const auto& p : request.FormCol()) s.form.push_back(p);
    seen.push_back(std::move(s));
    if (redirect) response.Redirect("");
    return answer;
  }
  std::vector<Seen> seen;
  std::string answer = "<html>status</html>";
  std::string field_to_read = "clientinput";
  bool redirect = false;
};

class WebFixture : public ::testing::Test {
 protected:
  WebFixture()
      : loop_(clock_),
        wall_(ToDateValue(CivilDateTime{2026, 12, 6, 8, 5, 9}), &clock_),
        log_(wall_, &log_text_),
        ini_(dir_.File("Config"), log_),
        listener_(loop_),
        server_(loop_, listener_, ini_, log_, wall_, dir_.path()) {
    std::filesystem::create_directories(dir_.File("Config"));
    std::filesystem::create_directories(dir_.File("HTML"));
    WriteFile(dir_.File("Config/Corvane.ini"), "[Vaux]\r\nHTTPPort=8018\r\n");
    server_.Load();
    server_.SetStatusPage(&status_);
  }

  // A file below the web folder, folders created as needed.
  void WebFile(const std::string& rel, const std::string& content) {
    std::filesystem::path p = dir_.File("HTML/" + rel);
    std::filesystem::create_directories(p.parent_path());
    WriteFile(p.string(), content);
  }

  std::shared_ptr<FakeTcpPeer> Connect(const std::string& address = "127.0.0.1") {
    auto c = listener_.Connect(address);
    loop_.Pump();
    return c;
  }
  // A connection that asked for `path` (a stream, say), a moment later;
  // without `auto_complete` the server's sends complete only on request.
  std::shared_ptr<FakeTcpPeer> Open(const std::string& path, bool auto_complete = true) {
    auto c = Connect();
    c->SetAutoComplete(auto_complete);
    c->Send(GetLine(path));
    Run(100);
    return c;
  }

  // Runs `fn` once, `ms` from now, from inside the loop (so also while a
  // handler waits in a nested pump).
  void At(int64_t ms, std::function<void()> fn) {
    auto t = std::make_unique<Timer>(loop_);
    Timer* raw = t.get();
    t->SetHandler([raw, fn] {
      raw->Stop();
      fn();
    });
    t->SetInterval(ms);
    t->Start();
    timers_.push_back(std::move(t));
  }

  // Runs the loop on virtual time for `ms`.
  void Run(int64_t ms) {
    loop_.PumpUntil([] { return false; }, loop_.NowMs() + ms);
  }
  // Runs until the client has been closed by the server (at most `ms`).
  bool RunUntilClosed(const std::shared_ptr<FakeTcpPeer>& c, int64_t ms = 60000) {
    return loop_.PumpUntil([&] { return c->ClosedByServer(); }, loop_.NowMs() + ms);
  }

  // One request in one packet from `address`; returns everything the server
  // answered, without the security headers, which every answer must carry
  // right after its status line.
  std::string Get(const std::string& raw, const std::string& address = "127.0.0.1") {
    auto c = Connect(address);
    c->Send(raw);
    RunUntilClosed(c);
    return Plain(c->Received());
  }
  static std::string Plain(std::string answer) {
    const size_t at = answer.find("\r\n") + 2;
    EXPECT_EQ(answer.compare(at, kSecurityHeaders.size(), kSecurityHeaders), 0) << answer;
    if (answer.compare(at, kSecurityHeaders.size(), kSecurityHeaders) == 0) {
      answer.erase(at, kSecurityHeaders.size());
    }
    return answer;
  }
  // Every needle is in the text.
  static void ExpectHas(const std::string& text, std::initializer_list<std::string> needles) {
    for (const std::string& n : needles) EXPECT_TRUE(Has(text, n)) << n;
  }
  bool Logged(const std::string& text) const { return Has(log_text_.str(), text); }
  static std::string GetLine(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:8018\r\nUser-Agent: test\r\n\r\n";
  }

  ManualClock clock_{1000};
  EventLoop loop_;
  ManualWallClock wall_;
  std::ostringstream log_text_;
  EventLog log_;
  TempDir dir_;
  IniCache ini_;
  FakeTcpListener listener_;
  TCPServer server_;
  FakeStatusPage status_;
  std::vector<std::unique_ptr<Timer>> timers_;
};

}  // namespace corvane::testing
