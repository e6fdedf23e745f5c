// The status page: the item table in its display modes, sorting and groups,
// the commands item controls send, "Save Changes", change times, and text
// from users written into the page.
#include <gtest/gtest.h>

#include "core/datetime.h"
#include "page_fixture.h"

namespace corvane::testing {
namespace {

using StatusPage = PageFixture;

TEST_F(StatusPage, ColumnsFollowShowStatus) {
  devices_.Record(7)->Tag = "porch";
  // With ShowStatus 1: Status, Changed, the tag as text, Name and Control;
  // with 0 no item rows, but the column buttons stay.
  const struct {
    const char* show;
    size_t selects, used_boxes, tag_inputs;
    std::string has, lacks;
  } modes[] = {
      {"2", 42, 42, 42, "<input type='text' size='15' name='Tag7' value='porch'>", "colspan='4'"},
      {"1", 42, 0, 0, "<td class='tablecellmisc' colspan='1' align='Left'>porch</td>", "value='Ev'"},
      {"0", 0, 0, 0, "<td class='TABLEHEADER' colspan='4'", "colspan='8'"}};
  for (const auto& m : modes) {
    Set("ShowStatus", m.show);
    const std::string page = Page();
    EXPECT_EQ(Occurrences(page, "<select class='formdropdown'"), m.selects) << m.show;
    EXPECT_EQ(Occurrences(page, "checked name='Used"), m.used_boxes) << m.show;
    EXPECT_EQ(Occurrences(page, "size='15' name='Tag"), m.tag_inputs) << m.show;
    ExpectHas(page, {m.has, "<title>Vaux Aris 700 Status V1.2.3</title>", "value='Control'",
                     "</IFRAME></small></center></div></body></html>"});
    EXPECT_FALSE(Has(page, m.lacks)) << m.show;
  }
}

TEST_F(StatusPage, SortGroupsAndOnlyUsed) {
  Set("ShowStatus", "2");
  std::string page = Page();
  // DCSort: a group row before each block of six, in attribute order.
  size_t at = 0;
  for (const char* group :
       {"Source", "Status", "VolumeDb", "BassDB", "TrebleDb", "TurnOn_MuteDb", "TurnOn_VolumeDb"}) {
    const size_t next = page.find(std::string(">") + group + "</td></tr><tr>", at);
    ASSERT_NE(next, std::string::npos) << group;
    at = next;
  }
  EXPECT_LT(page.find("name='name1'"), page.find("name='name2'"));

  // By name, descending: no group rows.
  Set("StatusSortKey", "\"Name\"");
  Set("StatusSortDirection", "DESC");
  devices_.Record(3)->Name = "zzz";
  page = Page();
  EXPECT_FALSE(Has(page, ">VolumeDb</td></tr><tr>"));
  EXPECT_LT(page.find("value='zzz'"), page.find("value='Channel6_TurnOn_VolumeDb'"));
  EXPECT_LT(page.find("name='name42'"), page.find("name='name1'"));

  // A key the table does not have leaves the table order.
  Set("StatusSortKey", "Bogus");
  Set("StatusSortDirection", "");
  page = Page();
  EXPECT_LT(page.find("name='name1'"), page.find("name='name2'"));
  EXPECT_LT(page.find("name='name7'"), page.find("name='name42'"));

  Set("ShowOnlyUsed", "True");
  devices_.Record(8)->Used = false;
  page = Page();
  EXPECT_FALSE(Has(page, "name='name8'"));
  EXPECT_TRUE(Has(page, "name='name9'"));
}

TEST_F(StatusPage, ControlsSendBscCommands) {
  // A level: Up is 0, Down 1, a named level its code + 2 (-4 db is code 5).
  Choose(13, "Down");
  Choose(13, "-4 db");
  Choose(13, "up");
  // A source sends the input number, a status its code (Toggle is not in
  // the stored list Off, On, Mute and reads as 0).
  Set("inputnamelist", "Tuner,CD,Aux,Input4,TV,Input6,Input7,Input8");
  devices_.Record(1)->Values = devices_.DefineValues(0);
  Choose(1, "TV");
  Choose(7, "Mute");
  Choose(7, "Toggle");
  ASSERT_EQ(bridge_.cmds.size(), 6u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"0D", "1"}, {"0D", "7"}, {"0D", "0"}, {"01", "5"}, {"07", "2"}, {"07", "0"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(bridge_.cmds[i].target, ">:>");
    EXPECT_EQ(bridge_.cmds[i].id, expected[i].first) << i;
    EXPECT_EQ(bridge_.cmds[i].state, "ON");
    EXPECT_EQ(bridge_.cmds[i].level, expected[i].second) << i;
  }

  // Nothing is sent for an item that does not exist, nor for a value the
  // control does not offer (a blank would read as the loudest level); the
  // page is still rebuilt.
  for (auto [uid, value] : std::vector<std::pair<int, std::string>>{
           {99, "Up"}, {0, "Up"}, {13, " "}, {13, "+40 db"}, {7, "Off"}}) {
    EXPECT_TRUE(Has(Choose(uid, value), "</body></html>")) << uid << " " << value;
  }
  EXPECT_EQ(bridge_.cmds.size(), 6u);
  EXPECT_TRUE(Has(Page({{"clientinput", "Vx"}, {"clientvalue", "Up"}}), "</body></html>"));

  // The query button queries every item and rebuilds the page; the script
  // button asks for the script again and gets an empty page.
  EXPECT_TRUE(Has(Page({{"query", "Query Vaux Aris 700"}, {"clientinput", "yes"}}), "</html>"));
  EXPECT_EQ(bridge_.queries, std::vector<std::string>{">:>"});
  const std::string answer =
      Answer({{"script", "Read Script Corvane.txt"}, {"clientinput", "yes"}});
  ExpectHas(answer, {"HTTP/1.1 200 OK\r\n", "Content-Length: 0\r\n"});
  EXPECT_EQ(scripts_.reads, 1);
}

TEST_F(StatusPage, SaveChangesStoresWhatThePageShowed) {
  Set("ShowStatus", "2");
  Page();  // the page the save comes from
  Page(
      Of("UpdateButton=Save&clientinput=yes&ShowStatus=2&ShowOnlyUsed=1&Tag7=front door"
         "&name7=Living room&Used7=on&Event7=on&Tag8=&name8=Kitchen"));
  const ZoneRecord r7 = devices_.Record(7);
  EXPECT_EQ(r7->Tag + "|" + r7->Name, "front_door|Living_room");
  EXPECT_TRUE(r7->Used && r7->EventNotification);
  EXPECT_FALSE(devices_.Record(8)->Used);
  EXPECT_EQ(devices_.Record(8)->Name, "Kitchen");
  const DeviceRecord* device = devices_.DeviceDictionary().Find("FRONT_DOOR");
  ASSERT_TRUE(device && *device);
  EXPECT_EQ((*device)->Link, r7);
  // Rows that were not in the post keep what they had.
  EXPECT_TRUE(devices_.Record(9)->Used);
  EXPECT_EQ(devices_.Record(9)->Name, "Channel3_Status");
  // Display settings and the zone lines are on disk at once.
  EXPECT_TRUE(settings_.values().show_only_used);
  EXPECT_FALSE(settings_.values().show_setup);
  const std::string ini = ReadFile(dir_.File("Config/Corvane.ini"));
  ExpectHas(ini, {"ShowOnlyUsed=True", "ShowStatus=2", ";Living_room;True;1;front_door;True;;"});

  // The rows a save walks are those the page showed: ticking Only Used in
  // the same post keeps its edits of unused rows (8 marked Used, 10 renamed).
  devices_.Record(10)->Used = false;
  Set("ShowOnlyUsed", "False");
  Page();
  Page({{"UpdateButton", "Save Changes"}, {"ShowStatus", "2"}, {"ShowOnlyUsed", "1"},
        {"Tag8", ""}, {"name8", "Kitchen"}, {"Used8", "on"}, {"Tag10", ""}, {"name10", "Den"}});
  EXPECT_TRUE(devices_.Record(8)->Used);
  EXPECT_EQ(devices_.Record(10)->Name, "Den");

  // A save from a page without the item fields (ShowStatus 1) changes no item.
  Set("ShowStatus", "1");
  Page();
  Page({{"UpdateButton", "Save Changes"}, {"ShowStatus", "1"}, {"name7", "Other"}});
  EXPECT_EQ(r7->Name, "Living_room");
  EXPECT_EQ(settings_.values().show_status, 1);
}

TEST_F(StatusPage, ChangeTimesAndUserTextInThePage) {
  Set("ShowStatus", "2");
  const double now = wall_.Now();  // 6 Dec 2026 8:05:09 AM
  devices_.Record(1)->LastChange = 0;
  devices_.Record(2)->LastChange = ToDateValue(CivilDateTime{2000, 1, 1, 0, 0, 0});
  devices_.Record(3)->LastChange = now;
  devices_.Record(4)->LastChange = now - 1;
  devices_.Record(5)->LastChange = ToDateValue(CivilDateTime{2026, 12, 1, 12, 30, 0});
  devices_.Record(6)->Name = "<b>'Tom\" & co";
  devices_.Record(7)->Tag = "a'><script>";
  Set("inputnamelist", "CD <1>,Input2,Input3,Input4,Input5,Input6,Input7,Input8");
  const std::string page = Page();
  auto changed = [&](int uid) {
    const size_t row = page.find("name='Used" + std::to_string(uid) + "'");
    const size_t cell = page.rfind("<td class='TABLEROW", page.rfind("</td>", row));
    const size_t open = page.find('>', cell) + 1;
    return page.substr(open, page.find("</td>", open) - open);
  };
  const char* kShown[] = {"", "", "Today 8:05:09 AM", "Yesterday 8:05:09 AM",
                          "12/1/2026 12:30:00 PM"};
  for (int uid = 1; uid <= 5; ++uid) EXPECT_EQ(changed(uid), kShown[uid - 1]) << uid;
  ExpectHas(page, {"value='&lt;b&gt;&#39;Tom&quot; &amp; co'", "value='a&#39;&gt;&lt;script&gt;'",
                   "<option value='CD &lt;1&gt;'>CD &lt;1&gt;</option>"});
  EXPECT_FALSE(Has(page, "<script>"));
}

TEST_F(StatusPage, CellsInClassOrInlineColours) {
  EXPECT_TRUE(Has(page_.FormatCell("It's A-B long header text", "", "", "TABLEHEADER"),
                  "onmouseover=\"if(window.myPopup)myPopup.startHelp('itsablongheader')\""));
  // An appliance browser gets the inline colours on the page.
  const std::string page = Page({}, "User-Agent: Mozilla/4.0 (Audrey)\r\n");
  ExpectHas(page, {"<td bgcolor='#63639C'",
                   "<td bgcolor='#949494'><font face='Verdana, Arial, "
                   "sans-serif' size='2' color='#000000'>"});
  EXPECT_FALSE(Has(page, "<td class='TABLEHEADER'"));
}

TEST_F(StatusPage, OnlyPostsWithThePagesTokenChangeAnything) {
  // Every form of the page carries the token of this client.
  Set("ShowReceiveMessages", "True");
  EXPECT_EQ(Occurrences(Page(), "<input type='hidden' name='FormToken' value='" + Token() + "'>"),
            4u);
  // A post without the token, one with a wrong token, one with another
  // client's token, and a GET with the same fields: nothing is commanded or
  // saved.
  const Fields control = {{"clientinput", "V13"}, {"clientvalue", "Up"}};
  const Fields save = {{"UpdateButton", "Save Changes"}, {"ShowSetup", "1"}};
  with_token_ = false;
  for (const Fields& fields : {control, save, Fields{{"FormToken", "0"}, control[0], control[1]}}) {
    const std::string answer = Answer(fields);
    ExpectHas(answer, {"HTTP/1.1 403 Forbidden\r\n",
                       "\"detail\":\"This form is out of date or came from another site"});
  }
  Request other;
  other.remoteip("10.0.0.8");
  EXPECT_TRUE(Has(Answer({{"FormToken", security_.FormToken(other, "")}, control[0], control[1]}),
                  " 403 "));
  EXPECT_TRUE(Has(Get("GET /status HTTP/1.1\r\nContent-Length: 32\r\n\r\n"
                      "clientinput=V13&clientvalue=Up&a"),
                  "</body></html>"));
  EXPECT_TRUE(bridge_.cmds.empty());
  EXPECT_FALSE(settings_.values().show_setup);
  EXPECT_TRUE(Logged("refused a form post without this page's token from 127.0.0.1"));
  with_token_ = true;
  Choose(13, "Up");
  EXPECT_EQ(bridge_.cmds.size(), 1u);
}

}  // namespace
}  // namespace corvane::testing
