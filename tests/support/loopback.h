// Keeping test traffic on this machine: a loopback xAP configuration for a
// program folder, a private network namespace for tests that occupy fixed
// ports, and a plain UDP socket for tests that play listener or client.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::testing {

// Writes <home>/Config/zynXap.ini so that the program's xAP datagrams go to
// `broadcast_address` (a loopback address) and never to the LAN default.
void WriteLoopbackXapConfig(const std::string& home,
                            std::string_view broadcast_address = "127.255.255.255");

// Moves this test process (and the programs it starts from now on) into a
// network namespace of its own with only a loopback interface, so that fixed
// ports (3639, 32768..32967) are not shared with other tests. False, with a
// note on standard error, when the system does not allow it; the test then
// runs in the shared namespace.
bool EnterPrivateNetwork();

// A TCP port of 127.0.0.1 that was free a moment ago.
uint16_t FreeTcpPort();
// A blocking TCP connection to 127.0.0.1:port; -1 when refused.
int ConnectLoopbackTcp(uint16_t port);

// A blocking UDP socket on IPv4.
class TestUdpSocket {
 public:
  TestUdpSocket();
  ~TestUdpSocket();
  TestUdpSocket(const TestUdpSocket&) = delete;
  TestUdpSocket& operator=(const TestUdpSocket&) = delete;

  // SO_REUSEADDR when `reuse`; port 0: any free port. 0 or an errno value.
  int Bind(const std::string& address, uint16_t port, bool reuse = true);
  uint16_t port() const;
  bool SendTo(std::string_view datagram, const std::string& address, uint16_t port);
  struct Datagram {
    std::string data;
    std::string from_address;
    uint16_t from_port = 0;
  };
  std::optional<Datagram> Receive(std::chrono::milliseconds timeout);

 private:
  int fd_ = -1;
};

}  // namespace corvane::testing
