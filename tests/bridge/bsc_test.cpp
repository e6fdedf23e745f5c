// BSC reporting: change events, the state item list, query answers and
// their pacing.
#include "bridge_fixture.h"
#include "devicetable/status_text.h"

#include <algorithm>
#include <set>

#include "core/text.h"
#include "devicetable/levels.h"

namespace corvane {
namespace {

const std::string kHead = "xap-header\n{\nv=13\nhop=1\n";

TEST_F(BridgeTest, ChangeEventsOfUsedRecords) {
  table_.ChangeEvent(Record(7), 1);
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], kHead +
                         "uid=FF.0022:07\nclass=xapbsc.event\n"
                         "source=zyn.Vaux.HOST:Corvane_Channel1_Status.Vaux_Aris_700_07.Status\n"
                         "}\noutput.state\n{\nstate=ON\nDisplayText=1 / On\nlevel=1/2\n}\n");

  // The state comes from the zone's Status record; level is the value itself
  // (a list position), whatever the last command was.
  Record(4)->Name = "Den";
  Record(16)->LastCommand = "7.0";
  Record(16)->Controllable = false;
  table_.ChangeEvent(Record(4), 3);
  table_.ChangeEvent(Record(16), 5);
  sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_NE(sent[0].find("uid=FF.0022:04\nclass=xapbsc.event\n"
                         "source=zyn.Vaux.HOST:Corvane_Den.Vaux_Aris_700_04.Source\n}\n"
                         "output.state\n{\nstate=OFF\nDisplayText=3 / Input3\nlevel=3/8\n}\n"),
            std::string::npos)
      << sent[0];
  EXPECT_NE(sent[1].find("uid=FF.0022:10\n"), std::string::npos);
  EXPECT_NE(sent[1].find("}\ninput.state\n{\nstate=OFF\nDisplayText=5 / 0 db\nlevel=5/38\n}\n"),
            std::string::npos)
      << sent[1];

  // An unused record changes silently.
  Record(8)->Used = false;
  const int32_t before = table_.ChangeSequence();
  clock_.Advance(5000);
  table_.ChangeEvent(Record(8), 2);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(Record(8)->Value, 2);
  EXPECT_EQ(Record(8)->Sequence, before + 1);
  EXPECT_EQ(Record(8)->LastChange, wall_.Now());

  // Without its zone's Status record a record cannot be reported.
  table_.LinkDictionary().Remove("Vaux_Aris_700_07");
  table_.ChangeEvent(Record(1), 4);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(Logged("IncludeContent Line 0"));
}

TEST_F(BridgeTest, X10RecordsSendX10EventsAndScriptEventsFollow) {
  Record(13)->X10 = "A1";
  Record(13)->EventNotification = true;
  Record(13)->Tag = "lamp";
  for (int16_t v : {100, 40, 0}) table_.ChangeEvent(Record(13), v);
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], kHead +
                         "uid=FF.0022:00\nclass=xap-x10.event\nsource=zyn.Vaux.HOST\n}\n"
                         "xap-x10.event\n{\nevent=ON\ndevice=A1\ncount=100\n}\n");
  EXPECT_NE(sent[1].find("{\nevent=DIM\ndevice=A1\ncount=40\n}\n"), std::string::npos);
  EXPECT_NE(sent[2].find("{\nevent=OFF\ndevice=A1\ncount=0\n}\n"), std::string::npos);

  ASSERT_EQ(scripts_.events.size(), 3u);
  const DeviceRecord& e = scripts_.events[2];
  EXPECT_EQ(e->Tag, "lamp");
  EXPECT_EQ(e->Link, nullptr);
  EXPECT_EQ(*e->MessageList.Find("value"), "0");
  EXPECT_EQ(*e->MessageList.Find("lastchange"), "6/12/2026 8:05:09 AM");
  EXPECT_FALSE(table_.DeviceDictionary().Exists("lamp"));
}

TEST(FormatStatusTest, ValueAndItsName) {
  const std::string list = std::string("Off\x02") + "0\x01On\x02" + "1\x01Mute\x02" + "2";
  struct Case {
    int kind, value;
    std::string values, text;
  } cases[] = {
      {1, 1, list, "1 / On"},   {1, 3, list, ""},
      {2, 4, list, "4 / Mute"},  // level lists leave out "Up" and "Down"
      {2, 1, list, ""},         {0, 0, " ", "0"},
      {0, 0, "", ""},
  };
  for (const auto& c : cases) {
    UPBLinkState r;
    r.Kind = c.kind;
    r.Value = static_cast<int16_t>(c.value);
    r.Values = c.values;
    EXPECT_EQ(FormatStatus(r), c.text) << c.kind << " " << c.value;
  }
}

