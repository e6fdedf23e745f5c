// The bridge end to end: xap-hub on port 3639, vaux-sim on TCP, corvane
// pointed at both, and this test as an xAP client that broadcasts to
// 127.255.255.255 (the hub relays to corvane) and hears corvane's broadcasts
// on 3639 beside the hub. Each test moves into a network namespace of its
// own when the system allows it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../device_integration/sim_harness.h"
#include "bridge/xap_text.h"
#include "core/folders.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::ReadFile;
using testing::SavedValue;
using testing::Sim;
using testing::Subprocess;
using testing::TempDir;
using testing::TestUdpSocket;
using testing::WriteFile;

constexpr uint16_t kXapPort = 3639;
const std::string kBroadcast = "127.255.255.255";

// One zone line of Corvane.ini: name, used, X10 address.
std::string ZoneLine(int n, const std::string& name, bool used, const std::string& x10 = "") {
  char key[32];
  std::snprintf(key, sizeof key, "Vaux_Aris_700_%02X", n);
  const int kind = (n - 1) / 6;
  return std::string(key) + "=1/1/2000 12:00:00 AM;0;" + name + ";" + (used ? "True" : "False") +
         ";" + std::to_string(kind) + ";;False;" + x10 + ";\r\n";
}
std::string DefaultName(int n) {
  static const char* kinds[] = {"Source",   "Status",        "VolumeDb",       "BassDB",
                                "TrebleDb", "TurnOn_MuteDb", "TurnOn_VolumeDb"};
  return "Channel" + std::to_string((n - 1) % 6 + 1) + "_" + kinds[(n - 1) / 6];
}
// Zone lines with only `used` records used.
std::string UsedOnly(const std::set<int>& used) {
  std::string out;
  for (int n = 1; n <= 42; ++n) out += ZoneLine(n, DefaultName(n), used.count(n) != 0);
  return out;
}

