#include "web/tcp_server.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <fstream>
#include <iterator>
#include <limits>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "config/settings.h"
#include "core/text.h"
#include "core/guard.h"
#include "web/request.h"
#include "web/response.h"
#include "web/web_files.h"

namespace corvane {

namespace {

std::string ReplaceIgnoreCase(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  size_t start = 0;
  for (size_t at = FindIgnoreCase(text, from); at != std::string_view::npos;
       at = FindIgnoreCase(text, from, start)) {
    out.append(text.substr(start, at - start)).append(to);
    start = at + from.size();
  }
  out.append(text.substr(start));
  return out;
}

}  // namespace

TCPServer::TCPServer(EventLoop& loop, TcpListener& listener, IniCache& ini, EventLog& log,
                     const WallClock& wall, std::string program_folder)
    : loop_(loop),
      listener_(listener),
      ini_(ini),
      log_(log),
      wall_(wall),
      program_folder_(std::move(program_folder)),
      server_timer_(loop),
      idle_timer_(loop) {
  server_timer_.SetHandler([this] { ProcessRequestQueue(); });
  idle_timer_.SetHandler([this] { CloseIdleConnections(); });
  idle_timer_.SetInterval(kSweepMs);
  for (int i = 0; i <= kHighestSocket; ++i) {
    binary_send_timers_.push_back(
        std::make_unique<Timer>(loop_, [this, i] { TCPBinarySendTimerTick(i); }));
  }
}

TCPServer::~TCPServer() {
  Unload();
}

void TCPServer::Load() {
  html_folder_ = JoinPath(program_folder_, "HTML");
  StartListening();
  CreateFolders(JoinPath(program_folder_, "Data/Corvane/x"), &log_);
}

void TCPServer::StartListening() {
  // Listening starts with the program, before the xAP transport exists:
  // failures go to the error log, as start-up failures do.
  try {
    const std::string port_text =
        RemoveQuotes(ini_.GetIniSetting(kSettingsSection, "HTTPPort", "8018", kMainIniFile));
    const double port = LeadingNumber(port_text);
    if (!port_text.empty() && port != listener_.LocalPort()) {
      if (!(port >= 1 && port <= 65535) || port != static_cast<int>(port)) {
        throw std::runtime_error("HTTPPort " + port_text + " is not a port number");
      }
      const std::string address = std::string(TrimWhite(
          RemoveQuotes(ini_.GetIniSetting(kSettingsSection, "HTTPBindAddress", "", kMainIniFile))));
      std::string error;
      listener_.Close();
      if (!listener_.Listen(
              address, static_cast<uint16_t>(port),
              [this](std::unique_ptr<TcpConnection> c) { ConnectionRequest(std::move(c)); },
              &error)) {
        throw std::runtime_error(error);
      }
      for (int i = 1; i <= kFirstSockets; ++i) LoadSocket(i);
      open_socket_count_ = 0;
      next_socket_ = 0;
      accepting_ = true;
      listener_.SetAccepting(true);
      log_.Note("Web server listening on " + (address.empty() ? std::string("*") : address) + ":" +
                std::to_string(listener_.LocalPort()));
    }
  } catch (const std::exception& e) {
    log_.WriteErrorLog("Corvane", "StartListening", e.what());
  }
  server_timer_.SetEnabled(false);
  server_timer_.SetInterval(0);
}

void TCPServer::Unload() {
  for (int i = 1; i <= kHighestSocket; ++i) {
    Guard(log_, "Unload", [&] {
      DropConnection(i);
      UnloadSocket(i);
    });
  }
  listener_.Close();
  request_queue_.Clear();
  server_timer_.SetEnabled(false);
  idle_timer_.SetEnabled(false);
  highest_ = 0;
  open_socket_count_ = 0;
}

// --- the socket pool --------------------------------------------------------

void TCPServer::LoadSocket(int index) {
  if (!Valid(index)) return;
  sockets_[index].loaded = true;
  if (index > highest_) highest_ = index;
}

void TCPServer::UnloadSocket(int index) {
  if (!Valid(index)) return;
  Socket& s = sockets_[index];
  s.loaded = false;
  s.tag.clear();
  binary_send_timers_[index]->SetEnabled(false);
  send_done_[index] = false;
  while (highest_ > 0 && !sockets_[highest_].loaded) --highest_;
}

void TCPServer::DropConnection(int index) {
  if (!Valid(index)) return;
  Socket& s = sockets_[index];
  request_queue_.RemoveSocket(index);
  s.held.clear();
  s.streaming = false;
  s.stream = 0;
  if (!s.connection) return;
  s.connection->Close();
  // The object may be inside one of its own event handlers: release it
  // from the loop.
  std::shared_ptr<TcpConnection> gone = std::move(s.connection);
  loop_.Defer([gone] {});
}

int TCPServer::SocketState(int index) const {
  if (!Valid(index)) return TcpConnection::kClosed;
  const Socket& s = sockets_[index];
  return s.loaded && s.connection ? s.connection->State() : TcpConnection::kClosed;
}

std::string TCPServer::RemoteAddress(int index) const {
  if (!Valid(index) || !sockets_[index].connection) return {};
  return sockets_[index].connection->RemoteAddress();
}

const std::string& TCPServer::SocketTag(int index) const {
  static const std::string kNone;
  return Valid(index) ? sockets_[index].tag : kNone;
}

void TCPServer::SetSocketTag(int index, std::string tag) {
  if (Valid(index)) sockets_[index].tag = std::move(tag);
}

bool TCPServer::SocketSend(int index, std::string_view bytes) {
  if (!SocketConnected(index)) return false;
  return sockets_[index].connection->Send(bytes);
}

bool TCPServer::SendDone(int index) const {
  return Valid(index) && send_done_[index];
}

void TCPServer::SetSendDone(int index, bool done) {
  if (Valid(index)) send_done_[index] = done;
}

void TCPServer::ArmSendWatchdog(int index, int64_t ms) {
  if (!Valid(index)) return;
  binary_send_timers_[index]->SetInterval(ms);
  binary_send_timers_[index]->SetEnabled(true);
}

// --- socket events ----------------------------------------------------------

void TCPServer::ConnectionRequest(std::unique_ptr<TcpConnection> connection) {
  Guard(log_, "socket_ConnectionRequest ", [&] {
    while (open_socket_count_ >= highest_ - 4 && highest_ < kHighestSocket) {
      LoadSocket(highest_ + 1);
    }
    // Round robin over the connection sockets for a closed one; when the
    // count has drifted from the sockets' states and none is closed, the
    // connection is refused rather than searched for without end.
    int chosen = 0;
    for (int tries = 0; tries < highest_ && chosen == 0; ++tries) {
      next_socket_ = static_cast<int16_t>((next_socket_ + 1) % (highest_ + 1));
      if (next_socket_ == 0) next_socket_ = 1;
      if (sockets_[next_socket_].loaded && SocketState(next_socket_) == TcpConnection::kClosed) {
        chosen = next_socket_;
      }
    }
    if (chosen == 0) {
      connection->Close();
      throw std::runtime_error("no free socket for a connection from " +
                               connection->RemoteAddress());
    }
    ++open_socket_count_;
    Socket& s = sockets_[chosen];
    if (s.connection) DropConnection(chosen);
    s.tag.clear();
    s.held.clear();
    s.accepted_ms = s.last_activity_ms = loop_.NowMs();
    s.served = false;
    s.streaming = false;
    send_done_[chosen] = false;
    s.connection = std::move(connection);
    TcpConnection::Events events;
    events.on_data = [this, chosen](std::string data) { DataArrival(chosen, std::move(data)); };
    events.on_send_complete = [this, chosen] { SendComplete(chosen); };
    events.on_close = [this, chosen] { socket_Close(chosen); };
    s.connection->SetEvents(std::move(events));
    if (!idle_timer_.Enabled()) idle_timer_.Start();
    UpdateAccepting();
  });
}

void TCPServer::UpdateAccepting() {
  const bool room = open_socket_count_ < kHighestSocket;
  if (room == accepting_) return;
  accepting_ = room;
  listener_.SetAccepting(room);
  if (!room) {
    log_.DebugEvent("Corvane Debug", "Web server: all " + std::to_string(kHighestSocket) +
                                         " connection sockets in use, new connections wait");
  }
}

bool TCPServer::SetStreaming(int index, bool streaming) {
  if (!Valid(index) || !sockets_[index].connection) return false;
  if (streaming && !sockets_[index].streaming) {
    const auto streams = std::count_if(sockets_.begin(), sockets_.end(),
                                       [](const Socket& s) { return s.streaming; });
    if (streams >= kMaxStreamingSockets) return false;
  }
  sockets_[index].streaming = streaming;
  sockets_[index].last_activity_ms = loop_.NowMs();
  return true;
}

void TCPServer::DataArrival(int index, std::string data) {
  Guard(log_, "socket_DataArrival ", [&] {
    Socket& s = sockets_[index];
    s.last_activity_ms = loop_.NowMs();
    if (request_queue_.BytesOf(index) + s.held.size() + data.size() > kMaxQueuedBytes) {
      log_.LogEvent("Corvane", "socket_DataArrival connection from " + RemoteAddress(index) +
                                   " closed: more request data than the server takes");
      CloseConnection(index);
      return;
    }
    request_queue_.Add(index, std::move(data));
    // While a drain runs the timer stays enabled at interval 0: the running
    // drain takes the new item.
    if (!server_timer_.Enabled()) {
      server_timer_.SetInterval(kDrainDelayMs);
      server_timer_.SetEnabled(true);
    }
  });
}

void TCPServer::SendComplete(int index) {
  Guard(log_, "Socket_SendComplete", [&] {
    if (!Valid(index)) return;
    binary_send_timers_[index]->SetEnabled(false);
    send_done_[index] = true;
    sockets_[index].last_activity_ms = loop_.NowMs();
    if (sockets_[index].tag != "1" && !sockets_[index].streaming) CloseConnection(index);
  });
}

void TCPServer::socket_Close(int index) {
  Guard(log_, "socket_Close ", [&] {
    if (!Valid(index)) return;
    const bool answer_owed = request_queue_.Holds(index) || serving_ == index;
    if (SocketState(index) == TcpConnection::kClosing && answer_owed) return;
    CloseConnection(index);
  });
}

void TCPServer::CloseConnection(int index) {
  if (SocketState(index) != TcpConnection::kClosed) --open_socket_count_;
  // Nothing of a connection that is gone is processed.
  DropConnection(index);
  UpdateAccepting();
}

void TCPServer::TCPBinarySendTimerTick(int index) {
  Guard(log_, "TCPBinarySendTimer_Timer", [&] {
    binary_send_timers_[index]->SetEnabled(false);
    send_done_[index] = true;
  });
}

int64_t TCPServer::DeadlineOf(int index, bool crowded) const {
  constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
  const Socket& s = sockets_[index];
  // An answer owed or in progress is never cut off by these time-outs; a
  // chunked file has its own watchdog, a stalled send the idle time-out.
  if (s.streaming || request_queue_.Holds(index) || serving_ == index) return kNever;
  int64_t deadline = s.last_activity_ms + kIdleCloseMs;
  if (!s.served && s.tag.empty()) {
    deadline = std::min(deadline, s.accepted_ms + kRequestCloseMs);
    if (crowded) deadline = std::min(deadline, s.last_activity_ms + kCrowdedIdleCloseMs);
  }
  return deadline;
}

void TCPServer::CloseIdleConnections() {
  const int64_t now = loop_.NowMs();
  const bool crowded = !accepting_;
  std::vector<int> due;
  bool any = false;
  for (int i = 1; i <= kHighestSocket; ++i) {
    if (SocketState(i) == TcpConnection::kClosed) continue;
    any = true;
    if (now >= DeadlineOf(i, crowded)) due.push_back(i);
  }
  // Oldest first: the sockets go to the newcomers in that order.
  std::stable_sort(due.begin(), due.end(), [this](int a, int b) {
    return sockets_[a].accepted_ms < sockets_[b].accepted_ms;
  });
  for (int i : due) {
    const Socket& s = sockets_[i];
    log_.DebugEvent("Corvane Debug", "Web connection " + std::to_string(i) + " from " +
                                         RemoteAddress(i) + " closed after " +
                                         std::to_string((now - s.accepted_ms) / 1000) +
                                         " s: no complete request, or idle");
    CloseConnection(i);
  }
  if (!any) idle_timer_.Stop();
}

// --- draining the queue -----------------------------------------------------

void TCPServer::ProcessRequestQueue() {
  // Interval 0 keeps the timer enabled without firing: receive events
  // during the drain only append, and this loop takes their items.
  server_timer_.SetInterval(0);
  while (!request_queue_.Empty()) {
    Guard(log_, "ProcessRequestQueue ", [&] { ServeNext(); });
  }
  server_timer_.SetEnabled(false);
}

void TCPServer::ServeNext() {
  RequestQueue::Item item = request_queue_.TakeFirst();
  const int index = item.index;
  if (!Valid(index) || !SocketConnected(index)) return;
  Socket& s = sockets_[index];
  std::string first = std::move(s.held);
  s.held.clear();
  first += item.data;
  // The start of a request waits for the rest; a peer that has finished
  // sending will never complete it.
  auto hold = [&](std::string text) {
    if (SocketState(index) == TcpConnection::kClosing) return CloseConnection(index);
    sockets_[index].held = std::move(text);
  };

  // A request's header block may come in several packets: it is served
  // once the block is whole.
  while (!HeaderBlockEnd(first) && request_queue_.FrontIs(index)) {
    first += request_queue_.TakeFirst().data;
  }
  if (!HeaderBlockEnd(first)) return hold(std::move(first));

  // With a Content-Length, a body still on its way is waited for, and a
  // body longer than announced is cut there.
  const auto length = AnnouncedContentLength(first);
  const size_t blank = first.find("\r\n\r\n");
  size_t body_in_first = 0;
  if (length && blank != std::string::npos) {
    const size_t body_at = blank + 4;
    body_in_first = first.size() - body_at;
    if (body_in_first + request_queue_.FrontBytesOf(index) < *length) {
      while (request_queue_.FrontIs(index)) first += request_queue_.TakeFirst().data;
      return hold(std::move(first));
    }
    if (body_in_first > *length) {
      first.resize(body_at + *length);
      body_in_first = *length;
    }
    // A body that began with the headers is read whole with them.
    if (body_in_first > 2) {
      while (body_in_first < *length && request_queue_.FrontIs(index)) {
        first += request_queue_.TakeFirst().data;
        body_in_first = first.size() - body_at;
      }
      if (body_in_first > *length) {
        first.resize(body_at + *length);
        body_in_first = *length;
      }
    }
  }

  sockets_[index].served = true;
  Request request(&log_);
  request.remoteip(RemoteAddress(index));
  request.ParsePage(first);
  if (request.Method() == "POST" || (length && *length > body_in_first)) {
    // The body came in packets of its own (a form post, or a JSON API
    // write): collect what this connection sent after the headers.
    std::string body;
    while (request_queue_.FrontIs(index)) body += request_queue_.TakeFirst().data;
    if (length) {
      const size_t rest = *length - std::min(*length, body_in_first);
      if (body.size() > rest) body.resize(rest);
    }
    if (!body.empty()) request.AddPostData(body);
  }

  Response response(*this);
  response.index(static_cast<int16_t>(index));
  serving_ = index;
  try {
    Route(request, response, index);
  } catch (...) {
    if (!response.Answered()) response.SendErrorResponse(index);
    serving_ = 0;
    throw;
  }
  serving_ = 0;
}

void TCPServer::Route(Request& request, Response& response, int index) {
  const std::string key = ReplaceAll(ToLower(request.page()), "/", "\\");
  const std::string ext = key.size() > 4 ? key.substr(key.size() - 4) : key;
  const std::string_view head = std::string_view(key).substr(0, 5);
  if (ext == ".jpg" || ext == ".gif" || ext == ".png" || ext == ".wmz") {
    response.SendBinaryFile(key, index);
  } else if (ext == ".css") {
    response.SendTextFile(key, index);
  } else if (head == "\\stat") {
    if (!status_page_) return response.SendErrorResponse(index);
    std::string page = status_page_->StatusPage(request, response);
    if (!response.Answered()) response.SendTextString(page, index);
  } else if (head == "\\help") {
    auto sub = key.size() > 6 && key[5] == '\\' ? HelpSubPage(key.substr(6)) : std::nullopt;
    response.SendTextString(sub ? *sub : HelpPage(), index);
  } else if (key == "\\") {
    response.SendRedirect("/status", index);
  } else if (PageHandler* page = AddedPage(key)) {
    page->ServePage(request, response, index);
  } else {
    response.SendErrorResponse(index);
  }
}

std::optional<std::string> TCPServer::HelpSubPage(std::string_view name) const {
  if (name.empty() || name.size() > 40) return std::nullopt;
  for (char c : name) {
    if (!std::isalpha(static_cast<unsigned char>(c))) return std::nullopt;
  }
  const auto file =
      FindFileIgnoringCase(JoinPath(program_folder_, "HTML/Help/Corvane/" + std::string(name) + ".htm"));
  if (!file) return std::nullopt;
  std::ifstream in(file->path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// --- added pages and streams ------------------------------------------------

void TCPServer::AddPage(std::string prefix, PageHandler* handler) {
  pages_.emplace_back(ReplaceAll(ToLower(prefix), "/", "\\"), handler);
}

PageHandler* TCPServer::AddedPage(std::string_view key) const {
  for (const auto& [prefix, handler] : pages_) {
    if (key.substr(0, prefix.size()) == prefix) return handler;
  }
  return nullptr;
}

uint64_t TCPServer::BeginStream(int index) {
  if (!SocketConnected(index) || !SetStreaming(index, true)) return 0;
  sockets_[index].stream = ++last_stream_;
  return last_stream_;
}

int TCPServer::StreamSocket(uint64_t stream) const {
  if (stream == 0) return 0;
  for (int i = 1; i <= kHighestSocket; ++i) {
    if (sockets_[i].stream == stream) return i;
  }
  return 0;
}

bool TCPServer::StreamSend(uint64_t stream, std::string_view bytes) {
  const int index = StreamSocket(stream);
  if (index == 0 || !SocketConnected(index)) return false;
  Socket& s = sockets_[index];
  if (s.connection->PendingSendBytes() > kMaxStreamBacklog) {
    log_.LogEvent("Corvane", "StreamSend connection from " + RemoteAddress(index) +
                                 " closed: it does not take its data");
    CloseConnection(index);
    return false;
  }
  s.last_activity_ms = loop_.NowMs();
  return s.connection->Send(bytes);
}

int TCPServer::StreamCount() const {
  int count = 0;
  for (int i = 1; i <= kHighestSocket; ++i) {
    if (sockets_[i].stream != 0 && sockets_[i].streaming) ++count;
  }
  return count;
}

std::string TCPServer::HelpPage() const {
  const std::string path = JoinPath(program_folder_, "HTML/Help/Corvane/Corvane.htm");
  if (auto file = FindFileIgnoringCase(path)) {
    std::ifstream in(file->path, std::ios::binary);
    if (in) {
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      return ReplaceIgnoreCase(text, "Corvane_files", "help/Corvane/Corvane_files");
    }
  }
  return "Sorry, Help from " + path + " is not available";
}

}  // namespace corvane
