#include "bridge/bsc_reporter.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "bridge/endpoint.h"
#include "bridge/level_request.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"
#include "device/vaux_link.h"
#include "devicetable/levels.h"
#include "devicetable/script_event_queue.h"
#include "devicetable/status_text.h"

namespace corvane {

namespace {

const char* BlockName(const UPBLinkState& record) {
  return record.Controllable ? "output.state" : "input.state";
}

}  // namespace

BscReporter::BscReporter(EventLoop& loop, EventLog& log, XapSender& sender, DeviceTable& table,
                         VauxLink& vaux, ScriptEventQueue& scripts)
    : loop_(loop),
      log_(log),
      sender_(sender),
      table_(table),
      vaux_(vaux),
      scripts_(scripts),
      bsc_timer_(loop, [this] { BSCTimer_Timer(); }) {}

// --- change events -------------------------------------------------------------

void BscReporter::NotifyUPBState(const ZoneRecord& record) {
  Guard(log_, "NotifyUPBState", [&] {
    if (!record) return;
    if (!record->X10.empty()) {
      const char* event = record->Value == 0 ? "OFF" : record->Value == 100 ? "ON" : "DIM";
      sender_.SendXap("", "xap-x10.event", "xap-x10.event",
                      PackItems({{"event", event},
                                 {"device", record->X10},
                                 {"count", std::to_string(record->Value)}}));
    } else {
      const std::string content = IncludeContent(record);
      // The record number as the UID's last two characters: the send routine
      // puts them in place of the base UID's (the record's EndpointUID).
      if (!content.empty()) {
        sender_.SendXap("", "xapbsc.event", BlockName(*record), content,
                        EndpointSubAddress(*record), ToHex(record->UIDindex));
      }
    }
    if (record->EventNotification) {
      auto event = std::make_shared<DeviceClass>();
      event->Tag = record->Tag;
      event->MessageList.Add("value", std::to_string(record->Value));
      event->MessageList.Add("lastchange", FormatGeneralDate(record->LastChange));
      event->MessageKeyList = {"value", "lastchange"};
      scripts_.QueueScriptEvent(std::move(event));
    }
  });
}

std::string BscReporter::IncludeContent(const ZoneRecord& record) {
  std::string items;
  Guard(log_, "IncludeContent", [&] {
    if (!record) throw std::runtime_error("Object variable not set");
    const ZoneRecord status =
        table_.Record(RecordIndex(kStatusKind, ZoneOfRecord(record->UIDindex)));
    if (!status) throw std::runtime_error("no Status record for " + EndpointSubAddress(*record));
    items = PackItems({{"state", status->Value == 0 ? "OFF" : "ON"}});
    if (!record->Values.empty()) {
      // The value itself, as a position of the advertised list: a peer that
      // sends it back as a Level gets the same value.
      items.push_back('\0');
      items += PackItems({{"DisplayText", FormatStatus(*record)},
                          {"level", std::to_string(record->Value) + "/" +
                                        std::to_string(LastListPosition(*record))}});
    }
  });
  return items;
}

// --- queries -------------------------------------------------------------------

std::string BscReporter::ValueList(const UPBLinkState& record) const {
  // One section per entry; the send routine writes a single section, so the
  // further ones ride inside the value of the first section's Level item.
  // Each Level is the value the entry names, so a peer that sends it back
  // sets exactly that entry; values no command can reach are not offered.
  const std::string max = std::to_string(LastListPosition(record));
  std::string out;
  size_t listed = 0;
  for (const ListedValue& entry : ListedValues(record)) {
    if (!entry.indexed || !Reachable(record, entry.position)) continue;
    const std::string level = std::to_string(entry.position) + "/" + max;
    if (listed == 0) {
      out = PackItems({{"Text", entry.text}, {"Level", level}});
    } else {
      out += "\n}\nvalues." + std::to_string(listed + 1) + "\n{\nText=" + entry.text +
             "\nLevel=" + level;
    }
    ++listed;
  }
  return out;
}

void BscReporter::BSCQuery(std::string_view target, std::string_view requester) {
  Guard(log_, "BSCQuery", [&] {
    const auto pattern = SubAddressPattern::FromTarget(target);
    if (!pattern) return;
    if (pattern->Part(2) == "*") {
      // A poll whose wait ended moments ago left the records as fresh as a
      // new one would: a burst of queries polls once, not once per query.
      if (last_poll_end_ms_ < 0 || loop_.NowMs() - last_poll_end_ms_ >= kPollWaitMs) {
        for (int zone = 1; zone <= kZoneCount; ++zone) vaux_.GetZoneStatus(zone);
        loop_.WaitMs(kPollWaitMs);
        last_poll_end_ms_ = loop_.NowMs();
      }
    }
    const auto& records = table_.LinkDictionary();
    // By position: the waits below dispatch events, and the list is read
    // afresh at every step.
    for (size_t i = 0; i < records.Count(); ++i) {
      const ZoneRecord record = records.At(i).second;
      if (!record || !record->Used || !pattern->Matches(*record)) continue;
      if (record->Controllable && record->Values.find('\x01') != std::string::npos) {
        Send({record, true}, requester);
      }
      vaux_.GetZoneStatus(ZoneOfRecord(record->UIDindex));
      Send({record, false}, requester);
    }
  });
}

std::optional<xapQueuedMessage> BscReporter::Build(const Answer& answer) {
  const UPBLinkState& record = *answer.record;
  if (!record.Used) return std::nullopt;
  std::string data = answer.value_list ? ValueList(record) : IncludeContent(answer.record);
  if (data.empty()) return std::nullopt;
  return xapQueuedMessage{.MsgTarget = "",
                          .MsgUID = ToHex(record.UIDindex),
                          .MsgClass = answer.value_list ? "xAPBSC.Values" : "xAPBSC.Info",
                          .MsgSection = answer.value_list ? "values.1" : BlockName(record),
                          .MsgData = std::move(data),
                          .MsgSubAddress = ToLower(EndpointSubAddress(record)),
                          .MsgTargetSubAddress = ""};
}

// --- pacing --------------------------------------------------------------------

void BscReporter::Send(const Answer& answer, std::string_view requester) {
  if (bsc_timer_.Enabled()) {
    Enqueue(answer, requester);
    return;
  }
  const auto message = Build(answer);
  if (!message) return;
  bsc_timer_.SetInterval(kPaceMs);
  bsc_timer_.Start();
  sender_.Send(*message);
}

void BscReporter::Enqueue(const Answer& answer, std::string_view requester) {
  for (auto turn = queue_.begin(); turn != queue_.end(); ++turn) {
    const auto at = std::find(turn->answers.begin(), turn->answers.end(), answer);
    if (at == turn->answers.end()) continue;
    // Already waiting. It moves to this requester's turn only when it would
    // leave sooner there, so an answer never moves back and forth.
    if (EqualsIgnoreCase(turn->requester, requester)) return;
    const auto ahead = static_cast<size_t>(at - turn->answers.begin());
    size_t mine = 0;
    for (const Turn& t : queue_) {
      if (EqualsIgnoreCase(t.requester, requester)) mine = t.answers.size();
    }
    if (mine >= ahead) return;
    turn->answers.erase(at);
    if (turn->answers.empty()) queue_.erase(turn);
    TurnOf(requester).answers.push_back(answer);
    return;
  }
  if (QueueSize() >= kQueueLimit) DropOldest();
  TurnOf(requester).answers.push_back(answer);
}

BscReporter::Turn& BscReporter::TurnOf(std::string_view requester) {
  for (Turn& turn : queue_) {
    if (EqualsIgnoreCase(turn.requester, requester)) return turn;
  }
  return queue_.emplace_back(Turn{std::string(requester), {}});
}

void BscReporter::DropOldest() {
  if (dropped_++ == 0) {
    log_.DebugEvent("Corvane", "BSCQueue full: dropping the oldest query answers");
  }
  auto longest = std::max_element(queue_.begin(), queue_.end(), [](const Turn& a, const Turn& b) {
    return a.answers.size() < b.answers.size();
  });
  longest->answers.pop_front();
  if (longest->answers.empty()) queue_.erase(longest);
}

size_t BscReporter::QueueSize() const {
  size_t n = 0;
  for (const Turn& turn : queue_) n += turn.answers.size();
  return n;
}

void BscReporter::BSCTimer_Timer() {
  Guard(log_, "BSCTimer_Timer", [&] {
    while (!queue_.empty()) {
      // One answer of the requester whose turn it is; the requester goes to
      // the back of the line while it has more.
      Turn turn = std::move(queue_.front());
      queue_.pop_front();
      const Answer answer = turn.answers.front();
      turn.answers.pop_front();
      if (!turn.answers.empty()) queue_.push_back(std::move(turn));
      if (const auto message = Build(answer)) {
        bsc_timer_.SetInterval(kPaceMs);
        sender_.Send(*message);
        return;
      }
    }
    bsc_timer_.Stop();
    if (dropped_) {
      log_.DebugEvent("Corvane",
                      "BSCQueue: " + std::to_string(dropped_) + " query answers dropped");
      dropped_ = 0;
    }
  });
}

void BscReporter::CreateQueue() {
  queue_.clear();
  dropped_ = 0;
}

void BscReporter::ReleaseQueue() {
  bsc_timer_.Stop();
  queue_.clear();
}

}  // namespace corvane
