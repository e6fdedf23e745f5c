// Command latency end to end, on loopback: an "xAPBSC.cmd" broadcast to
// 127.255.255.255:3639 -> xap-hub -> corvane (50 ms receive delay, then the
// command) -> vaux-sim, which answers at once -> the read-back -> the
// "xapbsc.event" heard on 3639. Each iteration toggles zone 4 between On and
// Mute, so every command changes the Status record. Runs in a network
// namespace of its own when the system allows it.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/folders.h"
#include "program_bench.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using corvane::testing::Eventually;
using corvane::testing::Occurrences;
using corvane::testing::Subprocess;
using corvane::testing::TempDir;
using corvane::testing::TestUdpSocket;
using Clock = std::chrono::steady_clock;
using corvane::bench::Ms;
using corvane::bench::Percentile;
using corvane::bench::SimPort;
using corvane::bench::UseOwnBinDir;

void BM_CommandLatency(benchmark::State& state) {
  UseOwnBinDir();
  const bool private_net = corvane::testing::EnterPrivateNetwork();
  TempDir dir;
  Subprocess hub, sim, corvane;
  auto stop_all = [&] {
    corvane.Stop(SIGTERM);
    sim.Stop(SIGTERM);
    hub.Stop(SIGTERM);
  };
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
  if (!Eventually([&] { return hub.Stdout().find("client " + me + " at") != std::string::npos; })) {
    state.SkipWithError("corvane did not come up");
    stop_all();
    return;
  }
  while (listener.Receive(300ms)) {
  }

  std::vector<double> total, to_sim;
  int level = 1;
  for (auto _ : state) {
    const size_t seen = Occurrences(sim.Stdout(), "<- VP2104");
    const std::string cmd =
        "xap-header\n{\nv=13\nhop=1\nuid=FF.ABCD:00\nclass=xAPBSC.cmd\n"
        "source=bench.client.x\ntarget=" +
        me + ":>\n}\noutput.state.1\n{\nID=0A\nLevel=" + std::to_string(level) + "\n}\n";
    level = level == 1 ? 2 : 1;
    const auto t0 = Clock::now();
    sender.SendTo(cmd, "127.255.255.255", 3639);
    // Seen by the simulator: its "<- command" line (polled, so a little late).
    Clock::time_point t1{};
    while (Clock::now() - t0 < 5s) {
      if (Occurrences(sim.Stdout(), "<- VP2104") > seen) {
        t1 = Clock::now();
        break;
      }
      std::this_thread::sleep_for(100us);
    }
    Clock::time_point t2{};
    while (Clock::now() - t0 < 5s) {
      auto d = listener.Receive(100ms);
      if (d && d->data.find("\nuid=FF.0022:0A\nclass=xapbsc.event\n") != std::string::npos) {
        t2 = Clock::now();
        break;
      }
    }
    if (t1 == Clock::time_point{} || t2 == Clock::time_point{}) {
      state.SkipWithError("no command or no event");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
    total.push_back(Ms(t2 - t0));
    to_sim.push_back(Ms(t1 - t0));
  }
  const double median = Percentile(total, 0.5);
  state.counters["median_ms"] = median;
  state.counters["median_to_sim_ms"] = Percentile(to_sim, 0.5);
  state.counters["receive_delay_share"] = median > 0 ? 50.0 / median : 0;
  state.counters["private_net"] = private_net ? 1 : 0;
  stop_all();
}
BENCHMARK(BM_CommandLatency)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace
