#include "config/settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "config/ini_cache.h"
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

// Each stored text and what the loader makes of it.
TEST_F(SettingsTest, LoaderDefaultsAndConversions) {
  struct Case {
    const char* ini;
    std::string (*field)(const Settings&);
    const char* expected;
  };
  auto port = [](const Settings& s) { return s.upb_comm_port; };
  auto http = [](const Settings& s) { return s.http_port; };
  auto uid = [](const Settings& s) { return s.uid; };
  auto background = [](const Settings& s) { return s.background; };
  auto status = [](const Settings& s) { return std::to_string(s.show_status); };
  auto flags = [](const Settings& s) {
    return std::string() + "01"[s.show_setup] + "01"[s.show_input_links] +
           "01"[s.show_macro_map] + "01"[s.show_only_used] + "01"[s.show_receive_messages] +
           "01"[s.debug_log];
  };
  auto rest = [](const Settings& s) {
    return s.style_sheet + "|" + s.up_down_increment + "|" + s.input_name_list + "|" +
           s.serial_settings + "|" + s.periodic_script_interval;
  };
  const Case cases[] = {
      {"", port, ""},
      {"", http, "8018"},
      {"", uid, "FF.0022:00"},
      {"", background, "Black"},
      {"", status, "0"},
      {"", flags, "000000"},
      {"", rest,
       "StyleNoBody.css|3|Input1,Input2,Input3,Input4,Input5,Input6,Input7,Input8|9600,n,8,1|"},
      {"[Vaux]\r\nupbcommport=\"4001\"\r\n", port, "4001"},  // key case does not matter
      {"[Vaux]\r\nHTTPPort=\r\n", http, "8018"},              // empty takes the default
      {"[Vaux]\r\nUID=FF002200\r\n", uid, "FF.0022:00"},
      {"[Vaux]\r\nUID=\"FF.0022:05\"\r\n", uid, "FF.0022:05"},
      {"[Vaux]\r\nBackground=\"Navy\"\r\n", background, "\"Navy\""},  // kept as stored
      {"[Vaux]\r\nShowStatus=2.5\r\n", status, "2"},                  // halves go to even
      {"[Vaux]\r\nShowStatus=\"3\"\r\n", status, "0"},  // a quoted number reads as 0
      {"[Vaux]\r\nShowStatus=99999\r\n", status, "0"},  // does not fit 16 bits
      {"[Vaux]\r\nShowSetup=\"true\"\r\nShowInputLinks=1\r\nShowMacroMap=-1\r\n"
       "ShowOnlyUsed=yes\r\nShowReceiveMessages=TRUE\r\nDebugLog=on\r\n",
       flags, "111010"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.field(Load(c.ini)), c.expected) << c.ini;
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

}  // namespace
}  // namespace corvane
