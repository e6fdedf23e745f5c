// The xAP transport: two UDP sockets, the port through which a local hub
// relays network traffic to the program, heartbeats, sending and the receive
// queue. The first socket is bound to 127.0.0.1 at the first free port of
// 32768..32967 and receives what the hub relays; the second sends every
// datagram to the send address at port 3639.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event_loop.h"
#include "platform/udp_socket.h"

namespace corvane {

class EventLog;

// What the transport calls, 50 ms after datagrams arrived, so that the
// receiver drains the queue with GetMessage.
class XapCallback {
 public:
  virtual ~XapCallback() = default;
  virtual void onMessage() = 0;
};

// The program's source address: "zyn.Vaux." and the computer's name, then,
// when an instance is set, "." and that instance, so that two programs on one
// computer have addresses of their own. Characters an xAP address part cannot
// carry are left out of the instance.
std::string XapSourceAddress(std::string_view computer_name, std::string_view instance);

class XapTransport {
 public:
  static constexpr uint16_t kXapPort = 3639;    // where every datagram is sent
  static constexpr int32_t kFirstPort = 32768;  // the ports tried for the hub's relay
  static constexpr int kPortTries = 200;
  // Datagrams beyond this many waiting push out the oldest; how many were
  // dropped is reported once a minute while it happens.
  static constexpr size_t kReceiveQueueLimit = 10000;
  static constexpr int64_t kDropReportMs = 60000;
  static constexpr int64_t kReceiveDelayMs = 50;

  XapTransport(EventLoop& loop, UdpNetwork& net, EventLog& log);
  ~XapTransport();
  XapTransport(const XapTransport&) = delete;
  XapTransport& operator=(const XapTransport&) = delete;

  // --- properties -----------------------------------------------------------
  const std::string& BroadcastAddress() const { return broadcast_address_; }
  void SetBroadcastAddress(std::string v) { broadcast_address_ = std::move(v); }
  const std::string& InterfaceAddress() const { return interface_address_; }
  void SetInterfaceAddress(std::string v) { interface_address_ = std::move(v); }
  const std::string& XapSource() const { return xap_source_; }
  void SetXapSource(std::string v);  // rebuilds the heartbeat head
  const std::string& XapUID() const { return xap_uid_; }
  void SetXapUID(std::string v);  // rebuilds the heartbeat head
  bool FilterHeartbeats() const { return filter_heartbeats_; }
  void SetFilterHeartbeats(bool v) { filter_heartbeats_ = v; }
  void RegisterNewMessageCallback(XapCallback* callback) { callback_ = callback; }

  // --- operations -----------------------------------------------------------
  // Opens both sockets. The bound port (> 0); -1 when none of the 200 ports
  // is free; minus the errno value when the sending socket cannot be bound.
  int32_t Init();
  // Clamps the interval (seconds) to 0 or 5..60, re-arms the heartbeat timer
  // (a heartbeat every interval) and sends one heartbeat announcing that
  // interval. Hubs forget clients that stay silent, so a hub that restarted
  // relays to this program again within one interval. Throws
  // std::runtime_error when the datagram cannot be sent.
  void SendHeartbeat(int32_t LongInterval);
  // The heartbeat of an orderly stop ("xap-hbeat.stopped", the same head), so
  // peers and hubs know at once; a failure goes to the error log.
  void SendStoppedHeartbeat();
  // Builds and sends one message with one section; "" on success, else
  // "0 " and the error's description.
  std::string SendXap(std::string_view sTarget, std::string_view sClass, std::string_view sSection,
                      std::string_view sData, std::string_view sSubaddress = {},
                      std::string_view sUID = {}, std::string_view sTargetSubaddress = {});
  // Sends the text unchanged as one datagram; throws std::runtime_error when
  // it cannot be sent.
  void SendRawXap(std::string_view sMessage);
  // Removes and returns the oldest received datagram; "" when none is left.
  std::string GetMessage();
  // What both sockets do with a datagram: heartbeats (and anything else not
  // starting "xap-head") are dropped while FilterHeartbeats is true; the rest
  // is queued and the receive timer armed.
  void ProcessReceivedMessage(std::string_view datagram);
  // Closes both sockets, stops the timers and empties the receive queue.
  void Unload();

  // The local address: the host name's first address, or the first one the
  // InterfaceAddress pattern matches; "" when the name cannot be looked up.
  std::string GetIP();
  // Four dotted parts each: every address part AND its pattern part equals
  // the address part.
  static bool MatchesInterface(std::string_view pattern, std::string_view address);

  // --- state ------------------------------------------------------------------
  int32_t port() const { return port_; }
  const std::string& send_address() const { return send_address_; }
  const std::string& local_address() const { return local_address_; }
  // Where datagrams leave from (the sending socket's own address and port).
  UdpEndpoint SendEndpoint() const;
  size_t ReceiveQueueSize() const { return receive_queue_.size(); }
  uint64_t DroppedCount() const { return dropped_total_; }
  const Timer& HBeatTimer() const { return hbeat_timer_; }
  const Timer& ReceiveTimer() const { return receive_timer_; }

 private:
  void BuildHeartbeatHead();
  std::string HeartbeatText(std::string_view cls, int32_t interval) const;
  void HBeatTimerTick();
  void ReceiveTimerTick();
  void DropReportTimerTick();
  int Send(std::string_view datagram);
  std::unique_ptr<UdpSocket> OpenSocket();

  UdpNetwork& net_;
  EventLog& log_;

  std::string broadcast_address_ = "Default";
  std::string interface_address_ = "Default";
  std::string xap_source_;
  std::string xap_uid_;
  bool filter_heartbeats_ = true;
  XapCallback* callback_ = nullptr;

  std::string send_address_;
  std::string local_address_;
  int32_t port_ = 0;
  std::string heartbeat_head_;    // up to "class="
  std::string heartbeat_source_;  // source and "interval=" lines
  std::string heartbeat_tail_;
  std::unique_ptr<UdpSocket> winsock1_;  // receives the hub's relay on 127.0.0.1
  std::unique_ptr<UdpSocket> winsock2_;  // sends everything

  std::deque<std::string> receive_queue_;
  uint64_t dropped_total_ = 0;
  uint64_t dropped_since_report_ = 0;
  Timer hbeat_timer_;
  Timer receive_timer_;
  Timer drop_report_timer_;
};

}  // namespace corvane
