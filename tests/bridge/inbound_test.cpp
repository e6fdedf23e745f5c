// Inbound handling: the addressing gate, BSC commands and their record
// selection, watched sources, X10, echo, time and role messages.
#include <algorithm>
#include <set>

#include "bridge_fixture.h"
#include "core/text.h"
#include "device/vaux_link.h"

namespace corvane {
namespace {

using Sections = std::vector<std::vector<std::string>>;

TEST(HexTest, FromHexReadsLeniently) {
  ManualWallClock wall(46000.5);
  std::ostringstream err;
  EventLog log(wall, &err);
  // Characters beyond F continue the count; anything else is read likewise.
  const std::pair<const char*, int> cases[] = {
      {"ff", 255}, {"0A", 10}, {"7FFF", 32767}, {"12345", -1},         {"", -1},
      {"G", 16},   {"1g", 32}, {"8000", -1},    {"*", '*' - 'A' + 10}, {"ZZZZ", -1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(FromHex(text, &log), value) << text;
  EXPECT_NE(err.str().find("FromHex Line 0 Overflow"), std::string::npos);  // beyond 16 bits
}

class CommandTest : public BridgeTest {
 protected:
  // The records whose LastCommand the command set, after clearing them all.
  std::set<int> Commanded(const std::string& target, const std::string& id,
                          const std::string& level = "40") {
    for (auto& [key, r] : table_.LinkDictionary()) r->LastCommand.assign(1, '-');
    BSCCmd(target, id, "ON", level);
    std::set<int> out;
    for (auto& [key, r] : table_.LinkDictionary()) {
      if (r->LastCommand != "-") out.insert(r->UIDindex);
    }
    return out;
  }
  static std::set<int> Range(int from, int to) {
    std::set<int> s;
    for (int i = from; i <= to; ++i) s.insert(i);
    return s;
  }
};

TEST_F(CommandTest, SubAddressAndIdSelectRecords) {
  for (int n : {7, 13, 19}) Record(n)->Name = "Kitchen";
  Record(8)->Used = false;  // not consulted by commands
  const std::string me = "zyn.Vaux.HOST";
  struct Case {
    std::string target, id;
    std::set<int> expected;
  } cases[] = {
      {me + ":>", "*", Range(1, 42)},
      {me + ":", "*", Range(1, 42)},
      {me + ":corvane_kitchen.*.volumedb", "*", {13}},
      {me + ":corvane_kitchen.>.volumedb", "*", {7, 13, 19}},
      {me + ":CORVANE_KITCHEN", "*", {7, 13, 19}},
      {me + ":*.VAUX_ARIS_700_14.*", "*", {20}},
      {me + ":*.*.status", "*", Range(7, 12)},
      {me + ":*.*.status.ignored.parts", "*", Range(7, 12)},
      {me + ":corvane_kitchen..volumedb", "*", {}},  // an empty part names nothing
      {me + ":*.*.*.>", "*", Range(1, 42)},
      {me, "*", {}},  // no ":": no endpoint
      {me + ":nothing.matches", "0A", {10}},
      {me + ":>", "0a", {10}},  {me + ":>", "2A", {42}},    {me + ":>", "2B", {}},
      {me + ":>", "G", {16}},   {me + ":>", " 0A", {}},     // the space counts as a character
      {me + ":>", "12345", {}}, {me + ":>", "8000", {}},    {me, "0A", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target + " ID=" + c.id);
    EXPECT_EQ(Commanded(c.target, c.id), c.expected);
  }
  EXPECT_TRUE(Logged("FromHex Line 0 Overflow"));
}

TEST_F(CommandTest, LevelFormsAndStateBecomeRequests) {
  const std::string target = "zyn.Vaux.HOST:>";
  struct Case {
    std::string id, state, level, request;  // request: the LastCommand set, "-" none
  } cases[] = {
      // Volume (positions 2..38, +6 dB down to -80 dB): a plain number is the
      // request itself; n/38 is a value of the advertised list; another n/m
      // and a percentage are proportions, 100% the loudest.
      {"0D", "on", " 40", "40"},   {"0D", "on", "12.5", "12.5"}, {"0D", "on", "-3", "-3"},
      {"0D", "on", "abc", "0"},    {"0D", "on", "15/38", "15"},  {"0D", "on", "50%", "20"},
      {"0D", "on", "100%", "2"},   {"0D", "on", "0%", "38"},     {"0D", "on", "140%", "2"},
      {"0D", "on", "4/10", "24"},  {"0D", "on", "1/2", "20"},
      // Without a level, State means nothing to a level or a source.
      {"0D", "off", "Unknown", "-"}, {"0D", "on", "", "-"}, {"01", "off", "Unknown", "-"},
      // Source (0 None, 1..8 inputs).
      {"01", "on", "3/8", "3"},      {"01", "on", "50%", "4"}, {"01", "on", "100%", "8"},
      // Status: State alone on, toggle, off (Mute, the nearest to off); the
      // listed values Off (0/2, reached as Mute), On, Mute; 0% is off.
      {"07", "on", "Unknown", "1"},  {"07", "TOGGLE", "Unknown", "0"},
      {"07", "off", "Unknown", "2"}, {"07", "dim", "Unknown", "-"},
      {"07", "off", "0/2", "2"},     {"07", "off", "1/2", "1"},
      {"07", "off", "2/2", "2"},     {"07", "on", "0%", "2"},
      {"07", "off", "60%", "1"},
      {"07", "off", "0", "0"},  // a plain 0 stays the Toggle request
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id + " State=" + c.state + " Level=" + c.level);
    const ZoneRecord r = Record(FromHex(c.id));
    r->LastCommand = "-";
    BSCCmd(target, c.id, c.state, c.level);
    EXPECT_EQ(r->LastCommand, c.request);
  }
  TakeSent();
  // State=off alone mutes a playing zone and leaves a muted one muted; the
  // zone's volume is not touched (it used to rise by a step).
  const int16_t volume = Record(16)->Value;
  for (int i = 0; i < 2; ++i) {
    Handle(Message("xAPBSC.cmd", target, {{"output.state.1", "ID=*", "State=off"}}));
    for (int zone = 1; zone <= 6; ++zone) EXPECT_EQ(Record(6 + zone)->Value, 2) << zone;
  }
  EXPECT_EQ(Record(16)->Value, volume);
  for (const auto& cmd : TakeSent())
    EXPECT_NE(cmd.substr(0, 4) + cmd.substr(6, 2), "VP2102") << cmd;
}

TEST_F(CommandTest, CommandMessagesNeedTheProgramsAddressAndTakeFiveBlocks) {
  auto block = [](int n, const std::string& id, const std::string& level) {
    return std::vector<std::string>{"output.state." + std::to_string(n), "ID=" + id,
                                    "Level=" + level};
  };
  auto last_commands = [&] {
    std::vector<std::string> out;
    for (int n : {1, 2, 3, 4, 5, 6, 7}) out.push_back(Record(n)->LastCommand);
    return out;
  };
  const Sections blocks = {block(1, "01", "1"), block(2, "02", "2"), block(4, "04", "4")};
  // Not for this program: nothing happens.
  for (const std::string target :
       {"", "*", "zyn.Vaux.OTHER:>", "zyn.Vaux:>", "zyn.Vaux.HOST.sub:>", "zyn..HOST:>"}) {
    SCOPED_TRACE(target);
    Handle(Message("xAPBSC.cmd", target, blocks));
    EXPECT_EQ(last_commands(), std::vector<std::string>(7, ""));
  }
  // A gap ends the numbered blocks.
  Handle(Message("xAPBSC.cmd", "ZYN.vaux.host:>", blocks));
  EXPECT_EQ(last_commands(), (std::vector<std::string>{"1", "2", "", "", "", "", ""}));
  // At most five; an unnumbered block is taken instead of the numbered ones.
  Handle(Message("xAPBSC.cmd", "zyn.*.>:>",
                 {block(1, "01", "11"), block(2, "02", "12"), block(3, "03", "13"),
                  block(4, "04", "14"), block(5, "05", "15"), block(6, "06", "16")}));
  EXPECT_EQ(last_commands(), (std::vector<std::string>{"11", "12", "13", "14", "15", "", ""}));
  Handle(Message("xAPBSC.cmd", "zyn.Vaux.HOST:>",
                 {block(1, "01", "21"), {"output.state", "ID=07", "State=off"}}));
  EXPECT_EQ(Record(7)->LastCommand, "2");
  EXPECT_EQ(Record(1)->LastCommand, "11");
}

// The program's drain of the receive queue, as the main form does it.
struct Drain final : XapCallback {
  Drain(XapTransport& x, InboundHandler& i) : xap(x), inbound(i) {}
  void onMessage() override {
    if (busy) return;
    busy = true;
    for (std::string t = xap.GetMessage(); !t.empty(); t = xap.GetMessage()) inbound.Readmessage(t);
    busy = false;
  }
  XapTransport& xap;
  InboundHandler& inbound;
  bool busy = false;
};

TEST_F(BridgeTest, ASilentControllerHoldsUpNoOtherMessage) {
  sim_.options().silent = true;
  Drain drain(xap_, bridge_.inbound());
  xap_.RegisterNewMessageCallback(&drain);
  const std::string me = "zyn.Vaux.HOST:>";
  // A burst of fifty commands, then an echo request 1 s later.
  for (int i = 0; i < 50; ++i) {
    xap_.ProcessReceivedMessage(Message(
        "xAPBSC.cmd", me,
        {{"output.state.1", "ID=" + ToHex(13 + i % 6), "Level=" + std::to_string(10 + i)}}));
  }
  int64_t asked = -1;
  Timer echo(loop_, [&] {
    echo.Stop();
    asked = loop_.NowMs();
    xap_.ProcessReceivedMessage(
        Message("WDT.Echo", "", {{"Echo.Query", "Query=Hello"}}, "zyn.test.probe"));
  });
  echo.SetInterval(1000);
  echo.Start();
  // Everything runs on one thread: the answer is noted when it is sent,
  // even while the loop is inside a controller wait.
  ASSERT_TRUE(loop_.PumpUntil([&] { return asked >= 0; }, loop_.NowMs() + 60000));
  loop_.WaitMs(8000);
  const auto& classes = sender_.classes;
  const auto at = std::find(classes.begin(), classes.end(), "WDT.Echo");
  ASSERT_NE(at, classes.end());
  EXPECT_LE(sender_.times[static_cast<size_t>(at - classes.begin())] - asked, 100);
  // After three unanswered waits the link is known down and the rest wait
  // for it, one per record (a level replaces the level waiting); only
  // probes go out meanwhile.
  EXPECT_EQ(link_.QueuedControls(), 6u);
  EXPECT_TRUE(link_.LinkDown());
  EXPECT_LE(TakeSent().size(), 3u + 2u);
  xap_.RegisterNewMessageCallback(nullptr);
}

// A command from the network is queued and carried out once the handler
// has returned; the status page's (and a script's) before its call returns,
// so the page it shows next holds the controller's answer.
TEST_F(BridgeTest, NetworkCommandsWaitInTheQueuePageCommandsRunAtOnce) {
  const std::string me = "zyn.Vaux.HOST:>";
  bridge_.inbound().Readmessage(
      Message("xAPBSC.cmd", me, {{"output.state.1", "ID=0A", "Level=2"}}));
  EXPECT_TRUE(TakeSent().empty());
  EXPECT_EQ(link_.QueuedControls(), 1u);
  loop_.Pump();
  // Record 10 is the Status of zone 4: level 2 mutes it; a status request
  // reads it back.
  EXPECT_EQ(TakeSent(), (std::vector<std::string>{"VP21042801", "VPFE520400"}));
  EXPECT_EQ(Record(10)->Value, 2);
  bridge_.BSCCmd(me, "0A", "ON", "1");
  EXPECT_EQ(TakeSent().front(), "VP21041B01");
  EXPECT_EQ(Record(10)->Value, 1);
}

TEST_F(BridgeTest, BadMessagesChangeNothingAndSendNothing) {
  UseOnly({});
  const std::string me = "zyn.Vaux.HOST:>";
  const std::vector<std::string> bad = {
      "",
      "not xap at all",
      "xap-hbeat\n{\nclass=xap-hbeat.alive\nsource=a.b.c\n}\n",
      "xap-header\n{\nclass=xAPBSC.cmd\ntarget=zyn.Vaux.HOST:>\n}\n",
      Message("xAPBSC.cmd", me, {{"output.state.1", "Level=40"}}),
      Message("xAPBSC.cmd", me, {{"output.state.0", "ID=*", "Level=40"}}),
      Message("xAPBSC.cmd", "zyn.Vaux.HOST:>.>.>", {{"output.state.1", "ID=zz", "Level=40"}}),
      Message("xAPBSC.cmd", "zyn.Vaux.HOST:::", {{"output.state", "ID=*", "Level=x"}}),
      Message("xAPBSC.cmd", "zyn.Vaux.HOST:a.b.c.d.e", {{"output.state", "ID=*", "Level=1"}}),
      Message("xAPBSC.cmd", ":>", {{"output.state", "ID=*", "Level=1"}}),
      Message("xAPBSC.query", "", {{"request"}}),
      Message("xAPBSC.query", "zyn.Vaux.HOST", {{"request"}}),
      Message("xAPBSC.query", "zyn.Vaux.HOST:nothing.*.*", {{"request"}}),
      Message("xAPBSC.query", ">:>", {{"request"}}),  // nothing is used
      Message("xAPBSC.query", "*", {{"request"}}),
      Message("xAPBSC.query", "other.prog.x:>", {{"request"}}),
      Message("xAPBSC.cmd.x", me, {{"output.state", "ID=*", "Level=1"}}),
      Message("WDT.Echo", "", {{"Echo.Response", "Response=x"}}),
      Message("WDT.Echo", "other.prog.x", {{"Echo.Query", "Query=x"}}),
      Message("Homeseer.Role", "", {{"Role.Query", "Role=device"}}),
      Message("Homeseer.Role", "", {{"Role.Notification", "Role=any"}}),
      Message("xAP-X10.request", "", {{"xAP-X10.request", "command=on"}}),
      Message("xAP-X10.request", "", {{"xAP-X10.request", "device=,,Z9,", "command=on"}}),
      Message("xapbsc.event", "", {{"output.state", "state=ON"}}),
      std::string(70000, '}'),
      "xap-header\n" + std::string(5000, '\n') + "}\n",
  };
  for (const auto& text : bad) Handle(text);
  EXPECT_TRUE(Sent().empty());
  for (const auto& cmd : TakeSent()) EXPECT_EQ(cmd.rfind("VP21", 0), std::string::npos) << cmd;
  for (auto& [key, r] : table_.LinkDictionary()) EXPECT_EQ(r->LastCommand, "") << key;
  EXPECT_EQ(bridge_.reporter().QueueSize(), 0u);
}

class WatchTest : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    table_.FilterDictionary().Add("x.y.z~a.b", "kitchen;Lights");
    table_.FilterDictionary().Add("x.y.quiet~a.b", "kitchen;");
    table_.FilterDictionary().Add("x.y.nobody~a.b", "nobody;Lights");
    kitchen_ = std::make_shared<DeviceClass>();
    kitchen_->Tag = "kitchen";
    table_.DeviceDictionary().Add("kitchen", kitchen_);
  }
  DeviceRecord kitchen_;
};

TEST_F(WatchTest, FilteredSourcesKeepTheirLatestItems) {
  const int32_t base = table_.ChangeSequence();
  // Any target: the record is kept even for messages the program does not act on.
  Handle(Message("a.b", "some.other.prog",
                 {{"Status", "level = 50", "text=a=b", "empty="}, {"More", "x=1"}}));
  EXPECT_EQ(kitchen_->MessageKeyList,
            (std::vector<std::string>{"status.level ", "status.text", "status.empty", "more.x"}));
  EXPECT_EQ(*kitchen_->MessageList.Find("STATUS.LEVEL "), " 50");
  EXPECT_EQ(*kitchen_->MessageList.Find("status.text"), "a=b");
  EXPECT_EQ(*kitchen_->MessageList.Find("status.empty"), "");
  EXPECT_EQ(kitchen_->LastChange, wall_.Now());
  EXPECT_EQ(kitchen_->Sequence, base + 1);
  ASSERT_EQ(scripts_.events.size(), 1u);
  EXPECT_EQ(scripts_.events[0], kitchen_);

  // The items are replaced whole; no event name, no script event.
  Handle(Message("A.B", "", {{"other", "y=2"}}, "x.y.quiet"));
  EXPECT_EQ(kitchen_->MessageKeyList, std::vector<std::string>{"other.y"});
  EXPECT_EQ(kitchen_->Sequence, base + 2);
  EXPECT_EQ(scripts_.events.size(), 1u);

  // Source and class must be as the filter has them; a tag without a
  // record changes nothing.
  Handle(Message("a.b.c", "", {{"s", "z=3"}}));
  Handle(Message("a.b", "", {{"s", "z=3"}}, "x.y.nobody"));
  EXPECT_EQ(kitchen_->MessageKeyList, std::vector<std::string>{"other.y"});
  EXPECT_EQ(table_.ChangeSequence(), base + 2);
  EXPECT_EQ(scripts_.events.size(), 1u);
  // Saved, and saved again with the newer value.
  table_.SaveDeviceDictionary();
  Handle(Message("a.b", "", {{"other", "y=3"}}, "x.y.quiet"));
  table_.SaveDeviceDictionary();
  EXPECT_EQ(ini_.GetIniSetting("Device Messages", "kitchen.other.y", "", kMainIniFile), "3");
}

TEST_F(WatchTest, ItemKeysThatCoincideEndTheMessage) {
  table_.FilterDictionary().Add("x.y.z~WDT.Echo", "kitchen;Lights");
  // "a.b" + "c" and "a" + "b.c" give the same key: reported, nothing kept,
  // and the rest of the handling (an echo here) does not happen.
  Handle(Message("WDT.Echo", "", {{"a.b", "c=1"}, {"a", "b.c=2"}, {"Echo.Query", "Query=x"}}));
  EXPECT_TRUE(Logged("Readmessage Line 0"));
  EXPECT_TRUE(kitchen_->MessageKeyList.empty());
  EXPECT_TRUE(Sent().empty());
  // A header with nothing after it has no section list.
  Handle("xap-header\n{\nsource=x.y.z\nclass=a.b\n}\n");
  EXPECT_TRUE(kitchen_->MessageKeyList.empty());
  EXPECT_EQ(scripts_.events.size(), 0u);
}

TEST_F(BridgeTest, X10RequestsSetTheirRecords) {
  Record(13)->X10 = "A1";
  Record(14)->X10 = "B2";
  table_.BuildX10Dictionary();
  auto x10 = [&](const std::string& device, const std::string& command, const std::string& count,
                 int v13, int v14) {
    Record(13)->Value = static_cast<int16_t>(v13);
    Record(14)->Value = static_cast<int16_t>(v14);
    std::vector<std::string> items = {"xAP-X10.request", "device=" + device, "command=" + command};
    if (!count.empty()) items.push_back("count=" + count);
    Handle(Message("xAP-X10.request", "", {items}));
    return std::make_pair(Record(13)->Value, Record(14)->Value);
  };
  using P = std::pair<int16_t, int16_t>;
  EXPECT_EQ(x10("A1,B2", "on", "", 5, 5), P(100, 100));
  EXPECT_EQ(x10("a1,b2", "OFF", "", 5, 5), P(0, 0));
  EXPECT_EQ(x10("A1,B2", "dim", "30", 50, 10), P(20, 0));
  EXPECT_EQ(x10("A1,B2", "dim", "-70", 50, 10), P(100, 80));
  EXPECT_EQ(x10("A1", "bright", "40.5", 5, 5), P(40, 5));
  EXPECT_EQ(x10("B2", "extended", "32", 5, 5), P(5, 51));
  EXPECT_EQ(x10("A1, B2,C3", "on", "", 5, 5), P(100, 5));  // " B2" is no address
  EXPECT_EQ(x10("A1", "bright", "99999", 5, 5), P(5, 5));  // out of range: reported
  EXPECT_TRUE(Logged("Readmessage Line 0 Overflow"));
  EXPECT_TRUE(Logged("Commanding 0D to 100"));
  EXPECT_TRUE(TakeSent().empty());  // nothing goes to the controller
  EXPECT_TRUE(Sent().empty());      // and no event: the value is only stored
}

TEST_F(BridgeTest, EchoRoleAndTimeMessages) {
  // Echo answers go to the sender's full address; role answers need
  // "application" or "any" in any letter case.
  Handle(Message("wdt.echo", "zyn.Vaux.HOST", {{"echo.query", "query= Two Words"}}, "a.b.c:Zone1"));
  Handle(Message("Homeseer.Role", "*", {{"Role.Query", "Role=ApPlication"}}));
  Handle(Message("Homeseer.Role", "", {{"Role.Query", "Role=device"}}));
  Handle(Message("Homeseer.Role", "", {{"Role.Query", "Role=Any"}}));
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_NE(sent[0].find("\ntarget=a.b.c:Zone1\n}\nEcho.Response\n{\nResponse= two words\n}\n"),
            std::string::npos);
  for (size_t i : {1, 2}) {
    EXPECT_NE(sent[i].find("{\nRole=UPB\nPath=/opt/corvane/corvane\nForm=EchoWindow\n}\n"),
              std::string::npos);
  }

  EXPECT_EQ(bridge_.Sunrise(), "");
  Handle(Message("Time.Today", "", {{"Time.Today", "Sunrise=06:12", "Sunset= 21:40 "}}));
  EXPECT_EQ(bridge_.Sunrise(), "06:12");
  EXPECT_EQ(bridge_.Sunset(), " 21:40 ");
  Handle(Message("time.today", "", {{"Time.Today", "Sunrise=06:13"}}));
  EXPECT_EQ(bridge_.Sunrise(), "06:13");
  EXPECT_EQ(bridge_.Sunset(), "Unknown");
  Handle(Message("Time.Today", "elsewhere.a.b", {{"Time.Today", "Sunrise=1", "Sunset=2"}}));
  EXPECT_EQ(bridge_.Sunrise(), "06:13");
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
}  // namespace corvane
