// Zone records in MQTT terms: state payloads, command payloads read into
// request positions (the positions the xAP command path hands the
// controller link), and the Home Assistant discovery messages.
#include "mqtt/mqtt_topics.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include <nlohmann/json.hpp>

#include "devicetable/levels.h"

namespace corvane {
namespace {

// A record of `kind` holding `value`, with the value list the device table
// gives it ("None" and eight inputs for the source).
UPBLinkState Record(int kind, int value) {
  std::vector<std::string> texts;
  if (kind == kSourceKind) {
    texts = {"None", "Tuner", "CD", "Input3", "Input4", "Input5", "Input6", "Input7", "Input8"};
  } else if (kind == kStatusKind) {
    texts = StatusList();
  } else {
    texts = LevelList(*TableForKind(kind));
    texts.erase(texts.begin(), texts.begin() + 2);  // the stored list has no Up/Down
  }
  UPBLinkState r;
  r.Kind = static_cast<int16_t>(kind);
  r.Componentindex = r.Kind;
  r.Value = static_cast<int16_t>(value);
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) r.Values += '\x01';
    r.Values += texts[i] + '\x02' + std::to_string(i);
  }
  return r;
}

TEST(MqttTopicsTest, StateIsInUserTerms) {
  // Values that name no level (a record the controller has not reported
  // yet, a damaged stored line) give no state rather than a wrong one.
  const std::tuple<int, int, std::string> cases[] = {
      {kSourceKind, 2, "CD"}, {kSourceKind, 0, "None"},   {kStatusKind, 0, "off"},
      {kStatusKind, 1, "on"}, {kStatusKind, 2, "mute"},   {kVolumeKind, 2, "6"},
      {kVolumeKind, 5, "0"},  {kVolumeKind, 38, "-80"},   {kBassKind, 2, "15"},
      {kTrebleKind, 9, "-9"}, {kTurnOnMuteKind, 7, "-4"}, {kVolumeKind, 0, ""},
      {kVolumeKind, 39, ""},  {kStatusKind, 3, ""},       {kSourceKind, -1, ""},
  };
  for (const auto& [kind, value, state] : cases)
    EXPECT_EQ(StatePayload(Record(kind, value)), state) << kind << " " << value;
}

// Source: an input's name (any case) or its number. Status: the request list
// Toggle, On, Mute. Levels: Up 0, Down 1, decibels as the level at or below
// them (-11 is -12 dB). Anything else is refused with a reason.
TEST(MqttTopicsTest, CommandsBecomeRequestPositions) {
  const std::string_view nul("\0", 1);
  const std::tuple<int, std::string_view, std::string> cases[] = {
      {kSourceKind, "CD", "2"},   {kSourceKind, " tuner ", "1"},    {kSourceKind, "none", "0"},
      {kSourceKind, "8", "8"},    {kSourceKind, "Input5", "5"},     {kStatusKind, "toggle", "0"},
      {kStatusKind, "on", "1"},   {kStatusKind, "MUTE", "2"},       {kVolumeKind, "up", "0"},
      {kVolumeKind, "Down", "1"}, {kVolumeKind, "0", "5"},          {kVolumeKind, "-20 dB", "15"},
      {kVolumeKind, "-11", "11"}, {kVolumeKind, "-80", "38"},       {kVolumeKind, "6.0", "2"},
      {kBassKind, "-9db", "10"},  {kTurnOnVolumeKind, "-30", "20"}, {kSourceKind, "", ""},
      {kSourceKind, "Radio", ""}, {kSourceKind, "9", ""},           {kSourceKind, "-1", ""},
      {kSourceKind, "2.5", ""},   {kStatusKind, "off", ""},         {kStatusKind, "1", ""},
      {kStatusKind, "mutex", ""}, {kVolumeKind, "loud", ""},        {kVolumeKind, "7", ""},
      {kVolumeKind, "-81", ""},   {kVolumeKind, "nan", ""},         {kVolumeKind, "inf", ""},
      {kVolumeKind, "1e999", ""}, {kVolumeKind, "-20 dBx", ""},     {kBassKind, "16", ""},
      {kTrebleKind, "13", ""},    {kVolumeKind, nul, ""},
  };
  for (const auto& [kind, payload, position] : cases) {
    const MqttCommand c = ParseCommand(Record(kind, 5), payload);
    EXPECT_EQ(c.position, position) << kind << " '" << payload << "'";
    EXPECT_EQ(c.error.empty(), !position.empty()) << kind << " '" << payload << "'";
  }
}

