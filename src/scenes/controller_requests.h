// The one road from the JSON API and saved scenes to the controller: the
// same request queue and read-back as xAP BSC and MQTT commands. Kept in one
// small class so that the queue's interface can change in one place.
#pragma once

#include <string>

#include "devicetable/records.h"

namespace corvane {

class VauxLink;

class ControllerRequests {
 public:
  explicit ControllerRequests(VauxLink& vaux) : vaux_(vaux) {}

  // True while the controller cannot answer (not configured, port closed,
  // or silent); requests then wait for it.
  bool LinkDown() const;
  // Queues a request (a position of the record's request list) in order.
  void Queue(const ZoneRecord& record, std::string position);
  // Carries out what waits now, pumping events while the controller answers;
  // true when every queued request was carried out with the link up (the
  // records then hold the controller's read-back), false when some still
  // wait (the link is down, or a drain further up the stack owns them).
  bool CarryOutNow();

 private:
  VauxLink& vaux_;
};

}  // namespace corvane
