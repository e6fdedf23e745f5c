#include "platform/tcp_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/event_loop.h"

namespace corvane {

PosixTcpClient::PosixTcpClient(EventLoop& loop) : loop_(loop) {}

PosixTcpClient::~PosixTcpClient() {
  *alive_ = false;
  Release();
}

void PosixTcpClient::Release() {
  ++generation_;
  out_.clear();
  if (fd_ < 0) return;
  loop_.Unwatch(watch_);
  ::close(fd_);
  fd_ = -1;
}

void PosixTcpClient::Close() {
  Release();
  state_ = kClosed;
}

void PosixTcpClient::Fail(int number, const std::string& description) {
  Release();
  state_ = kError;
  if (handlers_.on_error) handlers_.on_error(number, description);
}

void PosixTcpClient::FailLater(int number, const std::string& description) {
  Release();
  state_ = kError;
  const uint64_t generation = generation_;
  std::weak_ptr<bool> alive = alive_;
  loop_.Defer([this, alive, generation, number, description] {
    if (alive.expired() || generation != generation_) return;  // closed or reconnected since
    if (handlers_.on_error) handlers_.on_error(number, description);
  });
}

void PosixTcpClient::Connect(const std::string& host, int port) {
  Close();
  if (port < 1 || port > 65535) {
    FailLater(EINVAL, "invalid port " + std::to_string(port));
    return;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0 || !found) {
    FailLater(rc, std::string("cannot resolve ") + host + ": " + ::gai_strerror(rc));
    return;
  }
  fd_ = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                 found->ai_protocol);
  if (fd_ < 0) {
    ::freeaddrinfo(found);
    FailLater(errno, std::strerror(errno));
    return;
  }
  // Keep-alive: a dead adapter or a pulled cable ends the connection within
  // about two minutes instead of never.
  int on = 1, idle = 60, interval = 10, count = 6;
  ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  rc = ::connect(fd_, found->ai_addr, found->ai_addrlen);
  const int err = errno;
  ::freeaddrinfo(found);
  if (rc != 0 && err != EINPROGRESS) {
    FailLater(err, std::strerror(err));
    return;
  }
  state_ = kConnecting;
  watch_ = loop_.Watch(fd_, EventLoop::kWritable, [this](unsigned revents) { OnEvent(revents); });
}

void PosixTcpClient::UpdateWatch() {
  if (fd_ < 0) return;
  unsigned events = EventLoop::kReadable;
  if (state_ == kConnecting || !out_.empty()) events |= EventLoop::kWritable;
  loop_.SetEvents(watch_, events);
}

void PosixTcpClient::OnEvent(unsigned revents) {
  std::weak_ptr<bool> alive = alive_;
  const uint64_t generation = generation_;
  auto still_here = [&] { return !alive.expired() && generation == generation_ && fd_ >= 0; };

  if (state_ == kConnecting) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      Fail(err, std::strerror(err));
      return;
    }
    if (!(revents & EventLoop::kWritable)) return;
    state_ = kConnected;
    UpdateWatch();
    if (handlers_.on_connect) handlers_.on_connect();
    return;
  }
  if (state_ != kConnected) return;

  if ((revents & EventLoop::kWritable) && !out_.empty()) {
    ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n > 0) out_.erase(0, static_cast<size_t>(n));
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      Fail(errno, std::strerror(errno));
      return;
    }
    UpdateWatch();
  }
  if (!(revents & (EventLoop::kReadable | EventLoop::kHangup | EventLoop::kError))) return;
  char buf[4096];
  std::string data;
  bool closed = false;
  int error = 0;
  for (int i = 0; i < 16; ++i) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      data.append(buf, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof buf) break;
      continue;
    }
    if (n == 0) {
      closed = true;
    } else if (errno != EAGAIN && errno != EINTR) {
      error = errno;
    }
    break;
  }
  if (!data.empty() && handlers_.on_data) handlers_.on_data(data);
  if (!still_here()) return;
  if (error) {
    Fail(error, std::strerror(error));
  } else if (closed) {
    Release();
    state_ = kClosing;
    if (handlers_.on_close) handlers_.on_close();
  }
}

bool PosixTcpClient::Send(std::string_view data) {
  if (state_ != kConnected || fd_ < 0) return false;
  if (out_.empty()) {
    ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      FailLater(errno, std::strerror(errno));
      return false;
    }
    if (n > 0) data.remove_prefix(static_cast<size_t>(n));
  }
  out_.append(data);
  UpdateWatch();
  return true;
}

}  // namespace corvane