TEST(MqttTopicsTest, ZoneAndDeviceNamesFollowTheStatusPage) {
  EXPECT_EQ(ZoneName("Channel3_Status", 3), "Channel3");
  EXPECT_EQ(ZoneDeviceName(ZoneName("Channel3_Status", 3), 3), "Vaux Aris 700 zone 3");
  EXPECT_EQ(ZoneName("Living_Room", 2), "Living Room");
  EXPECT_EQ(ZoneDeviceName("Living Room", 2), "Living Room");
  EXPECT_EQ(ZoneName("Kitchen_status", 1), "Kitchen");
  EXPECT_EQ(ZoneName("", 4), "Zone 4");
  EXPECT_EQ(ZoneName("_Status", 5), "Status");
  EXPECT_EQ(TopicId("corvane/den-pc.local"), "corvane_den_pc_local");
}

// What Home Assistant requires of each platform's discovery message, and
// that the message is JSON whatever the names hold.
TEST(MqttTopicsTest, DiscoveryMessagesCarryWhatHomeAssistantRequires) {
  const DiscoveryContext ctx{"corvane/den", "homeassistant", "1.2.3"};
  const std::string device = "Kitchen \"main\" \\ zone\t\x01 \xC3\xA9t\xC3\xA9";
  const std::vector<std::string> options = {"None", "Tuner", "CD \"2\""};
  int numbers = 0;
  for (const MqttAttribute& a : MqttAttributes()) {
    const std::string text = DiscoveryPayload(ctx, 2, a, device, options);
    nlohmann::json j;
    ASSERT_NO_THROW(j = nlohmann::json::parse(text)) << text;
    EXPECT_EQ(DiscoveryTopic(ctx, 2, a), "homeassistant/" + std::string(a.component) +
                                             "/corvane_den/zone2_" + std::string(a.topic) +
                                             "/config");
    EXPECT_EQ(j["name"], std::string(a.entity_name));
    EXPECT_EQ(j["unique_id"], "corvane_den_zone2_" + std::string(a.topic));
    EXPECT_EQ(j["state_topic"], "corvane/den/zone2/" + std::string(a.topic));
    EXPECT_EQ(j["command_topic"], "corvane/den/zone2/" + std::string(a.topic) + "/set");
    EXPECT_EQ(j["availability_topic"], "corvane/den/status");
    EXPECT_EQ(j["payload_available"], "online");
    EXPECT_EQ(j["payload_not_available"], "offline");
    EXPECT_EQ(j["device"]["identifiers"][0], "corvane_den_zone2");
    EXPECT_EQ(j["device"]["name"], device);
    if (a.component == "select") {
      EXPECT_EQ(j["options"], nlohmann::json(options));
    } else if (a.component == "switch") {
      EXPECT_EQ(j["payload_on"], "mute");
      EXPECT_EQ(j["payload_off"], "on");
    } else {
      ++numbers;
      // From the level tables: volume and the turn-on levels, bass, treble.
      const std::array<int, 3> range = a.kind == kBassKind     ? std::array{-9, 15, 3}
                                       : a.kind == kTrebleKind ? std::array{-9, 12, 3}
                                                               : std::array{-80, 6, 2};
      EXPECT_EQ(j["min"], range[0]);
      EXPECT_EQ(j["max"], range[1]);
      EXPECT_EQ(j["step"], range[2]);
      EXPECT_EQ(j["unit_of_measurement"], "dB");
    }
  }
  EXPECT_EQ(numbers, 5);  // volume, bass, treble and the two turn-on levels
  // Names that are not UTF-8 still give JSON.
  const std::string latin1 = "Caf\xE9 \xFF\xC3";
  const std::string text = DiscoveryPayload(ctx, 1, MqttAttributes()[0], latin1, {latin1});
  EXPECT_TRUE(nlohmann::json::accept(text)) << text;
}

}  // namespace
}  // namespace corvane
