#include "xap/xap_transport.h"

#include <cctype>
#include <cerrno>
#include <optional>
#include <stdexcept>

#include "core/event_log.h"
#include "core/text.h"
#include "xap/xap_message.h"

namespace corvane {

namespace {

constexpr char kItemSeparator = '\0';
constexpr char kValueSeparator = '\x01';

// A dotted part as an integer for MatchesInterface; nothing when it does not
// fit 32 bits.
std::optional<int64_t> PartValue(std::string_view part) {
  double v = RoundHalfEven(LeadingNumber(part));
  if (!(v >= -2147483648.0 && v <= 2147483647.0)) return std::nullopt;
  return static_cast<int64_t>(v);
}

}  // namespace

std::string XapSourceAddress(std::string_view computer_name, std::string_view instance) {
  std::string clean;
  for (char c : instance) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || (c == '.' && !clean.empty())) clean += c;
  }
  while (!clean.empty() && clean.back() == '.') clean.pop_back();
  std::string source = "zyn.Vaux." + std::string(computer_name);
  if (!clean.empty()) source += "." + clean;
  return source;
}

XapTransport::XapTransport(EventLoop& loop, UdpNetwork& net, EventLog& log)
    : net_(net),
      log_(log),
      hbeat_timer_(loop, [this] { HBeatTimerTick(); }),
      receive_timer_(loop, [this] { ReceiveTimerTick(); }),
      drop_report_timer_(loop, [this] { DropReportTimerTick(); }) {}

XapTransport::~XapTransport() {
  Unload();
}

void XapTransport::SetXapSource(std::string v) {
  xap_source_ = std::move(v);
  BuildHeartbeatHead();
}

void XapTransport::SetXapUID(std::string v) {
  xap_uid_ = std::move(v);
  BuildHeartbeatHead();
}

void XapTransport::BuildHeartbeatHead() {
  heartbeat_head_ = "xap-hbeat\n{\nv=13\nhop=1\nuid=" + xap_uid_ + "\nclass=";
  heartbeat_source_ = "\nsource=" + xap_source_ + "\ninterval=";
}

std::string XapTransport::HeartbeatText(std::string_view cls, int32_t interval) const {
  return heartbeat_head_ + std::string(cls) + heartbeat_source_ + std::to_string(interval) +
         heartbeat_tail_;
}

std::unique_ptr<UdpSocket> XapTransport::OpenSocket() {
  auto s = net_.OpenUdp();
  s->SetReceiveHandler(
      [this](std::string_view datagram, const UdpEndpoint&) { ProcessReceivedMessage(datagram); });
  return s;
}

int32_t XapTransport::Init() {
  winsock1_.reset();
  winsock2_.reset();
  port_ = 0;
  heartbeat_tail_.clear();
  local_address_ = GetIP();
  send_address_ =
      EqualsIgnoreCase(broadcast_address_, "default") ? "255.255.255.255" : broadcast_address_;

  winsock1_ = OpenSocket();
  int32_t port = kFirstPort;
  bool bound = false;
  for (int i = 0; i < kPortTries; ++i, ++port) {
    if (winsock1_->Bind("127.0.0.1", static_cast<uint16_t>(port)) == 0) {
      bound = true;
      break;
    }
  }
  if (!bound) {
    winsock1_.reset();
    return -1;
  }
  port_ = port;

  // The sending socket takes the same port on the local address. A loopback
  // local address (a host name that resolves to 127.0.0.1) would collide with
  // the first socket and could not reach a LAN broadcast address anyway, so
  // then, or when that port is in use there, it takes any address and a port
  // the system chooses; receiving stays with the first socket.
  winsock2_ = OpenSocket();
  winsock2_->SetBroadcast(true);
  int err = EADDRINUSE;
  if (!local_address_.empty() && !IsLoopbackAddress(local_address_)) {
    err = winsock2_->Bind(local_address_, static_cast<uint16_t>(port));
  }
  if (err == EADDRINUSE) err = winsock2_->Bind("0.0.0.0", 0);
  if (err != 0) return err > 0 ? -err : err;

  heartbeat_tail_ = "\nport=" + std::to_string(port) + "\n}\n";
  return port;
}

UdpEndpoint XapTransport::SendEndpoint() const {
  return winsock2_ ? winsock2_->LocalEndpoint() : UdpEndpoint{};
}

int XapTransport::Send(std::string_view datagram) {
  if (!winsock2_ || !winsock2_->IsBound()) return ENOTCONN;
  return winsock2_->SendTo(datagram, send_address_, kXapPort);
}

void XapTransport::SendHeartbeat(int32_t LongInterval) {
  int32_t n = LongInterval;
  if (n > 60) n = 60;
  if (n < 1) n = 0;
  if (n >= 1 && n <= 4) n = 5;
  hbeat_timer_.SetInterval(static_cast<int64_t>(n) * 1000);
  hbeat_timer_.SetEnabled(n > 0);
  if (int err = Send(HeartbeatText("xap-hbeat.alive", n))) {
    throw std::runtime_error("SendHeartbeat: " + ErrorText(err));
  }
}

