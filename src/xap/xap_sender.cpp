#include "xap/xap_sender.h"

#include "core/event_log.h"
#include "xap/xap_transport.h"

namespace corvane {

std::string XapOutbox::WorkOutUID(std::string_view base_uid, std::string_view uid) {
  if (uid.empty()) return std::string(base_uid);
  if (uid.size() == 2) {
    std::string out(base_uid.substr(0, base_uid.size() >= 2 ? base_uid.size() - 2 : 0));
    out.append(uid);
    return out;
  }
  return std::string(uid);
}

void XapOutbox::Transmit(const xapQueuedMessage& m) {
  // The transport's own result names a failed send; nothing here acts on it.
  xap_.SendXap(m.MsgTarget, m.MsgClass, m.MsgSection, m.MsgData, m.MsgSubAddress, m.MsgUID,
               m.MsgTargetSubAddress);
}

void XapOutbox::Send(const xapQueuedMessage& message) {
  try {
    xapQueuedMessage m = message;
    m.MsgUID = WorkOutUID(base_uid_, message.MsgUID);
    if (!ready_) {
      pending_.push_back(std::move(m));
      return;
    }
    if (!pending_.empty()) {
      std::deque<xapQueuedMessage> queued;
      queued.swap(pending_);
      for (const auto& q : queued) Transmit(q);
    }
    Transmit(m);
  } catch (const std::exception& e) {
    std::string data = message.MsgData;
    for (auto& c : data) {
      if (c == '\0' || c == '\x01') c = ' ';
    }
    log_.WriteErrorLog("Corvane", "SendXap  " + data, e.what());
  }
}

}  // namespace corvane
