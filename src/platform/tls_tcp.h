// HTTPS transport: a listener whose accepted sockets speak TLS (OpenSSL's
// libssl), driven by the event loop like the plain ones. Every TLS call is
// non-blocking: a handshake, read or write that needs the socket readable
// or writable returns, and the connection asks the loop for that event.
#pragma once

#include <memory>
#include <string>

#include "platform/event_loop.h"
#include "platform/posix_tcp.h"
#include "platform/tcp_listener.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace corvane {

class TlsTcpListener final : public SecureTcpListener {
 public:
  explicit TlsTcpListener(EventLoop& loop);
  ~TlsTcpListener() override;

  bool LoadCertificate(const std::string& certificate_file, const std::string& key_file,
                       std::string* error) override;
  // Fails while no certificate is loaded.
  bool Listen(std::string_view address, uint16_t port, AcceptHandler on_accept,
              std::string* error) override;
  uint16_t LocalPort() const override { return sockets_.LocalPort(); }
  void Close() override { sockets_.Close(); }
  void SetAccepting(bool accepting) override { sockets_.SetAccepting(accepting); }

 private:
  EventLoop& loop_;
  PosixTcpListener sockets_;
  // Shared with the connections, which may outlive a reload.
  std::shared_ptr<SSL_CTX> context_;
};

}  // namespace corvane
