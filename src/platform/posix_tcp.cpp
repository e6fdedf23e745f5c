#include "platform/posix_tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/socket_connection.h"

namespace corvane {

namespace {

class PosixTcpConnection final : public SocketConnection {
 public:
  PosixTcpConnection(EventLoop& loop, int fd, std::string remote)
      : SocketConnection(loop, fd, std::move(remote)) {
    watch_ = loop_.Watch(fd_, EventLoop::kReadable, [this](unsigned ev) { OnEvent(ev); });
  }
  ~PosixTcpConnection() override { Close(); }

  void Close() override { CloseSocket(); }

 private:
  void OnEvent(unsigned revents) {
    auto alive = alive_;
    if ((revents & (EventLoop::kWritable | EventLoop::kError)) && PendingSendBytes() > 0) {
      Flush();
      if (!*alive) return;
    }
    if (state_ == kConnected &&
        (revents & (EventLoop::kReadable | EventLoop::kHangup | EventLoop::kError))) {
      ReadAll();
    }
  }

  void ReadAll() {
    std::string data;
    bool ended = false;
    bool failed = false;
    char buf[16384];
    while (data.size() < kMaxReadPerEvent) {
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        data.append(buf, static_cast<size_t>(n));
      } else if (n == 0) {
        ended = true;
        break;
      } else if (errno == EINTR) {
        continue;
      } else {
        if (errno != EAGAIN && errno != EWOULDBLOCK) failed = true;
        break;
      }
    }
    Deliver(std::move(data), ended ? kClosing : failed ? kError : kConnected);
  }

  // Writes what the system takes now; watches for writability while bytes
  // remain and reports completion once none do.
  void Flush() override {
    while (PendingSendBytes() > 0) {
      ssize_t n = ::send(fd_, out_.data() + out_pos_, PendingSendBytes(), MSG_NOSIGNAL);
      if (n > 0) {
        out_pos_ += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        return WriteFailed();
      }
    }
    const bool waiting = PendingSendBytes() > 0;
    loop_.SetEvents(watch_, (state_ == kConnected ? EventLoop::kReadable : 0u) |
                                (waiting ? EventLoop::kWritable : 0u));
    SendsDone();
  }

  void Lost(StateCode state) override {
    state_ = state;
    const bool waiting = state == kClosing && PendingSendBytes() > 0;
    loop_.SetEvents(watch_, waiting ? EventLoop::kWritable : 0u);
    CallHandler(events_.on_close);
  }
};

std::string Describe(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PosixTcpListener::~PosixTcpListener() {
  Close();
}

bool PosixTcpListener::Listen(std::string_view address, uint16_t port, AcceptHandler on_accept,
                              std::string* error) {
  Close();
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (address.empty()) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (::inet_pton(AF_INET, std::string(address).c_str(), &addr.sin_addr) != 1) {
    if (error) *error = "not an IPv4 address: " + std::string(address);
    return false;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = Describe("socket");
    return false;
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (error) *error = Describe("bind");
    ::close(fd);
    return false;
  }
  // Connections beyond the server's pool wait here while it is full.
  if (::listen(fd, SOMAXCONN) != 0) {
    if (error) *error = Describe("listen");
    ::close(fd);
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  fd_ = fd;
  port_ = ntohs(addr.sin_port);
  on_accept_ = std::move(on_accept);
  watch_ = loop_.Watch(fd_, EventLoop::kReadable, [this](unsigned) { OnReadable(); });
  UpdateWatch();
  return true;
}

void PosixTcpListener::SetAccepting(bool accepting) {
  accepting_ = accepting;
  UpdateWatch();
}

void PosixTcpListener::UpdateWatch() {
  if (watch_) loop_.SetEvents(watch_, accepting_ && !resume_.Enabled() ? EventLoop::kReadable : 0u);
}

void PosixTcpListener::Close() {
  resume_.Stop();
  if (watch_) loop_.Unwatch(watch_);
  watch_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  port_ = 0;
}

void PosixTcpListener::OnReadable() {
  // Takes every waiting connection; a handler may close the listener or
  // stop accepting.
  while (fd_ >= 0 && accepting_) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int cfd =
        ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (cfd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The connections wait in the backlog until descriptors are free.
        resume_.SetHandler([this] {
          resume_.Stop();
          UpdateWatch();
        });
        resume_.SetInterval(100);
        resume_.Start();
        UpdateWatch();
      }
      return;
    }
    int one = 1;
    ::setsockopt(cfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char text[INET_ADDRSTRLEN] = "";
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    std::unique_ptr<TcpConnection> connection =
        factory_ ? factory_(cfd, text) : std::make_unique<PosixTcpConnection>(loop_, cfd, text);
    if (on_accept_) on_accept_(std::move(connection));
  }
}

}  // namespace corvane
