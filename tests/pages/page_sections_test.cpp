// The filter and setup sections: what they show, and what a save stores.
#include <gtest/gtest.h>

#include "config/mqtt_settings.h"
#include "page_fixture.h"

namespace corvane::testing {
namespace {

using Sections = PageFixture;

TEST_F(Sections, FilterRowsAreAddedDeletedAndKeptFirst) {
  Set("ShowStatus", "2");
  Set("ShowReceiveMessages", "True");
  auto& filters = devices_.FilterDictionary();
  filters.Add("a.b.c~xAPBSC.event", "porch;1");
  filters.Add("d.e.f~Weather.Report", "weather;");
  std::string page = Page();
  EXPECT_TRUE(Has(page, ">xAP Messages of Interest</td>"));
  EXPECT_TRUE(Has(page, "<input type='text' size='80' value='a.b.c' name='Source1'>"));
  EXPECT_TRUE(Has(page, "<input type='checkbox' checked value='1' name='FilterEvent1'>"));
  EXPECT_TRUE(Has(page, "<input type='checkbox' value='1' name='FilterEvent2'>"));
  EXPECT_TRUE(Has(page, "name='Source0'"));

  // Row 0 adds a filter with a source only; row 1 is cleared (deleted); row
  // 2 repeats row 0's key and loses to it.
  Page({{"UpdateButton", "Save Changes"},
        {"ShowStatus", "2"},
        {"ShowReceiveMessages", "1"},
        {"Source0", "x.y.z:kitchen"},
        {"Class0", ""},
        {"FilterTag0", "new tag"},
        {"FilterEvent0", "1"},
        {"Source1", ""},
        {"Class1", ""},
        {"FilterTag1", "porch"},
        {"Source2", "x.y.z:kitchen"},
        {"Class2", ""},
        {"FilterTag2", "weather"}});
  ASSERT_EQ(filters.Count(), 1u);
  EXPECT_EQ(filters.At(0).first, "x.y.z:kitchen~");
  EXPECT_EQ(filters.At(0).second, "new_tag;1");
  EXPECT_TRUE(devices_.DeviceDictionary().Exists("new_tag"));
  const std::string ini = ReadFile(dir_.File("Config/Corvane.ini"));
  EXPECT_TRUE(Has(ini, "[RECEIVED]\r\nx.y.z:kitchen~=new_tag;1\r\n"));
  EXPECT_FALSE(Has(ini, "a.b.c~"));

  // A page without the filter fields (ShowStatus 1) shows status and tag
  // only; saving from it leaves the filters as they are.
  Set("ShowStatus", "1");
  page = Page();
  EXPECT_FALSE(Has(page, "name='Source"));
  EXPECT_TRUE(Has(page, ">new_tag</td>"));
  Page({{"UpdateButton", "Save Changes"}, {"ShowStatus", "1"}, {"ShowReceiveMessages", "1"}});
  EXPECT_EQ(filters.Count(), 1u);
}

TEST_F(Sections, FilterDetailShowsTheLastMessage) {
  Set("ShowStatus", "2");
  Set("ShowReceiveMessages", "True");
  Set("ShowReceiveDetail", "True");
  devices_.FilterDictionary().Add("a.b.c~x.y", "porch;");
  auto device = std::make_shared<DeviceClass>();
  device->Tag = "porch";
  device->LastChange = wall_.Now();
  device->MessageList.Add("weather.temp", "21 <C>");
  devices_.DeviceDictionary().Add("porch", device);
  const std::string page = Page();
  EXPECT_TRUE(Has(page, "align='center'>Today 8:05:09 AM</td>"));
  EXPECT_TRUE(Has(page, "colspan='3' align='right'>weather.temp</td>"));
  EXPECT_TRUE(Has(page, "align='left'>21 &lt;C&gt;</td>"));
}

TEST_F(Sections, SetupShowsAndSavesItsFields) {
  Set("ShowSetup", "True");
  Set("StyleSheet", "\"my.css\"");
  Set("inputnamelist", "Tuner,CD");
  std::string page = Page();
  EXPECT_TRUE(
      Has(page, "HTTP Server Port<br><input type='text' size='4' value='8018' name='ServerPort'>"));
  EXPECT_TRUE(Has(page, "value='my.css' name='StyleSheet'"));
  EXPECT_TRUE(Has(page, "value='#000000' name='Background'"));
  EXPECT_TRUE(Has(page, "value='FF.0022:00' name='UID'"));
  // A short input list still gives eight fields.
  EXPECT_TRUE(Has(page, "2:&nbsp;<input type='text' size='25' value='CD' name='InputName1'>"));
  EXPECT_TRUE(Has(page, "8:&nbsp;<input type='text' size='25' value='Input8' name='InputName7'>"));

  Fields save = {{"UpdateButton", "Save Changes"},
                 {"ShowSetup", "1"},
                 {"ServerPort", "8020"},
                 {"Background", "#102030"},
                 {"StyleSheet", "StyleNoBody.css"},
                 {"SerialIP", ""},
                 {"UPBCommPort", "/dev/serial/by-id/usb-FTDI_1-if00"},
                 {"UID", "FF123400"},
                 {"periodicscriptinterval", "90"},
                 {"DebugLog", "1"},
                 {"UpDownIncrement", "2"},
                 {"InputName0", "Radio"},
                 {"InputName1", ""}};
  for (int k = 2; k < 8; ++k) save.push_back({"InputName" + std::to_string(k), ""});
  Page(save);
  const Settings& s = settings_.values();
  EXPECT_EQ(s.http_port, "8020");
  EXPECT_EQ(s.background, "#102030");
  EXPECT_EQ(s.upb_comm_port, "/dev/serial/by-id/usb-FTDI_1-if00");
  EXPECT_EQ(s.uid, "FF.1234:00");
  EXPECT_TRUE(s.debug_log);
  EXPECT_EQ(s.up_down_increment, "2");
  EXPECT_EQ(scripts_.intervals, std::vector<std::string>{"90"});
  EXPECT_EQ(s.input_name_list, "Radio,Input2,Input3,Input4,Input5,Input6,Input7,Input8");
  EXPECT_NE(devices_.Record(1)->Values.find("Radio"), std::string::npos);
  const std::string ini = ReadFile(dir_.File("Config/Corvane.ini"));
  EXPECT_TRUE(Has(ini, "UPBCommPort=/dev/serial/by-id/usb-FTDI_1-if00\r\n"));
  EXPECT_EQ(Ini("Vaux", "InputNameList"), "Radio,Input2,Input3,Input4,Input5,Input6,Input7,Input8");

  // Other port texts are reduced to their number; an empty one stays empty.
  save[6].second = "4001 (adapter)";
  Page(save);
  EXPECT_EQ(s.upb_comm_port, "4001");
  save[6].second = "";
  Page(save);
  EXPECT_EQ(s.upb_comm_port, "");

  // From a page without the setup section nothing of it is stored, even
  // when setup fields are posted.
  Set("ShowSetup", "False");
  Page();
  save[1] = {"ShowSetup", ""};
  save[2].second = "9999";
  Page(save);
  EXPECT_EQ(s.http_port, "8020");
}


TEST_F(Sections, SetupEditsTheMqttSettings) {
  Set("ShowSetup", "True");
  ini_.SaveIniSetting("MQTT", "Host", "broker.lan", "Corvane.ini");
  ini_.SaveIniSetting("MQTT", "Password", "it's", "Corvane.ini");
  int changes = 0;
  page_.SetMqttSettingsChanged([&] { ++changes; });
  std::string page = Page();
  EXPECT_TRUE(Has(page, "MQTT / Home Assistant"));
  EXPECT_TRUE(Has(page, "<input type='text' size='16' value='broker.lan' name='MqttHost'>"));
  EXPECT_TRUE(Has(page, "<input type='password' size='12' value='it&#39;s' name='MqttPassword'>"));
  EXPECT_TRUE(Has(page, "<input type='checkbox' name='MqttTLS' value='1'>"));

  Fields save = {{"UpdateButton", "Save Changes"}, {"ShowSetup", "1"}, {"ServerPort", "8018"},
                 {"MqttHost", " 127.0.0.1 "},     {"MqttPort", "1884"}, {"MqttUser", "amp"},
                 {"MqttPassword", "it's"},        {"MqttTLS", "1"},     {"MqttCAFile", ""},
                 {"MqttBaseTopic", "house/amp"},  {"MqttDiscoveryPrefix", "homeassistant"}};
  Page(save);
  EXPECT_EQ(changes, 1);
  const MqttSettings s = LoadMqttSettings(ini_, "den");
  EXPECT_EQ(s.host, "127.0.0.1");
  EXPECT_EQ(s.port, 1884);
  EXPECT_EQ(s.user, "amp");
  EXPECT_TRUE(s.tls);
  EXPECT_EQ(s.base_topic, "house/amp");
  // The same values again: nothing to reconnect for.
  Page(save);
  EXPECT_EQ(changes, 1);
  // An empty base topic means the default; an empty host turns MQTT off.
  save[9].second = "";
  save[3].second = "";
  Page(save);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(LoadMqttSettings(ini_, "den").base_topic, "corvane/den");
  EXPECT_FALSE(LoadMqttSettings(ini_, "den").Enabled());
  // A setup post from a page without the MQTT group leaves the section alone.
  Page({{"UpdateButton", "Save Changes"}, {"ShowSetup", "1"}, {"ServerPort", "8018"}});
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(Ini("MQTT", "User"), "amp");
}

TEST_F(Sections, MqttSettingsDefaultsAndBadPorts) {
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
}  // namespace corvane::testing
