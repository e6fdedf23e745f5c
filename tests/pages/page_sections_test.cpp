// The filter and setup sections: what they show, what a save stores, and
// the checks setup values pass first.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <tuple>

#include "config/mqtt_settings.h"
#include "page_fixture.h"
#include "pages/setup_checks.h"

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
  ExpectHas(page, {">xAP Messages of Interest</td>",
                   "<input type='text' size='80' value='a.b.c' name='Source1'>",
                   "<input type='checkbox' checked value='1' name='FilterEvent1'>",
                   "<input type='checkbox' value='1' name='FilterEvent2'>", "name='Source0'"});

  // Row 0 adds a filter with a source only; row 1 is cleared (deleted); row
  // 2 repeats row 0's key and loses to it.
  Page(
      Of("UpdateButton=Save&ShowStatus=2&ShowReceiveMessages=1&Source0=x.y.z:kitchen&Class0="
         "&FilterTag0=new tag&FilterEvent0=1&Source1=&Class1=&FilterTag1=porch"
         "&Source2=x.y.z:kitchen&Class2=&FilterTag2=weather"));
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
  ExpectHas(page,
            {"align='center'>Today 8:05:09 AM</td>", "colspan='3' align='right'>weather.temp</td>",
             "align='left'>21 &lt;C&gt;</td>"});
}

TEST_F(Sections, SetupShowsAndSavesItsFields) {
  Set("ShowSetup", "True");
  Set("StyleSheet", "\"my.css\"");
  Set("inputnamelist", "Tuner,CD");
  std::string page = Page();
  EXPECT_TRUE(
      Has(page, "HTTP Server Port<br><input type='text' size='4' value='8018' name='ServerPort'>"));
  ExpectHas(page, {"value='my.css' name='StyleSheet'", "value='#000000' name='Background'",
                   "value='FF.0022:00' name='UID'"});
  // A short input list still gives eight fields.
  ExpectHas(page, {"2:&nbsp;<input type='text' size='25' value='CD' name='InputName1'>",
                   "8:&nbsp;<input type='text' size='25' value='Input8' name='InputName7'>"});
  // Security is off and the server takes every address: the setup says so.
  EXPECT_TRUE(Has(page, "Web security is off and these pages are open to the whole network"));
  Set("HTTPBindAddress", "127.0.0.1");
  EXPECT_FALSE(Has(Page(), "Web security is off"));

  Fields save = Of(
      "UpdateButton=Save&ShowSetup=1&ServerPort=8018&Background=#102030&StyleSheet=StyleNoBody.css"
      "&SerialIP=&UPBCommPort=/dev/tty&UID=FF123400&periodicscriptinterval=90&DebugLog=1"
      "&UpDownIncrement=2&InputName0=Radio&InputName1=&InputName2=&InputName3=&InputName4="
      "&InputName5=&InputName6=&InputName7=");
  int port_changes = 0;
  page_.SetControllerPortChanged([&] { ++port_changes; });
  Page(save);
  const Settings& s = settings_.values();
  const std::string names = "Radio,Input2,Input3,Input4,Input5,Input6,Input7,Input8";
  EXPECT_EQ(s.background + "|" + s.upb_comm_port + "|" + s.uid + "|" + s.up_down_increment + "|" +
                (s.debug_log ? "1|" : "0|") + s.input_name_list,
            "#102030|/dev/tty|FF.1234:00|2|1|" + names);
  EXPECT_EQ(port_changes, 1);
  EXPECT_EQ(scripts_.intervals, std::vector<std::string>{"90"});
  EXPECT_TRUE(Has(devices_.Record(1)->Values, "Radio"));
  EXPECT_EQ(Ini("Vaux", "UPBCommPort"), "/dev/tty");
  EXPECT_EQ(Ini("Vaux", "InputNameList"), names);

  // Refused values keep the old ones and say why, one line each.
  save[2].second = "80";
  save[3].second = "url(x)";
  save[4].second = "\\\\evil:8018\\x.css";
  save[6].second = "/dev/null";
  page = Page(save);
  EXPECT_EQ(s.http_port + "|" + s.background + "|" + s.style_sheet + "|" + s.upb_comm_port,
            "8018|#102030|StyleNoBody.css|/dev/tty");
  EXPECT_EQ(port_changes, 1);
  EXPECT_EQ(Occurrences(page, "<div class='notice'>"), 4u);
  EXPECT_TRUE(Has(page,
                  "<div class='notice'>Style Sheet not saved: it must be the name of a file "
                  "in the HTML folder.</div>"));
  // A style sheet that came into the file some other way is not linked.
  Set("StyleSheet", "//evil.example/x.css");
  EXPECT_TRUE(Has(Page(), "type=\"text/css\" href=\"/styleNoBody.css\">"));

  // From a page without the setup section nothing of it is stored, even
  // when setup fields are posted.
  Set("ShowSetup", "False");
  Page();
  save[1] = {"ShowSetup", ""};
  save[3].second = "#ffffff";
  Page(save);
  EXPECT_EQ(s.background, "#102030");
}

