#include "device/vaux_port.h"

#include <sys/stat.h>

#include <algorithm>

#include "config/settings.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"
#include "platform/serial_port.h"
#include "platform/tcp_client.h"
#include "ui/echo_window.h"

namespace corvane {

namespace {

constexpr int64_t kOpenWaitLimitMs = 20000;  // far beyond the retry clock's 12 s

}  // namespace

VauxPort::VauxPort(EventLoop& loop, EventLog& log, const Settings& settings, EchoWindow& echo,
                   SerialPort& serial, TcpClient& tcp)
    : loop_(loop),
      log_(log),
      settings_(settings),
      echo_(echo),
      serial_(serial),
      tcp_(tcp),
      connect_timer_(loop, [this] { ConnectTimer_Timer(); }),
      reconnect_timer_(loop, [this] { ReconnectTimer_Timer(); }),
      stable_timer_(loop, [this] { LinkStable(); }),
      device_timer_(loop, [this] { DeviceTimer_Timer(); }) {
  device_timer_.SetInterval(kDeviceLookMs);
  stable_timer_.SetInterval(kLinkStableMs);
  TcpClient::Handlers h;
  h.on_connect = [this] { Winsock1_Connect(); };
  h.on_data = [this](const std::string& data) { Winsock1_DataArrival(data); };
  h.on_error = [this](int n, const std::string& d) { Winsock1_Error(n, d); };
  h.on_close = [this] { Winsock1_Close(); };
  tcp_.SetHandlers(std::move(h));
  serial_.SetReceiveHandler(
      [this](const std::string& data, int code) { MSComm1_OnComm(data, code); });
}

VauxPort::~VauxPort() {
  tcp_.SetHandlers({});
  serial_.SetReceiveHandler(nullptr);
}

void VauxPort::ResetReceive() {
  receive_buffer_.clear();
  connect_attempts_ = 0;
}

bool VauxPort::IsOpen() const {
  return tcp_mode_ ? tcp_.State() == TcpClient::kConnected : serial_.IsOpen();
}

bool VauxPort::Configured() const {
  const std::string& port = settings_.upb_comm_port;
  const bool tcp = settings_.serial_ip.find('.') != std::string::npos;
  return (!tcp && !port.empty() && port[0] == '/') || LeadingNumber(port) != 0;
}

bool VauxPort::OpenCommPort(const std::string& port) {
  connect_attempts_ = 0;
  bool result = false;
  const bool tcp = settings_.serial_ip.find('.') != std::string::npos;
  const bool device_path = !tcp && !port.empty() && port[0] == '/';
  if (!device_path && LeadingNumber(port) == 0) return false;
  const bool ok = Guard(log_, "OpenCommPort " + port, [&] {
    tcp_mode_ = tcp;
    result = tcp ? OpenTcp(port) : OpenSerial(port);
  });
  if (!ok) opening_ = false;
  echo_.SetOpenStatus(result ? "Port Open / " + std::to_string(connect_attempts_) + " tries"
                             : "Port Not Connected");
  if (result) Opened(true);
  loop_.Pump();
  return result;
}

bool VauxPort::OpenSerial(const std::string& port) {
  if (serial_.IsOpen()) return true;
  auto line = ParseSerialSettings(settings_.serial_settings);
  std::string error;
  if (!line) {
    log_.LogError("Corvane", "OpenCommPort " + port,
                  "SerialSettings '" + settings_.serial_settings +
                      "' is not baud,parity,data bits,stop bits (like 9600,n,8,1)");
  } else if (!serial_.Open(SerialDevicePath(port), *line, &error)) {
    // A port whose loss was reported fails quietly until it is back.
    if (loss_reported_) {
      log_.DebugEvent("Corvane", "OpenCommPort " + port + " " + error);
    } else {
      log_.LogError("Corvane", "OpenCommPort " + port, error);
    }
  }
  return serial_.IsOpen();
}

bool VauxPort::OpenTcp(const std::string& port) {
  if (tcp_.State() == TcpClient::kConnected) return true;
  tcp_.Close();
  connect_host_ = settings_.serial_ip;
  auto number = ToInt32(LeadingNumber(port));
  connect_port_ = number ? *number : 0;
  tcp_.Connect(connect_host_, connect_port_);
  connect_timer_.SetInterval(kConnectTickMs);
  connect_timer_.Stop();
  connect_timer_.Start();
  opening_ = true;
  loop_.PumpUntil(
      [&] { return tcp_.State() == TcpClient::kConnected || !connect_timer_.Enabled(); },
      loop_.NowMs() + kOpenWaitLimitMs);
  opening_ = false;
  const bool result = tcp_.State() == TcpClient::kConnected;
  if (!result) {
    connect_timer_.Stop();
    Report(loss_reported_, "Unable to connect to Vaux Aris 700 via TCP " + port);
  }
  return result;
}

void VauxPort::Opened(bool open) {
  if (open) {
    device_timer_.Stop();
    stable_timer_.Stop();
    stable_timer_.Start();
  }
  if (on_open_) on_open_(open);
}

void VauxPort::ConnectTimer_Timer() {
  ++connect_attempts_;
  if (tcp_.State() != TcpClient::kConnected && connect_attempts_ < kMaxConnects) {
    tcp_.Close();
    tcp_.Connect(connect_host_, connect_port_);
  } else {
    connect_timer_.Stop();
  }
}

bool VauxPort::InitCommPort(const std::string& port) {
  for (int attempt = 0; attempt < 2 && !Exiting(); ++attempt) {
    if (OpenCommPort(port)) {
      log_.LogEvent("Corvane", "Vaux Aris 700 Comm Port " + port + " Opened");
      return true;
    }
    log_.LogEvent("Corvane", "Error Opening Vaux Arix 700 Comm Port number  " + port);
    ClosePort(port);
  }
  // Reopened in the background, like a link that was lost.
  loss_reported_ = true;
  ReopenLater();
  return false;
}

void VauxPort::ClosePort(const std::string& port) {
  reconnect_timer_.Stop();
  device_timer_.Stop();
  Guard(log_, "ClosePort " + port, [&] {
    if (tcp_mode_) {
      connect_timer_.Stop();
      tcp_.Close();
    } else {
      serial_.Close();
    }
  });
}

bool VauxPort::PortOpen(const std::string& port) {
  if (tcp_mode_) {
    if (tcp_.State() == TcpClient::kConnected) return true;
    // An adapter that keeps dropping the link is not hammered by every send.
    return ReconnectPending() ? false : OpenCommPort(port);
  }
  return serial_.IsOpen();
}

bool VauxPort::PortSend(const std::string& cmd) {
  bool sent = false;
  const std::string port = settings_.upb_comm_port;
  if (PortOpen(port)) {
    sent = tcp_mode_ ? tcp_.Send(cmd) : serial_.Write(cmd);
    if (!sent) log_.LogError("Corvane", "PortSend", "writing to port " + port + " failed");
    echo_.EchoMessage(EchoHex(cmd));
  } else {
    log_.LogEvent("Corvane", "Unable to Send to Vaux Aris 700, Port " + port + " not open");
  }
  log_.DebugEvent("Corvane", "Sending Command " + cmd);
  return sent;
}

std::string VauxPort::EchoHex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  int pair = 0;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < '0') {
      out += '<';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
      out += '>';
      pair = 0;
    } else {
      out += ch;
      if (++pair == 2) {
        out += ' ';
        pair = 0;
      }
    }
  }
  return out;
}

