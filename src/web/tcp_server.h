// The HTTP listener and its socket pool: a plain listening socket and, when
// HTTPSPort is set, a TLS one, feeding one pool of up to 25 connection
// sockets and one first-in-first-out queue of everything that arrived,
// drained 50 ms after the first arrival. Each drained request is assembled
// (request_assembler.h), parsed and handed to the router (router.h), which
// answers through a Response; every answer ends with the connection closed.
// While all 25 sockets are in use, newcomers wait in the system's backlog;
// connections that are idle or stuck make room through their own
// time-outs, and an answer in progress is never cut off.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/tcp_listener.h"
#include "web/page_handler.h"
#include "web/request_queue.h"
#include "web/router.h"

namespace corvane {

class EventLog;
class IniCache;
class Request;
class Response;

// The head of a Server-Sent Events answer (the echo page's and the JSON
// API's streams); the browser reconnects 2 s after a dropped stream.
inline constexpr std::string_view kEventStreamHeader =
    "HTTP/1.1 200 OK\r\n"
    "Server: zyn\r\n"
    "Content-Type: text/event-stream; charset=utf-8\r\n"
    "Cache-Control: no-cache\r\n"
    "Connection: keep-alive\r\n"
    "X-Accel-Buffering: no\r\n"
    "\r\n"
    "retry: 2000\n\n";

class TCPServer {
 public:
  static constexpr int kHighestSocket = 25;
  static constexpr int kFirstSockets = 5;
  static constexpr int64_t kDrainDelayMs = 50;
  // A connection whose waiting data passes this is closed.
  static constexpr size_t kMaxQueuedBytes = 1024 * 1024;
  // A connection that neither sends nor takes data this long is closed.
  static constexpr int64_t kIdleCloseMs = 30000;
  // A connection that has not delivered a whole request this long after it
  // was accepted is closed (a client trickling a request byte by byte).
  static constexpr int64_t kRequestCloseMs = 10000;
  // While the pool is full, a connection not yet answered that has sent
  // nothing this long gives its socket to a waiting newcomer.
  static constexpr int64_t kCrowdedIdleCloseMs = 1000;
  static constexpr int64_t kSweepMs = 500;
  // Streaming connections may take at most this many sockets, so ordinary
  // requests always find room.
  static constexpr int kMaxStreamingSockets = 8;

  TCPServer(EventLoop& loop, TcpListener& listener, IniCache& ini, EventLog& log,
            const WallClock& wall, std::string program_folder);
  ~TCPServer();
  TCPServer(const TCPServer&) = delete;
  TCPServer& operator=(const TCPServer&) = delete;

  // Form load: the web folder, StartListening, the Data/Corvane folder.
  void Load();
  // Form unload: closes every socket and drops what is queued.
  void Unload();
  // Listens on HTTPPort (and HTTPBindAddress) unless already listening
  // there, and on HTTPSPort with TLSCertificate and TLSKey when a secure
  // listener is given and the port is set; reads the server's names for
  // the request gate (HTTPHostNames among them).
  void StartListening();
  // The listener for HTTPS; without one HTTPSPort is not served.
  void SetSecureListener(SecureTcpListener* listener) { secure_listener_ = listener; }

  // The page code for paths that begin with "/stat"; without one such
  // paths get the not-found page.
  void SetStatusPage(StatusPageHandler* handler) { router_.SetStatusPage(handler); }
  Router& Routes() { return router_; }

  const std::string& HtmlFolder() const { return html_folder_; }
  uint16_t ListeningPort() const { return listener_.LocalPort(); }
  uint16_t SecurePort() const { return secure_listener_ ? secure_listener_->LocalPort() : 0; }
  int16_t OpenSocketCount() const { return open_socket_count_; }
  int HighestSocket() const { return highest_; }
  const RequestQueue& Queue() const { return request_queue_; }
  bool ServerTimerEnabled() const { return server_timer_.Enabled(); }

  // --- the connection sockets, as the response writers use them ---------
  int SocketState(int index) const;
  // Connected, or the peer has only finished sending: an answer can go out.
  bool SocketConnected(int index) const {
    const int state = SocketState(index);
    return state == TcpConnection::kConnected || state == TcpConnection::kClosing;
  }
  std::string RemoteAddress(int index) const;
  const std::string& SocketTag(int index) const;
  void SetSocketTag(int index, std::string tag);
  bool SocketSend(int index, std::string_view bytes);
  bool SendDone(int index) const;
  void SetSendDone(int index, bool done);
  // Arms the chunk watchdog of a socket.
  void ArmSendWatchdog(int index, int64_t ms);
  // The send-completion handler (also called by the chunked sender); it
  // closes the connection unless a chunked file is still being sent.
  void SendComplete(int index);
  // The close handler (the peer closed, or called directly). A peer that
  // only finished sending keeps its connection while its request waits to
  // be answered.
  void socket_Close(int index);
  // A streaming connection (a page that keeps sending events) stays open
  // after its sends complete and is exempt from the time-outs; it still
  // takes a socket of the pool. False when kMaxStreamingSockets already
  // stream or the socket has no connection.
  bool SetStreaming(int index, bool streaming);
  bool Streaming(int index) const { return Valid(index) && sockets_[index].streaming; }
  // Whether new connections are taken now (false while the pool is full).
  bool Accepting() const { return accepting_; }

