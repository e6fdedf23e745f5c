#include "support/fake_udp.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace corvane {

namespace {

bool IsDotted(const std::string& a) {
  in_addr tmp{};
  return ::inet_pton(AF_INET, a.c_str(), &tmp) == 1;
}

// 255.255.255.255 and dotted addresses whose last part is 255.
bool IsBroadcastAddress(const std::string& a) {
  return IsDotted(a) && a.size() > 4 && a.compare(a.size() - 4, 4, ".255") == 0;
}

}  // namespace

class FakeUdpSocket final : public UdpSocket {
 public:
  FakeUdpSocket(FakeUdpNetwork& net, uint64_t id) : net_(net), id_(id), alive_(net.alive_) {}
  ~FakeUdpSocket() override { Close(); }

  int SetReuseAddress(bool on) override {
    reuse_ = on;
    return 0;
  }
  int SetBroadcast(bool on) override {
    broadcast_ = on;
    return 0;
  }
  int Bind(std::string_view address, uint16_t port) override {
    if (closed_) return EBADF;
    if (bound_) return EINVAL;
    int err = net_.Bind(id_, std::string(address), port, reuse_);
    if (err == 0) bound_ = true;
    return err;
  }
  int SendTo(std::string_view datagram, std::string_view address, uint16_t port) override {
    if (closed_) return EBADF;
    if (!bound_) {
      if (int err = Bind("0.0.0.0", 0)) return err;
    }
    std::string to(address);
    if (IsBroadcastAddress(to) && !broadcast_) return EACCES;
    return net_.Send(id_, datagram, to, port);
  }
  void SetReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }
  void Close() override {
    if (!closed_ && *alive_) net_.Unbind(id_);
    closed_ = true;
    bound_ = false;
  }
  bool IsBound() const override { return bound_; }
  UdpEndpoint LocalEndpoint() const override {
    if (!bound_ || !*alive_) return {};
    const auto& b = net_.bindings_.at(id_);
    return {b.address, b.port};
  }

  void Deliver(const std::string& data, const UdpEndpoint& from) {
    auto handler = handler_;  // the handler may close or destroy this socket
    if (handler && !closed_) handler(data, from);
  }

 private:
  FakeUdpNetwork& net_;
  uint64_t id_;
  std::shared_ptr<bool> alive_;
  bool reuse_ = false;
  bool broadcast_ = false;
  bool bound_ = false;
  bool closed_ = false;
  ReceiveHandler handler_;
};

FakeUdpNetwork::~FakeUdpNetwork() {
  *alive_ = false;
}

std::unique_ptr<UdpSocket> FakeUdpNetwork::OpenUdp() {
  uint64_t id = next_id_++;
  auto s = std::make_unique<FakeUdpSocket>(*this, id);
  sockets_[id] = s.get();
  return s;
}

std::vector<FakeDatagram> FakeUdpNetwork::SentTo(uint16_t port) const {
  std::vector<FakeDatagram> out;
  std::copy_if(sent_.begin(), sent_.end(), std::back_inserter(out),
               [port](const FakeDatagram& d) { return d.to.port == port; });
  return out;
}

bool FakeUdpNetwork::IsLocal(const std::string& address) const {
  return address == "0.0.0.0" || IsLoopbackAddress(address) || IsBroadcastAddress(address) ||
         std::count(host_addresses_.begin(), host_addresses_.end(), address) > 0;
}

int FakeUdpNetwork::Bind(uint64_t id, const std::string& address, uint16_t port, bool reuse) {
  std::string addr = address.empty() ? "0.0.0.0" : address;
  if (!IsDotted(addr)) return EINVAL;
  if (!IsLocal(addr)) return EADDRNOTAVAIL;
  if (auto it = bind_errors_.find(addr); it != bind_errors_.end() && it->second) return it->second;
  auto conflicts = [&](uint16_t p) {
    for (const auto& [other, b] : bindings_) {
      if (other == id || b.port != p) continue;
      bool overlap = b.address == addr || b.address == "0.0.0.0" || addr == "0.0.0.0";
      if (overlap && !(reuse && b.reuse)) return true;
    }
    return false;
  };
  for (int tries = 0; port == 0 && tries < 16384; ++tries) {  // an ephemeral port
    const uint16_t p = next_ephemeral_;
    next_ephemeral_ = static_cast<uint16_t>(p == 65535 ? 49152 : p + 1);
    if (!conflicts(p)) port = p;
  }
  if (port == 0 || conflicts(port)) return EADDRINUSE;
  bindings_[id] = Binding{addr, port, reuse};
  return 0;
}

void FakeUdpNetwork::Unbind(uint64_t id) {
  bindings_.erase(id);
  sockets_.erase(id);
}

int FakeUdpNetwork::Send(uint64_t id, std::string_view data, const std::string& address,
                         uint16_t port) {
  if (!IsDotted(address)) return EHOSTUNREACH;
  if (send_error_) return send_error_;
  const Binding& from_binding = bindings_.at(id);
  UdpEndpoint from{from_binding.address == "0.0.0.0" ? "127.0.0.1" : from_binding.address,
                   from_binding.port};
  sent_.push_back(FakeDatagram{from, UdpEndpoint{address, port}, std::string(data)});

  // Receivers: for a broadcast every socket on the port bound to any address
  // or to the broadcast address; otherwise the socket bound to exactly that
  // address, else one bound to any address (the newest of several).
  std::vector<uint64_t> receivers;
  const bool broadcast = IsBroadcastAddress(address);
  uint64_t exact = 0, any = 0;
  for (const auto& [other, b] : bindings_) {
    if (b.port != port) continue;
    if (broadcast) {
      if (b.address == "0.0.0.0" || b.address == address) receivers.push_back(other);
    } else if (b.address == address) {
      exact = other;
    } else if (b.address == "0.0.0.0" && IsLocal(address)) {
      any = other;
    }
  }
  if (!broadcast && (exact || any)) receivers.push_back(exact ? exact : any);

  for (uint64_t r : receivers) {
    Later([this, r, text = std::string(data), from] {
      if (auto it = sockets_.find(r); it != sockets_.end()) it->second->Deliver(text, from);
    });
  }
  return 0;
}

}  // namespace corvane
