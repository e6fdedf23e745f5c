#include "web/tcp_server.h"

#include <algorithm>
#include <limits>

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "web/request.h"
#include "web/request_assembler.h"
#include "web/response.h"

namespace corvane {

TCPServer::TCPServer(EventLoop& loop, TcpListener& listener, IniCache& ini, EventLog& log,
                     const WallClock& wall, std::string program_folder)
    : loop_(loop),
      listener_(listener),
      ini_(ini),
      log_(log),
      wall_(wall),
      program_folder_(std::move(program_folder)),
      router_(log, program_folder_),
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

std::string TCPServer::Setting(std::string_view key, std::string_view fallback) const {
  return std::string(
      TrimWhite(RemoveQuotes(ini_.GetIniSetting(kSettingsSection, key, fallback, kMainIniFile))));
}

void TCPServer::StartListening() {
  const std::string address = Setting("HTTPBindAddress");
  // Listening starts with the program, before the xAP transport exists:
  // failures go to the error log, as start-up failures do.
  for (auto error : {ListenPlain(address), ListenSecure(address)}) {
    if (error) log_.WriteErrorLog("Corvane", "StartListening", *error);
  }
  LoadHostNames(address);
  server_timer_.SetEnabled(false);
  server_timer_.SetInterval(0);
}

namespace {

// A port setting's number; nothing (with `error` set) when it is no port.
std::optional<uint16_t> PortSetting(std::string_view key, const std::string& text,
                                    std::string* error) {
  const double port = LeadingNumber(text);
  if (!(port >= 1 && port <= 65535) || port != static_cast<int>(port)) {
    *error = std::string(key) + " " + text + " is not a port number";
    return std::nullopt;
  }
  return static_cast<uint16_t>(port);
}

}  // namespace

std::optional<std::string> TCPServer::ListenPlain(const std::string& address) {
  const std::string port_text = Setting("HTTPPort", kDefaultHttpPort);
  std::string error;
  const auto port = PortSetting("HTTPPort", port_text, &error);
  if (port_text.empty() || LeadingNumber(port_text) == listener_.LocalPort()) return std::nullopt;
  if (!port) return error;
  listener_.Close();
  if (!listener_.Listen(
          address, *port,
          [this](std::unique_ptr<TcpConnection> c) { ConnectionRequest(std::move(c), false); },
          &error)) {
    return error;
  }
  for (int i = 1; i <= kFirstSockets; ++i) LoadSocket(i);
  open_socket_count_ = 0;
  next_socket_ = 0;
  accepting_ = true;
  listener_.SetAccepting(true);
  log_.Note("Web server listening on " + (address.empty() ? std::string("*") : address) + ":" +
            std::to_string(listener_.LocalPort()));
  return std::nullopt;
}

std::optional<std::string> TCPServer::ListenSecure(const std::string& address) {
  if (!secure_listener_) return std::nullopt;
  const std::string port_text = Setting("HTTPSPort");
  // Relative file names are taken from the program folder.
  auto file = [this](const std::string& name) {
    return name.empty() || name[0] == '/' ? name : JoinPath(program_folder_, name);
  };
  const std::string certificate = file(Setting("TLSCertificate"));
  const std::string key = file(Setting("TLSKey"));
  const std::string setup = port_text + "\n" + certificate + "\n" + key;
  if (setup == secure_setup_ && (port_text.empty() || secure_listener_->LocalPort() != 0)) {
    return std::nullopt;
  }
  secure_listener_->Close();
  secure_setup_ = setup;
  if (port_text.empty()) return std::nullopt;
  std::string error;
  const auto port = PortSetting("HTTPSPort", port_text, &error);
  if (!port) return error;
  if (certificate.empty() || key.empty()) return "HTTPSPort needs TLSCertificate and TLSKey";
  if (!secure_listener_->LoadCertificate(certificate, key, &error) ||
      !secure_listener_->Listen(
          address, *port,
          [this](std::unique_ptr<TcpConnection> c) { ConnectionRequest(std::move(c), true); },
          &error)) {
    secure_listener_->Close();
    return "HTTPS: " + error;
  }
  for (int i = 1; i <= kFirstSockets; ++i) LoadSocket(i);
  secure_listener_->SetAccepting(accepting_);
  log_.Note("Web server listening for HTTPS on " + (address.empty() ? std::string("*") : address) +
            ":" + std::to_string(secure_listener_->LocalPort()));
  return std::nullopt;
}

void TCPServer::LoadHostNames(const std::string& address) {
  std::vector<std::string> own = ComputerNames(ComputerName());
  if (!address.empty()) own.push_back(address);
  router_.Gate().SetNames(std::move(own), NameList(Setting("HTTPHostNames")));
}

void TCPServer::Unload() {
  for (int i = 1; i <= kHighestSocket; ++i) {
    Guard(log_, "Unload", [&] {
      DropConnection(i);
      UnloadSocket(i);
    });
  }
  listener_.Close();
  if (secure_listener_) secure_listener_->Close();
  secure_setup_.clear();
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
  return Transmit(index, bytes);
}

bool TCPServer::Transmit(int index, std::string_view bytes) {
  Socket& s = sockets_[index];
  if (s.head_sent) return s.connection->Send(bytes);
  s.head_sent = true;
  return s.connection->Send(WithSecurityHeaders(bytes));
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

void TCPServer::ConnectionRequest(std::unique_ptr<TcpConnection> connection, bool secure) {
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
    s.secure = secure;
    s.head_sent = false;
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
  if (secure_listener_) secure_listener_->SetAccepting(room);
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
  // What this connection sent in one go: the item and those right behind it.
  std::vector<std::string> packets{std::move(item.data)};
  while (request_queue_.FrontIs(index)) packets.push_back(request_queue_.TakeFirst().data);
  const auto raw = AssembleRequest(s.held, packets);
  if (!raw) {
    // The start of a request waits for the rest; a peer that has finished
    // sending will never complete it.
    if (SocketState(index) == TcpConnection::kClosing) return CloseConnection(index);
    for (const auto& packet : packets) s.held += packet;
    return;
  }
  s.held.clear();
  s.served = true;
  Request request(&log_);
  request.remoteip(RemoteAddress(index));
  request.SetSecure(s.secure);
  ParseRawRequest(*raw, request);

  Response response(*this);
  response.index(static_cast<int16_t>(index));
  serving_ = index;
  const bool served =
      Guard(log_, "ProcessRequestQueue ", [&] { router_.Dispatch(request, response, index); });
  serving_ = 0;
  if (!served && !response.Answered()) response.SendErrorResponse(index);
}

// --- streams ----------------------------------------------------------------

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
  return Transmit(index, bytes);
}

int TCPServer::StreamCount() const {
  int count = 0;
  for (int i = 1; i <= kHighestSocket; ++i) {
    if (sockets_[i].stream != 0 && sockets_[i].streaming) ++count;
  }
  return count;
}

}  // namespace corvane
