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
  void Load(std::string_view ini_text) {
    WriteFile(dir_.File("Corvane.ini"), ini_text);
    store_.InitIniKeys();
  }
  TempDir dir_;
  ManualWallClock wall_;
  std::ostringstream err_;
  EventLog log_;
  IniCache ini_;
  SettingsStore store_;
};

TEST_F(SettingsTest, EmptyFileGivesTheLoaderDefaults) {
  Load("");
  const Settings& s = store_.values();
  EXPECT_EQ(s.upb_comm_port, "");
  EXPECT_EQ(s.http_port, "8018");
  EXPECT_EQ(s.uid, "FF.0022:00");
  EXPECT_EQ(s.background, "Black");
  EXPECT_EQ(s.style_sheet, "StyleNoBody.css");
  EXPECT_FALSE(s.debug_log);
  EXPECT_FALSE(ComputePeriodicSchedule(s.periodic_script_interval).enabled);
  EXPECT_EQ(s.up_down_increment, "3");
  EXPECT_EQ(s.input_name_list, "Input1,Input2,Input3,Input4,Input5,Input6,Input7,Input8");
  EXPECT_EQ(s.show_status, 0);
  EXPECT_EQ(s.serial_settings, "9600,n,8,1");
}

TEST_F(SettingsTest, ConversionsOfStoredTexts) {
  Load(
      "[Vaux]\r\n"
      "upbcommport=\"4001\"\r\n"  // key case does not matter; quotes go
      "UID=FF002200\r\n"
      "ShowSetup=\"true\"\r\n"
      "ShowInputLinks=1\r\n"
      "ShowMacroMap=-1\r\n"
      "ShowOnlyUsed=yes\r\n"
      "ShowReceiveMessages=TRUE\r\n"
      "ShowStatus=2.5\r\n"
      "Background=\"Navy\"\r\n"
      "HTTPPort=\r\n");
  const Settings& s = store_.values();
  EXPECT_EQ(s.upb_comm_port, "4001");
  EXPECT_EQ(s.uid, "FF.0022:00");
  EXPECT_TRUE(s.show_setup);
  EXPECT_TRUE(s.show_input_links);
  EXPECT_TRUE(s.show_macro_map);
  EXPECT_FALSE(s.show_only_used);
  EXPECT_TRUE(s.show_receive_messages);
  EXPECT_EQ(s.show_status, 2);          // halves go to even
  EXPECT_EQ(s.background, "\"Navy\"");  // kept as stored
  EXPECT_EQ(s.http_port, "8018");       // empty value takes the default

  Load("[Vaux]\r\nUID=\"FF.0022:05\"\r\nShowStatus=\"3\"\r\nShowSetup=on\r\n");
  EXPECT_EQ(store_.values().uid, "FF.0022:05");
  EXPECT_EQ(store_.values().show_status, 0);  // a quoted number reads as 0
  EXPECT_FALSE(store_.values().show_setup);

  Load("[Vaux]\r\nShowStatus=99999\r\n");
  EXPECT_EQ(store_.values().show_status, 0);  // does not fit 16 bits
}

TEST_F(SettingsTest, SetIniValueTakesListNamesOnly) {
  WriteFile(dir_.File("Corvane.ini"), "[Vaux]\r\nSerialIP=127.0.0.1\r\nDebugLog=true\r\n");
  store_.SetIniValue("SERIALIP");
  store_.SetIniValue("nonsense");
  EXPECT_EQ(store_.values().serial_ip, "127.0.0.1");
  EXPECT_FALSE(store_.values().debug_log);  // not asked for
  EXPECT_EQ(SettingsKeyList().size(), 17u);
  EXPECT_EQ(SettingsKeyList()[5], "styleSheet");
  EXPECT_EQ(FormDefaults()[11], "2");
  EXPECT_EQ(LoaderDefaults()[11], "0");
}

TEST_F(SettingsTest, InitIniVariablesOpensTheConfiguredPortOnce) {
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

TEST(SettingsConversionTest, UidAndBooleans) {
  EXPECT_EQ(NormalizeUID("FF002200"), "FF.0022:00");
  EXPECT_EQ(NormalizeUID("FF.0022:05"), "FF.0022:05");
  EXPECT_EQ(NormalizeUID("AB"), "AB.:00");
  EXPECT_TRUE(IniBool("\"TRUE\""));
  EXPECT_TRUE(IniBool("2"));
  EXPECT_FALSE(IniBool("0"));
  EXPECT_FALSE(IniBool(""));
}

TEST(SettingsConversionTest, PeriodicScheduleArithmetic) {
  auto p = ComputePeriodicSchedule("90");
  EXPECT_TRUE(p.enabled);
  EXPECT_EQ(p.interval_ms, 30000);
  EXPECT_EQ(p.minute_counter, 1);
  p = ComputePeriodicSchedule("120");
  EXPECT_EQ(p.interval_ms, 60000);
  EXPECT_EQ(p.minute_counter, 1);
  p = ComputePeriodicSchedule("30");
  EXPECT_EQ(p.interval_ms, 30000);
  EXPECT_EQ(p.minute_counter, 0);
  p = ComputePeriodicSchedule("59.6");  // rounds to 60 but floor(59.6/60) is 0
  EXPECT_EQ(p.interval_ms, 60000);
  EXPECT_EQ(p.minute_counter, -1);
  EXPECT_FALSE(ComputePeriodicSchedule("every minute").enabled);
  EXPECT_FALSE(ComputePeriodicSchedule("").enabled);
  EXPECT_FALSE(ComputePeriodicSchedule("-30").enabled);
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