class QueryTest : public BridgeTest {
 protected:
  void Query(const std::string& sub) {
    Handle(Message("xAPBSC.query", "zyn.Vaux.HOST:" + sub, {{"request"}}));
  }
  // Runs the loop until the queue is drained and the timer has stopped.
  void Drain() { loop_.WaitMs(1000 + 200 * static_cast<int64_t>(bridge_.reporter().QueueSize())); }
  static std::string Source(const std::string& message) {
    const size_t at = message.find("\nsource=");
    return message.substr(at + 8, message.find('\n', at + 1) - at - 8);
  }
  static const std::vector<std::string> kWholePoll;
};
const std::vector<std::string> QueryTest::kWholePoll = {"VPFE520100", "VPFE520200", "VPFE520300",
                                                        "VPFE520400", "VPFE520500", "VPFE520600"};

TEST_F(QueryTest, EveryUsedRecordAnsweredAfterTheWholeZonePollAndPaced) {
  UseOnly({1, 7, 13});
  Record(13)->Controllable = false;
  sender_.times.clear();
  const int64_t start = loop_.NowMs();
  Query(">");
  const auto polls = TakeSent();
  ASSERT_EQ(polls.size(), 9u);
  EXPECT_EQ(std::vector<std::string>(polls.begin(), polls.begin() + 6), kWholePoll);
  EXPECT_EQ(polls[6], "VPFE520100");  // each answer reads its zone first
  EXPECT_TRUE(bridge_.reporter().BSCTimer().Enabled());
  Drain();
  EXPECT_FALSE(bridge_.reporter().BSCTimer().Enabled());

  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 5u);
  ASSERT_EQ(sender_.times.size(), 5u);
  EXPECT_EQ(sender_.times[0], start + 2000);
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(sender_.times[i] - sender_.times[i - 1], 200);
  const std::string sub7 = "zyn.Vaux.HOST:corvane_channel1_status.vaux_aris_700_07.status";
  EXPECT_NE(sent[0].find("\nclass=xAPBSC.Values\n"), std::string::npos);
  EXPECT_EQ(Source(sent[0]), "zyn.Vaux.HOST:corvane_channel1_source.vaux_aris_700_01.source");
  EXPECT_NE(sent[1].find("}\noutput.state\n{\nstate=ON\nDisplayText=1 / Input1\nlevel=1/8\n}\n"),
            std::string::npos);
  EXPECT_EQ(sent[2], kHead + "uid=FF.0022:07\nclass=xAPBSC.Values\nsource=" + sub7 +
                         "\n}\nvalues.1\n{\nText=On\nLevel=1/2\n}\nvalues.2\n{\nText=Mute\n"
                         "Level=2/2\n}\n");
  EXPECT_EQ(sent[3], kHead + "uid=FF.0022:07\nclass=xAPBSC.Info\nsource=" + sub7 +
                         "\n}\noutput.state\n{\nstate=ON\nDisplayText=1 / On\nlevel=1/2\n}\n");
  // A record that cannot be commanded has no value list and reports an input.
  EXPECT_NE(sent[4].find("\nclass=xAPBSC.Info\n"), std::string::npos);
  EXPECT_NE(sent[4].find("}\ninput.state\n{\nstate=ON\n"), std::string::npos);
}

// A peer that picks an entry of the advertised value list and sends its
// Level back gets exactly that entry: the event's DisplayText shows its text
// and its level item is the Level that was sent.
TEST_F(QueryTest, EveryAdvertisedValueRoundTrips) {
  std::set<int> zone1;
  for (int kind = 0; kind < kAttributeCount; ++kind) zone1.insert(RecordIndex(kind, 1));
  UseOnly(zone1);
  for (int n : zone1) {
    const ZoneRecord r = Record(n);
    SCOPED_TRACE(r->Name);
    Query("*.vaux_aris_700_" + ToLower(ToHex(n)) + "." +
          ToLower(std::string(ComponentType(r->Kind))));
    Drain();
    std::vector<std::pair<std::string, std::string>> listed;  // Text, Level
    for (const auto& m : Sent()) {
      if (m.find("\nclass=xAPBSC.Values\n") == std::string::npos) continue;
      XapMessage values;
      values.FromXap(m);
      for (int k = 1;; ++k) {
        const std::string section = "values." + std::to_string(k);
        if (values.GetItem(section, "Level") == "Unknown") break;
        listed.emplace_back(values.GetItem(section, "Text"), values.GetItem(section, "Level"));
      }
    }
    ASSERT_GE(listed.size(), 2u);
    // Backwards, so that each command changes the value and sends an event.
    std::reverse(listed.begin(), listed.end());
    for (const auto& [text, level] : listed) {
      SCOPED_TRACE(text + " " + level);
      Handle(Message("xAPBSC.cmd", "zyn.Vaux.HOST:>",
                     {{"output.state.1", "ID=" + ToHex(n), "Level=" + level}}));
      EXPECT_EQ(FormatStatus(*r), std::to_string(r->Value) + " / " + text);
      std::string event;
      for (const auto& m : Sent()) {
        if (m.find("uid=FF.0022:" + ToHex(n) + "\nclass=xapbsc.event\n") != std::string::npos) {
          event = m;
        }
      }
      EXPECT_NE(event.find("\nDisplayText=" + FormatStatus(*r) + "\nlevel=" + level + "\n"),
                std::string::npos)
          << event;
    }
  }
}

