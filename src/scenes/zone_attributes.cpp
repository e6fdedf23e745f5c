// Zone records in user terms. Requests become positions of the record's
// request list exactly as an xAP command level would be: the source number,
// Toggle/On/Mute as 0/1/2, and for levels "Up" 0, "Down" 1 and the level
// table's pairs from position 2 on.
#include "scenes/zone_attributes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/text.h"
#include "devicetable/levels.h"
#include "devicetable/status_text.h"

namespace corvane {

namespace {

// The display texts of a record's value list, position 0 first.
std::vector<std::string> ListTexts(const UPBLinkState& record) {
  std::vector<std::string> texts;
  for (const std::string& entry : ValueEntries(record.Values)) {
    texts.push_back(entry.substr(0, entry.find('\x02')));
  }
  return texts;
}

// A whole number of the payload, with an optional "dB" after it.
std::optional<double> NumberOf(std::string_view payload) {
  std::string text = ToLower(TrimWhite(payload));
  if (text.size() > 2 && text.compare(text.size() - 2, 2, "db") == 0) {
    text = std::string(TrimWhite(text.substr(0, text.size() - 2)));
  }
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

MqttCommand Refuse(std::string why) {
  return MqttCommand{{}, std::move(why)};
}

MqttCommand Position(long position) {
  return MqttCommand{std::to_string(position), {}};
}

MqttCommand SourceCommand(const UPBLinkState& record, std::string_view payload) {
  const auto names = ListTexts(record);
  const std::string_view wanted = TrimWhite(payload);
  for (size_t i = 0; i < names.size(); ++i) {
    if (EqualsIgnoreCase(names[i], wanted)) return Position(static_cast<long>(i));
  }
  const auto number = NumberOf(wanted);
  if (number && *number == std::floor(*number) && *number >= 0 &&
      *number < static_cast<double>(names.size())) {
    return Position(static_cast<long>(*number));
  }
  return Refuse("not an input name or number 0 to " + std::to_string(names.size() - 1));
}

MqttCommand StatusCommand(std::string_view payload) {
  const auto& requests = StatusRequestList();  // Toggle, On, Mute
  for (size_t i = 0; i < requests.size(); ++i) {
    if (EqualsIgnoreCase(requests[i], TrimWhite(payload))) return Position(static_cast<long>(i));
  }
  return Refuse("expected on, mute or toggle");
}

MqttCommand LevelCommand(int kind, std::string_view payload) {
  const std::string_view text = TrimWhite(payload);
  if (EqualsIgnoreCase(text, "up")) return Position(kUpPosition);
  if (EqualsIgnoreCase(text, "down")) return Position(kDownPosition);
  const LevelTable* table = TableForKind(kind);
  const auto db = NumberOf(text);
  const LevelRange range = RangeOf(kind);
  if (!table || !db || *db < range.min_db || *db > range.max_db) {
    return Refuse("expected up, down or a level from " + std::to_string(range.min_db) + " to " +
                  std::to_string(range.max_db) + " dB");
  }
  return Position(DbToListPosition(static_cast<int>(RoundHalfEven(*db)), *table));
}

}  // namespace

const std::vector<MqttAttribute>& MqttAttributes() {
  static const std::vector<MqttAttribute> attributes = {
      {kSourceKind, "source", "select", "Source", false},
      {kStatusKind, "status", "switch", "Mute", false},
      {kVolumeKind, "volume", "number", "Volume", false},
      {kBassKind, "bass", "number", "Bass", false},
      {kTrebleKind, "treble", "number", "Treble", false},
      {kTurnOnMuteKind, "turnon_mute", "number", "Turn-on mute level", true},
      {kTurnOnVolumeKind, "turnon_volume", "number", "Turn-on volume", true},
  };
  return attributes;
}

const MqttAttribute* AttributeOfKind(int kind) {
  for (const auto& a : MqttAttributes())
    if (a.kind == kind) return &a;
  return nullptr;
}

const MqttAttribute* AttributeOfTopic(std::string_view topic) {
  for (const auto& a : MqttAttributes())
    if (a.topic == topic) return &a;
  return nullptr;
}

std::string StatePayload(const UPBLinkState& record) {
  if (record.Kind == kSourceKind) {
    const auto names = ListTexts(record);
    if (record.Value < 0 || static_cast<size_t>(record.Value) >= names.size()) return {};
    return names[static_cast<size_t>(record.Value)];
  }
  if (record.Kind == kStatusKind) {
    const auto& states = StatusList();
    if (record.Value < 0 || static_cast<size_t>(record.Value) >= states.size()) return {};
    return ToLower(states[static_cast<size_t>(record.Value)]);
  }
  const LevelTable* table = TableForKind(record.Kind);
  if (!table) return {};
  const long pair = record.Value - long{kFirstLevelPosition};
  if (pair < 0 || static_cast<size_t>(pair) * 2 + 1 >= table->size()) return {};
  return std::to_string(PositionToDb(record.Value, *table));
}

MqttCommand ParseCommand(const UPBLinkState& record, std::string_view payload) {
  if (payload.empty()) return Refuse("empty payload");
  switch (record.Kind) {
    case kSourceKind:
      return SourceCommand(record, payload);
    case kStatusKind:
      return StatusCommand(payload);
    default:
      return LevelCommand(record.Kind, payload);
  }
}

LevelRange RangeOf(int kind) {
  LevelRange range;
  const LevelTable* table = TableForKind(kind);
  if (!table || table->size() < 2) return range;
  range.max_db = (*table)[1];
  range.min_db = table->back();
  int step = range.max_db - range.min_db;
  for (size_t i = 3; i < table->size(); i += 2) {
    step = std::min(step, std::abs((*table)[i - 2] - (*table)[i]));
  }
  range.step_db = std::max(step, 1);
  return range;
}

std::string ZoneName(const std::string& status_record_name, int zone) {
  std::string name = status_record_name;
  constexpr std::string_view kSuffix = "_status";
  if (name.size() > kSuffix.size() &&
      EqualsIgnoreCase(std::string_view(name).substr(name.size() - kSuffix.size()), kSuffix)) {
    name.resize(name.size() - kSuffix.size());
  }
  name = std::string(TrimWhite(ReplaceAll(name, "_", " ")));
  return name.empty() ? "Zone " + std::to_string(zone) : name;
}

bool AbsoluteRequest(std::string_view payload) {
  const std::string_view text = TrimWhite(payload);
  return !EqualsIgnoreCase(text, "up") && !EqualsIgnoreCase(text, "down") &&
         !EqualsIgnoreCase(text, "toggle");
}

}  // namespace corvane
