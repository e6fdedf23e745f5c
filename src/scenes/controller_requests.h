// The one road from the JSON API and saved scenes to the controller: the
// same request queue and read-back as xAP BSC and MQTT commands. Kept in one
// small class so that the queue's interface can change in one place.
#pragma once

#include <string>

#include "devicetable/records.h"

namespace corvane {

class VauxLink;
class VauxPort;

class ControllerRequests {
 public:
  ControllerRequests(VauxLink& vaux, const VauxPort& port) : vaux_(vaux), port_(port) {}

  // True while the controller cannot answer (not configured, its port or
  // connection closed, or silent); requests then wait for it. A closed port
  // counts at once, before a command has found it closed.
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
  const VauxPort& port_;
};

}  // namespace corvane
