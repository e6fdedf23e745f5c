#include "support/fake_transports.h"

#include "platform/event_loop.h"

namespace corvane {

bool FakeSerialPort::Open(const std::string& device, const SerialLineSettings& line,
                          std::string* error) {
  ++open_count;
  opened_device = device;
  opened_line = line;
  open_ = open_result;
  if (!open_ && error) *error = device + ": no such device";
  return open_;
}

bool FakeSerialPort::Write(std::string_view data) {
  if (!open_) return false;
  written.emplace_back(data);
  if (on_write) on_write(written.back());
  return true;
}

void FakeSerialPort::Arrive(std::string data, int event_code) {
  std::weak_ptr<bool> alive = alive_;
  loop_.Defer([this, alive, data = std::move(data), event_code] {
    if (alive.expired() || !open_) return;
    if (event_code == kDeviceLostEvent) open_ = false;
    Deliver(data, event_code);
  });
}

template <typename F>
void FakeTcpClient::Later(F f) {
  std::weak_ptr<bool> alive = alive_;
  const uint64_t generation = generation_;
  loop_.Defer([this, alive, generation, f = std::move(f)] {
    if (!alive.expired() && generation == generation_) f();
  });
}

void FakeTcpClient::Connect(const std::string& to_host, int to_port) {
  Close();
  host = to_host;
  port = to_port;
  ++connect_count;
  state_ = kConnecting;
  switch (peer) {
    case Peer::kAccept:
    case Peer::kAcceptThenClose:
      Later([this] {
        state_ = kConnected;
        if (handlers_.on_connect) handlers_.on_connect();
      });
      if (peer == Peer::kAcceptThenClose) Drop();
      break;
    case Peer::kRefuse:
      Later([this] {
        state_ = kError;
        if (handlers_.on_error) handlers_.on_error(111, "Connection refused");
      });
      break;
    case Peer::kSilent:
      break;
  }
}

void FakeTcpClient::Close() {
  ++generation_;
  state_ = kClosed;
}

bool FakeTcpClient::Send(std::string_view data) {
  if (state_ != kConnected) return false;
  sent.emplace_back(data);
  if (on_send) on_send(sent.back());
  return true;
}

void FakeTcpClient::Arrive(std::string data) {
  Later([this, data = std::move(data)] {
    if (state_ == kConnected && handlers_.on_data) handlers_.on_data(data);
  });
}

void FakeTcpClient::Drop() {
  Later([this] {
    if (state_ != kConnected) return;
    state_ = kClosing;
    if (handlers_.on_close) handlers_.on_close();
  });
}

}  // namespace corvane
