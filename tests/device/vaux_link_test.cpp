#include "device/vaux_link.h"

#include "devicetable/levels.h"
#include "device/vaux_decode.h"
#include "link_fixture.h"
#include "sim_values.h"

namespace corvane {
namespace {

using ::testing::ElementsAre;

// A link whose port is open and whose records exist.
class OpenLinkTest : public LinkTest {
 protected:
  void SetUp() override {
    Open();
    BuildRecords();
  }
};

TEST_F(LinkTest, StartupAsksInOrderAndRecordsTakeTheControllersState) {
  Open();
  link_.ConfigurationAck();
  BuildRecords();
  link_.ApplyHeldPowerup();
  link_.GetCurrentUPBStatus();
  EXPECT_EQ(TakeSent(), testing::kStartupReads);
  EXPECT_EQ(clock_.NowMs(), 1000);  // every reply came at once: no wait ran out
  for (int zone = 1; zone <= 6; ++zone) {
    for (int kind = 0; kind < 7; ++kind)
      EXPECT_EQ(Value(RecordIndex(kind, zone)), testing::SimRecordValue(sim_.Zone(zone), kind))
          << zone << " " << kind;
  }
  for (const char* report :
       {"ConfigurationByteA, Echo_Errors=False, Ignore_Checksum=False, Enable_Prompts=False, "
        "Info_Messages=True, Error_Messages=True",
        "Vaux Zone Status Response: VX01013B040901=> Zone 1, Source=1, Status=On, Volume=-2db, "
        "Bass=-6db, Treble=9db",
        "Vaux Zone Powerup Response: VX33060614051F=> Zone 1, Mute=-58db, Volume=-18db"})
    EXPECT_TRUE(Logged(report)) << report;
}

TEST_F(OpenLinkTest, RequestMapping) {
  struct Case {
    int record, current;  // the record and the value it holds first (-1: as it is)
    std::string request, first_sent;
    int after;  // the value it holds afterwards (-1: not checked)
  };
  const Case cases[] = {
      {13, 2, "0", "VP2101023F", -1},   // "Up" at the loudest stays there (+6 dB)
      {13, 38, "1", "VP2101021B", -1},  // "Down" at the quietest stays there (-80 dB)
      {13, 5, "1", "VP21010239", 8},    // "Down" from 0 dB by 3 positions: -6 dB
      {19, -1, "6.5", "VP21010307", -1},  // halves round to even: bass +3 dB
      {7, -1, "2", "VP21012801", 2},    // Mute mutes
      {7, -1, "0", "VP21011B01", 1},    // Toggle flips
      {7, -1, "1", "VP21011B01", 1},    // On unmutes
      {7, -1, "7", "", -1},             // no such Status request
      {13, -1, "loud", "", -1},         // no number: reported, nothing sent
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.record) + " " + c.request);
    if (c.current >= 0) table_.Record(c.record)->Value = static_cast<int16_t>(c.current);
    link_.ControlVauxLink(table_.Record(c.record), c.request);
    const auto sent = TakeSent();
    EXPECT_EQ(sent.empty() ? "" : sent.front(), c.first_sent);
    if (c.after >= 0) {
      EXPECT_EQ(Value(c.record), c.after);
    }
  }
  EXPECT_TRUE(Logged("ControlVauxLink Line 0 'loud' is not a number"));
  // Turn-on levels go through the power-up record (ended by its checksum)
  // and read it back.
  link_.ControlVauxLink(table_.Record(37), "5");
  EXPECT_THAT(TakeSent(), ElementsAre("VPX2110013C070914053F000200;", "VPFE510100"));
  EXPECT_EQ(Value(37), 5);

  link_.CommandVaux(UPBStatus{table_.Record(42), 17});
  EXPECT_EQ(Value(42), 17);
  EXPECT_TRUE(TakeSent().empty());
  EXPECT_TRUE(Logged("Commanding 2A to 17"));
}

