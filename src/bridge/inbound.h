// The handler of every received xAP message (Readmessage): keeps the latest
// items of watched sources in their device records, then, for messages
// addressed to the program (or to no one), acts on the classes it knows:
// BSC queries and commands, X10 requests, echo requests, the time of day and
// role queries. BSCCmd turns one BSC command block into controller commands.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "xap/xap_handler.h"

namespace corvane {

class BscReporter;
class DeviceTable;
class EventLog;
class ScriptEventQueue;
class VauxLink;
class WallClock;
class XapMessage;
class XapSender;
class XapTransport;

class InboundHandler final : public XapMessageHandler {
 public:
  // At most this many numbered blocks (output.state.1 ...) of one command.
  static constexpr int kMaxCommandBlocks = 5;

  InboundHandler(EventLog& log, const WallClock& wall, XapSender& sender, const XapTransport& xap,
                 DeviceTable& table, VauxLink& vaux, BscReporter& bsc, ScriptEventQueue& scripts,
                 std::string executable_path);

  void Readmessage(const std::string& text) override;

  // Applies one command block to the records that the ID ("*": the target's
  // sub-address pattern; else the record number in hex) selects: the Level,
  // or without one the State, read per record as RequestFor does. A target
  // without ":" commands nothing. The requests are queued for the controller
  // (VauxLink::QueueControl), so the caller does not wait for it. The status
  // page calls it too.
  void BSCCmd(std::string_view target, std::string_view id, std::string_view state,
              std::string_view level);

  // Recalls a saved scene by name: a "Corvane.Scene" message addressed to the
  // program, section "scene.recall", item "name".
  void SetSceneRecall(std::function<void(const std::string&)> recall) {
    scene_recall_ = std::move(recall);
  }

  // The last "Time.Today" announcement's texts (empty until one came,
  // "Unknown" when it lacked the item); scripts read them.
  const std::string& Sunrise() const { return sunrise_; }
  const std::string& Sunset() const { return sunset_; }

 private:
  void UpdateDeviceRecord(const XapMessage& m, const std::string& filter);
  void Command(const XapMessage& m);
  void X10Request(const XapMessage& m);
  void EchoReply(const XapMessage& m);
  void TimeToday(const XapMessage& m);
  void RoleReply(const XapMessage& m);

  EventLog& log_;
  const WallClock& wall_;
  XapSender& sender_;
  const XapTransport& xap_;
  DeviceTable& table_;
  VauxLink& vaux_;
  BscReporter& bsc_;
  ScriptEventQueue& scripts_;
  std::string executable_path_;
  std::function<void(const std::string&)> scene_recall_;
  std::string sunrise_;
  std::string sunset_;
};

}  // namespace corvane