  // --- added pages and long-lived answers ------------------------------
  // Requests whose path begins with `prefix` ("/echo"; letter case ignored)
  // go to `handler`, after the status and help pages (Router::AddPage).
  void AddPage(std::string prefix, PageHandler* handler) {
    router_.AddPage(std::move(prefix), handler);
  }
  // A stream is a streaming connection (SetStreaming) named by a handle
  // that dies with the connection, so data for a viewer that left never
  // reaches the next connection on the same socket. Returns the handle, or
  // 0 when no stream may start (kMaxStreamingSockets already stream).
  // A stream whose peer does not take its data is ended past this backlog.
  static constexpr size_t kMaxStreamBacklog = 256 * 1024;
  uint64_t BeginStream(int index);
  // Sends on a stream; false when the stream is over (its connection closed,
  // or too much of its data waits unsent: it is then closed).
  bool StreamSend(uint64_t stream, std::string_view bytes);
  int StreamCount() const;

  EventLoop& loop() { return loop_; }
  EventLog& log() { return log_; }
  const WallClock& wall() const { return wall_; }

 private:
  struct Socket {
    bool loaded = false;
    std::unique_ptr<TcpConnection> connection;
    std::string tag;
    int64_t accepted_ms = 0;
    int64_t last_activity_ms = 0;
    // A request of this connection has been taken from the queue.
    bool served = false;
    bool streaming = false;
    // The start of a request still waiting for the rest of its data.
    std::string held;
    // The handle of the stream this connection carries; 0 for none.
    uint64_t stream = 0;
    // Accepted by the TLS listener.
    bool secure = false;
    // The start of the answer has gone out (with the security headers).
    bool head_sent = false;
  };
  int StreamSocket(uint64_t stream) const;
  // Sends on a connection; the first bytes get the security headers.
  bool Transmit(int index, std::string_view bytes);

  // Each returns a description of what failed, or nothing.
  std::optional<std::string> ListenPlain(const std::string& address);
  std::optional<std::string> ListenSecure(const std::string& address);
  void LoadHostNames(const std::string& address);
  std::string Setting(std::string_view key, std::string_view fallback = "") const;

  void ConnectionRequest(std::unique_ptr<TcpConnection> connection, bool secure);
  void DataArrival(int index, std::string data);
  void ProcessRequestQueue();
  void ServeNext();
  void TCPBinarySendTimerTick(int index);
  void CloseIdleConnections();
  // When an open connection is closed by its time-outs, as things stand.
  int64_t DeadlineOf(int index, bool crowded) const;
  // Stops or resumes taking connections as the pool fills or frees.
  void UpdateAccepting();

  void LoadSocket(int index);
  void UnloadSocket(int index);
  // The close steps: uncount an open connection, close it, drop its data.
  void CloseConnection(int index);
  // Closes a socket's connection without counting (pool reset, shutdown).
  void DropConnection(int index);
  bool Valid(int index) const { return index >= 1 && index <= kHighestSocket; }

  EventLoop& loop_;
  TcpListener& listener_;
  IniCache& ini_;
  EventLog& log_;
  const WallClock& wall_;
  std::string program_folder_;
  std::string html_folder_;
  Router router_;
  SecureTcpListener* secure_listener_ = nullptr;
  // Port, certificate and key the secure listener was started with.
  std::string secure_setup_;
  uint64_t last_stream_ = 0;

  std::array<Socket, kHighestSocket + 1> sockets_;
  std::array<bool, kHighestSocket + 1> send_done_{};
  std::vector<std::unique_ptr<Timer>> binary_send_timers_;  // TCPBinarySendTimer, by index
  int highest_ = 0;
  int16_t open_socket_count_ = 0;
  int16_t next_socket_ = 0;
  int serving_ = 0;  // the socket whose request is being answered
  bool accepting_ = true;
  RequestQueue request_queue_;
  Timer server_timer_;
  Timer idle_timer_;
};

}  // namespace corvane
