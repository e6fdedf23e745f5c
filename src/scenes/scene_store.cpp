// Scenes in Scenes.ini. The INI store writes section names in upper case, so
// each section also keeps the name as the user wrote it ("Name=Evening"); a
// section without it is a removed scene (the store keeps the empty section).
#include "scenes/scene_store.h"

#include <algorithm>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "core/text.h"
#include "devicetable/device_table.h"
#include "devicetable/levels.h"
#include "devicetable/records.h"
#include "scenes/controller_requests.h"
#include "scenes/zone_attributes.h"

namespace corvane {

namespace {

constexpr std::string_view kNameKey = "Name";

// The attributes a capture takes.
constexpr int kCapturedKinds[] = {kSourceKind, kStatusKind, kVolumeKind};

std::string ZoneKey(int zone, std::string_view attribute) {
  return "Zone" + std::to_string(zone) + "." + std::string(attribute);
}

// "Zone3.volume" -> {3, "volume"}; zone 0 for anything else.
std::pair<int, std::string> SplitKey(std::string_view key) {
  const size_t dot = key.find('.');
  if (dot != 5 || !StartsWithIgnoreCase(key, "zone") || key[4] < '1' || key[4] > '6') {
    return {0, {}};
  }
  return {key[4] - '0', ToLower(key.substr(dot + 1))};
}

// A captured "off" zone cannot be sent: the controller takes only on, mute
// and toggle; a recall leaves such a zone's status alone.
bool Sendable(int kind, std::string_view value) {
  return !(kind == kStatusKind && EqualsIgnoreCase(TrimWhite(value), "off"));
}

}  // namespace

bool ZoneUsed(const DeviceTable& table, int zone) {
  for (const ZoneAttribute& a : MqttAttributes()) {
    const ZoneRecord record = table.ZoneRecordOf(a.kind, zone);
    if (record && record->Used) return true;
  }
  return false;
}

SceneStore::SceneStore(IniCache& ini, DeviceTable& table, ControllerRequests& requests,
                       EventLog& log)
    : ini_(ini), table_(table), requests_(requests), log_(log) {}

bool SceneStore::ValidName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength || TrimWhite(name).size() != name.size()) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == ' ' || c == '_' || c == '-' || c == '.';
  });
}

int SceneStore::Slot() {
  return ini_.FindIniFile(kFile, false);
}

std::vector<Scene> SceneStore::All() {
  std::vector<Scene> scenes;
  IniTool& store = ini_.Store(Slot());
  for (const std::string& section : store.Headers()) {
    const std::string name = store.Read(section, kNameKey, "");
    if (name.empty()) continue;
    Scene scene{name, {}};
    for (const std::string& key : store.Keys(section)) {
      const auto [zone, attribute] = SplitKey(key);
      if (zone != 0 && AttributeOfTopic(attribute)) {
        scene.zones[zone][attribute] = store.Read(section, key, "");
      }
    }
    scenes.push_back(std::move(scene));
  }
  return scenes;
}

std::optional<Scene> SceneStore::Find(std::string_view name) {
  for (Scene& scene : All()) {
    if (EqualsIgnoreCase(scene.name, name)) return std::move(scene);
  }
  return std::nullopt;
}

std::string SceneStore::Validate(const Scene& scene) const {
  if (!ValidName(scene.name)) return "name: letters, digits, space, _ - . only, 1 to 40 long";
  for (const auto& [zone, values] : scene.zones) {
    const std::string where = "zones." + std::to_string(zone);
    if (zone < 1 || zone > kZoneCount) return where + ": no such zone (1 to 6)";
    for (const auto& [attribute, value] : values) {
      const ZoneAttribute* a = AttributeOfTopic(attribute);
      if (!a) return where + "." + attribute + ": unknown attribute";
      if (!Sendable(a->kind, value)) continue;
      const ZoneRecord record = table_.ZoneRecordOf(a->kind, zone);
      if (!record) return where + "." + attribute + ": the zone has no such record";
      if (!AbsoluteRequest(value)) return where + "." + attribute + ": a scene holds values, not up, down or toggle";
      const AttributeRequest request = ParseCommand(*record, value);
      if (!request.error.empty()) return where + "." + attribute + ": " + request.error;
    }
  }
  return {};
}

bool SceneStore::Save(const Scene& scene) {
  const bool known = Find(scene.name).has_value();
  if (!known && All().size() >= kMaxScenes) return false;
  const int slot = Slot();
  IniTool& store = ini_.Store(slot);
  store.RemoveSection(scene.name);
  store.WriteKey(scene.name, kNameKey, scene.name);
  for (const auto& [zone, values] : scene.zones) {
    for (const auto& [attribute, value] : values) {
      store.WriteKey(scene.name, ZoneKey(zone, attribute), value);
    }
  }
  ini_.MarkChanged(slot);
  Changed();
  return true;
}

bool SceneStore::Remove(std::string_view name) {
  if (!Find(name)) return false;
  const int slot = Slot();
  ini_.Store(slot).RemoveSection(name);
  ini_.MarkChanged(slot);
  Changed();
  return true;
}

void SceneStore::Changed() {
  ini_.FlushIniCache();
  for (const auto& listener : std::vector(listeners_)) listener();
}

Scene SceneStore::Capture(std::string name) const {
  Scene scene{std::move(name), {}};
  for (int zone = 1; zone <= kZoneCount; ++zone) {
    if (!ZoneUsed(table_, zone)) continue;
    for (int kind : kCapturedKinds) {
      const ZoneRecord record = table_.ZoneRecordOf(kind, zone);
      const std::string value = record ? StatePayload(*record) : std::string();
      if (!value.empty()) scene.zones[zone][std::string(AttributeOfKind(kind)->topic)] = value;
    }
  }
  return scene;
}

std::optional<int> SceneStore::Recall(std::string_view name) {
  const auto scene = Find(name);
  if (!scene) return std::nullopt;
  int queued = 0;
  for (const auto& [zone, values] : scene->zones) {
    for (const ZoneAttribute& a : MqttAttributes()) {
      const auto value = values.find(std::string(a.topic));
      const ZoneRecord record = table_.ZoneRecordOf(a.kind, zone);
      if (value == values.end() || !record || !Sendable(a.kind, value->second)) continue;
      const AttributeRequest request = ParseCommand(*record, value->second);
      if (!request.error.empty()) {
        log_.LogEvent("Corvane", "Scene " + scene->name + ": zone " + std::to_string(zone) + " " +
                                     std::string(a.topic) + " skipped: " + request.error);
        continue;
      }
      requests_.Queue(record, request.position);
      ++queued;
    }
  }
  log_.LogEvent("Corvane", "Scene " + scene->name + " recalled: " + std::to_string(queued) +
                               " requests queued");
  return queued;
}

}  // namespace corvane
