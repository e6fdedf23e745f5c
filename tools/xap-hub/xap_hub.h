// A local xAP hub: listens on the xAP port, learns the programs on this
// computer from their heartbeats (the port= line names where each one
// listens), and relays every other datagram to each of them at
// 127.0.0.1:port, the sender included.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"
#include "platform/udp_socket.h"

namespace corvane {

struct HubOptions {
  uint16_t port = 3639;
  // Every address by default, so that broadcasts from the network arrive.
  std::string bind_address = "0.0.0.0";
  bool verbose = false;
};

// The lines of a heartbeat the hub reads; nothing for other datagrams.
struct HubHeartbeat {
  std::string source;
  std::optional<uint16_t> port;  // present and 1..65535, or absent
  int64_t interval_s = 0;
};
std::optional<HubHeartbeat> ReadHubHeartbeat(std::string_view datagram);

class XapHub {
 public:
  static constexpr size_t kMaxClients = 256;
  static constexpr int64_t kDefaultIntervalS = 60;  // for a heartbeat without a usable interval

  struct Client {
    uint16_t port = 0;
    std::string source;
    int64_t interval_s = 0;
    int64_t last_seen_ms = 0;
  };

  // `local_addresses`: this computer's own addresses; heartbeats from them
  // (and from 127.0.0.0/8) register clients.
  XapHub(EventLoop& loop, UdpNetwork& net, std::ostream& out,
         std::vector<std::string> local_addresses);

  // Binds the hub's socket; 0 or an errno value.
  int Start(const HubOptions& options);
  void Stop();

  const std::map<uint16_t, Client>& clients() const { return clients_; }
  uint64_t relayed() const { return relayed_; }

 private:
  void OnDatagram(std::string_view datagram, const UdpEndpoint& from);
  bool IsLocal(const std::string& address) const;
  void Learn(const HubHeartbeat& hb, const UdpEndpoint& from);
  void Sweep();
  void Relay(std::string_view datagram, const UdpEndpoint& from);

  EventLoop& loop_;
  UdpNetwork& net_;
  std::ostream& out_;
  std::vector<std::string> local_addresses_;
  HubOptions options_;
  std::unique_ptr<UdpSocket> socket_;
  std::map<uint16_t, Client> clients_;
  Timer sweep_timer_;
  uint64_t relayed_ = 0;
};

}  // namespace corvane
