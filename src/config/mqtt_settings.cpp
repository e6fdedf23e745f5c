// Reads section "MQTT" of Corvane.ini; one table of keys serves the loader and
// the setup section's fields.
#include "config/mqtt_settings.h"

#include <cmath>

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/text.h"

namespace corvane {

const std::vector<MqttKey>& MqttKeys() {
  static const std::vector<MqttKey> keys = {
      {"Host", "MqttHost", "Broker Host (empty: MQTT off)", "16"},
      {"Port", "MqttPort", "Broker Port", "5"},
      {"User", "MqttUser", "User", "12"},
      {"Password", "MqttPassword", "Password", "12"},
      {"TLS", "MqttTLS", "TLS", ""},
      {"CAFile", "MqttCAFile", "CA File", "24"},
      {"BaseTopic", "MqttBaseTopic", "Base Topic (empty: corvane/computer name)", "24"},
      {"DiscoveryPrefix", "MqttDiscoveryPrefix", "Discovery Prefix", "14"},
  };
  return keys;
}

std::string DefaultBaseTopic(std::string_view computer_name) {
  return "corvane/" + std::string(computer_name.empty() ? "corvane" : computer_name);
}

MqttSettings LoadMqttSettings(IniCache& ini, std::string_view computer_name) {
  auto get = [&](std::string_view key) {
    return std::string(TrimWhite(RemoveQuotes(ini.GetIniSetting(kMqttSection, key, "", kMainIniFile))));
  };
  MqttSettings s;
  s.host = get("Host");
  const std::string port = get("Port");
  if (!port.empty()) {
    const double p = LeadingNumber(port);
    s.port = std::isfinite(p) && p >= 1 && p <= 65535 ? static_cast<int>(p) : 1883;
  }
  s.user = get("User");
  s.password = get("Password");
  s.tls = IniBool(get("TLS"));
  s.ca_file = get("CAFile");
  s.base_topic = get("BaseTopic");
  while (!s.base_topic.empty() && s.base_topic.back() == '/') s.base_topic.pop_back();
  if (s.base_topic.empty()) s.base_topic = DefaultBaseTopic(computer_name);
  const std::string prefix = get("DiscoveryPrefix");
  if (!prefix.empty()) s.discovery_prefix = prefix;
  return s;
}

}  // namespace corvane
