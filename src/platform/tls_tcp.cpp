#include "platform/tls_tcp.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/socket_connection.h"

namespace corvane {

namespace {

std::string LastTlsError(std::string_view what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return std::string(what);
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return std::string(what) + ": " + text;
}

class TlsConnection final : public SocketConnection {
 public:
  TlsConnection(EventLoop& loop, int fd, std::string remote, std::shared_ptr<SSL_CTX> context)
      : SocketConnection(loop, fd, std::move(remote)), context_(std::move(context)) {
    ssl_ = SSL_new(context_.get());
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) {
      state_ = kError;
    } else {
      SSL_set_accept_state(ssl_);
      // Sends continue from where the system stopped, from a buffer that
      // grows while they wait.
      SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    }
    watch_ = loop_.Watch(fd_, EventLoop::kReadable, [this](unsigned ev) { OnEvent(ev); });
    if (state_ == kError) Later([this] { CallHandler(events_.on_close); });
  }
  ~TlsConnection() override { Close(); }

  void Close() override {
    if (ssl_) {
      // One try at telling the peer; a socket that cannot take it now is
      // closed anyway.
      if (!handshaking_ && state_ != kError) SSL_shutdown(ssl_);
      SSL_free(ssl_);
      ssl_ = nullptr;
      ERR_clear_error();
    }
    CloseSocket();
  }

 private:
  void OnEvent(unsigned /*revents*/) {
    auto alive = alive_;
    if (state_ == kError || !ssl_) return;
    if (handshaking_ && !Handshake()) return;
    if (PendingSendBytes() > 0) {
      Flush();
      if (!*alive) return;
    }
    if (state_ == kConnected) ReadAll();
  }

  // True once the handshake is done; false while it waits or after it failed.
  bool Handshake() {
    const int r = SSL_do_handshake(ssl_);
    if (r == 1) {
      handshaking_ = false;
      UpdateInterest();
      return true;
    }
    const int err = SSL_get_error(ssl_, r);
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
      handshake_wants_write_ = err == SSL_ERROR_WANT_WRITE;
      UpdateInterest();
      return false;
    }
    // Not TLS, or a client that refused our certificate.
    ERR_clear_error();
    Lost(kError);
    return false;
  }

  void ReadAll() {
    std::string data;
    bool ended = false;
    bool failed = false;
    char buf[16384];
    while (data.size() < kMaxReadPerEvent) {
      const int n = SSL_read(ssl_, buf, sizeof buf);
      if (n > 0) {
        data.append(buf, static_cast<size_t>(n));
        continue;
      }
      const int err = SSL_get_error(ssl_, n);
      if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) break;
      // The peer's close_notify, or the socket's end without one: the peer
      // has finished sending.
      ended = err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0);
      failed = !ended;
      ERR_clear_error();
      break;
    }
    // Decrypted bytes left inside the library raise no poll event.
    if (!ended && !failed && SSL_pending(ssl_) > 0) {
      Later([this] {
        if (state_ == kConnected) ReadAll();
      });
    }
    Deliver(std::move(data), ended ? kClosing : failed ? kError : kConnected);
  }

  // Bytes sent before the handshake ends wait for it.
  bool ReadyToSend() const override { return !handshaking_; }

  void Flush() override {
    while (PendingSendBytes() > 0) {
      const int n = SSL_write(ssl_, out_.data() + out_pos_,
                              static_cast<int>(std::min<size_t>(PendingSendBytes(), INT_MAX)));
      if (n > 0) {
        out_pos_ += static_cast<size_t>(n);
        continue;
      }
      const int err = SSL_get_error(ssl_, n);
      if (err == SSL_ERROR_WANT_WRITE || err == SSL_ERROR_WANT_READ) break;
      ERR_clear_error();
      return WriteFailed();
    }
    UpdateInterest();
    SendsDone();
  }

  void UpdateInterest() {
    unsigned events = 0;
    if (handshaking_) {
      events = handshake_wants_write_ ? EventLoop::kWritable : EventLoop::kReadable;
    } else {
      if (state_ == kConnected) events |= EventLoop::kReadable;
      if (PendingSendBytes() > 0) events |= EventLoop::kWritable;
    }
    loop_.SetEvents(watch_, events);
  }

  void Lost(StateCode state) override {
    state_ = state;
    UpdateInterest();
    if (state == kError) loop_.SetEvents(watch_, 0);
    CallHandler(events_.on_close);
  }

  std::shared_ptr<SSL_CTX> context_;
  SSL* ssl_ = nullptr;
  bool handshaking_ = true;
  bool handshake_wants_write_ = false;
};

}  // namespace

TlsTcpListener::TlsTcpListener(EventLoop& loop) : loop_(loop), sockets_(loop) {
  sockets_.SetConnectionFactory([this](int fd, std::string peer) {
    return std::make_unique<TlsConnection>(loop_, fd, std::move(peer), context_);
  });
}

TlsTcpListener::~TlsTcpListener() = default;

bool TlsTcpListener::LoadCertificate(const std::string& certificate_file,
                                     const std::string& key_file, std::string* error) {
  std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free);
  auto fail = [&](std::string_view what) {
    if (error) *error = LastTlsError(what);
    return false;
  };
  if (!context) return fail("no TLS context");
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  // No session tickets: nothing is resumed, and no write follows a read.
  SSL_CTX_set_num_tickets(context.get(), 0);
  if (SSL_CTX_use_certificate_chain_file(context.get(), certificate_file.c_str()) != 1) {
    return fail("certificate " + certificate_file);
  }
  if (SSL_CTX_use_PrivateKey_file(context.get(), key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    return fail("key " + key_file);
  }
  if (SSL_CTX_check_private_key(context.get()) != 1) {
    return fail("key " + key_file + " does not belong to certificate " + certificate_file);
  }
  context_ = std::move(context);
  return true;
}

bool TlsTcpListener::Listen(std::string_view address, uint16_t port, AcceptHandler on_accept,
                            std::string* error) {
  if (!context_) {
    if (error) *error = "no certificate loaded";
    return false;
  }
  return sockets_.Listen(address, port, std::move(on_accept), error);
}

}  // namespace corvane
