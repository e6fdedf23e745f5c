// UDP datagram sockets for the xAP transport and the local hub: a small
// interface with a POSIX implementation (datagrams arrive through the event
// loop) and an in-memory network for unit tests (fake_udp.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class EventLoop;

struct UdpEndpoint {
  std::string address;  // dotted IPv4
  uint16_t port = 0;
};

class UdpSocket {
 public:
  // Called on the event loop's thread once per datagram.
  using ReceiveHandler = std::function<void(std::string_view datagram, const UdpEndpoint& from)>;

  virtual ~UdpSocket() = default;

  // Options that must be set before Bind. Each returns 0 or an errno value.
  virtual int SetReuseAddress(bool on) = 0;
  virtual int SetBroadcast(bool on) = 0;

  // Binds to a dotted IPv4 address ("0.0.0.0": every address) and a port
  // (0: the system chooses). Returns 0 or an errno value (EADDRINUSE, ...);
  // a socket whose bind failed may try again with another port.
  virtual int Bind(std::string_view address, uint16_t port) = 0;
  // Sends one datagram. The address is dotted IPv4 or a host name. Returns 0
  // or an errno value.
  virtual int SendTo(std::string_view datagram, std::string_view address, uint16_t port) = 0;

  virtual void SetReceiveHandler(ReceiveHandler handler) = 0;
  virtual void Close() = 0;
  virtual bool IsBound() const = 0;
  virtual UdpEndpoint LocalEndpoint() const = 0;
};

// Where sockets come from, and the host's own addresses.
class UdpNetwork {
 public:
  virtual ~UdpNetwork() = default;
  virtual std::unique_ptr<UdpSocket> OpenUdp() = 0;
  // The IPv4 addresses the host's name resolves to, in the resolver's order;
  // empty when the name or its lookup fails.
  virtual std::vector<std::string> HostAddresses() = 0;
};

// Real sockets; their datagrams are dispatched by `loop`.
class PosixUdpNetwork final : public UdpNetwork {
 public:
  explicit PosixUdpNetwork(EventLoop& loop) : loop_(loop) {}
  std::unique_ptr<UdpSocket> OpenUdp() override;
  std::vector<std::string> HostAddresses() override;

 private:
  EventLoop& loop_;
};

// The addresses of this host's interfaces (getifaddrs), IPv4, dotted.
std::vector<std::string> InterfaceAddresses();

// True for a dotted IPv4 address in 127.0.0.0/8.
bool IsLoopbackAddress(std::string_view dotted);

// The system's description of an errno value.
std::string ErrorText(int err);

}  // namespace corvane