void VauxPort::CommReceive(const std::string& data, int event_code) {
  const bool ok = Guard(log_, "CommERROR ", [&] {
    echo_.EchoReceived(data);
    if (event_code == SerialPort::kReceiveEvent) {
      if (receive_buffer_.size() < kReceiveLimit) {
        receive_buffer_ += RemoveChar(data, ' ');
      } else if (receive_buffer_.find("\r\n") == std::string::npos) {
        // Without a line end nothing would ever be decoded again.
        log_.DebugEvent("Corvane",
                        "Vaux receive buffer discarded: " + std::to_string(receive_buffer_.size()) +
                            " characters without a line end");
        receive_buffer_ = RemoveChar(data, ' ');
      }
      // A full buffer whose lines still wait drops the new data; its lines
      // are decoded as soon as decoding is free.
      if (response_busy_) return;
      DecodeLines();
    } else if (event_code != 3 && log_.DebugEnabled()) {
      log_.LogEvent("Corvane Debug", "Vaux Comm Event Code=" + std::to_string(event_code));
    }
  });
  if (!ok) response_busy_ = false;
}

void VauxPort::DecodeLines() {
  for (;;) {
    const size_t end = receive_buffer_.find("\r\n");
    if (end == std::string::npos) return;
    std::string line = receive_buffer_.substr(0, end);
    receive_buffer_.erase(0, end + 2);
    if (line == "VX") {
      // The controller may send the kind on a line of its own: it joins the
      // next line.
      receive_buffer_.insert(0, "VX");
      continue;
    }
    response_busy_ = true;
    if (on_line_) on_line_(line);
    response_busy_ = false;
  }
}