TEST_F(OpenLinkTest, SilentControllerRequestsWaitAndRunInOrderOnceItAnswers) {
  sim_.options().silent = true;
  const int64_t start = clock_.NowMs();
  EXPECT_EQ(link_.GetZoneStatus(1), "");
  EXPECT_EQ(clock_.NowMs() - start, 2000);
  // The next command first gives a late reply the rest of 5 s; the third
  // unanswered command marks the controller not answering.
  EXPECT_FALSE(link_.SourceToZoneRoute(1, 5));
  EXPECT_EQ(clock_.NowMs() - start, 9000);
  EXPECT_EQ(TakeSent().size(), 3u);
  EXPECT_EQ(link_.State(), VauxLink::LinkState::kUnanswered);
  // Requests wait: they cost the caller nothing and each arrival asks the
  // controller at once (one probe at a time).
  const std::string down = "not answering (3 commands in a row got no reply)";
  for (int pos : {10, 1, 1}) link_.QueueControl(table_.Record(13), std::to_string(pos));
  link_.QueueControl(table_.Record(7), "0");
  EXPECT_EQ(clock_.NowMs() - start, 9000);
  loop_.WaitMs(1);
  EXPECT_THAT(TakeSent(), ElementsAre("VPFE010000"));
  EXPECT_EQ(link_.QueuedControls(), 4u);
  EXPECT_EQ(Reported(down), 1u);
  // It answers: the waiting requests run in order, then the records are
  // read again.
  sim_.options().silent = false;
  loop_.WaitMs(VauxLink::kProbeMs);
  EXPECT_EQ(link_.State(), VauxLink::LinkState::kUp);
  std::vector<std::string> expected = {"VPFE010000", "VP21010237", "VPFE520100", "VP21010234",
                                       "VPFE520100", "VP21010231", "VPFE520100", "VP21012801",
                                       "VPFE520100"};
  expected.insert(expected.end(), testing::kStartupReads.begin(), testing::kStartupReads.end());
  EXPECT_EQ(TakeSent(), expected);
  EXPECT_EQ(Value(13), 16);  // position 10, then two Downs of 3 positions
  EXPECT_EQ(Value(7), 2);    // toggled from On to Mute
  EXPECT_EQ(Reported("Vaux Aris 700 answering on port 4001"), 1u);
}

TEST_F(LinkTest, ClosedPortRequestsWaitReopenAtOnceAndExpireInOneReport) {
  // No controller configured: one clear line, nothing tried.
  settings_.upb_comm_port = "";
  BuildRecords();
  for (int zone = 1; zone <= 6; ++zone) EXPECT_EQ(link_.GetZoneStatus(zone), "");
  EXPECT_EQ(Reported("No Vaux Aris 700 configured"), 1u);
  EXPECT_FALSE(Logged("Unable to Send"));
  EXPECT_EQ(tcp_.connect_count, 0);

  // A TCP adapter that is away: requests wait, each arrival tries to
  // reconnect, and when it is back they run in order.
  settings_.upb_comm_port = "4001";
  Open();
  tcp_.peer = FakeTcpClient::Peer::kRefuse;
  tcp_.Drop();
  loop_.WaitMs(1);
  TakeSent();
  const int64_t start = clock_.NowMs();
  for (int pos : {0, 1}) link_.QueueControl(table_.Record(7), std::to_string(pos));
  EXPECT_EQ(clock_.NowMs(), start);
  EXPECT_EQ(Reported("Vaux Aris 700 port 4001 not open: requests wait"), 1u);
  tcp_.peer = FakeTcpClient::Peer::kAccept;
  loop_.PumpUntil([&] { return link_.QueuedControls() == 0; }, start + 5000);
  std::vector<std::string> sent = TakeSent();
  sent.resize(4);
  EXPECT_THAT(sent, ElementsAre("VP21012801", "VPFE520100", "VP21011B01", "VPFE520100"));
  EXPECT_EQ(Value(7), 1);

  // Never back: at most 256 wait, each at most RequestTimeout seconds, and
  // their loss is one line with the count.
  settings_.request_timeout = "30";
  tcp_.peer = FakeTcpClient::Peer::kRefuse;
  tcp_.Drop();
  for (int i = 0; i < 300; ++i) link_.QueueControl(table_.Record(13), i % 2 ? "0" : "1");
  EXPECT_EQ(link_.QueuedControls(), VauxLink::kQueueLimit);
  loop_.WaitMs(32000);
  EXPECT_EQ(link_.QueuedControls(), 0u);
  EXPECT_EQ(Reported("request(s) dropped"), 2u);
  EXPECT_TRUE(Logged("44 Vaux Aris 700 request(s) dropped: 0 not carried out within 30 s "
                     "(RequestTimeout), 44 beyond the 256 waiting"));
  EXPECT_TRUE(Logged("256 Vaux Aris 700 request(s) dropped: 256 not carried out"));
}

