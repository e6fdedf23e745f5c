#include "bridge/inbound.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"
#include "device/vaux_link.h"
#include "devicetable/device_table.h"
#include "devicetable/script_event_queue.h"
#include "platform/clock.h"
#include "bridge/bsc_reporter.h"
#include "bridge/endpoint.h"
#include "bridge/level_request.h"
#include "xap/xap_message.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace corvane {

namespace {

constexpr std::string_view kUnknown = "Unknown";

}  // namespace

InboundHandler::InboundHandler(EventLog& log, const WallClock& wall, XapSender& sender,
                               const XapTransport& xap, DeviceTable& table, VauxLink& vaux,
                               BscReporter& bsc, ScriptEventQueue& scripts,
                               std::string executable_path)
    : log_(log),
      wall_(wall),
      sender_(sender),
      xap_(xap),
      table_(table),
      vaux_(vaux),
      bsc_(bsc),
      scripts_(scripts),
      executable_path_(std::move(executable_path)) {}

void InboundHandler::Readmessage(const std::string& text) {
  Guard(log_, "Readmessage", [&] {
    XapMessage m(&log_);
    m.Init();
    m.FromXap(text);

    // Watched sources keep their latest items in their device records.
    auto& filters = table_.FilterDictionary();
    if (!filters.Empty()) {
      if (const std::string* filter = filters.Find(std::string(m.MsgSource()).append("~").append(m.MsgClass()))) {
        UpdateDeviceRecord(m, *filter);
      }
    }

    // Only messages for this program, or for no one in particular.
    const std::string& me = xap_.XapSource();
    const bool for_me = m.CompareTarget(me);
    if (!for_me && !m.CompareTarget(kUnknown)) return;

    if (m.CompareClass("xAPBSC.query")) {
      if (for_me) bsc_.BSCQuery(m.MsgTarget(), m.MsgSource());
    } else if (m.CompareClass("xAPBSC.cmd")) {
      if (for_me) Command(m);
    } else if (m.CompareClass("xAP-X10.request")) {
      X10Request(m);
    } else if (m.CompareClass("WDT.Echo")) {
      EchoReply(m);
    } else if (m.CompareClass("Time.Today")) {
      TimeToday(m);
    } else if (m.CompareClass("Homeseer.Role")) {
      RoleReply(m);
    } else if (m.CompareClass("Corvane.Scene")) {
      const std::string name = m.GetItem("scene.recall", "name");
      if (for_me && name != kUnknown && scene_recall_) scene_recall_(name);
    }
  });
}

void InboundHandler::UpdateDeviceRecord(const XapMessage& m, const std::string& filter) {
  const size_t semi = filter.find(';');
  const std::string tag = filter.substr(0, semi);
  const std::string event =
      semi == std::string::npos ? std::string() : Split(filter.substr(semi + 1), ';')[0];

  // Every item of every section, keyed "section.item", in arrival order.
  Dictionary<std::string> items;
  std::vector<std::string> keys;
  const auto sections = m.MsgSection();
  for (size_t s = 0; s < sections.size(); ++s) {
    const auto collection = m.msgCollection(static_cast<int16_t>(s));
    if (!collection) continue;
    for (size_t i = 0; i < collection->Count(); ++i) {
      const std::string_view line = collection->Line(i);
      const size_t eq = line.find('=');
      const std::string key = sections[s] + "." + std::string(line.substr(0, eq));
      const std::string value(eq == std::string_view::npos ? std::string_view()
                                                           : line.substr(eq + 1));
      if (!items.Add(key, value)) {
        throw std::runtime_error(
            "This key is already associated with an element of this collection");
      }
      keys.push_back(key);
    }
  }

  DeviceRecord* record = table_.DeviceDictionary().Find(tag);
  if (!record || !*record) return;
  (*record)->MessageList = std::move(items);
  (*record)->MessageKeyList = std::move(keys);
  (*record)->LastChange = wall_.Now();
  (*record)->Sequence = table_.NextSequence();
  if (!event.empty()) scripts_.QueueScriptEvent(*record);
}

