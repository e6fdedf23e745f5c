// What the plain and the TLS connections of a listener share: the accepted
// non-blocking socket watched by the loop, the events handed to the server,
// the queue of bytes waiting to go out and the close that drains the socket
// first. Each kind writes and reads its own way (Flush, its event handler).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/deferred_call.h"
#include "platform/event_loop.h"
#include "platform/tcp_listener.h"

namespace corvane {

class SocketConnection : public TcpConnection {
 public:
  void SetEvents(Events events) override { events_ = std::move(events); }
  int State() const override { return state_; }
  std::string RemoteAddress() const override { return remote_; }
  size_t PendingSendBytes() const override { return out_.size() - out_pos_; }
  // Queues the bytes and writes what the socket takes now. A peer that has
  // only finished sending (kClosing) still takes data.
  bool Send(std::string_view bytes) override;

 protected:
  // One receive event takes at most this much, so that a fast sender cannot
  // keep the loop from serving others; the rest comes with the next event.
  static constexpr size_t kMaxReadPerEvent = 256 * 1024;

  SocketConnection(EventLoop& loop, int fd, std::string remote);
  // Writes queued bytes; called by Send once ReadyToSend().
  virtual void Flush() = 0;
  virtual bool ReadyToSend() const { return true; }
  // Stops the watch, drains unread input (else the system would reset the
  // connection and the peer could lose its answer) and closes the socket.
  void CloseSocket();
  // Hands what one receive event read to the server; then, unless the
  // handler closed the connection, reports the peer's end (`after` kClosing)
  // or a failure (kError) through Lost.
  void Deliver(std::string data, StateCode after);
  virtual void Lost(StateCode state) = 0;
  // After a flush: reports completion from the loop once nothing waits.
  void SendsDone();
  // The peer went away while we wrote: reported from the loop, not from
  // inside Send.
  void WriteFailed();
  // Runs `fn` from the loop unless the connection was closed meanwhile.
  template <typename F>
  void Later(F fn) {
    DeferWhileAlive(loop_, alive_, std::move(fn));
  }

  EventLoop& loop_;
  int fd_;
  std::string remote_;
  EventLoop::WatchId watch_ = 0;
  int state_ = kConnected;
  Events events_;
  std::string out_;
  size_t out_pos_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace corvane
