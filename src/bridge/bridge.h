// The bridge between the controller and the xAP network: the inbound handler
// (installed as the program's message handler) and the BSC reporting (the
// device table's change observer), built together because the handler
// answers queries through the reporting.
#pragma once

#include <string>
#include <string_view>

#include "bridge/bsc_reporter.h"
#include "bridge/inbound.h"
#include "device/vaux_link.h"

namespace corvane {

class XapBridge {
 public:
  XapBridge(EventLoop& loop, EventLog& log, const WallClock& wall, XapSender& sender,
            const XapTransport& xap, DeviceTable& table, VauxLink& vaux, ScriptEventQueue& scripts,
            std::string executable_path)
      : vaux_(vaux),
        reporter_(loop, log, sender, table, vaux, scripts),
        inbound_(log, wall, sender, xap, table, vaux, reporter_, scripts,
                 std::move(executable_path)) {}

  InboundHandler& inbound() { return inbound_; }
  BscReporter& reporter() { return reporter_; }

  // What the status page and the scripts use. Unlike a command from the
  // network, theirs is carried out before the call returns (unless one is
  // already being carried out further up), so the page they show next holds
  // the controller's answer.
  void BSCCmd(std::string_view target, std::string_view id, std::string_view state,
              std::string_view level) {
    inbound_.BSCCmd(target, id, state, level);
    vaux_.RunQueuedControls();
  }
  void BSCQuery(std::string_view target) { reporter_.BSCQuery(target); }
  const std::string& Sunrise() const { return inbound_.Sunrise(); }
  const std::string& Sunset() const { return inbound_.Sunset(); }

 private:
  VauxLink& vaux_;
  BscReporter reporter_;
  InboundHandler inbound_;
};

}  // namespace corvane
