#include "bridge/bsc_reporter.h"

#include <exception>
#include <memory>
#include <stdexcept>

#include "core/datetime.h"
#include "core/event_log.h"
#include "core/text.h"
#include "devicetable/levels.h"
#include "device/vaux_link.h"
#include "devicetable/script_event_queue.h"
#include "devicetable/status_text.h"
#include "bridge/endpoint.h"
#include "bridge/level_request.h"

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
  try {
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
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "NotifyUPBState", e.what());
  }
}

std::string BscReporter::IncludeContent(const ZoneRecord& record) {
  try {
    if (!record) throw std::runtime_error("Object variable not set");
    const ZoneRecord status =
        table_.Record(RecordIndex(kStatusKind, ZoneOfRecord(record->UIDindex)));
    if (!status) throw std::runtime_error("no Status record for " + EndpointSubAddress(*record));
    std::string items = PackItems({{"state", status->Value == 0 ? "OFF" : "ON"}});
    if (!record->Values.empty()) {
      // The value itself, as a position of the advertised list: a peer that
      // sends it back as a Level gets the same value.
      items.push_back('\0');
      items += PackItems({{"DisplayText", FormatStatus(*record)},
                          {"level", std::to_string(record->Value) + "/" +
                                        std::to_string(LastListPosition(*record))}});
    }
    return items;
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "IncludeContent", e.what());
    return {};
  }
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

void BscReporter::BSCQuery(std::string_view target) {
  try {
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
      const std::string sub = ToLower(EndpointSubAddress(*record));
      const std::string uid = ToHex(record->UIDindex);
      if (record->Controllable && record->Values.find('\x01') != std::string::npos) {
        std::string values = ValueList(*record);
        if (!values.empty()) {
          Send({.MsgTarget = "",
                .MsgUID = uid,
                .MsgClass = "xAPBSC.Values",
                .MsgSection = "values.1",
                .MsgData = std::move(values),
                .MsgSubAddress = sub,
                .MsgTargetSubAddress = ""});
        }
      }
      vaux_.GetZoneStatus(ZoneOfRecord(record->UIDindex));
      std::string content = IncludeContent(record);
      if (content.empty()) continue;
      Send({.MsgTarget = "",
            .MsgUID = uid,
            .MsgClass = "xAPBSC.Info",
            .MsgSection = BlockName(*record),
            .MsgData = std::move(content),
            .MsgSubAddress = sub,
            .MsgTargetSubAddress = ""});
    }
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "BSCQuery", e.what());
  }
}

// --- pacing --------------------------------------------------------------------

void BscReporter::Send(xapQueuedMessage message) {
  if (bsc_timer_.Enabled()) {
    if (queue_.size() >= kQueueLimit) {
      if (dropped_++ == 0) {
        log_.DebugEvent("Corvane", "BSCQueue full: dropping the oldest query answers");
      }
      queue_.pop_front();
    }
    queue_.push_back(std::move(message));
    return;
  }
  bsc_timer_.SetInterval(kPaceMs);
  bsc_timer_.Start();
  sender_.Send(message);
}

void BscReporter::BSCTimer_Timer() {
  try {
    if (queue_.empty()) {
      bsc_timer_.Stop();
      if (dropped_) {
        log_.DebugEvent("Corvane",
                        "BSCQueue: " + std::to_string(dropped_) + " query answers dropped");
        dropped_ = 0;
      }
      return;
    }
    bsc_timer_.SetInterval(kPaceMs);
    const xapQueuedMessage message = std::move(queue_.front());
    queue_.pop_front();
    sender_.Send(message);
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "BSCTimer_Timer", e.what());
  }
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
