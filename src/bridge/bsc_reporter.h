// Reporting the zone records on xAP in the Basic Status and Control style:
// an event for every change of a used record (NotifyUPBState, told by the
// device table), and the answers to BSC queries (BSCQuery), which leave
// through BSCQueue at most one every 200 ms, the first at once.
//
// BSCQueue holds, per requester (the query's source), the answers still to
// leave: a record and which message (value list or info). An answer already
// waiting is not queued twice (the answers are broadcasts, so one serves
// every requester), and its text is built when it leaves, so it carries the
// record's value at that moment. Requesters take turns, one answer each, so
// a peer that asks many times a second cannot hold back another's answer by
// more than a few turns; a requester's own answers leave in the order asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
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
  // Every waiting answer is distinct (one value list and one info per
  // record), so 42 records need at most 84; beyond this many the oldest of
  // the longest turn is dropped.
  static constexpr size_t kQueueLimit = 128;

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
  // may call it too. `requester` (the query's source) decides whose turn
  // the answers wait in.
  void BSCQuery(std::string_view target, std::string_view requester = {});

  // Start-up creates the queue, shutdown releases it (queued answers are
  // dropped and the timer stops).
  void CreateQueue();
  void ReleaseQueue();

  size_t QueueSize() const;
  const Timer& BSCTimer() const { return bsc_timer_; }

 private:
  // One query answer: the record and whether it is its value list.
  struct Answer {
    ZoneRecord record;
    bool value_list = false;
    bool operator==(const Answer& o) const {
      return record == o.record && value_list == o.value_list;
    }
  };
  struct Turn {
    std::string requester;
    std::deque<Answer> answers;  // oldest first
  };

  void Send(const Answer& answer, std::string_view requester);
  void Enqueue(const Answer& answer, std::string_view requester);
  Turn& TurnOf(std::string_view requester);
  void DropOldest();
  // The answer's message as it would leave now; nothing when the record can
  // no longer be answered for.
  std::optional<xapQueuedMessage> Build(const Answer& answer);
  void BSCTimer_Timer();
  std::string ValueList(const UPBLinkState& record) const;

  EventLoop& loop_;
  EventLog& log_;
  XapSender& sender_;
  DeviceTable& table_;
  VauxLink& vaux_;
  ScriptEventQueue& scripts_;
  std::deque<Turn> queue_;         // BSCQueue: the requesters with waiting answers, next turn first
  uint64_t dropped_ = 0;           // pushed out since the queue last ran empty
  Timer bsc_timer_;                // BSCTimer
  int64_t last_poll_end_ms_ = -1;  // when the last whole-zone poll's wait ended
};

}  // namespace corvane
