// The one vocabulary of zone attributes that MQTT, the JSON API, the phone
// remote and saved scenes share: each attribute's name (the MQTT topic and
// the JSON key), the record's value in user terms (the input's name,
// on/mute/off, decibels), and the reading of a requested value into a
// position of the record's request list (what the xAP command path hands the
// controller link). Pure functions; no broker, no server.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devicetable/records.h"

namespace corvane {

// One zone attribute. The Home Assistant fields are kept here too so that
// every side reads the same table.
struct ZoneAttribute {
  int kind;                      // record kind 0..6
  std::string_view topic;        // <base>/zone<N>/<topic>; the JSON API's key
  std::string_view component;    // Home Assistant platform
  std::string_view entity_name;  // the entity's name inside its device
  bool config_entity;            // a setting rather than a control
};
using MqttAttribute = ZoneAttribute;

// In attribute order: source, status, volume, bass, treble, turnon_mute,
// turnon_volume.
const std::vector<ZoneAttribute>& MqttAttributes();
const ZoneAttribute* AttributeOfKind(int kind);
const ZoneAttribute* AttributeOfTopic(std::string_view topic);

// The record's value in user terms; empty when the value names nothing
// (a level record before the controller first reported it).
std::string StatePayload(const UPBLinkState& record);

// A requested value read into a position of the record's request list, as
// decimal text; or the reason it was refused.
struct AttributeRequest {
  std::string position;
  std::string error;  // empty when `position` holds the request
};
using MqttCommand = AttributeRequest;
AttributeRequest ParseCommand(const UPBLinkState& record, std::string_view payload);

// Whether a request names a value outright ("up", "down" and "toggle" are
// relative: they depend on what the zone holds).
bool AbsoluteRequest(std::string_view payload);

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

}  // namespace corvane
