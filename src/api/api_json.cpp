// Values leave in MQTT's forms (scenes/zone_attributes.h): the input's name,
// "on"/"mute"/"off", levels in dB. Requests come in the forms MQTT /set
// takes, JSON numbers written as their decimal text.
#include "api/api_json.h"

#include <cmath>

#include "devicetable/device_table.h"
#include "devicetable/levels.h"
#include "devicetable/status_text.h"
#include "scenes/zone_attributes.h"

namespace corvane {

namespace {

bool LevelKind(int kind) {
  return kind != kSourceKind && kind != kStatusKind;
}

// A JSON value as request text: strings as they are, numbers in decimal.
std::optional<std::string> RequestText(const nlohmann::ordered_json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return std::to_string(value.get<long long>());
  if (value.is_number()) {
    const double v = value.get<double>();
    if (!std::isfinite(v)) return std::nullopt;
    return v == std::floor(v) ? std::to_string(static_cast<long long>(v)) : value.dump();
  }
  return std::nullopt;
}

}  // namespace

nlohmann::ordered_json AttributeValue(int kind, const std::string& state) {
  if (state.empty()) return nullptr;
  if (LevelKind(kind)) return std::stoi(state);
  return state;
}

nlohmann::ordered_json ZoneJson(const DeviceTable& table, int zone) {
  const ZoneRecord status = table.ZoneRecordOf(kStatusKind, zone);
  nlohmann::ordered_json json = {{"zone", zone},
                         {"name", ZoneName(status ? status->Name : std::string(), zone)},
                         {"used", ZoneUsed(table, zone)}};
  for (const ZoneAttribute& a : MqttAttributes()) {
    const ZoneRecord record = table.ZoneRecordOf(a.kind, zone);
    json[std::string(a.topic)] = AttributeValue(a.kind, record ? StatePayload(*record) : "");
  }
  return json;
}

nlohmann::ordered_json ZonesJson(const DeviceTable& table) {
  nlohmann::ordered_json zones = nlohmann::ordered_json::array();
  for (int zone = 1; zone <= kZoneCount; ++zone) zones.push_back(ZoneJson(table, zone));
  // What a client offers: the input names a zone may take, and each level's
  // range (the remote page builds its lists and sliders from these).
  nlohmann::ordered_json sources = nlohmann::ordered_json::array();
  if (const ZoneRecord record = table.ZoneRecordOf(kSourceKind, 1)) {
    for (const std::string& entry : ValueEntries(record->Values)) {
      sources.push_back(entry.substr(0, entry.find('\x02')));
    }
  }
  nlohmann::ordered_json ranges = nlohmann::ordered_json::object();
  for (const ZoneAttribute& a : MqttAttributes()) {
    if (!LevelKind(a.kind)) continue;
    const LevelRange r = RangeOf(a.kind);
    ranges[std::string(a.topic)] = {{"min", r.min_db}, {"max", r.max_db}, {"step", r.step_db}};
  }
  return {{"zones", zones}, {"sources", sources}, {"ranges", ranges}};
}

nlohmann::ordered_json SceneJson(const Scene& scene) {
  nlohmann::ordered_json zones = nlohmann::ordered_json::object();
  for (const auto& [zone, values] : scene.zones) {
    nlohmann::ordered_json z = nlohmann::ordered_json::object();
    for (const auto& [attribute, value] : values) {
      const ZoneAttribute* a = AttributeOfTopic(attribute);
      const bool number = a && LevelKind(a->kind) && !value.empty() &&
                          value.find_first_not_of("-0123456789") == std::string::npos;
      z[attribute] = number ? nlohmann::ordered_json(std::stoi(value)) : nlohmann::ordered_json(value);
    }
    zones[std::to_string(zone)] = z;
  }
  return {{"name", scene.name}, {"zones", zones}};
}

std::string_view StatusText(int status) {
  static const std::pair<int, std::string_view> kTexts[] = {
      {200, "OK"},          {201, "Created"},           {202, "Accepted"},
      {204, "No Content"},  {400, "Bad Request"},       {401, "Unauthorized"},
      {403, "Forbidden"},   {404, "Not Found"},         {405, "Method Not Allowed"},
      {413, "Content Too Large"}, {415, "Unsupported Media Type"},
      {500, "Internal Server Error"}, {503, "Service Unavailable"}};
  for (const auto& [code, text] : kTexts) {
    if (code == status) return text;
  }
  return "Error";
}

std::string ProblemJson(int status, std::string_view detail) {
  return nlohmann::ordered_json{{"type", "about:blank"},
                        {"title", StatusText(status)},
                        {"status", status},
                        {"detail", detail}}
      .dump();
}

ZoneRequests ParseZonePatch(const DeviceTable& table, int zone, const nlohmann::ordered_json& body) {
  ZoneRequests out;
  if (!body.is_object() || body.empty()) {
    out.error = "body: expected a JSON object of attributes";
    return out;
  }
  for (const auto& [key, value] : body.items()) {
    if (!AttributeOfTopic(key)) out.error = key + ": unknown attribute";
    if (!out.error.empty()) return out;
  }
  for (const ZoneAttribute& a : MqttAttributes()) {
    const auto it = body.find(std::string(a.topic));
    if (it == body.end()) continue;
    const ZoneRecord record = table.ZoneRecordOf(a.kind, zone);
    const auto text = RequestText(*it);
    const AttributeRequest request =
        !record ? AttributeRequest{{}, "the zone has no such record"}
        : !text ? AttributeRequest{{}, "expected a string or a number"}
                : ParseCommand(*record, *text);
    if (!request.error.empty()) {
      out.error = std::string(a.topic) + ": " + request.error;
      out.positions.clear();
      return out;
    }
    out.positions.emplace_back(a.kind, request.position);
  }
  return out;
}

SceneBody ParseSceneZones(std::string name, const nlohmann::ordered_json& body) {
  SceneBody out{{std::move(name), {}}, {}};
  const auto zones = body.find("zones");
  if (zones == body.end() || !zones->is_object() || zones->empty()) {
    out.error = "zones: expected an object of zones, or \"capture\": true";
    return out;
  }
  for (const auto& [key, values] : zones->items()) {
    const bool digit = key.size() == 1 && key[0] >= '1' && key[0] <= '6';
    if (!digit) out.error = "zones." + key + ": no such zone (1 to 6)";
    else if (!values.is_object()) out.error = "zones." + key + ": expected an object";
    if (!out.error.empty()) return out;
    for (const auto& [attribute, value] : values.items()) {
      const auto text = RequestText(value);
      if (!text) {
        out.error = "zones." + key + "." + attribute + ": expected a string or a number";
        return out;
      }
      out.scene.zones[key[0] - '0'][attribute] = *text;
    }
  }
  return out;
}

}  // namespace corvane
