// The Application object as scripts see it: its members in order, the
// device records through Request, TagList, LastChange and Sequence, zone
// commands through Response, the night test, xAP sends and subscriptions.
#include "core/datetime.h"
#include "scripting/script_objects.h"
#include "scripting/scripting_fixture.h"

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ApplicationTest : public ScriptingTest {
 protected:
  // Runs `body` as the Main of one event with tag `tag`.
  void RunMain(const std::string& body, const std::string& tag = "t") {
    Main("Sub Main(tag)\n" + body + "\nEnd Sub\n");
    Queue(tag);
    Drain();
  }
  DeviceRecord AddDevice(const std::string& tag, const KeyedTexts& items) {
    auto d = std::make_shared<DeviceClass>();
    d->Tag = tag;
    for (const auto& [k, v] : items) {
      d->MessageList.Add(k, v);
      d->MessageKeyList.push_back(k);
    }
    d->Sequence = 7;
    d->LastChange = ToDateValue({2026, 1, 2, 3, 4, 5});
    table_.DeviceDictionary().Add(tag, d);
    return d;
  }
};

TEST_F(ApplicationTest, HasItsThirtyOneMembersInOrderAlsoAsGlobalNames) {
  static const char* kNames[] = {
      "SendUDPMessage", "SendXapMessage", "SelectXapMessage", "GetXapMessage",
      "DeSelectXapMessage", "InitScriptControl", "ReadScript", "WriteLog", "FlushIniCache",
      "ClearINISection", "GetINISection", "GetIniSetting", "SaveIniSetting", "GetAppPath",
      "Spawn", "Run", "RunEx", "TagList", "Request", "LastChange", "Sequence", "Sunrise",
      "Sunset", "X10", "Response", "NightTime", "VauxCommand", "DeviceString",
      "WebLoggedInUser", "Version", "SystemUpTime"};
  auto& app = *module_->application();
  for (int i = 0; i < 31; ++i) EXPECT_EQ(app.FindMember(kNames[i]), i + 1) << kNames[i];
  RunMain(
      "test.Note xap.Version & \" \" & Version & \" [\" & WebLoggedInUser & SystemUpTime & "
      "DeviceString(\"x\") & \"] \" & GetAppPath");
  EXPECT_THAT(notes_, ElementsAre("1.6.174 1.6.174 [] /opt/corvane"));
}

TEST_F(ApplicationTest, RequestGivesTheRunningEventsItemsAndDeviceRecords) {
  AddDevice("weather", {{"weather.temp", "21"}, {"weather.sky", "clear"}});
  table_.Record(7)->Tag = "zone1";
  table_.Record(7)->Value = 1;
  table_.LinkDevicesToModules();
  auto event = AddDevice("door", {{"door.state", "open"}});
  Main(
      "Sub Main(tag)\n"
      " Dim e : Set e = Request(\"LastEvent\")\n"
      " If e Is Nothing Then\n  test.Note \"periodic\"\n Else\n"
      "  test.Note tag & \" \" & e(\"door.state\") & \" \" & e.Count\n End If\n"
      " test.Note Request(\"WEATHER\").Item(\"weather.sky\") & \" \" & "
      "Request(\"zone1\")(\"value\")\n"
      " test.Note TypeName(Request(\"nobody\")) & \" \" & TagList(\"weather\")(2) & \" \" & "
      "TagList(\"weather\").Count\n"
      " test.Note Sequence(\"weather\") & \" \" & Sequence(\"nobody\") & \" \" & "
      "Year(LastChange(\"weather\")) & \" \" & Year(LastChange(\"nobody\"))\n"
      "End Sub\n");
  host().QueueScriptEvent(event);
  host().QueueScriptEvent(nullptr);
  Drain();
  EXPECT_THAT(notes_,
              ElementsAre("door open 1", "clear 1", "Nothing weather.sky 2", "7 -1 2026 2026",
                          "periodic", "clear 1", "Nothing weather.sky 2", "7 -1 2026 2026"));
}

