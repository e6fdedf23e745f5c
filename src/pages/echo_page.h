// The live echo page: the echo window's text (the controller traffic and
// error reports, its last 10,000 characters), the link state label and a
// Freeze box, in the browser. "/echo" is the page; "/echo/stream" is a
// Server-Sent Events stream that starts with the whole text ("reset") and
// then carries each change as it happens ("append", "mark", "status"), so
// no viewer ever fetches the whole text again. Desktop front ends use the
// same stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"
#include "ui/echo_window.h"
#include "web/page_handler.h"

namespace corvane {

class EventLog;
class IniCache;
class PageBridge;
class PageHeader;
class SettingsStore;
class TCPServer;
class WallClock;
class WebSecurity;

// One Server-Sent Events message: "event: NAME\ndata: DATA\n\n".
std::string SseEvent(std::string_view name, std::string_view data);

class EchoPageModule final : public PageHandler {
 public:
  // A keep-alive comment goes out this often, so that a viewer that went
  // away is noticed and proxies keep the connection.
  static constexpr int64_t kKeepAliveMs = 15000;

  EchoPageModule(EventLoop& loop, TCPServer& server, EchoWindow& echo, IniCache& ini,
                 SettingsStore& settings, EventLog& log, const WallClock& wall, PageBridge& bridge,
                 WebSecurity& security, std::string program_folder);
  ~EchoPageModule() override;

  void ServePage(Request& request, Response& response, int index) override;

  // The token (see platform/instance_lock.h) that opens the stream without
  // a web login; empty: none does.
  void SetStreamToken(std::string token) { stream_token_ = std::move(token); }

  // The echo window's changes go to every open stream.
  void OnEchoChange(EchoWindow::Change change, std::string_view text);
  size_t StreamCount() const { return streams_.size(); }

 private:
  std::string Page();
  bool TokenOpensStream(const Request& request) const;
  void OpenStream(int index);
  void Broadcast(const std::string& event);
  void Report(std::string_view routine, std::string_view what);

  TCPServer& server_;
  EchoWindow& echo_;
  SettingsStore& settings_;
  EventLog& log_;
  std::unique_ptr<PageHeader> header_;
  std::vector<uint64_t> streams_;
  std::string stream_token_;
  Timer keep_alive_;
};

}  // namespace corvane
