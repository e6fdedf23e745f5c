#include "xap/xap_message.h"

#include <gtest/gtest.h>

#include "core/event_log.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using ::corvane::testing::ReadFile;
using ::corvane::testing::TempDir;

// A message without a target line is checked in xap_transport_test (SendXap).
TEST(XapMessageBuild, WritesTheTargetLineAndClosesEachSection) {
  // The start value of the target is written as a target line; a second
  // section closes the first.
  XapMessage t;
  t.AddHeader();
  t.AddSection("a");
  t.AddItem("a", "x", "1");
  t.AddSection("b");
  EXPECT_EQ(t.ToXap(),
            "xap-header\n{\nv=13\nhop=1\nuid=Unknown\nclass=Unknown\nsource=Unknown\n"
            "target=Unknown\n}\na\n{\nx=1\n}\nb\n{\n}\n");
  t.Init();
  EXPECT_EQ(t.ToXap(), "}\n");
}

TEST(XapMessageParse, HeaderSectionsAndItems) {
  XapMessage m;
  m.FromXap(
      "XAP-HEADER\n{\nv=13\n Class = xAPBSC.cmd \nsource=Acme.Panel.Hall\n"
      "target=zyn.Vaux.host:>\nuid=FF.1234:00\n}\noutput.state.1\n{\nID=0A\n"
      "level = 50\ntext=a=b\n}\nSecond\n{\nx=1\n}\n");
  EXPECT_EQ(m.MsgClass(), "xAPBSC.cmd");
  EXPECT_EQ(m.MsgSource(), "Acme.Panel.Hall");
  EXPECT_EQ(m.MsgTarget(), "zyn.Vaux.host:>");
  EXPECT_EQ(m.MsgUID(), "FF.1234:00");
  EXPECT_EQ(m.GetItem("OUTPUT.STATE.1", "id"), "0A");
  EXPECT_EQ(m.GetItem("output.state.1", "Level"), " 50");  // spaces after "=" stay
  EXPECT_EQ(m.GetItem("output.state.1", "text"), "a=b");
  EXPECT_EQ(m.GetItem("output.state.1", "missing"), "Unknown");
  EXPECT_EQ(m.GetItem("nosuch", "id"), "Unknown");
  EXPECT_EQ(m.MsgSection(), (std::vector<std::string>{"output.state.1", "second"}));
  ASSERT_EQ(m.SectionCount(), 3u);  // the trailing empty section

  auto items = m.msgCollection(0);
  ASSERT_TRUE(items);
  ASSERT_EQ(items->Count(), 3u);
  EXPECT_EQ(items->Key(1), "level");
  EXPECT_EQ(items->Line(1), "level = 50");
  EXPECT_EQ(items->Find("TEXT").value_or(""), "text=a=b");
  EXPECT_FALSE(m.msgCollection(3));
  EXPECT_FALSE(m.msgCollection(-1));
}

TEST(XapMessageParse, TextsThatAreNotMessages) {
  XapMessage hb;
  hb.FromXap("xap-hbeat\n{\nv=13\nclass=xap-hbeat.alive\n}\n");
  EXPECT_EQ(hb.MsgClass(), "Unknown");
  EXPECT_EQ(hb.MsgSection(), std::vector<std::string>{""});

  // CR LF lines: no line equals "}", so there are no sections.
  XapMessage crlf;
  crlf.FromXap("xap-header\r\n{\r\nclass=a.b\r\n}\r\ns\r\n{\r\nx=1\r\n}\r\n");
  EXPECT_EQ(crlf.MsgClass(), "a.b\r");
  EXPECT_EQ(crlf.SectionCount(), 0u);
  EXPECT_EQ(crlf.GetItem("s", "x"), "Unknown");

  crlf.FromXap("");  // an empty text leaves the message as it was
  EXPECT_EQ(crlf.MsgClass(), "a.b\r");
  crlf.FromXap("xap-header\n{\nsource=s.t\n}\n");  // a field not given keeps its value
  EXPECT_EQ(std::string(crlf.MsgClass()) + " " + std::string(crlf.MsgSource()), "a.b\r s.t");

  // A header with nothing after it registers only the trailing section, and
  // MsgSection then fails for the caller to handle.
  XapMessage bare;
  bare.FromXap("xap-header\n{\nclass=a.b\n}\n");
  EXPECT_THROW(bare.MsgSection(), XapMessageError);
}

