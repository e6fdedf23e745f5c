// The physical link to the controller: a local serial port, or TCP to a
// serial-to-IP adapter (when SerialIP holds a "."). Opens and reopens the
// link, writes command text, echoes both directions into the echo window,
// and cuts what arrives into CR LF lines for the reply decoder. A lost link
// (a TCP connection, or a serial port that reports an error, hang-up or end
// of file) is reopened in the background with a growing pause between
// attempts, and its loss is reported once, not once per attempt. A serial
// device path that vanished (a USB adapter pulled, its by-id link gone) is
// watched and reopened as soon as it is back.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/event_loop.h"

namespace corvane {

class EchoWindow;
class EventLog;
class SerialPort;
class TcpClient;
struct Settings;

class VauxPort {
 public:
  static constexpr size_t kReceiveLimit = 2000;
  static constexpr int64_t kConnectTickMs = 2000;
  static constexpr int kMaxConnects = 6;
  // Reopening a lost link: the first attempt at once, then pauses of 2 s
  // doubling up to 30 s; a link that stays up 30 s starts over. A missing
  // serial device path is looked for every second.
  static constexpr int64_t kFirstReconnectPauseMs = 2000;
  static constexpr int64_t kMaxReconnectPauseMs = 30000;
  static constexpr int64_t kLinkStableMs = 30000;
  static constexpr int64_t kDeviceLookMs = 1000;

  VauxPort(EventLoop& loop, EventLog& log, const Settings& settings, EchoWindow& echo,
           SerialPort& serial, TcpClient& tcp);
  ~VauxPort();

  // Where decoded lines go (the reply decoder), and whether the program is
  // closing (a lost TCP link is then not reopened).
  void SetLineHandler(std::function<void(const std::string& line)> handler) {
    on_line_ = std::move(handler);
  }
  void SetExitRequested(std::function<bool()> exiting) { exiting_ = std::move(exiting); }
  // Told true when the link opens and false when an open link is lost.
  void SetOpenHandler(std::function<void(bool open)> handler) { on_open_ = std::move(handler); }
  // Someone waits for the link: a reopen is tried now instead of after the
  // current pause (unless one is already under way).
  void ReopenNow();

  // Start-up open: up to two tries of OpenCommPort.
  bool InitCommPort(const std::string& port);
  // One open attempt, serial or TCP (waiting up to about 12 s for TCP).
  bool OpenCommPort(const std::string& port);
  // Closes the link after a failed open.
  void ClosePort(const std::string& port);
  // Is the link usable now; in TCP mode a dropped connection is reopened,
  // unless a background reopen is waiting out its pause (then false at once).
  bool PortOpen(const std::string& port);
  // Writes the text unchanged, echoes and reports it. False when nothing
  // could be written (the link is not open).
  bool PortSend(const std::string& cmd);
  // The readable form of sent text: characters below "0" as <HH>, the others
  // in pairs followed by a space ("VPFE520100" -> "VP FE 52 01 00 ").
  static std::string EchoHex(std::string_view text);
  // The common receive routine of both link kinds.
  void CommReceive(const std::string& data, int event_code);
  void ReceiveFromVaux(const std::string& /*s*/) {}

  // Empties the pending receive text and the connect-attempt counter.
  void ResetReceive();
  // Is the link open, without reopening anything.
  bool IsOpen() const;
  // Do the settings name a controller at all (a port number, or a device
  // path for a serial link)?
  bool Configured() const;
  // Closes both links for good (shutdown).
  void Shutdown();

  bool ResponseBusy() const { return response_busy_; }
  void SetResponseBusy(bool busy) { response_busy_ = busy; }
  const std::string& ReceiveBuffer() const { return receive_buffer_; }
  int ConnectAttempts() const { return connect_attempts_; }
  bool TcpMode() const { return tcp_mode_; }
  // A lost TCP link is waiting out a pause before its next background
  // reopen; sends fail at once meanwhile.
  bool ReconnectPending() const {
    return reconnect_timer_.Enabled() && reconnect_timer_.Interval() >= kFirstReconnectPauseMs;
  }

 private:
  void Winsock1_Connect();
  void Winsock1_DataArrival(const std::string& data);
  void Winsock1_Error(int number, const std::string& description);
  void Winsock1_Close();
  void MSComm1_OnComm(const std::string& data, int event_code);
  void ConnectTimer_Timer();
  // Schedules the next background reopen after the current pause.
  void ReopenLater();
  void ReconnectTimer_Timer();
  void DeviceTimer_Timer();
  bool DevicePresent() const;
  void Opened(bool open);
  void Lost(const std::string& text);
  bool OpenSerial(const std::string& port);
  bool OpenTcp(const std::string& port);
  void LinkStable();
  // The loss of a link that was up: reported once until the link is up again.
  void ReportLoss(const std::string& text);
  // An event, or only a debug event when `quiet`.
  void Report(bool quiet, const std::string& text);
  void DecodeLines();
  bool Exiting() const { return exiting_ && exiting_(); }

  EventLoop& loop_;
  EventLog& log_;
  const Settings& settings_;
  EchoWindow& echo_;
  SerialPort& serial_;
  TcpClient& tcp_;
  Timer connect_timer_;  // ConnectTimer
  Timer reconnect_timer_;
  Timer stable_timer_;
  Timer device_timer_;  // looks for a vanished serial device path
  bool device_present_ = true;
  std::function<void(const std::string&)> on_line_;
  std::function<void(bool)> on_open_;
  std::function<bool()> exiting_;

  std::string receive_buffer_;  // ReceiveBuffer
  bool response_busy_ = false;  // ResponseBusy
  bool tcp_mode_ = false;
  bool opening_ = false;  // a TCP open is waiting for its connection
  int64_t reconnect_pause_ms_ = 0;
  bool loss_reported_ = false;  // the link's loss was reported; it is not up again yet
  int connect_attempts_ = 0;
  std::string connect_host_;
  int connect_port_ = 0;
};

}  // namespace corvane