TEST_F(ApplicationTest, ResponseCommandsControllableZonesAndReportsOtherTags) {
  table_.Record(7)->Tag = "zone1";  // zone 1's Status
  table_.Record(7)->Controllable = true;
  table_.Record(7)->EventNotification = true;  // its changes become script events
  table_.LinkDevicesToModules();
  AddDevice("weather", {});
  TakeSent();
  RunMain("Response \"zone1\", \"0\"\nResponse \"weather\", \"1\"\nResponse \"nobody\", \"1\"");
  EXPECT_THAT(TakeSent(), ::testing::Contains(HasSubstr("VP")));
  EXPECT_EQ(Value(7), 2);  // "0" toggles: zone 1 was on, so it is muted
  ASSERT_FALSE(scripts_.events.empty());
  EXPECT_EQ(scripts_.events.back()->Tag, "zone1");
  EXPECT_EQ(*scripts_.events.back()->MessageList.Find("value"), "2");
  EXPECT_TRUE(Logged("Tag weather is a receive message tag"));
  EXPECT_TRUE(Logged("Tag nobody not recognized"));
  table_.Record(7)->Controllable = false;
  RunMain("Response \"zone1\", \"1\"");
  EXPECT_TRUE(Logged("Tag zone1 not recognized as controllable"));
  EXPECT_TRUE(TakeSent().empty());
}

TEST_F(ApplicationTest, SendsXapMessagesRawDatagramsAndX10Requests) {
  Sent();
  RunMain(
      "SendXapMessage \"\", \"my.class\", \"my.block\", \"a\" & Chr(1) & \"1\" & Chr(0) & \"b\" & "
      "Chr(1) & \"2\", \"\", \"\", \"\"\n"
      "X10 \"A1\", \"on\"\n"
      "SendUDPMessage \"raw text\"\n"
      "WriteLog \"MyScript\", \"hello\"");
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_THAT(sent[0], HasSubstr("class=my.class\n"));
  EXPECT_THAT(sent[0], HasSubstr("my.block\n{\na=1\nb=2\n}"));
  EXPECT_THAT(sent[1], HasSubstr("xap-x10.request\n{\ndevice=A1\ncommand=on\ncount=\n}"));
  EXPECT_EQ(sent[2], "raw text");
  EXPECT_TRUE(Logged("[MyScript] hello"));
}

TEST_F(ApplicationTest, SettingsMembersUseTheIniCache) {
  RunMain(
      "SaveIniSetting \"Zone\", \"Last\", \"kitchen\"\n"
      "SaveIniSetting \"Zone\", \"Other\", \"x\", \"mine.ini\"\n"
      "FlushIniCache\n"
      "test.Note GetIniSetting(\"zone\", \"LAST\", \"none\") & \" \" & "
      "GetIniSetting(\"Zone\", \"gone\", \"none\") & \" \" & GetIniSetting(\"Zone\", \"Other\", \"\", "
      "\"mine.ini\")\n"
      "test.Note Replace(GetINISection(\"Zone\", \"settings.ini\"), Chr(0), \"|\")\n"
      "ClearINISection \"Zone\", \"settings.ini\"\n"
      "test.Note \"[\" & GetINISection(\"Zone\", \"settings.ini\") & \"]\"");
  EXPECT_THAT(notes_, ElementsAre("kitchen none x", "Last=kitchen", "[]"));
  EXPECT_THAT(testing::ReadFile(dir_.File("settings.ini")), HasSubstr("Last=kitchen"));
}

TEST_F(ApplicationTest, NightBeginsAfterSunsetAndEndsBeforeSunriseByTheOffset) {
  const auto at = [](int h, int m) { return ToDateValue({2026, 6, 1, h, m, 0}); };
  EXPECT_FALSE(NightTime(at(18, 45), "06:30", "18:30", 30));
  EXPECT_TRUE(NightTime(at(19, 1), "06:30", "18:30", 30));
  EXPECT_TRUE(NightTime(at(5, 50), "06:30", "18:30", 30));
  EXPECT_FALSE(NightTime(at(6, 10), "06:30", "18:30", 30));
  EXPECT_FALSE(NightTime(at(23, 0), "", "", 0));  // no time message yet
  RunMain("test.Note NightTime(0)");
  EXPECT_THAT(notes_, ElementsAre("False"));
}

