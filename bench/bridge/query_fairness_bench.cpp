// BSC queries under a chatty peer, on loopback with the real programs: a
// panel asks for the six zones' Status records four times a second
// (12 answers a query against 5 answers a second of pacing) for 75 s; after
// 60 s a second peer asks once for zone 3's volume. Reported: how long the
// second peer waited for its info, how much the corvane process's resident
// memory grew over the 75 s, and how many answers the first peer heard.
// Runs in a network namespace of its own when the system allows it.
#include <benchmark/benchmark.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <string>

#include "core/folders.h"
#include "program_bench.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using corvane::testing::Eventually;
using corvane::testing::Subprocess;
using corvane::testing::TempDir;
using corvane::testing::TestUdpSocket;
using Clock = std::chrono::steady_clock;
using corvane::bench::Ms;
using corvane::bench::SimPort;
using corvane::bench::UseOwnBinDir;

constexpr auto kChattyFor = 75s;
constexpr auto kQuietAt = 60s;
constexpr auto kChattyEvery = 250ms;
constexpr auto kQuietGivesUp = 60s;

// VmRSS of a process in kB; 0 when it cannot be read.
long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

std::string Query(const std::string& source, const std::string& target) {
  return "xap-header\n{\nv=13\nhop=1\nuid=FF.ABCE:00\nclass=xAPBSC.query\nsource=" + source +
         "\ntarget=" + target + "\n}\nrequest\n{\n}\n";
}

void BM_ChattyPeerAndAQuietOne(benchmark::State& state) {
  UseOwnBinDir();
  const bool private_net = corvane::testing::EnterPrivateNetwork();
  TempDir dir;
  Subprocess hub, sim, corvane;
  hub.Start({"xap-hub", "--verbose"}, dir.File("hub"));
  sim.Start({"vaux-sim", "--tcp", "0"}, dir.File("sim"));
  const std::string sim_port = SimPort(sim);
  corvane::testing::WriteLoopbackXapConfig(dir.File("home"), "127.255.255.255");
  corvane::testing::WriteFile(dir.File("home/Config/Corvane.ini"),
                              "[Vaux]\r\nUPBCommPort=" + sim_port + "\r\nSerialIP=127.0.0.1\r\n");
  TestUdpSocket listener, sender;
  listener.Bind("127.255.255.255", 3639);
  sender.Bind("0.0.0.0", 0, false);
  corvane.Start({"corvane", "--home", dir.File("home")}, dir.File("corvane"));
  const std::string me = "zyn.Vaux." + corvane::ComputerName();
  auto stop_all = [&] {
    corvane.Stop(SIGTERM);
    sim.Stop(SIGTERM);
    hub.Stop(SIGTERM);
  };
  if (!Eventually([&] { return hub.Stdout().find("client " + me + " at") != std::string::npos; })) {
    state.SkipWithError("corvane did not come up");
    stop_all();
    return;
  }
  while (listener.Receive(1s)) {
  }

  const std::string chatty = Query("bench.panel.chatty", me + ":*.*.status");
  const std::string quiet = Query("bench.remote.quiet", me + ":*.vaux_aris_700_0f.volumedb");
  for (auto _ : state) {
    const long rss_before = RssKb(corvane.pid());
    const auto start = Clock::now();
    auto next_chatty = start;
    Clock::time_point quiet_sent{}, quiet_answered{};
    long rss_after = 0;
    size_t chatty_answers = 0, queries = 0;
    while (true) {
      const auto now = Clock::now();
      if (now - start < kChattyFor && now >= next_chatty) {
        sender.SendTo(chatty, "127.255.255.255", 3639);
        ++queries;
        next_chatty += kChattyEvery;
      }
      if (now - start >= kChattyFor && rss_after == 0) rss_after = RssKb(corvane.pid());
      if (quiet_sent == Clock::time_point{} && now - start >= kQuietAt) {
        sender.SendTo(quiet, "127.255.255.255", 3639);
        quiet_sent = now;
      }
      const bool quiet_done =
          quiet_answered != Clock::time_point{} ||
          (quiet_sent != Clock::time_point{} && now - quiet_sent > kQuietGivesUp);
      if (rss_after != 0 && quiet_done) break;
      const auto d = listener.Receive(10ms);
      // Answers only: the queries themselves are heard here too.
      if (!d || (d->data.find("\nclass=xAPBSC.Info\n") == std::string::npos &&
                 d->data.find("\nclass=xAPBSC.Values\n") == std::string::npos)) {
        continue;
      }
      if (d->data.find("vaux_aris_700_0f.volumedb") != std::string::npos) {
        if (quiet_answered == Clock::time_point{} &&
            d->data.find("\nclass=xAPBSC.Info\n") != std::string::npos) {
          quiet_answered = Clock::now();
        }
      } else {
        ++chatty_answers;
      }
    }
    const bool answered = quiet_answered != Clock::time_point{};
    state.counters["quiet_wait_ms"] = answered ? Ms(quiet_answered - quiet_sent) : -1;
    state.counters["rss_before_kB"] = static_cast<double>(rss_before);
    state.counters["rss_growth_kB"] = static_cast<double>(rss_after - rss_before);
    state.counters["chatty_queries"] = static_cast<double>(queries);
    state.counters["chatty_answers"] = static_cast<double>(chatty_answers);
    if (!answered) state.SkipWithError("the quiet peer got no answer");
  }
  state.counters["private_net"] = private_net ? 1 : 0;
  stop_all();
}
BENCHMARK(BM_ChattyPeerAndAQuietOne)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
