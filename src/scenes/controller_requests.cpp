// Over VauxLink::QueueControl, the link's text edge: requests run in arrival
// order and wait while the controller cannot answer; only an absolute
// request replaces the same record's waiting absolute one.
#include "scenes/controller_requests.h"

#include "device/vaux_link.h"
#include "device/vaux_port.h"

namespace corvane {

bool ControllerRequests::LinkDown() const {
  return vaux_.LinkDown() || !port_.IsOpen();
}

void ControllerRequests::Queue(const ZoneRecord& record, std::string position) {
  record->LastCommand = position;
  vaux_.QueueControl(record, std::move(position));
}

bool ControllerRequests::CarryOutNow() {
  if (LinkDown()) return false;
  vaux_.RunQueuedControls();
  return vaux_.QueuedControls() == 0 && !LinkDown();
}

}  // namespace corvane