TEST(XapMessageParse, FaultsKeepWhatCameBeforeAndWriteTheErrorLog) {
  TempDir dir;
  ManualWallClock wall(46000.0);
  EventLog log(wall, nullptr);
  log.SetErrorLogPath(dir.File("err.txt"));

  XapMessage repeated_section(&log);
  repeated_section.FromXap("xap-header\n{\n}\na\n{\nx=1\n}\nb\n{\ny=2\n}\nA\n{\nz=3\n}\n");
  EXPECT_EQ(repeated_section.MsgSection(), std::vector<std::string>{"a"});
  EXPECT_EQ(repeated_section.GetItem("b", "y"), "2");
  EXPECT_EQ(repeated_section.GetItem("a", "z"), "Unknown");

  XapMessage repeated_item(&log);
  repeated_item.FromXap("xap-header\n{\n}\na\n{\nx=1\n X =2\ny=3\n}\n");
  EXPECT_EQ(repeated_item.GetItem("a", "x"), "1");
  EXPECT_EQ(repeated_item.GetItem("a", "y"), "Unknown");

  XapMessage no_final_lf(&log);
  no_final_lf.FromXap("xap-header\n{\nclass=c.d\n}\na\n{\nx=1\n}");
  EXPECT_EQ(no_final_lf.GetItem("a", "x"), "1");
  EXPECT_EQ(no_final_lf.SectionCount(), 1u);

  EXPECT_EQ(ReadFile(dir.File("err.txt")),
            "From XAP  0 This key is already associated with an element of this collection\n"
            "(the last line came 1 more times) From XAP  0 This key is already associated with "
            "an element of this collection\n"
            "From XAP  0 Subscript out of range\n");
}

TEST(XapMessageParse, LargeMessagesAndParsingAgain) {
  std::string text = "xap-header\n{\n}\n";
  for (int s = 0; s < 40; ++s) {
    text += "sec" + std::to_string(s) + "\n{\n";
    for (int i = 0; i < 3000 / (s + 1); ++i)
      text += "Item" + std::to_string(i) + "=v" + std::to_string(i) + "\n";
    text += "}\n";
  }
  XapMessage m;
  m.FromXap(text);
  EXPECT_EQ(m.MsgSection().size(), 40u);
  EXPECT_EQ(m.GetItem("SEC0", "item2999"), "v2999");
  EXPECT_EQ(m.GetItem("sec39", "item74"), "v74");
  EXPECT_EQ(m.GetItem("sec39", "item75"), "Unknown");
  // Parsed again, smaller then larger: nothing of an earlier parse remains;
  // a repeated section still ends the parse.
  m.FromXap("xap-header\n{\n}\nsec0\n{\n" + std::string(30, 'x') + "=1\n}\n");
  EXPECT_EQ(m.GetItem("SEC0", std::string(30, 'X')) + m.GetItem("sec0", "item0"), "1Unknown");
  m.FromXap(text + "sec5\n{\n}\n");
  EXPECT_EQ(m.MsgSection().size(), 39u);
  EXPECT_EQ(m.GetItem("sec39", "item74") + m.GetItem("sec0", std::string(30, 'x')), "v74Unknown");
}

TEST(XapAddress, WildcardsSubAddressesAndClasses) {
  struct Case {
    const char* a;
    const char* b;
    bool match;
  } cases[] = {
      {"", "a.b", false},          {"a.b", "", false},
      {"a.b", "a.b.c", false},     {"a.b.*", "a.b.c", true},
      {"a.>", "a.b.c", true},      {"A.B", "a.b:3", true},
      {"zyn.Vaux.>", "zyn.vaux.house.zone", true},
      {"zyn.*.house", "zyn.Vaux.house", true},
      {"zyn.*.house", "zyn.Vaux.house.zone", false},
      {"zyn.Vaux.>", "zyn.Vaux", false},
      {"zyn.Vaux.house:Zone1", "zyn.Vaux.house:Zone2", true},
      {"x.y", "x.z", false},       {">", "anything.at.all", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareXapAddress(c.a, c.b), c.match) << c.a << " vs " << c.b;
    EXPECT_EQ(CompareXapAddress(c.b, c.a), c.match) << c.b << " vs " << c.a;
  }
  XapMessage m;
  m.FromXap("xap-header\n{\nclass=xAPBSC.cmd\nsource=a.b.c\ntarget=zyn.vaux.*\n}\n");
  EXPECT_TRUE(m.CompareClass("xapbsc.cmd"));
  EXPECT_FALSE(m.CompareClass("xapbsc.*"));
  EXPECT_FALSE(m.CompareClass("xAPBSC.cmd.x"));
  EXPECT_TRUE(m.CompareSource("A.B.C:sub"));
  EXPECT_TRUE(m.CompareTarget("zyn.Vaux.host"));
}

}  // namespace
}  // namespace corvane
