// The JSON forms of the API: a zone with every attribute under its shared
// name, a scene, a problem+json error, and the reading of request bodies
// into attribute requests and scenes. Pure functions over the records.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "scenes/scene_store.h"

namespace corvane {

class DeviceTable;

// {"zone": 1, "name": "...", "used": true, "source": "...", "status": "on",
// "volume": -20, ...}; an attribute the controller has not reported is null.
nlohmann::ordered_json ZoneJson(const DeviceTable& table, int zone);
nlohmann::ordered_json ZonesJson(const DeviceTable& table);
// A level's decibels as a number, other values as text, null for none.
nlohmann::ordered_json AttributeValue(int kind, const std::string& state);

nlohmann::ordered_json SceneJson(const Scene& scene);

// RFC 9457 problem details: {"type", "title", "status", "detail"}.
std::string ProblemJson(int status, std::string_view detail);
std::string_view StatusText(int status);

// A PATCH body's attributes as positions of each record's request list, in
// attribute order; or the field at fault and why (nothing is queued then).
struct ZoneRequests {
  std::vector<std::pair<int, std::string>> positions;  // kind, position
  std::string error;
};
ZoneRequests ParseZonePatch(const DeviceTable& table, int zone, const nlohmann::ordered_json& body);

// A PUT body's explicit zones ({"zones": {"1": {"volume": -30}}}) as a
// scene's values; `error` names the field at fault.
struct SceneBody {
  Scene scene;
  std::string error;
};
SceneBody ParseSceneZones(std::string name, const nlohmann::ordered_json& body);

}  // namespace corvane