class BridgeE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::EnterPrivateNetwork()) {
      std::fprintf(stderr, "note: no private network namespace; using the shared loopback\n");
    }
    me_ = "zyn.Vaux." + ComputerName();
  }
  void TearDown() override {
    if (corvane_.Running()) corvane_.Stop(SIGTERM);
  }

  // Starts the hub and the simulator, then corvane with `vaux_lines` added to
  // section Vaux of its Corvane.ini and `more` appended after it; returns
  // once the hub relays to corvane.
  void Start(const std::string& vaux_lines = "", const std::string& more = "") {
    // Made here, after SetUp: a socket belongs to the network it was made in.
    listener_ = std::make_unique<TestUdpSocket>();
    sender_ = std::make_unique<TestUdpSocket>();
    ASSERT_EQ(listener_->Bind(kBroadcast, kXapPort), 0);
    ASSERT_EQ(sender_->Bind("0.0.0.0", 0, false), 0);
    ASSERT_TRUE(hub_.Start({"xap-hub", "--verbose"}, dir_.File("hub")));
    ASSERT_TRUE(Eventually([&] { return hub_.Stdout().find("listening") != std::string::npos; }));
    ASSERT_TRUE(sim_.Start(dir_, {"--tcp", "0"}));
    testing::WriteLoopbackXapConfig(dir_.File("home"), kBroadcast);
    WriteFile(
        dir_.File("home/Config/Corvane.ini"),
        "[Vaux]\r\nUPBCommPort=" + sim_.address + "\r\nSerialIP=127.0.0.1\r\n" + vaux_lines + more);
    ASSERT_TRUE(corvane_.Start({"corvane", "--home", dir_.File("home")}, dir_.File("corvane")));
    ASSERT_TRUE(Eventually([&] {
      return hub_.Stdout().find("client " + me_ + " at") != std::string::npos &&
             corvane_.Stderr().find("Corvane running") != std::string::npos;
    }));
    Marker();  // everything start-up sent is out of the way
    sim_commands_ = sim_.Commands().size();
  }

  void Send(const std::string& text) { ASSERT_TRUE(sender_->SendTo(text, kBroadcast, kXapPort)); }
  std::string Message(const std::string& cls, const std::string& target,
                      const std::vector<std::vector<std::string>>& sections) {
    return testing::XapText(cls, "test.client.e2e", target, sections);
  }
  std::string Cmd(const std::string& sub, const std::string& id, const std::string& level) {
    return Message("xAPBSC.cmd", me_ + ":" + sub,
                   {{"output.state.1", "ID=" + id, "Level=" + level}});
  }

  struct Heard {
    std::string text;
    std::chrono::steady_clock::time_point at;
  };
  // What corvane sends (event-log messages left out) until `stop` is true
  // of a message or the time is up; the stopping message is not returned.
  template <typename F>
  std::vector<Heard> Collect(F stop, std::chrono::milliseconds timeout, bool* stopped) {
    std::vector<Heard> out;
    *stopped = false;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      auto d = listener_->Receive(100ms);
      if (!d) continue;
      const std::string& t = d->data;
      if (t.find("\nsource=" + me_) == std::string::npos) continue;  // ours, or others'
      if (t.find("\nclass=Homeseer.Event\n") != std::string::npos) continue;
      if (stop(t)) {
        *stopped = true;
        break;
      }
      out.push_back({t, std::chrono::steady_clock::now()});
    }
    return out;
  }
  // Sends an echo request and collects what corvane sends until its answer:
  // corvane handles messages in order and sends at once what is not paced,
  // so that is everything the messages before it caused, query answers
  // waiting in the pacing queue aside.
  std::vector<Heard> Marker(std::chrono::milliseconds timeout = 20s) {
    // Commands are carried out after the message that asked for them has
    // been handled, so an echo could overtake them: first let the
    // controller traffic come to rest (no new command for 300 ms).
    const auto end = std::chrono::steady_clock::now() + timeout;
    size_t seen = static_cast<size_t>(-1);
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(300ms);
      const size_t now = sim_.Commands().size();
      if (now == seen) break;
      seen = now;
    }
    std::string tag = "m";
    tag += std::to_string(++markers_);
    Send(Message("WDT.Echo", me_, {{"Echo.Query", "Query=" + tag}}));
    bool answered = false;
    auto out = Collect(
        [&](const std::string& t) {
          return t.find("\nResponse=" + tag + "\n") != std::string::npos;
        },
        timeout, &answered);
    if (!answered) ADD_FAILURE() << "no answer to echo " << tag << "\n" << corvane_.Stderr();
    return out;
  }
  // The next `n` query answers.
  std::vector<Heard> Answers(size_t n) {
    bool done = false;
    std::vector<Heard> out;
    Collect(
        [&](const std::string& t) {
          if (t.find("\nclass=xAPBSC.") != std::string::npos) {
            out.push_back({t, std::chrono::steady_clock::now()});
          }
          return out.size() == n;
        },
        20s, &done);
    return out;
  }
  static std::vector<std::string> Texts(const std::vector<Heard>& heard) {
    std::vector<std::string> out;
    for (const auto& h : heard) out.push_back(h.text);
    return out;
  }
  // The controller commands received since the last call.
  std::vector<std::string> SimCommands() {
    const auto all = sim_.Commands();
    std::vector<std::string> out(all.begin() + static_cast<long>(sim_commands_), all.end());
    sim_commands_ = all.size();
    return out;
  }
  // The controls among them (VP21 zone function value), as "zone function".
  std::multiset<std::string> Controls(const std::vector<std::string>& commands) {
    std::multiset<std::string> out;
    for (const auto& c : commands) {
      if (c.rfind("VP21", 0) == 0) out.insert(c.substr(4, 2) + " " + c.substr(6, 2));
      if (c.rfind("VPX2110", 0) == 0) out.insert(c.substr(7, 2) + " X");
    }
    return out;
  }
  // Stops corvane and reads what it saved.
  std::string StopAndReadIni() {
    EXPECT_EQ(corvane_.Stop(SIGTERM), 0);
    return ReadFile(dir_.File("home/Config/Corvane.ini"));
  }

  TempDir dir_;
  std::string me_;
  std::unique_ptr<TestUdpSocket> listener_, sender_;
  Subprocess hub_, corvane_;
  Sim sim_;
  size_t sim_commands_ = 0;
  int markers_ = 0;
};