void XapTransport::SendStoppedHeartbeat() {
  if (heartbeat_tail_.empty()) return;  // never announced, nothing to withdraw
  const auto interval = static_cast<int32_t>(hbeat_timer_.Interval() / 1000);
  if (int err = Send(HeartbeatText("xap-hbeat.stopped", interval))) {
    log_.WriteErrorLog("Corvane", "SendStoppedHeartbeat", ErrorText(err));
  }
}

void XapTransport::HBeatTimerTick() {
  try {
    SendHeartbeat(static_cast<int32_t>(hbeat_timer_.Interval() / 1000));
  } catch (const std::exception& e) {
    log_.WriteErrorLog("Corvane", "HBeatTimer", e.what());
  }
}

std::string XapTransport::SendXap(std::string_view sTarget, std::string_view sClass,
                                  std::string_view sSection, std::string_view sData,
                                  std::string_view sSubaddress, std::string_view sUID,
                                  std::string_view sTargetSubaddress) {
  try {
    XapMessage msg;
    msg.SetMsgClass(std::string(sClass));
    std::string source = xap_source_;
    if (!sSubaddress.empty()) source.append(":").append(sSubaddress);
    msg.SetMsgSource(std::move(source));
    std::string target;
    if (!sTarget.empty()) {
      target.assign(sTarget);
      if (!sTargetSubaddress.empty()) target.append(":").append(sTargetSubaddress);
    }
    msg.SetMsgTarget(std::move(target));
    msg.SetMsgUID(std::string(sUID.empty() ? std::string_view(xap_uid_) : sUID));
    msg.AddHeader();
    msg.AddSection(sSection);
    size_t start = 0;
    while (start <= sData.size()) {
      size_t end = sData.find(kItemSeparator, start);
      if (end == std::string_view::npos) end = sData.size();
      std::string_view piece = sData.substr(start, end - start);
      size_t one = piece.find(kValueSeparator);
      if (one != std::string_view::npos) {
        msg.AddItem(sSection, piece.substr(0, one), piece.substr(one + 1));
      }
      start = end + 1;
    }
    if (int err = Send(msg.ToXap())) return "0 " + ErrorText(err);
    return "";
  } catch (const std::exception& e) {
    return std::string("0 ") + e.what();
  }
}

void XapTransport::SendRawXap(std::string_view sMessage) {
  if (int err = Send(sMessage)) throw std::runtime_error("SendRawXap: " + ErrorText(err));
}

void XapTransport::ProcessReceivedMessage(std::string_view datagram) {
  if (filter_heartbeats_ && !StartsWithIgnoreCase(datagram, "xap-head")) return;
  receive_queue_.emplace_back(datagram);
  if (receive_queue_.size() > kReceiveQueueLimit) {
    receive_queue_.pop_front();
    ++dropped_total_;
    if (dropped_since_report_++ == 0 && !drop_report_timer_.Enabled()) {
      drop_report_timer_.SetInterval(kDropReportMs);
      drop_report_timer_.Start();
    }
  }
  receive_timer_.SetInterval(kReceiveDelayMs);
  receive_timer_.SetEnabled(true);
}

void XapTransport::ReceiveTimerTick() {
  receive_timer_.SetEnabled(false);
  if (callback_) callback_->onMessage();
}

std::string XapTransport::GetMessage() {
  if (receive_queue_.empty()) return "";
  std::string text = std::move(receive_queue_.front());
  receive_queue_.pop_front();
  return text;
}

void XapTransport::DropReportTimerTick() {
  if (dropped_since_report_ == 0) {
    drop_report_timer_.Stop();
    return;
  }
  const uint64_t n = dropped_since_report_;
  dropped_since_report_ = 0;
  log_.WriteErrorLog("Corvane", "ProcessReceivedMessage",
                     std::to_string(n) + " datagrams dropped in the last minute (receive queue full, " +
                         std::to_string(kReceiveQueueLimit) + " waiting)");
}

void XapTransport::Unload() {
  if (dropped_since_report_ > 0) DropReportTimerTick();
  drop_report_timer_.Stop();
  receive_queue_.clear();
  hbeat_timer_.SetEnabled(false);
  receive_timer_.SetEnabled(false);
  if (winsock1_) winsock1_->Close();
  if (winsock2_) winsock2_->Close();
  winsock1_.reset();
  winsock2_.reset();
}

std::string XapTransport::GetIP() {
  try {
    const std::vector<std::string> addresses = net_.HostAddresses();
    if (addresses.empty()) return "";
    for (const auto& a : addresses) {
      if (MatchesInterface(interface_address_, a)) return a;
    }
    return addresses.front();
  } catch (const std::exception& e) {
    log_.WriteErrorLog("Corvane", "GetIP", e.what());
    return "";
  }
}

bool XapTransport::MatchesInterface(std::string_view pattern, std::string_view address) {
  const auto p = Split(pattern, '.');
  const auto a = Split(address, '.');
  if (p.size() != 4 || a.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    const auto pv = PartValue(p[i]);
    const auto av = PartValue(a[i]);
    if (!pv || !av) return false;
    if ((*av & *pv) != *av) return false;
  }
  return true;
}

}  // namespace corvane
