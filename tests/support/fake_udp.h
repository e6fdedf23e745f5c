// An in-memory UDP network for unit tests: sockets bind to addresses and
// ports with the system's conflict rules, datagrams are delivered through the
// event loop (never inside SendTo), and every datagram sent is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/udp_socket.h"
#include "support/fake_transports.h"

namespace corvane {

class FakeUdpSocket;

struct FakeDatagram {
  UdpEndpoint from;
  UdpEndpoint to;
  std::string data;
};

class FakeUdpNetwork final : public UdpNetwork, FakeEventSource {
 public:
  explicit FakeUdpNetwork(EventLoop& loop) : FakeEventSource(loop) {}
  ~FakeUdpNetwork() override;

  std::unique_ptr<UdpSocket> OpenUdp() override;
  std::vector<std::string> HostAddresses() override { return host_addresses_; }

  // What the host name resolves to (default: 127.0.0.1). Binding works on
  // these, on 127.0.0.0/8, on 0.0.0.0 and on broadcast addresses; any other
  // address fails with EADDRNOTAVAIL.
  void SetHostAddresses(std::vector<std::string> addresses) {
    host_addresses_ = std::move(addresses);
  }
  // Every send fails with `err` while it is not 0.
  void FailSends(int err) { send_error_ = err; }
  // Binding `address` fails with `err` (0 removes the rule).
  void FailBinds(const std::string& address, int err) { bind_errors_[address] = err; }

  // Every datagram sent, in order, delivered or not.
  const std::vector<FakeDatagram>& sent() const { return sent_; }
  std::vector<FakeDatagram> SentTo(uint16_t port) const;
  void ClearSent() { sent_.clear(); }

 private:
  friend class FakeUdpSocket;
  struct Binding {
    std::string address;
    uint16_t port = 0;
    bool reuse = false;
  };

  int Bind(uint64_t id, const std::string& address, uint16_t port, bool reuse);
  void Unbind(uint64_t id);
  int Send(uint64_t id, std::string_view data, const std::string& address, uint16_t port);
  bool IsLocal(const std::string& address) const;

  std::vector<std::string> host_addresses_{"127.0.0.1"};
  std::map<uint64_t, Binding> bindings_;
  std::map<uint64_t, FakeUdpSocket*> sockets_;
  std::vector<FakeDatagram> sent_;
  std::map<std::string, int> bind_errors_;
  uint64_t next_id_ = 1;
  uint16_t next_ephemeral_ = 49152;
  int send_error_ = 0;
};

}  // namespace corvane
