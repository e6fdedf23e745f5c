// In-memory serial port and TCP client for deterministic tests, and the base
// every fake transport (these, fake_tcp.h, fake_udp.h) shares. Everything
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

// What every fake transport shares: its events come later from the loop, and
// what is still on its way when it is closed (Forget) or destroyed is dropped.
class FakeEventSource {
 protected:
  explicit FakeEventSource(EventLoop& loop) : loop_(loop) {}
  template <typename F>
  void Later(F f) {
    DeferWhileAlive(loop_, alive_, std::move(f));
  }
  void Forget() {
    *alive_ = false;
    alive_ = std::make_shared<bool>(true);
  }

  EventLoop& loop_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class FakeSerialPort final : public SerialPort, FakeEventSource {
 public:
  explicit FakeSerialPort(EventLoop& loop) : FakeEventSource(loop) {}

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
  bool open_ = false;
};

class FakeTcpClient final : public TcpClient, FakeEventSource {
 public:
  // What a connect meets; kAcceptThenClose is an adapter that accepts and
  // at once closes every connection.
  enum class Peer { kAccept, kRefuse, kSilent, kAcceptThenClose };

  explicit FakeTcpClient(EventLoop& loop) : FakeEventSource(loop) {}

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
  int state_ = kClosed;
};

}  // namespace corvane
