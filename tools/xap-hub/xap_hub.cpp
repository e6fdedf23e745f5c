#include "xap_hub.h"

#include <algorithm>

#include "core/text.h"

namespace corvane {

namespace {

// Reads the name=value lines of a datagram's first block, up to its "}";
// lines end with a line feed, a carriage return before it is tolerated.
// Returns false when the first line is not `kind`.
template <typename F>
bool ReadFirstBlock(std::string_view datagram, std::string_view kind, F&& on_item) {
  auto next_line = [&](std::string_view& line) {
    if (datagram.empty()) return false;
    size_t lf = datagram.find('\n');
    line = datagram.substr(0, lf);
    datagram.remove_prefix(lf == std::string_view::npos ? datagram.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
  };
  std::string_view line;
  if (!next_line(line) || !EqualsIgnoreCase(TrimSpaces(line), kind)) return false;
  while (next_line(line)) {
    if (TrimSpaces(line) == "}") break;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    on_item(TrimSpaces(line.substr(0, eq)), TrimSpaces(line.substr(eq + 1)));
  }
  return true;
}

// The class of an xAP message, for the verbose report.
std::string ClassOf(std::string_view datagram) {
  std::string cls;
  ReadFirstBlock(datagram, "xap-header", [&](std::string_view name, std::string_view value) {
    if (EqualsIgnoreCase(name, "class")) cls = std::string(value);
  });
  return cls;
}

}  // namespace

std::optional<HubHeartbeat> ReadHubHeartbeat(std::string_view datagram) {
  HubHeartbeat hb;
  bool is_heartbeat =
      ReadFirstBlock(datagram, "xap-hbeat", [&](std::string_view name, std::string_view value) {
        if (EqualsIgnoreCase(name, "source")) {
          hb.source = std::string(value);
        } else if (EqualsIgnoreCase(name, "port") && IsNumeric(value)) {
          double p = LeadingNumber(value);
          if (p >= 1 && p <= 65535) hb.port = static_cast<uint16_t>(p);
        } else if (EqualsIgnoreCase(name, "interval") && IsNumeric(value)) {
          double v = LeadingNumber(value);
          hb.interval_s = (v >= 1 && v <= 86400) ? static_cast<int64_t>(v) : 0;
        }
      });
  if (!is_heartbeat) return std::nullopt;
  return hb;
}

XapHub::XapHub(EventLoop& loop, UdpNetwork& net, std::ostream& out,
               std::vector<std::string> local_addresses)
    : loop_(loop),
      net_(net),
      out_(out),
      local_addresses_(std::move(local_addresses)),
      sweep_timer_(loop, [this] { Sweep(); }) {}

int XapHub::Start(const HubOptions& options) {
  options_ = options;
  socket_ = net_.OpenUdp();
  // Several listeners may share the xAP port (another hub, a monitor): each
  // of them gets the broadcasts. SO_REUSEPORT is not used: it would split
  // unicast datagrams between the sockets.
  socket_->SetReuseAddress(true);
  socket_->SetBroadcast(true);
  socket_->SetReceiveHandler(
      [this](std::string_view datagram, const UdpEndpoint& from) { OnDatagram(datagram, from); });
  if (int err = socket_->Bind(options.bind_address, options.port)) {
    socket_.reset();
    return err;
  }
  sweep_timer_.SetInterval(1000);
  sweep_timer_.Start();
  if (options_.verbose) {
    out_ << "xap-hub: listening on " << options.bind_address << ":" << options.port << std::endl;
  }
  return 0;
}

void XapHub::Stop() {
  sweep_timer_.Stop();
  socket_.reset();
}

bool XapHub::IsLocal(const std::string& address) const {
  return IsLoopbackAddress(address) || std::find(local_addresses_.begin(), local_addresses_.end(),
                                                 address) != local_addresses_.end();
}

void XapHub::OnDatagram(std::string_view datagram, const UdpEndpoint& from) {
  if (auto hb = ReadHubHeartbeat(datagram); hb && hb->port && IsLocal(from.address)) {
    Learn(*hb, from);
    return;
  }
  Relay(datagram, from);
}

void XapHub::Learn(const HubHeartbeat& hb, const UdpEndpoint& from) {
  const uint16_t port = *hb.port;
  if (port == options_.port) return;  // relaying to ourselves would loop
  const int64_t interval = hb.interval_s > 0 ? hb.interval_s : kDefaultIntervalS;
  auto it = clients_.find(port);
  if (it == clients_.end()) {
    if (clients_.size() >= kMaxClients) {
      if (options_.verbose) {
        out_ << "xap-hub: client table full, heartbeat for port " << port << " from "
             << from.address << " ignored" << std::endl;
      }
      return;
    }
    it = clients_.emplace(port, Client{port, hb.source, interval, 0}).first;
    if (options_.verbose) {
      out_ << "xap-hub: client " << hb.source << " at 127.0.0.1:" << port << " (interval "
           << interval << " s) added" << std::endl;
    }
  } else if (options_.verbose) {
    out_ << "xap-hub: heartbeat from " << hb.source << " at 127.0.0.1:" << port << std::endl;
  }
  it->second.source = hb.source;
  it->second.interval_s = interval;
  it->second.last_seen_ms = loop_.NowMs();
}

void XapHub::Sweep() {
  const int64_t now = loop_.NowMs();
  for (auto it = clients_.begin(); it != clients_.end();) {
    const Client& c = it->second;
    if (now - c.last_seen_ms > 2 * c.interval_s * 1000) {
      if (options_.verbose) {
        out_ << "xap-hub: client " << c.source << " at 127.0.0.1:" << c.port
             << " forgotten (two intervals without a heartbeat)" << std::endl;
      }
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

void XapHub::Relay(std::string_view datagram, const UdpEndpoint& from) {
  if (!socket_) return;
  Sweep();
  size_t sent = 0;
  for (const auto& [port, client] : clients_) {
    if (socket_->SendTo(datagram, "127.0.0.1", port) == 0) ++sent;
  }
  ++relayed_;
  if (options_.verbose) {
    const std::string cls = ClassOf(datagram);
    out_ << "xap-hub: " << (cls.empty() ? std::string("datagram") : cls) << " (" << datagram.size()
         << " bytes) from " << from.address << ":" << from.port << " relayed to " << sent
         << " client" << (sent == 1 ? "" : "s") << std::endl;
  }
}

}  // namespace corvane