TEST_F(QueryTest, TheAttributePartDecidesTheWholeZonePoll) {
  UseOnly({7, 8, 9, 13});
  struct Case {
    std::string sub;
    bool whole_poll;
    std::vector<std::string> sources;  // the records answered, by key
  } cases[] = {
      {"*.*.status", false, {"07", "08", "09"}},
      {"*.*.STATUS.extra", false, {"07", "08", "09"}},
      {">.>.status", true, {"07", "08", "09", "0D"}},
      {"corvane_channel1_status", true, {"07"}},
      {"*.vaux_aris_700_0d.volumedb", false, {"0D"}},
      {"nothing.*.status", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sub);
    // Far enough apart that every whole-zone poll is a fresh one.
    loop_.WaitMs(5000);
    sender_.times.clear();
    const int64_t start = loop_.NowMs();
    Query(c.sub);
    const auto polls = TakeSent();
    const bool whole = polls.size() >= 6 &&
                       std::vector<std::string>(polls.begin(), polls.begin() + 6) == kWholePoll;
    EXPECT_EQ(whole, c.whole_poll);
    EXPECT_EQ(polls.size(), (c.whole_poll ? 6 : 0) + c.sources.size());
    Drain();
    std::vector<std::string> answered;
    for (const auto& m : Sent()) {
      if (m.find("\nclass=xAPBSC.Info\n") == std::string::npos) continue;
      const std::string src = Source(m);
      answered.push_back(src.substr(src.find("vaux_aris_700_") + 14, 2));
      const std::string sub = src.substr(src.find(':'));
      EXPECT_EQ(sub, ToLower(sub));
    }
    for (auto& a : answered) a = ToUpper(a);
    EXPECT_EQ(answered, c.sources);
    if (!c.sources.empty()) {
      EXPECT_EQ(sender_.times[0], start + (c.whole_poll ? 2000 : 0));
    }
  }
  // A burst polls once: the second query finds the records freshly polled.
  Query(">");
  Query(">");
  EXPECT_EQ(TakeSent().size(), 6u + 2 * 4u);
}

// A peer that asks many times a second: each answer waits once and leaves
// with the record's value of the moment it leaves, in the order asked; a
// second peer's answers take turns with it, also when the first peer's turn
// already holds them further back.
TEST_F(QueryTest, RepeatedQueriesWaitOnceAndOtherPeersTakeTurns) {
  UseOnly({7, 8, 9, 10, 11, 12, 13});
  for (const std::string other : {"0d.volumedb", "0c.status"}) {
    SCOPED_TRACE(other);
    loop_.WaitMs(5000);
    Sent();
    sender_.times.clear(), sender_.classes.clear(), sender_.subs.clear();
    for (int i = 0; i < 50; ++i) {
      Handle(Message("xAPBSC.query", "zyn.Vaux.HOST:*.*.status", {{"request"}}, "a.chatty.peer"));
      EXPECT_LE(bridge_.reporter().QueueSize(), 12u);  // six records, two answers each
    }
    table_.ChangeEvent(Record(11), 2);  // while its info waits
    const int64_t asked = loop_.NowMs();
    Query("*.vaux_aris_700_" + other);  // from x.y.z
    Drain();
    const std::string key = "vaux_aris_700_" + other.substr(0, 2);
    std::vector<std::string> infos;  // the chatty peer's, in the order sent
    int64_t first_other = -1;
    for (size_t i = 0; i < sender_.subs.size(); ++i) {
      const bool others = sender_.subs[i].find(key) != std::string::npos;
      if (others && first_other < 0) first_other = sender_.times[i];
      if (!others && sender_.classes[i] == "xAPBSC.Info") infos.push_back(sender_.subs[i]);
    }
    EXPECT_LE(first_other - asked, 2 * BscReporter::kPaceMs);
    EXPECT_EQ(infos.size(), other == "0c.status" ? 5u : 6u);  // one each
    EXPECT_TRUE(std::is_sorted(infos.begin(), infos.end()));
    const std::string fresh = "0b.status\n}\noutput.state\n{\nstate=ON\nDisplayText=2 / Mute\n";
    int fresh_answers = 0;
    for (const auto& m : Sent()) fresh_answers += m.find(fresh) != std::string::npos;
    EXPECT_EQ(fresh_answers, 1);
  }
}

}  // namespace
}  // namespace corvane
