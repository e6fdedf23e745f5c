// Home Assistant discovery in MQTT terms: one entity per used zone
// attribute, one scene entity per saved scene.
#include "mqtt/mqtt_topics.h"

#include "core/text.h"

namespace corvane {

namespace {

std::string AvailabilityFields(const DiscoveryContext& ctx) {
  return "\"availability_topic\":" + JsonString(ctx.base_topic + "/status") +
         ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"";
}

std::string DeviceField(const DiscoveryContext& ctx, int zone, const std::string& device_name) {
  const std::string id = TopicId(ctx.base_topic) + "_zone" + std::to_string(zone);
  return "\"device\":{\"identifiers\":[" + JsonString(id) + "],\"name\":" +
         JsonString(device_name) + ",\"manufacturer\":\"Vaux\",\"model\":\"Aris 700\"" +
         ",\"sw_version\":" + JsonString(ctx.version) + "}";
}

// The platform's own fields.
std::string ComponentFields(const MqttAttribute& attribute,
                            const std::vector<std::string>& options) {
  if (attribute.component == "select") {
    std::vector<std::string> quoted;
    for (const std::string& o : options) quoted.push_back(JsonString(o));
    return "\"options\":[" + Join(quoted, ",") + "],\"icon\":\"mdi:audio-input-rca\"";
  }
  if (attribute.component == "switch") {
    // The switch shows the zone muted; turning it off turns the zone on.
    return "\"payload_on\":\"mute\",\"payload_off\":\"on\","
           "\"value_template\":\"{{ 'mute' if value == 'mute' else 'on' }}\","
           "\"icon\":\"mdi:volume-off\"";
  }
  const LevelRange range = RangeOf(attribute.kind);
  return "\"min\":" + std::to_string(range.min_db) + ",\"max\":" + std::to_string(range.max_db) +
         ",\"step\":" + std::to_string(range.step_db) +
         ",\"unit_of_measurement\":\"dB\",\"mode\":\"slider\"";
}

}  // namespace

std::string ZoneDeviceName(const std::string& zone_name, int zone) {
  if (EqualsIgnoreCase(zone_name, "Channel" + std::to_string(zone))) {
    return "Vaux Aris 700 zone " + std::to_string(zone);
  }
  return zone_name;
}

std::string TopicId(std::string_view topic) {
  std::string id;
  for (char c : topic) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    id += plain ? c : '_';
  }
  return id;
}

std::string DiscoveryTopic(const DiscoveryContext& ctx, int zone, const MqttAttribute& attribute) {
  return ctx.discovery_prefix + "/" + std::string(attribute.component) + "/" +
         TopicId(ctx.base_topic) + "/zone" + std::to_string(zone) + "_" +
         std::string(attribute.topic) + "/config";
}

std::string DiscoveryPayload(const DiscoveryContext& ctx, int zone, const MqttAttribute& attribute,
                             const std::string& device_name,
                             const std::vector<std::string>& options) {
  const std::string topic =
      ctx.base_topic + "/zone" + std::to_string(zone) + "/" + std::string(attribute.topic);
  // Appended piece by piece: "literal" + std::string trips a false
  // -Wrestrict in g++ 12 at -O3.
  std::string json = "{\"name\":";
  json.append(JsonString(attribute.entity_name));
  json.append(",\"unique_id\":")
      .append(JsonString(TopicId(ctx.base_topic) + "_zone" + std::to_string(zone) + "_" +
                         std::string(attribute.topic)));
  json.append(",\"state_topic\":").append(JsonString(topic));
  json.append(",\"command_topic\":").append(JsonString(topic + "/set"));
  json.append(",").append(ComponentFields(attribute, options));
  if (attribute.config_entity) json.append(",\"entity_category\":\"config\"");
  json.append(",").append(AvailabilityFields(ctx));
  json.append(",").append(DeviceField(ctx, zone, device_name));
  json.append(",\"origin\":{\"name\":\"Corvane\",\"sw_version\":")
      .append(JsonString(ctx.version))
      .append("}}");
  return json;
}

std::string SceneDiscoveryTopic(const DiscoveryContext& ctx, std::string_view scene) {
  return ctx.discovery_prefix + "/scene/" + TopicId(ctx.base_topic) + "/scene_" +
         TopicId(ToLower(scene)) + "/config";
}

std::string SceneDiscoveryPayload(const DiscoveryContext& ctx, std::string_view scene) {
  const std::string node = TopicId(ctx.base_topic);
  std::string json = "{\"name\":";
  json.append(JsonString(scene));
  json.append(",\"unique_id\":").append(JsonString(node + "_scene_" + TopicId(ToLower(scene))));
  json.append(",\"command_topic\":").append(JsonString(ctx.base_topic + "/scene/set"));
  json.append(",\"payload_on\":").append(JsonString(scene));
  json.append(",\"icon\":\"mdi:palette\",").append(AvailabilityFields(ctx));
  json.append(",\"device\":{\"identifiers\":[").append(JsonString(node + "_scenes"));
  json.append("],\"name\":\"Corvane scenes\",\"manufacturer\":\"Corvane\",\"sw_version\":")
      .append(JsonString(ctx.version))
      .append("}}");
  return json;
}

}  // namespace corvane