// --- BSC commands ----------------------------------------------------------------

void InboundHandler::Command(const XapMessage& m) {
  const std::string id = m.GetItem("output.state", "ID");
  if (id != kUnknown) {
    BSCCmd(m.MsgTarget(), id, m.GetItem("output.state", "State"),
           m.GetItem("output.state", "Level"));
    return;
  }
  for (int n = 1; n <= kMaxCommandBlocks; ++n) {
    const std::string section = "output.state." + std::to_string(n);
    const std::string block_id = m.GetItem(section, "ID");
    if (block_id == kUnknown) break;
    BSCCmd(m.MsgTarget(), block_id, m.GetItem(section, "State"), m.GetItem(section, "Level"));
  }
}

void InboundHandler::BSCCmd(std::string_view target, std::string_view id, std::string_view state,
                            std::string_view level) {
  Guard(log_, "BSCCmd", [&] {
    const auto pattern = SubAddressPattern::FromTarget(target);
    if (!pattern) return;
    auto command = [&](const ZoneRecord& record) {
      const auto request = RequestFor(*record, state, level);
      if (!request) return;
      record->LastCommand = *request;
      vaux_.QueueControl(record, *request);
    };
    const auto& records = table_.LinkDictionary();
    if (id == "*") {
      for (size_t i = 0; i < records.Count(); ++i) {
        const ZoneRecord record = records.At(i).second;
        if (record && pattern->Matches(*record)) command(record);
      }
      return;
    }
    const int n = FromHex(id, &log_);
    for (size_t i = 0; i < records.Count(); ++i) {
      const ZoneRecord record = records.At(i).second;
      if (!record || record->UIDindex != n) continue;
      command(record);
      return;
    }
  });
}

// --- other classes ---------------------------------------------------------------

void InboundHandler::X10Request(const XapMessage& m) {
  constexpr std::string_view kSection = "xAP-X10.request";
  const std::string device = m.GetItem(kSection, "device");
  if (device == kUnknown) return;
  const std::string command = ToLower(m.GetItem(kSection, "command"));
  const double count = RoundHalfEven(LeadingNumber(m.GetItem(kSection, "count")));
  for (const auto& address : Split(device, ',')) {
    const ZoneRecord* found = table_.X10Dictionary().Find(address);
    if (!found || !*found) continue;
    const ZoneRecord record = *found;
    double level = 0;
    if (command == "bright") {
      level = count;
    } else if (command == "extended") {
      level = RoundHalfEven(count * 100 / 63);  // an X10 extended level 0..63 as a percentage
    } else if (command == "dim") {
      level = std::clamp(record->Value - count, 0.0, 100.0);
    } else if (command == "on") {
      level = 100;
    }
    const auto value = ToInt16(level);
    if (!value) throw std::runtime_error("Overflow");
    vaux_.CommandVaux(UPBStatus{record, *value});
  }
}

void InboundHandler::EchoReply(const XapMessage& m) {
  const std::string query = m.GetItem("Echo.Query", "Query");
  if (query == kUnknown) return;
  sender_.SendXap(m.MsgSource(), "WDT.Echo", "Echo.Response",
                  PackItems({{"Response", ToLower(query)}}));
}

void InboundHandler::TimeToday(const XapMessage& m) {
  sunrise_ = m.GetItem("Time.Today", "Sunrise");
  sunset_ = m.GetItem("Time.Today", "Sunset");
}

void InboundHandler::RoleReply(const XapMessage& m) {
  const std::string role = ToLower(m.GetItem("Role.Query", "Role"));
  if (role != "application" && role != "any") return;
  sender_.SendXap("", "Homeseer.Role", "Role.Notification",
                  PackItems({{"Role", "UPB"}, {"Path", executable_path_}, {"Form", "EchoWindow"}}));
}

}  // namespace corvane
