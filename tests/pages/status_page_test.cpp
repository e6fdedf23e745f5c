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
  Set("ShowStatus", "2");
  std::string page = Page();
  EXPECT_TRUE(Has(page, "<title>Vaux Aris 700 Status V1.2.3</title>"));
  EXPECT_TRUE(Has(page, ">Vaux Aris 700</td>"));
  EXPECT_TRUE(Has(page, "colspan='8'"));
  EXPECT_EQ(Count(page, "checked name='Used"), 42u);
  EXPECT_EQ(Count(page, "<select class='formdropdown'"), 42u);
  EXPECT_TRUE(Has(page, "<input type='text' size='15' name='Tag7' value=''>"));
  EXPECT_TRUE(Has(page, "<input type='text' size='25' name='name7' value='Channel1_Status'>"));
  EXPECT_TRUE(Has(page, "value='Ev'"));

  // Status, Changed, the tag as text, Name and Control: five columns.
  Set("ShowStatus", "1");
  devices_.Record(7)->Tag = "porch";
  page = Page();
  EXPECT_EQ(Count(page, "name='Used"), 0u);
  EXPECT_EQ(Count(page, "size='15' name='Tag"), 0u);
  EXPECT_FALSE(Has(page, "value='Ev'"));
  EXPECT_TRUE(Has(page, "<td class='tablecellmisc' colspan='1' align='Left'>porch</td>"));
  EXPECT_TRUE(Has(page, "<td class='TABLEHEADER' colspan='4'"));
  EXPECT_FALSE(Has(page, "colspan='8'"));
  EXPECT_EQ(Count(page, "<select class='formdropdown'"), 42u);

  Set("ShowStatus", "0");
  page = Page();
  EXPECT_EQ(Count(page, "<select class='formdropdown'"), 0u);
  EXPECT_TRUE(Has(page, "value='Control'"));  // the column buttons stay
  EXPECT_TRUE(Has(page, "</IFRAME></small></center></div></body></html>"));
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
  EXPECT_TRUE(Has(answer, "HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(Has(answer, "Content-Length: 0\r\n"));
  EXPECT_EQ(scripts_.reads, 1);
}

TEST_F(StatusPage, SaveChangesStoresWhatThePageShowed) {
  Set("ShowStatus", "2");
  Page();  // the page the save comes from
  Page({{"UpdateButton", "Save Changes"},
        {"clientinput", "yes"},
        {"ShowStatus", "2"},
        {"ShowOnlyUsed", "1"},
        {"Tag7", "front door"},
        {"name7", "Living room"},
        {"Used7", "on"},
        {"Event7", "on"},
        {"Tag8", ""},
        {"name8", "Kitchen"}});
  const ZoneRecord r7 = devices_.Record(7);
  EXPECT_EQ(r7->Tag, "front_door");
  EXPECT_EQ(r7->Name, "Living_room");
  EXPECT_TRUE(r7->Used);
  EXPECT_TRUE(r7->EventNotification);
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
  EXPECT_TRUE(Has(ini, "ShowOnlyUsed=True"));
  EXPECT_TRUE(Has(ini, "ShowStatus=2"));
  EXPECT_TRUE(Has(ini, ";Living_room;True;1;front_door;True;;"));

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
  devices_.Record(5)->LastChange = ToDateValue(CivilDateTime{2026, 12, 1, 22, 30, 0});
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
  EXPECT_EQ(changed(1), "");
  EXPECT_EQ(changed(2), "");
  EXPECT_EQ(changed(3), "Today 8:05:09 AM");
  EXPECT_EQ(changed(4), "Yesterday 8:05:09 AM");
  EXPECT_EQ(changed(5), "12/1/2026 10:30:00 PM");
  EXPECT_TRUE(Has(page, "value='&lt;b&gt;&#39;Tom&quot; &amp; co'"));
  EXPECT_TRUE(Has(page, "value='a&#39;&gt;&lt;script&gt;'"));
  EXPECT_TRUE(Has(page, "<option value='CD &lt;1&gt;'>CD &lt;1&gt;</option>"));
  EXPECT_FALSE(Has(page, "<script>"));
}

TEST_F(StatusPage, CellsInClassOrInlineColours) {
  EXPECT_EQ(page_.FormatCell("Tag", "", "", "TABLEHEADER"),
            "<td class='TABLEHEADER' onmouseover=\"if(window.myPopup)myPopup.startHelp('tag')\" "
            "onmouseout=\"if(window.myPopup)myPopup.clearHelp()\">Tag</td>");
  EXPECT_EQ(page_.FormatCell("<b>x</b>", "Left", "2", "TABLEROWODD"),
            "<td class='TABLEROWODD' colspan='2' align='Left'><b>x</b></td>");
  page_.SetInlineColours(true);
  EXPECT_EQ(page_.FormatCell("1", "", "", "TABLEROWEVEN"),
            "<td bgcolor='#949494'><font face='Verdana, Arial, sans-serif' size='2' "
            "color='#000000'>1</font></td>");
  EXPECT_TRUE(Has(page_.FormatCell("It's A-B long header text", "", "", "TABLEHEADER"),
                  "startHelp('itsablongheader')"));
  // An appliance browser gets the inline colours on the page.
  const std::string page = Page({}, "User-Agent: Mozilla/4.0 (Audrey)\r\n");
  EXPECT_TRUE(Has(page, "<td bgcolor='#63639C'"));
  EXPECT_FALSE(Has(page, "<td class='TABLEHEADER'"));
}

TEST_F(StatusPage, EnumIndexOfAValueName) {
  EXPECT_EQ(page_.GetEnumIndex(7, "MUTE"), "2");
  EXPECT_EQ(page_.GetEnumIndex(13, "-4 DB"), "5");
  EXPECT_EQ(page_.GetEnumIndex(7, "Toggle"), "0");
  EXPECT_EQ(page_.GetEnumIndex(99, "On"), "0");
  devices_.Record(7)->Values = "";
  EXPECT_EQ(page_.GetEnumIndex(7, "On"), "0");
}

}  // namespace
}  // namespace corvane::testing
