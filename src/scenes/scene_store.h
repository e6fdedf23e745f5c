// Saved scenes: for each scene, absolute values (in the attribute vocabulary
// of zone_attributes.h) for some attributes of some zones; recalling one
// sends those requests through the controller request queue in zone order.
// Scenes live in Config/Scenes.ini through the INI cache, one section per
// scene, keys "Zone<N>.<attribute>" ("[Evening]", "Zone2.volume=-30"), and
// are written to disk at every change so they survive a crash.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class ControllerRequests;
class DeviceTable;
class EventLog;
class IniCache;

struct Scene {
  std::string name;
  // zone -> attribute name -> value text as the MQTT state shows it.
  std::map<int, std::map<std::string, std::string>> zones;
};

// A zone is used when any of its records is (the status page's Used box).
bool ZoneUsed(const DeviceTable& table, int zone);

class SceneStore {
 public:
  static constexpr std::string_view kFile = "Scenes.ini";
  static constexpr size_t kMaxNameLength = 40;
  static constexpr size_t kMaxScenes = 100;

  SceneStore(IniCache& ini, DeviceTable& table, ControllerRequests& requests, EventLog& log);

  // Letters, digits, space, "_", "-" and "." only, 1 to kMaxNameLength long:
  // the name is an INI section, a URL path piece and an MQTT payload.
  static bool ValidName(std::string_view name);

  std::vector<Scene> All();
  std::optional<Scene> Find(std::string_view name);
  // Empty when every zone and value is one a recall can send; else the
  // field at fault and why ("zones.2.volume: expected ...").
  std::string Validate(const Scene& scene) const;
  // Stores the scene (replacing one of the same name, letter case ignored);
  // false when kMaxScenes already exist and this one is new.
  bool Save(const Scene& scene);
  bool Remove(std::string_view name);
  // The current source, status and volume of every used zone.
  Scene Capture(std::string name) const;
  // Queues the scene's requests in zone order; the number queued, or
  // nothing when there is no such scene.
  std::optional<int> Recall(std::string_view name);

  // Told after every save and removal (the MQTT side's discovery follows).
  void AddListener(std::function<void()> listener) { listeners_.push_back(std::move(listener)); }

 private:
  int Slot();
  void Changed();

  IniCache& ini_;
  DeviceTable& table_;
  ControllerRequests& requests_;
  EventLog& log_;
  std::vector<std::function<void()>> listeners_;
};

}  // namespace corvane