TEST(SetupChecks, ValuesAreCheckedBeforeTheyAreSaved) {
  // Each text with what is stored ("!": refused).
  const auto sheet = CheckStyleSheet, bg = CheckBackground, ip = CheckSerialIP;
  // clang-format off
  const std::vector<std::tuple<decltype(sheet), std::string, std::string>> cases = {
      {sheet, "Dark Blue-2.css", "Dark Blue-2.css"}, {sheet, "a/b.css", "!"},
      {sheet, "c:x.css", "!"}, {sheet, ".hidden.css", "!"}, {bg, "#abc", "#abc"},
      {bg, "Black", "Black"}, {bg, "sky.JPG", "sky.JPG"}, {bg, "#12345", "!"}, {bg, "red;x", "!"},
      {bg, "http://x/a.png", "!"}, {ip, "192.168.1.20", "192.168.1.20"}, {ip, "fe80::1", "fe80::1"},
      {ip, "adapter.lan", "adapter.lan"}, {ip, "a b", "!"}, {ip, "-x.lan", "!"}};
  // clang-format on
  for (const auto& [check, text, stored] : cases) {
    const Checked r = check(text);
    EXPECT_EQ(r.ok() ? r.value : "!", stored) << text;
  }
  // Controller port with SerialIP, or HTTP port with the port in use.
  const auto comm = CheckCommPort, http = CheckHttpPort;
  // clang-format off
  const std::vector<std::tuple<decltype(comm), std::string, std::string, std::string>> ports = {
      {comm, "3", "", "3"}, {comm, "4 (adapter)", "", "4"}, {comm, "4001", "", "!"},
      {comm, "4001", "10.0.0.9", "4001"}, {comm, "70000", "10.0.0.9", "!"}, {comm, "", "", ""},
      {comm, "/dev/tty", "", "/dev/tty"}, {comm, "/dev/null", "", "!"}, {comm, "x", "", "!"},
      {comm, "/dev/serial/by-id/none", "", "!"}, {comm, "/etc/passwd", "", "!"},
      {comm, "/dev/tty", "10.0.0.9", "!"}, {http, "8018", "8018", "8018"},
      {http, "80", "8018", "!"}, {http, "0", "8018", "!"}, {http, "8o18", "8018", "!"}};
  // clang-format on
  for (const auto& [check, text, other, stored] : ports) {
    const Checked r = check(text, other);
    EXPECT_EQ(r.ok() ? r.value : "!", stored) << text;
  }
  // A port another program listens on.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) | ::listen(fd, 1), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string busy = std::to_string(ntohs(addr.sin_port));
  EXPECT_EQ(CheckHttpPort(busy, "8018").refusal,
            "HTTP Server Port not saved: port " + busy + " is in use.");
  ::close(fd);
}

TEST_F(Sections, SetupEditsTheMqttSettingsAndNeverShowsThePassword) {
  Set("ShowSetup", "True");
  ini_.SaveIniSetting("MQTT", "Host", "broker.lan", "Corvane.ini");
  ini_.SaveIniSetting("MQTT", "Password", "it's", "Corvane.ini");
  int changes = 0;
  page_.SetMqttSettingsChanged([&] { ++changes; });
  std::string page = Page();
  ExpectHas(page, {"MQTT / Home Assistant",
                   "<input type='text' size='16' value='broker.lan' name='MqttHost'>"});
  EXPECT_TRUE(Has(page,
                  "<input type='password' size='12' value='' name='MqttPassword' "
                  "placeholder='unchanged'"));
  EXPECT_FALSE(Has(page, "it&#39;s"));
  EXPECT_TRUE(Has(page, "<input type='checkbox' name='MqttTLS' value='1'>"));

  // Another host without the password typed again: nothing is saved.
  Fields save =
      Of("UpdateButton=Save&ShowSetup=1&ServerPort=8018&MqttHost= 127.0.0.1 &MqttPort=1884"
         "&MqttUser=amp&MqttPassword=&MqttTLS=1&MqttCAFile=&MqttBaseTopic=house/amp"
         "&MqttDiscoveryPrefix=homeassistant");
  EXPECT_TRUE(Has(Page(save), "type the MQTT password again"));
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(Ini("MQTT", "Host"), "broker.lan");
  save[6].second = "it's";
  Page(save);
  EXPECT_EQ(changes, 1);
  const MqttSettings s = LoadMqttSettings(ini_, "den");
  EXPECT_EQ(s.host + "|" + std::to_string(s.port) + "|" + s.user + "|" + s.password + "|" +
                (s.tls ? "tls|" : "plain|") + s.base_topic,
            "127.0.0.1|1884|amp|it's|tls|house/amp");
  // The same values again, the password left empty: nothing to reconnect
  // for, and the password stays.
  save[6].second = "";
  Page(save);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Ini("MQTT", "Password"), "it's");
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

}  // namespace
}  // namespace corvane::testing