void VauxPort::Winsock1_Connect() {
  connect_timer_.Stop();
  Opened(true);
}

void VauxPort::Winsock1_DataArrival(const std::string& data) {
  CommReceive(data, SerialPort::kReceiveEvent);
}

void VauxPort::Winsock1_Error(int number, const std::string& description) {
  if (Exiting()) return;
  const std::string text = "Vaux Winsock1_Error at State " + std::to_string(tcp_.State()) + ", " +
                           std::to_string(number) + " " + description;
  // A failed connect of a running open is retried by the open's own clock.
  if (opening_) return Report(loss_reported_, text);
  Lost(text);
}

void VauxPort::Winsock1_Close() {
  if (Exiting()) return;
  Lost("Vaux IP Connection Closed " + std::to_string(tcp_.State()));
}

void VauxPort::Lost(const std::string& text) {
  ReportLoss(text);
  Opened(false);
  ReopenLater();
}

void VauxPort::Report(bool quiet, const std::string& text) {
  if (quiet) {
    log_.DebugEvent("Corvane", text);
  } else {
    log_.LogEvent("Corvane", text);
  }
}

void VauxPort::ReportLoss(const std::string& text) {
  stable_timer_.Stop();
  Report(loss_reported_, text);
  loss_reported_ = true;
}

void VauxPort::ReopenLater() {
  // Reopening runs from the loop, outside the socket's own handler, and
  // never nests in a running open.
  if (!tcp_mode_ && !device_timer_.Enabled()) {
    device_present_ = DevicePresent();
    device_timer_.Start();
  }
  if (reconnect_timer_.Enabled()) return;
  reconnect_timer_.SetInterval(std::max<int64_t>(reconnect_pause_ms_, 1));
  reconnect_timer_.Start();
  reconnect_pause_ms_ = reconnect_pause_ms_ == 0
                            ? kFirstReconnectPauseMs
                            : std::min(2 * reconnect_pause_ms_, kMaxReconnectPauseMs);
}

void VauxPort::ReopenNow() {
  if (Exiting() || IsOpen() || opening_ || !Configured()) return;
  reconnect_timer_.Stop();
  reconnect_timer_.SetInterval(1);
  reconnect_timer_.Start();
}

bool VauxPort::DevicePresent() const {
  struct stat st {};
  return ::stat(SerialDevicePath(settings_.upb_comm_port).c_str(), &st) == 0;
}

// A vanished serial device that is back is opened at once, whatever pause
// the back-off is in.
void VauxPort::DeviceTimer_Timer() {
  if (Exiting() || tcp_mode_ || serial_.IsOpen()) {
    device_timer_.Stop();
    return;
  }
  const bool present = DevicePresent();
  const bool appeared = present && !device_present_;
  device_present_ = present;
  if (appeared) ReopenNow();
}

void VauxPort::ReconnectTimer_Timer() {
  reconnect_timer_.Stop();
  if (Exiting() || IsOpen()) return;
  if (opening_) {
    // Another open is waiting; look again after it.
    reconnect_timer_.Start();
    return;
  }
  if (!OpenCommPort(settings_.upb_comm_port)) ReopenLater();
}

void VauxPort::LinkStable() {
  stable_timer_.Stop();
  if (!IsOpen()) return;
  reconnect_pause_ms_ = 0;
  if (loss_reported_) {
    loss_reported_ = false;
    log_.LogEvent("Corvane", "Vaux Aris 700 Comm Port " + settings_.upb_comm_port + " Opened");
  }
}

void VauxPort::MSComm1_OnComm(const std::string& data, int event_code) {
  if (event_code == SerialPort::kDeviceLostEvent) {
    CommReceive(std::string(), event_code);
    if (Exiting()) return;
    Lost("Vaux Aris 700 Comm Port " + settings_.upb_comm_port + " closed: " + data);
    return;
  }
  CommReceive(data, event_code);
}

void VauxPort::Shutdown() {
  connect_timer_.Stop();
  device_timer_.Stop();
  reconnect_timer_.Stop();
  stable_timer_.Stop();
  tcp_.Close();
  serial_.Close();
}

}  // namespace corvane