TEST_F(ApplicationTest, CallsWithTheWrongNumberOfArgumentsAreReported) {
  RunMain("WriteLog \"only one\"");
  EXPECT_TRUE(Logged("Script Run Error  / 450 - Wrong number of arguments"));
}

class SubscriptionTest : public ApplicationTest {
 protected:
  std::string Msg(const std::string& cls, const std::string& section, const std::string& value,
                  const std::string& source = "acme.sensor.hall") {
    return testing::XapText(cls, source, "", {{section, "value=" + value}});
  }
  Subscriptions& subs() { return module_->subscriptions(); }
};

TEST_F(SubscriptionTest, MatchingMessagesAreKeptOldestFirstForEachSubscription) {
  RunMain(
      "test.Note SelectXapMessage(\"\", \"Sensor.*\", \"reading\", \"acme.>\", \"me.txt\")\n"
      "test.Note SelectXapMessage(\"\", \"SENSOR.*\", \"Reading\", \"ACME.>\", \"ME.TXT\")\n"
      "test.Note SelectXapMessage(\"\", \"sensor.data\", \"\", \"\", \"other.txt\")");
  EXPECT_THAT(notes_, ElementsAre("1", "1", "2"));
  subs().Readmessage(Msg("sensor.data", "reading", "1"));
  subs().Readmessage(Msg("sensor.data", "other", "2"));
  subs().Readmessage(Msg("sensor.data", "reading", "3", "elsewhere.x.y"));
  subs().Readmessage(Msg("light.data", "reading", "4"));
  notes_.clear();
  RunMain(
      "Dim m : Set m = GetXapMessage(1)\n"
      "test.Note m.MsgClass & \" \" & m.MsgSource & \" \" & m.GetItem(\"reading\", \"value\")\n"
      "test.Note TypeName(GetXapMessage(1)) & \" \" & TypeName(GetXapMessage(9))\n"
      "Do\n Set m = GetXapMessage(\"2\")\n If m Is Nothing Then Exit Do\n"
      " test.Note m.GetItem(\"reading\", \"value\") & m.GetItem(\"other\", \"value\")\nLoop\n"
      "DeSelectXapMessage \"\", \"sensor.*\", \"reading\", \"\", \"me.txt\"");
  EXPECT_THAT(notes_, ElementsAre("sensor.data acme.sensor.hall 1", "Nothing Nothing", "1Unknown",
                                  "Unknown2", "3Unknown"));
  EXPECT_EQ(subs().Count(), 1u);
}

TEST_F(SubscriptionTest, AFloodKeepsTheNewestThousandAndCountsTheDropped) {
  subs().Select("", "sensor.data", "", "", "/s/me.txt");
  for (int i = 0; i < 10000; ++i) subs().Readmessage(Msg("sensor.data", "reading", std::to_string(i)));
  EXPECT_EQ(subs().At(1)->MessageCount(), Subscriptions::kMaxHandles);
  EXPECT_EQ(subs().StoredMessages(), Subscriptions::kMaxHandles);
  EXPECT_EQ(subs().At(1)->dropped, 9000u);
  EXPECT_TRUE(Logged("9001 messages dropped") || Logged("8001 messages dropped"));
  EXPECT_EQ(subs().Next(1)->GetItem("reading", "value"), "9000");
  // Every message still goes on to the bridge.
  table_.FilterDictionary().Add("acme.sensor.hall~sensor.data", "hall;");
  AddDevice("hall", {});
  subs().Readmessage(Msg("sensor.data", "reading", "x"));
  EXPECT_EQ(table_.DeviceDictionary().Find("hall")->get()->MessageList.Count(), 1u);
}

}  // namespace
}  // namespace corvane
