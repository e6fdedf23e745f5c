// A main script with an include in the running program: it spawns a script
// in a process of its own, and loops until its time-out while the program
// keeps answering on xAP; the next filtered xAP message (tag and items) then
// runs it as usual. The unit tests hold the rest of the script members.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "bridge/xap_text.h"
#include "core/folders.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::Subprocess;
using testing::TempDir;
using testing::TestUdpSocket;
using testing::WriteFile;

constexpr uint16_t kXapPort = 3639;
const std::string kBroadcast = "127.255.255.255";
const std::string kClient = "test.client.e2e";

const char kMainScript[] = R"(' The test's main script.
#include "Lib.txt"
Sub Main(tag)
  Select Case LCase(tag)
    Case "hall"
      Dim e, k, items : Set e = Request("LastEvent")
      For Each k In e : items = items & k & "=" & e(k) & ";" : Next
      Reply tag, items
    Case "spawner"
      Dim p : Set p = Spawn("Child.txt", "Main", "hello")
      Reply tag, Trim(Replace(p.StdOut.ReadAll, vbLf, ""))
    Case "looper"
      Do : Loop
  End Select
End Sub
)";

const char kLibScript[] = R"(Sub Reply(tag, value)
  SendXapMessage "", "script.reply", "reply", "tag" & Chr(1) & tag & Chr(0) & "value" & Chr(1) & value, "", "", ""
End Sub
)";

const char kChildScript[] = R"(Sub Main(p)
  xap.SendXapMessage "", "script.child", "child", "said" & Chr(1) & p, "", "", ""
  WScript.Echo "child " & p & " " & xap.Version
End Sub
)";

class ScriptingE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnterPrivateNetwork();
    me_ = "zyn.Vaux." + ComputerName();
    listener_ = std::make_unique<TestUdpSocket>();
    sender_ = std::make_unique<TestUdpSocket>();
    ASSERT_EQ(listener_->Bind(kBroadcast, kXapPort), 0);
    ASSERT_EQ(sender_->Bind("0.0.0.0", 0, false), 0);
    ASSERT_TRUE(hub_.Start({"xap-hub", "--verbose"}, dir_.File("hub")));
    // corvane's first heartbeat must find the hub listening.
    ASSERT_TRUE(Eventually([&] { return hub_.Printed("listening"); }));
    testing::WriteLoopbackXapConfig(dir_.File("home"), kBroadcast);
    ::mkdir(dir_.File("home/Scripts").c_str(), 0755);
    WriteFile(dir_.File("home/Scripts/Corvane.txt"), kMainScript);
    WriteFile(dir_.File("home/Scripts/lib.txt"), kLibScript);
    WriteFile(dir_.File("home/Scripts/Child.txt"), kChildScript);
    // Three watched message classes of the test client raise events.
    WriteFile(dir_.File("home/Config/Corvane.ini"),
              "[Vaux]\r\nScriptTimeout=5\r\nHTTPPort=0\r\n"
              "[Devices]\r\nhall=1/1/2000\r\nspawner=1/1/2000\r\nlooper=1/1/2000\r\n"
              "[Received]\r\n" +
                  kClient + "~sensor.data=hall;Motion\r\n" + kClient +
                  "~test.spawn=spawner;Go\r\n" + kClient + "~test.loop=looper;Go\r\n");
    ASSERT_TRUE(StartCorvane(corvane_, dir_.File("home"), dir_.File("corvane")));
    // The hub relays to corvane once it heard a heartbeat: wait for an echo.
    ASSERT_TRUE(Eventually([&] { return Echo("ready", 500ms); }, 20s));
  }
  void TearDown() override {
    if (corvane_.Running()) corvane_.Stop(SIGTERM);
  }

  void Send(const std::string& cls, const std::vector<std::vector<std::string>>& sections) {
    ASSERT_TRUE(
        sender_->SendTo(testing::XapText(cls, kClient, "", sections), kBroadcast, kXapPort));
  }
  // The next datagram holding `needle` within `timeout`, or "".
  std::string Hear(const std::string& needle, std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      auto d = listener_->Receive(100ms);
      if (d && d->data.find(needle) != std::string::npos) return d->data;
    }
    return "";
  }
  bool Echo(const std::string& tag, std::chrono::milliseconds timeout) {
    EXPECT_TRUE(sender_->SendTo(
        testing::XapText("WDT.Echo", kClient, me_, {{"Echo.Query", "Query=" + tag}}), kBroadcast,
        kXapPort));
    return !Hear("\nResponse=" + tag + "\n", timeout).empty();
  }

  TempDir dir_;
  std::string me_;
  std::unique_ptr<TestUdpSocket> listener_, sender_;
  Subprocess hub_, corvane_;
};

TEST_F(ScriptingE2ETest, SpawnRunsTheWrappedScriptInAProcessOfItsOwn) {
  Send("test.spawn", {{"go", "now=1"}});
  EXPECT_FALSE(Hear("\nsaid=hello\n").empty()) << corvane_.Stderr();
  const std::string reply = Hear("\ntag=spawner\n");
  EXPECT_TRUE(testing::Has(reply, "\nvalue=child hello 1.6.174\n")) << reply;
}

TEST_F(ScriptingE2ETest, TheProgramAnswersWhileAScriptLoopsUntilItsTimeOut) {
  Send("test.loop", {{"go", "now=1"}});
  std::this_thread::sleep_for(500ms);  // the script is looping by now
  // Answered while the script still loops: before its time-out is reported.
  EXPECT_TRUE(Echo("during", 3s)) << corvane_.Stderr();
  EXPECT_FALSE(testing::Has(corvane_.Stderr(), "Script execution timed out"));
  EXPECT_TRUE(Eventually([&] { return corvane_.Printed("Script execution timed out"); }, 10s));
  EXPECT_TRUE(Eventually([&] {
    return testing::ReadFile(dir_.File("home/Data/Corvane.txt")).find("Script Run Error") !=
           std::string::npos;
  }));
  // The next event runs normally.
  Send("sensor.data", {{"sensor", "value=5"}});
  const std::string hall = Hear("\ntag=hall\n");
  EXPECT_TRUE(testing::Has(hall, "=5;")) << hall;
}

}  // namespace
}  // namespace corvane
