// The one send routine every module uses for xAP messages, and the queue that
// holds messages until the transport is ready.
#pragma once

#include <deque>
#include <string>
#include <string_view>

namespace corvane {

class EventLog;
class XapTransport;

// One message waiting to be sent.
struct xapQueuedMessage {
  std::string MsgTarget;
  std::string MsgUID;
  std::string MsgClass;
  std::string MsgSection;
  std::string MsgData;
  std::string MsgSubAddress;
  std::string MsgTargetSubAddress;
};

// Where modules send their messages. `sData` is an item list: each item is
// name, character 1, value; items are joined by character 0. `sUID` empty
// means the base UID; two characters replace the base UID's last two; any
// other text is used as it is.
class XapSender {
 public:
  virtual ~XapSender() = default;
  void SendXap(std::string_view sTarget, std::string_view sClass, std::string_view sSection,
               std::string_view sData, std::string_view sSubaddress = {},
               std::string_view sUID = {}, std::string_view sTargetSubaddress = {}) {
    Send(xapQueuedMessage{std::string(sTarget), std::string(sUID), std::string(sClass),
                          std::string(sSection), std::string(sData), std::string(sSubaddress),
                          std::string(sTargetSubaddress)});
  }
  virtual void Send(const xapQueuedMessage& message) = 0;
};

// The program's sender: works out the UID, holds messages while the xAP-ready
// flag is clear and sends them, oldest first, ahead of the first message
// after it is set.
class XapOutbox final : public XapSender {
 public:
  XapOutbox(XapTransport& xap, EventLog& log) : xap_(xap), log_(log) {}

  void SetBaseUID(std::string uid) { base_uid_ = std::move(uid); }
  const std::string& BaseUID() const { return base_uid_; }
  // The xAP-ready flag.
  void SetReady(bool ready) { ready_ = ready; }
  bool Ready() const { return ready_; }
  size_t PendingCount() const { return pending_.size(); }

  void Send(const xapQueuedMessage& message) override;

  static std::string WorkOutUID(std::string_view base_uid, std::string_view uid);

 private:
  void Transmit(const xapQueuedMessage& m);

  XapTransport& xap_;
  EventLog& log_;
  std::string base_uid_ = "FF.0022:00";
  bool ready_ = false;
  std::deque<xapQueuedMessage> pending_;
};

}  // namespace corvane