// The ninth field of a saved zone line: the last command applied.
std::string SavedLastCommand(const std::string& ini, int n) {
  char key[40];
  std::snprintf(key, sizeof key, "Vaux_Aris_700_%02X=", n);
  const size_t at = ini.find(key);
  if (at == std::string::npos) return "?";
  const size_t end = ini.find("\r\n", at);
  const std::string line = ini.substr(at, end - at);
  return line.substr(line.rfind(';') + 1);
}

TEST_F(BridgeE2ETest, WildcardIdCommandsEveryRecord) {
  Start();
  Send(Cmd(">", "*", "40"));
  Marker(60s);
  const auto controls = Controls(SimCommands());
  // Which records a sub-address or ID selects is checked on virtual time
  // (CommandTest.SubAddressAndIdSelectRecords); here the whole path.
  // Every zone: its source, volume, bass, treble and both turn-on levels;
  // level 40 is no Status request, so the Status records send nothing.
  for (int zone = 1; zone <= 6; ++zone) {
    std::string z = "0";
    z += std::to_string(zone);
    for (const std::string f : {"01", "02", "03", "04"}) {
      EXPECT_GE(controls.count(z + " " + f), 1u) << z << " " << f;
    }
    EXPECT_GE(controls.count(z + " X"), 2u) << z;
  }
  const std::string ini = StopAndReadIni();
  for (int n = 1; n <= 42; ++n) EXPECT_EQ(SavedLastCommand(ini, n), "40") << n;
}

// Each change sends one event, as xap-send prints it and as a client hears
// it (an X10 event for a record with an X10 address); a repeat sends none.
TEST_F(BridgeE2ETest, EachChangeSendsOneEvent) {
  Start(ZoneLine(12, "Den", true, "A1"));
  Subprocess tool;  // listening beside this test's own listener and the hub
  ASSERT_TRUE(tool.Start(
      {"xap-send", "--class", "xAPBSC.cmd", "--target", "zyn.Vaux.*:>", "output.state.1", "ID=0A",
       "Level=2", "--listen", "10", "--filter-class", "xapbsc.event", "--count", "1"},
      dir_.File("tool")));
  EXPECT_EQ(tool.Wait(15s), 0);
  EXPECT_NE(tool.Stdout().find("\nclass=xapbsc.event\nsource=" + me_ +
                               ":Corvane_Channel4_Status.Vaux_Aris_700_0A.Status\n}\n"
                               "output.state\n{\nstate=ON\nDisplayText=2 / Mute\nlevel=2/2\n}\n"),
            std::string::npos)
      << tool.Stdout() << tool.Stderr();
  Marker();
  // Zone 4, muted above, turned on: its Status record (10) changes only.
  Send(Cmd(">", "0A", "1"));
  auto heard = Texts(Marker());
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0],
            "xap-header\n{\nv=13\nhop=1\nuid=FF.0022:0A\nclass=xapbsc.event\nsource=" + me_ +
                ":Corvane_Channel4_Status.Vaux_Aris_700_0A.Status\n}\noutput.state\n{\n"
                "state=ON\nDisplayText=1 / On\nlevel=1/2\n}\n");
  Send(Cmd(">", "0A", "1"));
  EXPECT_TRUE(Marker().empty());
  Send(Cmd(">", "0C", "2"));  // zone 6 (off) muted: value 2
  heard = Texts(Marker());
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], "xap-header\n{\nv=13\nhop=1\nuid=FF.0022:00\nclass=xap-x10.event\nsource=" +
                          me_ + "\n}\nxap-x10.event\n{\nevent=DIM\ndevice=A1\ncount=2\n}\n");
}

