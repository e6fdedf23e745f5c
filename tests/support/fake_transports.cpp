#include "support/fake_transports.h"

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
  if (open_) written.emplace_back(data);
  return open_;
}

void FakeSerialPort::Arrive(std::string data, int event_code) {
  Later([this, data = std::move(data), event_code] {
    if (!open_) return;
    if (event_code == kDeviceLostEvent) open_ = false;
    Deliver(data, event_code);
  });
}

void FakeTcpClient::Connect(const std::string& to_host, int to_port) {
  Close();
  host = to_host;
  port = to_port;
  ++connect_count;
  state_ = kConnecting;
  if (peer == Peer::kRefuse) {
    Later([this] {
      state_ = kError;
      if (handlers_.on_error) handlers_.on_error(111, "Connection refused");
    });
  } else if (peer != Peer::kSilent) {
    Later([this] {
      state_ = kConnected;
      if (handlers_.on_connect) handlers_.on_connect();
    });
    if (peer == Peer::kAcceptThenClose) Drop();
  }
}

void FakeTcpClient::Close() {
  Forget();  // what this connection still had on its way is dropped
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
