#include "support/fake_tcp.h"

#include "support/fake_transports.h"

namespace corvane {

namespace {

class FakeTcpConnection final : public TcpConnection, FakeEventSource {
 public:
  FakeTcpConnection(EventLoop& loop, std::shared_ptr<FakeTcpPipe> pipe)
      : FakeEventSource(loop), pipe_(std::move(pipe)) {
    pipe_->server = this;
  }
  ~FakeTcpConnection() override {
    Close();
    pipe_->server = nullptr;
  }

  void SetEvents(Events events) override {
    events_ = std::move(events);
    // Packets that came before anyone listened are delivered now.
    for (size_t i = 0; i < pipe_->to_server.size(); ++i) DeliverLater();
    if (pipe_->client_closed) CloseLater();
  }
  int State() const override { return state_; }
  std::string RemoteAddress() const override { return pipe_->remote; }
  size_t PendingSendBytes() const override { return pending_; }

  bool Send(std::string_view bytes) override {
    if (state_ != kConnected && state_ != kClosing) return false;
    if (pipe_->client_closed && !pipe_->client_reads) {
      // Nobody reads any more: the send fails and the connection is lost.
      state_ = kError;
      Later([this] { CallHandler(events_.on_close); });
      return true;
    }
    pipe_->from_server.emplace_back(bytes);
    pending_ += bytes.size();
    if (pipe_->auto_complete) {
      CompleteLater();
    } else {
      ++pipe_->sends_waiting;
    }
    return true;
  }

  void Close() override {
    if (state_ == kClosed) return;
    *alive_ = false;
    state_ = kClosed;
    pending_ = 0;
    pipe_->server_closed = true;
  }

  void DeliverLater() {
    Later([this] {
      if (pipe_->to_server.empty() || state_ != kConnected || !events_.on_data) return;
      std::string packet = std::move(pipe_->to_server.front());
      pipe_->to_server.pop_front();
      auto on_data = events_.on_data;  // the handler may destroy this connection
      on_data(std::move(packet));
    });
  }
  void CloseLater() {
    Later([this] {
      if (state_ != kConnected) return;
      state_ = kClosing;
      CallHandler(events_.on_close);
    });
  }
  void CompleteLater() {
    Later([this] {
      pending_ = 0;
      CallHandler(events_.on_send_complete);
    });
  }

 private:
  std::shared_ptr<FakeTcpPipe> pipe_;
  Events events_;
  int state_ = kConnected;
  size_t pending_ = 0;
};

FakeTcpConnection* ServerEnd(const std::shared_ptr<FakeTcpPipe>& pipe) {
  return static_cast<FakeTcpConnection*>(pipe->server);
}

}  // namespace

void FakeTcpPeer::Send(std::string packet) {
  if (pipe_->client_closed) return;
  pipe_->to_server.push_back(std::move(packet));
  if (auto* server = ServerEnd(pipe_)) server->DeliverLater();
}

void FakeTcpPeer::Close() {
  pipe_->client_reads = false;
  Hangup();
}

void FakeTcpPeer::FinishSending() {
  if (!pipe_->client_closed) pipe_->client_reads = true;
  Hangup();
}

void FakeTcpPeer::Hangup() {
  if (pipe_->client_closed) return;
  pipe_->client_closed = true;
  if (auto* server = ServerEnd(pipe_)) server->CloseLater();
}

std::string FakeTcpPeer::Received() const {
  std::string all;
  for (const auto& s : pipe_->from_server) all += s;
  return all;
}

void FakeTcpPeer::CompleteSends() {
  auto* server = ServerEnd(pipe_);
  for (; pipe_->sends_waiting > 0; --pipe_->sends_waiting) {
    if (server) server->CompleteLater();
  }
}

bool FakeTcpListener::Listen(std::string_view addr, uint16_t port, AcceptHandler on_accept,
                             std::string* error) {
  ++listen_calls;
  address = std::string(addr);
  if (refuse_listen) {
    if (error) *error = "bind: Address already in use";
    return false;
  }
  port_ = port == 0 ? 40000 : port;
  on_accept_ = std::move(on_accept);
  return true;
}

void FakeTcpListener::Close() {
  port_ = 0;
  on_accept_ = nullptr;
  RefuseWaiting();
}

void FakeTcpListener::SetAccepting(bool accepting) {
  accepting_ = accepting;
  AcceptLater();
}

void FakeTcpListener::RefuseWaiting() {
  for (const auto& pipe : backlog_) pipe->server_closed = true;
  backlog_.clear();
}

void FakeTcpListener::AcceptLater() {
  if (accept_pending_ || !accepting_ || backlog_.empty()) return;
  accept_pending_ = true;
  loop_.Defer([this] {
    accept_pending_ = false;
    if (!on_accept_) return RefuseWaiting();
    // The server may stop accepting inside its handler.
    while (accepting_ && !backlog_.empty() && on_accept_) {
      auto pipe = std::move(backlog_.front());
      backlog_.pop_front();
      pipe->accepted = true;
      on_accept_(std::make_unique<FakeTcpConnection>(loop_, pipe));
    }
  });
}

std::shared_ptr<FakeTcpPeer> FakeTcpListener::Connect(std::string remote) {
  auto pipe = std::make_shared<FakeTcpPipe>();
  pipe->remote = std::move(remote);
  auto client = std::make_shared<FakeTcpPeer>(pipe);
  if (port_ == 0) {
    pipe->server_closed = true;  // refused
    return client;
  }
  backlog_.push_back(pipe);
  AcceptLater();
  return client;
}

}  // namespace corvane
