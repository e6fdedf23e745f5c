#include "config/settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "config/ini_cache.h"
#include "config/mqtt_settings.h"
#include "core/event_log.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using testing::TempDir;
using testing::WriteFile;

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() : wall_(46000), log_(wall_, &err_), ini_(dir_.path(), log_), store_(ini_, log_) {}
  const Settings& Load(std::string_view ini_text) {
    WriteFile(dir_.File("Corvane.ini"), ini_text);
    store_.InitIniKeys();
    return store_.values();
  }
  TempDir dir_;
  ManualWallClock wall_;
  std::ostringstream err_;
  EventLog log_;
  IniCache ini_;
  SettingsStore store_;
};

// What the loader makes of stored texts, as "UPBCommPort|HTTPPort|UID|Background|ShowStatus|"
// and the flags ShowSetup, ShowInputLinks, ShowMacroMap, ShowOnlyUsed, ShowReceiveMessages,
// DebugLog.
TEST_F(SettingsTest, LoaderDefaultsAndConversions) {
  auto summary = [](const Settings& s) {
    std::string out = s.upb_comm_port + "|" + s.http_port + "|" + s.uid + "|" + s.background +
                      "|" + std::to_string(s.show_status) + "|";
    for (bool f : {s.show_setup, s.show_input_links, s.show_macro_map, s.show_only_used,
                   s.show_receive_messages, s.debug_log}) {
      out += f ? "1" : "0";
    }
    return out;
  };
  const std::pair<const char*, const char*> cases[] = {
      {"", "|8018|FF.0022:00|Black|0|000000"},
      // Key case does not matter, quotes go, an empty value takes the default,
      // Background is kept as stored, halves go to even.
      {"upbcommport=\"4001\"\r\nHTTPPort=\r\nUID=FF002200\r\nBackground=\"Navy\"\r\nShowStatus=2.5",
       "4001|8018|FF.0022:00|\"Navy\"|2|000000"},
      {"UID=\"FF.0022:05\"\r\nShowStatus=\"3\"", "|8018|FF.0022:05|Black|0|000000"},  // quoted: 0
      {"ShowStatus=99999\r\nShowSetup=\"true\"\r\nShowInputLinks=1\r\nShowMacroMap=-1\r\n"
       "ShowOnlyUsed=yes\r\nShowReceiveMessages=TRUE\r\nDebugLog=on",
       "|8018|FF.0022:00|Black|0|111010"},  // 99999 does not fit 16 bits
  };
  for (const auto& [ini, expected] : cases) {
    EXPECT_EQ(summary(Load("[Vaux]\r\n" + std::string(ini) + "\r\n")), expected) << ini;
  }
  const Settings& s = Load("");
  EXPECT_EQ(s.style_sheet + "|" + s.up_down_increment + "|" + s.input_name_list + "|" +
                s.serial_settings + "|" + s.periodic_script_interval,
            "StyleNoBody.css|3|Input1,Input2,Input3,Input4,Input5,Input6,Input7,Input8|9600,n,8,1|");
}

TEST_F(SettingsTest, SetIniValueTakesListNamesOnlyAndInitOpensThePortOnce) {
  WriteFile(dir_.File("Corvane.ini"), "[Vaux]\r\nSerialIP=127.0.0.1\r\nDebugLog=true\r\n");
  store_.SetIniValue("SERIALIP");
  store_.SetIniValue("nonsense");
  EXPECT_EQ(store_.values().serial_ip, "127.0.0.1");
  EXPECT_FALSE(store_.values().debug_log);  // not asked for
  // InitINIVariables reads them all and opens the configured port once.
  int opened = 0, resets = 0;
  bool open = false;
  store_.SetPortHooks({[&] { ++resets; }, [&] { return open; },
                       [&](const std::string& port) {
                         ++opened;
                         EXPECT_EQ(port, "3");
                         return open = true;
                       }});
  WriteFile(dir_.File("Corvane.ini"), "[Vaux]\r\nUPBCommPort=3\r\n");
  store_.InitINIVariables();
  store_.InitINIVariables();
  EXPECT_EQ(resets, 2);
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(store_.port_open_flag());
}

TEST(SettingsConversionTest, UidBooleansAndThePeriodicSchedule) {
  EXPECT_EQ(NormalizeUID("AB"), "AB.:00");
  struct Case {
    const char* text;
    bool enabled;
    int64_t interval_ms, minute_counter;
  };
  for (const Case& c : {Case{"90", true, 30000, 1}, Case{"120", true, 60000, 1},
                        Case{"30", true, 30000, 0},
                        // rounds to 60 but floor(59.6/60) is 0
                        Case{"59.6", true, 60000, -1}, Case{"every minute", false, 0, 0},
                        Case{"", false, 0, 0}, Case{"-30", false, 0, 0}}) {
    const PeriodicSchedule p = ComputePeriodicSchedule(c.text);
    EXPECT_EQ(p.enabled, c.enabled) << c.text;
    EXPECT_EQ(p.interval_ms, c.interval_ms) << c.text;
    EXPECT_EQ(p.minute_counter, c.minute_counter) << c.text;
  }
}


TEST_F(SettingsTest, MqttSettingsDefaultsAndBadPorts) {
  IniCache& ini = ini_;
  MqttSettings s = LoadMqttSettings(ini, "den");
  EXPECT_FALSE(s.Enabled());
  EXPECT_EQ(s.port, 1883);
  EXPECT_EQ(s.base_topic, "corvane/den");
  EXPECT_EQ(s.discovery_prefix, "homeassistant");
  for (const char* bad : {"0", "70000", "x", "-1"}) {
    ini.SaveIniSetting("MQTT", "Port", bad, "Corvane.ini");
    EXPECT_EQ(LoadMqttSettings(ini, "den").port, 1883) << bad;
  }
  ini.SaveIniSetting("MQTT", "BaseTopic", "\"house/amp/\"", "Corvane.ini");
  EXPECT_EQ(LoadMqttSettings(ini, "den").base_topic, "house/amp");
}
}  // namespace
}  // namespace corvane
