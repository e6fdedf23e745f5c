// In-memory serial port and TCP client for deterministic tests. Everything
// they report arrives through EventLoop::Defer, as real events would, so a
// test on a ManualClock sees replies only while the code under test pumps.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/deferred_call.h"
#include "platform/serial_port.h"
#include "platform/tcp_client.h"

namespace corvane {

class FakeSerialPort final : public SerialPort {
 public:
  explicit FakeSerialPort(EventLoop& loop) : loop_(loop) {}

  bool Open(const std::string& device, const SerialLineSettings& line, std::string* error) override;
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  bool Write(std::string_view data) override;

  // The device answers (later, from the loop) with `data`.
  void Arrive(std::string data, int event_code = kReceiveEvent);

  bool open_result = true;    // what the next Open gives
  std::string opened_device;  // what the last Open was given
  SerialLineSettings opened_line;
  int open_count = 0;
  std::vector<std::string> written;  // every Write, in order

 private:
  EventLoop& loop_;
  bool open_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class FakeTcpClient final : public TcpClient {
 public:
  // What a connect meets; kAcceptThenClose is an adapter that accepts and
  // at once closes every connection.
  enum class Peer { kAccept, kRefuse, kSilent, kAcceptThenClose };

  explicit FakeTcpClient(EventLoop& loop) : loop_(loop) {}

  void Connect(const std::string& host, int port) override;
  void Close() override;
  int State() const override { return state_; }
  bool Send(std::string_view data) override;

  void Arrive(std::string data);
  // The peer closes the connection.
  void Drop();

  Peer peer = Peer::kAccept;
  std::string host;
  int port = 0;
  int connect_count = 0;
  std::vector<std::string> sent;
  std::function<void(const std::string&)> on_send;

 private:
  // Runs `f` from the loop unless this client was closed or destroyed meanwhile.
  template <typename F>
  void Later(F f) {
    DeferWhileAlive(loop_, alive_, std::move(f));
  }

  EventLoop& loop_;
  int state_ = kClosed;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace corvane
