// Over VauxLink::QueueControl: the queue replaces a waiting request for the
// same record with the newer one, and runs in order.
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
