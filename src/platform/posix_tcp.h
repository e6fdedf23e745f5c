// TCP server sockets of the system (non-blocking, watched by the event loop).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/event_loop.h"
#include "platform/tcp_listener.h"

namespace corvane {

class PosixTcpListener final : public TcpListener {
 public:
  // Makes the connection object for an accepted socket (non-blocking, its
  // peer's address as text); the TLS listener wraps sockets this way.
  using ConnectionFactory = std::function<std::unique_ptr<TcpConnection>(int fd, std::string peer)>;

  explicit PosixTcpListener(EventLoop& loop) : loop_(loop) {}
  void SetConnectionFactory(ConnectionFactory factory) { factory_ = std::move(factory); }
  ~PosixTcpListener() override;

  bool Listen(std::string_view address, uint16_t port, AcceptHandler on_accept,
              std::string* error) override;
  uint16_t LocalPort() const override { return port_; }
  void Close() override;
  void SetAccepting(bool accepting) override;

 private:
  void OnReadable();
  // Watches the listening socket while accepting and no pause is running.
  void UpdateWatch();

  EventLoop& loop_;
  // Out of descriptors: accepting pauses briefly instead of spinning.
  Timer resume_{loop_};
  int fd_ = -1;
  EventLoop::WatchId watch_ = 0;
  uint16_t port_ = 0;
  bool accepting_ = true;
  AcceptHandler on_accept_;
  ConnectionFactory factory_;
};

}  // namespace corvane
