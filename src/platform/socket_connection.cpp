#include "platform/socket_connection.h"

#include <sys/socket.h>
#include <unistd.h>

namespace corvane {

SocketConnection::SocketConnection(EventLoop& loop, int fd, std::string remote)
    : loop_(loop), fd_(fd), remote_(std::move(remote)) {}

bool SocketConnection::Send(std::string_view bytes) {
  if (state_ != kConnected && state_ != kClosing) return false;
  if (PendingSendBytes() == 0) {
    out_.clear();
    out_pos_ = 0;
  }
  out_.append(bytes);
  if (ReadyToSend()) Flush();
  return true;
}

void SocketConnection::CloseSocket() {
  *alive_ = false;
  alive_ = std::make_shared<bool>(true);
  if (watch_) loop_.Unwatch(watch_);
  watch_ = 0;
  if (fd_ >= 0) {
    char buf[4096];
    for (int i = 0; i < 16 && ::recv(fd_, buf, sizeof buf, 0) > 0; ++i) {
    }
    ::close(fd_);
  }
  fd_ = -1;
  state_ = kClosed;
  out_.clear();
  out_pos_ = 0;
}

void SocketConnection::Deliver(std::string data, StateCode after) {
  auto alive = alive_;
  if (!data.empty() && events_.on_data) {
    auto on_data = events_.on_data;  // the handler may destroy this connection
    on_data(std::move(data));
    if (!*alive) return;
  }
  if (after != kConnected) Lost(after);
}

void SocketConnection::SendsDone() {
  if (PendingSendBytes() > 0) return;
  out_.clear();
  out_pos_ = 0;
  Later([this] { CallHandler(events_.on_send_complete); });
}

void SocketConnection::WriteFailed() {
  state_ = kError;
  loop_.SetEvents(watch_, 0);
  Later([this] { CallHandler(events_.on_close); });
}

}  // namespace corvane
