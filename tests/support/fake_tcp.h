// An in-memory TCP listener for tests. A test connects clients to it; each
// client Send arrives at the server as exactly one receive event, and every
// event is delivered through the event loop (deferred), as real sockets are.
// Send completion can be held back to exercise the server's watchdogs.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/tcp_listener.h"

namespace corvane {

class FakeTcpListener;

// The shared state of one fake connection.
struct FakeTcpPipe {
  std::deque<std::string> to_server;     // packets not yet delivered
  std::vector<std::string> from_server;  // every Send of the server, in order
  bool server_closed = false;            // the server called Close
  bool client_closed = false;            // the client hung up or finished sending
  bool client_reads = false;             // ... and still reads (half close)
  bool auto_complete = true;             // server sends complete at once
  size_t sends_waiting = 0;              // held back completions
  bool accepted = false;
  std::string remote = "127.0.0.1";
  TcpConnection* server = nullptr;  // the server's end while it exists
};

class FakeTcpPeer {
 public:
  explicit FakeTcpPeer(std::shared_ptr<FakeTcpPipe> pipe) : pipe_(std::move(pipe)) {}

  // One packet to the server (one receive event).
  void Send(std::string packet);
  // The client hangs up; the server sees a close event, and its sends fail
  // from then on.
  void Close();
  // The client has finished sending but still reads (a half close); the
  // server sees a close event and may still answer.
  void FinishSending();
  // Everything the server sent, joined, and each send on its own.
  std::string Received() const;
  const std::vector<std::string>& Sends() const { return pipe_->from_server; }
  bool ClosedByServer() const { return pipe_->server_closed; }
  bool Accepted() const { return pipe_->accepted; }

  // With auto completion off, the server's sends complete only when the
  // test calls CompleteSends.
  void SetAutoComplete(bool on) { pipe_->auto_complete = on; }
  void CompleteSends();

 private:
  void Hangup();

  std::shared_ptr<FakeTcpPipe> pipe_;
};

class FakeTcpListener final : public TcpListener {
 public:
  explicit FakeTcpListener(EventLoop& loop) : loop_(loop) {}

  bool Listen(std::string_view address, uint16_t port, AcceptHandler on_accept,
              std::string* error) override;
  uint16_t LocalPort() const override { return port_; }
  void Close() override;
  void SetAccepting(bool accepting) override;
  bool Accepting() const { return accepting_; }

  // A new client; the server's accept event follows through the loop, or,
  // while the server does not accept, once it does again (in connect order).
  // The client may send before it is accepted.
  std::shared_ptr<FakeTcpPeer> Connect(std::string remote = "127.0.0.1");
  // Clients connected but not yet accepted.
  size_t Waiting() const { return backlog_.size(); }

  // What the last Listen asked for; a Listen fails while refuse_listen is set.
  std::string address;
  bool refuse_listen = false;
  int listen_calls = 0;

 private:
  // Accepts the waiting clients from the loop.
  void AcceptLater();
  void RefuseWaiting();

  EventLoop& loop_;
  uint16_t port_ = 0;
  AcceptHandler on_accept_;
  bool accepting_ = true;
  bool accept_pending_ = false;
  std::deque<std::shared_ptr<FakeTcpPipe>> backlog_;
};

}  // namespace corvane
