// How zone records look on MQTT: the topic of each attribute, the state
// payloads in user terms (the input's name, on/mute/off, decibels), the
// reading of command payloads into positions of the record's request list
// (what the xAP command path hands the controller link), and the Home
// Assistant discovery messages of a zone. Pure functions; no broker.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devicetable/records.h"

namespace corvane {

// One zone attribute as MQTT shows it.
struct MqttAttribute {
  int kind;                      // record kind 0..6
  std::string_view topic;        // <base>/zone<N>/<topic>
  std::string_view component;    // Home Assistant platform
  std::string_view entity_name;  // the entity's name inside its device
  bool config_entity;            // a setting rather than a control
};

// In attribute order: source, status, volume, bass, treble, turnon_mute,
// turnon_volume.
const std::vector<MqttAttribute>& MqttAttributes();
const MqttAttribute* AttributeOfKind(int kind);
const MqttAttribute* AttributeOfTopic(std::string_view topic);

// The record's value in user terms; empty when the value names nothing
// (a level record before the controller first reported it).
std::string StatePayload(const UPBLinkState& record);

// A command payload read into a position of the record's request list, as
// decimal text; or the reason it was refused.
struct MqttCommand {
  std::string position;
  std::string error;  // empty when `position` holds the request
};
MqttCommand ParseCommand(const UPBLinkState& record, std::string_view payload);

// The lowest and highest decibels of a level table and the smallest step
// between neighbouring levels.
struct LevelRange {
  int min_db = 0;
  int max_db = 0;
  int step_db = 1;
};
LevelRange RangeOf(int kind);

// A zone's name from the status page: the name of its Status record without
// a trailing "_Status", underscores shown as spaces ("Channel1_Status" ->
// "Channel1", "Living_Room" -> "Living Room").
std::string ZoneName(const std::string& status_record_name, int zone);
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

}  // namespace corvane