TEST_F(OpenLinkTest, SlowControllerIsWaitedForAndItsLateRepliesAnswerNothingElse) {
  latency_ms_ = 2300;
  // The first reply comes after the 2 s wait: the next command waits for
  // it first, and the wait grows to fit the controller.
  EXPECT_EQ(link_.GetZoneStatus(1), "");
  EXPECT_EQ(link_.ReplyWaitMs(), VauxLink::kReplyWaitMs);
  for (int source : {3, 4, 5}) {
    EXPECT_TRUE(link_.SourceToZoneRoute(1, source)) << source;
    EXPECT_EQ(Value(1), source);
  }
  EXPECT_EQ(link_.ReplyWaitMs(), 2300 * 3 / 2 + 500);
  EXPECT_EQ(link_.State(), VauxLink::LinkState::kUp);
  EXPECT_THAT(TakeSent(), ElementsAre("VPFE520100", "VP21010103", "VPFE520100", "VP21010104",
                                      "VPFE520100", "VP21010105", "VPFE520100"));
}

TEST_F(OpenLinkTest, RelativeRequestsAreNeverMergedAndAbsoluteOnesReplaceOnlyTheLastWaiting) {
  struct Case {
    std::vector<std::pair<int, int>> requests;  // (record, position)
    size_t waiting;
  };
  const Case cases[] = {
      {{{13, 1}, {13, 1}, {13, 1}}, 3},  // three Downs: three steps
      {{{7, 0}, {7, 0}}, 2},             // two Toggles
      {{{13, 10}, {13, 12}}, 1},         // a level replaces the level waiting
      {{{13, 10}, {13, 1}, {13, 12}}, 3},
      {{{13, 10}, {19, 6}, {13, 12}}, 2},
  };
  for (const Case& c : cases) {
    for (auto [record, position] : c.requests) link_.Enqueue({table_.Record(record), position});
    EXPECT_EQ(link_.QueuedControls(), c.waiting);
    loop_.Pump();
    EXPECT_EQ(link_.QueuedControls(), 0u);
  }
  TakeSent();
  // Three Downs 3 positions each from 0 dB (5): -18 dB (14).
  table_.Record(13)->Value = 5;
  for (int i = 0; i < 3; ++i) link_.Enqueue({table_.Record(13), kDownPosition});
  loop_.Pump();
  EXPECT_EQ(Value(13), 14);
  EXPECT_FALSE(link_.Enqueue({nullptr, 0}));
}

TEST_F(OpenLinkTest, StatusPollReadsTheZonesInTurnButNotWhileRequestsWait) {
  settings_.status_poll = "30";
  link_.ApplySettings();
  loop_.WaitMs(30000 + 1000);
  const auto& reads = testing::kStartupReads;
  EXPECT_EQ(TakeSent(), std::vector<std::string>(reads.begin() + 9, reads.end()));
  // A keypad change reaches the record.
  sim_.Zone(2).source = 7;
  loop_.WaitMs(30000);
  EXPECT_EQ(Value(2), 7);
  // Waiting requests go first; a poll of 0 polls nothing.
  link_.Enqueue({table_.Record(13), 5});
  settings_.status_poll = "0";
  TakeSent();
  loop_.WaitMs(60000);
  EXPECT_THAT(TakeSent(), ElementsAre("VP2101023C", "VPFE520100"));
}

TEST_F(OpenLinkTest, AcceptedRequestWaitsAgainForItsDataWithoutResending) {
  sim_.options().ack_requests = true;
  EXPECT_EQ(link_.GetZoneStatus(3), "VX020335060703");
  EXPECT_EQ(link_.PowerupStatus(3), "VX350606140521");
  EXPECT_THAT(TakeSent(), ElementsAre("VPFE520300", "VPFE510300"));
  EXPECT_EQ(Value(15), 12);  // -14 dB
  // An error reply ends the wait at once, and a read-back command retries.
  sim_.options().ack_requests = false;
  const int64_t start = clock_.NowMs();
  EXPECT_EQ(link_.VauxSend("VP21090101", "VI", "SourceToZoneRoute").substr(0, 4), "VE33");
  EXPECT_EQ(clock_.NowMs(), start);
  EXPECT_FALSE(link_.SourceToZoneRoute(1, 9));  // no input 9: VE31 three times
  EXPECT_EQ(TakeSent().size(), 1u + 6u);
}

