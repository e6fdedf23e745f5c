// The MQTT side's settings: section "MQTT" of Corvane.ini. The MQTT side is
// off while Host is empty. Kept here, below the pages and the MQTT side, so
// that the status page's setup section edits the same keys the client reads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class IniCache;

inline constexpr std::string_view kMqttSection = "MQTT";

struct MqttSettings {
  std::string host;  // empty: no MQTT side
  int port = 1883;
  std::string user;
  std::string password;
  bool tls = false;
  std::string ca_file;
  std::string base_topic;  // default corvane/<computer name>
  std::string discovery_prefix = "homeassistant";

  bool Enabled() const { return !host.empty(); }
};

// One key of the section: its name in the file, the form field of the setup
// section, its label there and the default shown for a missing key.
struct MqttKey {
  std::string_view key;
  std::string_view field;
  std::string_view label;
  std::string_view size;  // text box width; empty: a checkbox
};
const std::vector<MqttKey>& MqttKeys();

// The default base topic for a computer: "corvane/" + its name.
std::string DefaultBaseTopic(std::string_view computer_name);

// Reads the section; missing or empty keys give the defaults (a port outside
// 1..65535 gives 1883).
MqttSettings LoadMqttSettings(IniCache& ini, std::string_view computer_name);

}  // namespace corvane