TEST_F(BridgeE2ETest, WholeQueryAnswersEveryUsedRecordPaced) {
  Start(UsedOnly({1, 7, 13}));
  const auto sent_at = std::chrono::steady_clock::now();
  Send(Message("xAPBSC.query", me_ + ":>", {{"request"}}));
  const auto heard = Answers(6);  // a value list and an info message per record
  EXPECT_TRUE(Marker().empty());  // and nothing more
  const auto commands = SimCommands();
  ASSERT_GE(commands.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 6),
            (std::vector<std::string>{"VPFE520100", "VPFE520200", "VPFE520300", "VPFE520400",
                                      "VPFE520500", "VPFE520600"}));
  ASSERT_EQ(heard.size(), 6u);
  EXPECT_GE(heard[0].at - sent_at, 1900ms);
  for (size_t i = 1; i < heard.size(); ++i) {
    EXPECT_GE(heard[i].at - heard[i - 1].at, 150ms) << i;
  }
  // Their order and texts are checked on virtual time (QueryTest).
  // A status query reads only its zones and answers at once.
  const auto asked = std::chrono::steady_clock::now();
  Send(Message("xAPBSC.query", me_ + ":*.*.status", {{"request"}}));
  const auto status = Answers(2);
  EXPECT_TRUE(Marker().empty());
  EXPECT_EQ(SimCommands(), std::vector<std::string>{"VPFE520100"});
  ASSERT_EQ(status.size(), 2u);
  EXPECT_LT(status[0].at - asked, 1500ms);
}

TEST_F(BridgeE2ETest, EchoRoleTimeAndFilteredSources) {
  Start("", "[Devices]\r\nweather=\r\n[Received]\r\ntest.client.e2e~weather.report=weather;\r\n");
  Send(Message("WDT.Echo", "", {{"Echo.Query", "Query=Hello"}}));
  Send(Message("Homeseer.Role", "", {{"Role.Query", "Role=ANY"}}));
  Send(Message("Time.Today", "", {{"Time.Today", "Sunrise=06:12", "Sunset=21:40"}}));
  // A filtered source's record takes its latest items, whatever the target.
  Send(Message("weather.report", "", {{"Outside", "temp=21.5", "hum=40"}}));
  Send(Message("weather.report", "somebody.else.entirely",
               {{"Outside", "temp=22"}, {"Inside", "temp=20"}}));
  const auto heard = Texts(Marker());
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], "xap-header\n{\nv=13\nhop=1\nuid=FF.0022:00\nclass=WDT.Echo\nsource=" + me_ +
                          "\ntarget=test.client.e2e\n}\nEcho.Response\n{\nResponse=hello\n}\n");
  EXPECT_EQ(heard[1],
            "xap-header\n{\nv=13\nhop=1\nuid=FF.0022:00\nclass=Homeseer.Role\nsource=" + me_ +
                "\n}\nRole.Notification\n{\nRole=UPB\nPath=" + dir_.File("home/corvane") +
                "\nForm=EchoWindow\n}\n");
  const std::string ini = StopAndReadIni();
  EXPECT_NE(ini.find("weather="), std::string::npos);
  EXPECT_NE(ini.find(";outside.temp;inside.temp\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("weather.outside.temp=22\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("weather.inside.temp=20\r\n"), std::string::npos) << ini;
}

TEST_F(BridgeE2ETest, BadInputNeitherStopsNorFloodsTheBridge) {
  Start(UsedOnly({7}));
  // Malformed messages (the full list is checked on virtual time).
  const std::vector<std::string> odd = {
      "xap-header\n{\nclass=xAPBSC.cmd\ntarget=" + me_ + ":>\n}\n",
      Message("xAPBSC.cmd", me_ + ":>.>.>", {{"output.state.1", "ID=zz!", "Level=x"}}),
      std::string(60000, 'x'),
  };
  for (const auto& m : odd) Send(m);
  // A burst of status queries: an answer already waiting is not queued
  // again, so a few answers leave, at most one every 200 ms.
  for (int i = 0; i < 50; ++i) Send(Message("xAPBSC.query", me_ + ":*.*.status", {{"request"}}));
  bool stopped = false;
  const auto heard = Collect([](const std::string&) { return false; }, 2500ms, &stopped);
  ASSERT_GE(heard.size(), 3u);
  EXPECT_LE(heard.size(), 14u);  // paced: about 2.5 s / 200 ms
  for (size_t i = 1; i < heard.size(); ++i) {
    EXPECT_GE(heard[i].at - heard[i - 1].at, 150ms) << i;
  }
  EXPECT_TRUE(Controls(SimCommands()).empty());
  EXPECT_TRUE(corvane_.Running());
  EXPECT_EQ(corvane_.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace corvane
