// How zone records look on MQTT: the attribute vocabulary of
// scenes/zone_attributes.h (shared with the JSON API) and the Home Assistant
// discovery messages of a zone and of a saved scene. Pure functions; no broker.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scenes/zone_attributes.h"

namespace corvane {

// The device of a zone: "Vaux Aris 700 zone N" while the zone keeps its
// default name, else the zone's name.
std::string ZoneDeviceName(const std::string& zone_name, int zone);

// Letters, digits and "_" of a topic, for discovery node and object ids
// ("corvane/den-pc" -> "corvane_den_pc").
std::string TopicId(std::string_view topic);

// What every discovery message of a program shares.
struct DiscoveryContext {
  std::string base_topic;
  std::string discovery_prefix;
  std::string version;
};

// <prefix>/<component>/<node>/zone<N>_<attribute>/config
std::string DiscoveryTopic(const DiscoveryContext& ctx, int zone, const MqttAttribute& attribute);
// The entity's configuration (JSON). `options` are the source names, used by
// the select only.
std::string DiscoveryPayload(const DiscoveryContext& ctx, int zone, const MqttAttribute& attribute,
                             const std::string& device_name,
                             const std::vector<std::string>& options);

// <prefix>/scene/<node>/scene_<id>/config: one Home Assistant scene entity
// per saved scene; activating it publishes the scene's name to
// <base>/scene/set.
std::string SceneDiscoveryTopic(const DiscoveryContext& ctx, std::string_view scene);
std::string SceneDiscoveryPayload(const DiscoveryContext& ctx, std::string_view scene);

}  // namespace corvane