TEST_F(LinkTest, ReplyDecodingKeepsAndReports) {
  link_.VauxReceive("VI80");
  EXPECT_EQ(link_.LastResponse(), "VI80");
  EXPECT_TRUE(Logged("Vaux Information: Command Accepted"));
  link_.VauxReceive("VE33");  // not kept: a reply is already waiting
  EXPECT_EQ(link_.LastResponse(), "VI80");
  link_.VauxReceive("VX0101");  // always kept
  EXPECT_EQ(link_.LastResponse(), "VX0101");
  const std::pair<std::string, std::string> reports[] = {
      {"VE93", "Vaux Error Report: Program download error (contact factory)"},
      {"VE55", "Vaux Error Report: Unknown Error Code 55"},
      {"VI81", "Command Aborted (an ABORT character was received \u2014 buffer flushed)"},
      {"VV00100A14010000",
       "Vaux Event: VV00100A14010000> Status=Invalid X-10 Function \u2014 Not "
       "Performed, Source=10, Zone=1, Function=X10 ON"},
      {"VV00010B1C010000", "Source=11, Zone=1, Function=Security DISARM"},
      {"VV0099010000", "Status=System Boot (dd = Ctrl Model"},
      {"VV00400C0102", "Status=A/V Route was performed, Source=12, Zone=2, Function=Unknown Function"},
      {"garbage\x1b[2J", "Receiving Status garbage?[2J"},  // no escape reaches a terminal
  };
  for (const auto& [line, report] : reports) {
    link_.VauxReceive(line);
    EXPECT_TRUE(Logged(report)) << line;
  }
  EXPECT_TRUE(Logged("Vaux Error Report: Invalid Zone number (or Group) requested"));

  EXPECT_EQ(ParseZoneStatus("VX0503").status, 2);        // larger than 2 counts as Mute
  EXPECT_EQ(ParseZoneStatus("VX0503").volume_code, -1);  // a missing field reads -1
  EXPECT_EQ(EventFunctionText(10, 20), "X10 ON");
  EXPECT_EQ(InformationText("77"), "Vaux Information Unknown 77");

  // Without DebugLog the reply is still kept but nothing is reported.
  settings_.debug_log = false;
  err_.str("");
  link_.VauxReceive("VS12");
  EXPECT_EQ(link_.LastResponse(), "VS12");
  EXPECT_EQ(err_.str(), "");
}

TEST_F(LinkTest, ZoneStatusUpdateChangesOnlyWhatDiffers) {
  struct Counter : ZoneChangeObserver {
    std::vector<int> seen;
    void NotifyUPBState(const ZoneRecord& r) override { seen.push_back(r->UIDindex); }
  } counter;
  table_.SetObserver(&counter);
  BuildRecords();
  table_.Record(22)->Value = 7;  // bass already 0 dB
  link_.ZoneStatusUpdate(4, 3, 1, CodeToDb(54, VolumeTable()), 0, 0);
  for (auto [record, value] : {std::pair{4, 3}, {10, 1}, {16, 11}, {22, 7}, {28, 6}})
    EXPECT_EQ(Value(record), value) << record;
  EXPECT_EQ(counter.seen, (std::vector<int>{4, 10, 16, 28}));
  EXPECT_EQ(table_.Record(28)->Sequence, 4);
  // A zone outside 1..6 would name other zones' records: ignored.
  link_.ZoneStatusUpdate(7, 0, 0, 0, 0, 0);
  EXPECT_EQ(Value(7), 0);
  EXPECT_EQ(counter.seen.size(), 4u);
  // Power-up replies before the records exist are held until they do.
  DeviceTable empty(ini_, log_, wall_, settings_);
  VauxLink early(loop_, log_, settings_, empty, port_, echo_);
  early.PowerupUpdate(2, -58, -18);
  empty.ReadLastChange();
  EXPECT_EQ(empty.Record(32)->Value, 0);
  early.ApplyHeldPowerup();
  EXPECT_EQ(empty.Record(32)->Value, DbToListPosition(-58, VolumeTable()));
  EXPECT_EQ(empty.Record(38)->Value, DbToListPosition(-18, VolumeTable()));
}

TEST_F(OpenLinkTest, StaleLineIsNoReplyToTheNextCommand) {
  sim_.options().events = true;
  // The route's VV event arrives after its VI80 and is stored while nothing
  // waits; the status request that follows must still wait for its VX.
  EXPECT_TRUE(link_.SourceToZoneRoute(1, 4));
  EXPECT_EQ(Value(1), 4);
  EXPECT_THAT(TakeSent(), ElementsAre("VP21010104", "VPFE520100"));
}

}  // namespace
}  // namespace corvane
