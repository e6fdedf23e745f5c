// Reporting the zone records on xAP in the Basic Status and Control style:
// an event for every change of a used record (NotifyUPBState, told by the
// device table), and the answers to BSC queries (BSCQuery), which leave
// through BSCQueue at most one every 200 ms, the first at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "devicetable/device_table.h"
#include "platform/event_loop.h"
#include "xap/xap_sender.h"

namespace corvane {

class EventLog;
class ScriptEventQueue;
class VauxLink;

class BscReporter final : public ZoneChangeObserver {
 public:
  static constexpr int64_t kPaceMs = 200;       // BSCTimer
  static constexpr int64_t kPollWaitMs = 2000;  // after the whole-zone poll of a query
  // Query answers waiting beyond this many push out the oldest (a flood of
  // queries cannot grow the queue without end).
  static constexpr size_t kQueueLimit = 5000;

  BscReporter(EventLoop& loop, EventLog& log, XapSender& sender, DeviceTable& table, VauxLink& vaux,
              ScriptEventQueue& scripts);

  // A used record's value changed: one "xapbsc.event" (or "xap-x10.event"
  // for a record with an X10 address), then a script event when the record
  // asks for one.
  void NotifyUPBState(const ZoneRecord& record) override;

  // The record's state item list: state, and for a record with a value list
  // DisplayText and level. Empty (after a report) when the record's zone has
  // no Status record.
  std::string IncludeContent(const ZoneRecord& record);

  // Answers a BSC query for the records its target's sub-address selects
  // (">:>" selects every record). When the attribute part is "*" the six
  // zones are polled first and the answer waits 2 s, dispatching events, so
  // that the controller's replies are in the records. Waits; the status page
  // may call it too.
  void BSCQuery(std::string_view target);

  // Start-up creates the queue, shutdown releases it (queued answers are
  // dropped and the timer stops).
  void CreateQueue();
  void ReleaseQueue();

  size_t QueueSize() const { return queue_.size(); }
  const Timer& BSCTimer() const { return bsc_timer_; }

 private:
  void Send(xapQueuedMessage message);
  void BSCTimer_Timer();
  std::string ValueList(const UPBLinkState& record) const;

  EventLoop& loop_;
  EventLog& log_;
  XapSender& sender_;
  DeviceTable& table_;
  VauxLink& vaux_;
  ScriptEventQueue& scripts_;
  std::deque<xapQueuedMessage> queue_;  // BSCQueue
  uint64_t dropped_ = 0;                // pushed out since the queue last ran empty
  Timer bsc_timer_;                     // BSCTimer
  int64_t last_poll_end_ms_ = -1;       // when the last whole-zone poll's wait ended
};

}  // namespace corvane
