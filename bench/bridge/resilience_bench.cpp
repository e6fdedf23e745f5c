// How the program holds up, end to end on loopback with the real corvane,
// xap-hub and vaux-sim (set CORVANE_BIN_DIR to the folder holding them;
// default: this program's folder):
//  - SilentControllerPauses: the controller stops answering (vaux-sim is
//    stopped with SIGSTOP, its connection stays up) and a burst of 50 BSC
//    commands arrives; meanwhile a WDT.Echo is asked and the status page
//    fetched every 50 ms. Reports the longest pause of each.
//  - HubRestartRecovery: the hub is restarted (it forgets its clients); a
//    command is broadcast every 500 ms until the controller receives one.
//    Reports the seconds from the restart to the first command acted on.
//  - MalformedFloodLogBytes: 100,000 datagrams with a repeated section sent
//    straight to corvane's relay port; reports the bytes the error log and
//    standard error grew by, in all and per datagram.
//  - FaultMatrix/N: the controller misbehaves in one of five ways (answers
//    after 0.7 s; after 2.3 s; is silent for its first 16 s; its TCP adapter
//    is away for 6 s; its serial device, a pty behind a fixed symbolic link,
//    is removed and re-created 4 s later). Six requests are made during the
//    fault (three Downs for one volume, a Toggle, a source, an Up). Reports
//    the requests carried out, whether their order was kept, the seconds
//    from the fault's end to the last one carried out, and the longest
//    pause of xAP echo and status page answers throughout.
// Every loop is bounded in count and time; all traffic stays on loopback.
// Each runs in a network namespace of its own when the system allows it.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
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
using corvane::bench::SimPort;
using corvane::bench::UseOwnBinDir;

constexpr uint16_t kXapPort = 3639;
constexpr char kBroadcast[] = "127.255.255.255";

long FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

std::string Hex(int n) {
  static const char* d = "0123456789ABCDEF";
  return std::string{d[(n >> 4) & 15], d[n & 15]};
}

std::string Message(const std::string& cls, const std::string& target, const std::string& body) {
  std::string t = "xap-header\n{\nv=13\nhop=1\nuid=FF.ABCD:00\nclass=" + cls +
                  "\nsource=bench.client.x\n";
  if (!target.empty()) t += "target=" + target + "\n";
  return t + "}\n" + body;
}

// The time one GET of the status page takes (to the end of the answer);
// -1 when it fails or takes over 5 s.
double PageMs(uint16_t port) {
  const auto t0 = Clock::now();
  const int fd = corvane::testing::ConnectLoopbackTcp(port);
  if (fd < 0) return -1;
  const std::string req = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (::write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) {
    ::close(fd);
    return -1;
  }
  char buf[16384];
  double result = -1;
  while (Clock::now() - t0 < 5s) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
      result = Ms(Clock::now() - t0);
      break;
    }
  }
  ::close(fd);
  return result;
}

// How the program answered while a fault lasted: the slowest xAP echo and
// status page seen, and how many of the asked pairs got no answer.
struct Answers {
  double max_echo = 0, max_page = 0;
  int failures = 0, asked = 0;
  // One echo and one page fetch, then the pause between probes.
  template <typename R>
  void Probe(R& rig) {
    const double echo = rig.EchoMs(++asked);
    const double page = PageMs(rig.web_port);
    if (echo < 0 || page < 0) ++failures;
    max_echo = std::max(max_echo, echo);
    max_page = std::max(max_page, page);
    std::this_thread::sleep_for(50ms);
  }
};

// The hub, the simulator and corvane with its web page on a free port.
struct Rig {
  // `sim_args`: how the simulator misbehaves; `serial`: it serves a pty
  // behind a symbolic link instead of TCP.
  explicit Rig(bool controller = true, std::vector<std::string> sim_args = {},
               bool serial = false) {
    me = "zyn.Vaux." + corvane::ComputerName();
    listener.Bind(kBroadcast, kXapPort);
    sender.Bind("0.0.0.0", 0, false);
    StartHub();
    std::string vaux = "[Vaux]\r\nHTTPPort=" + std::to_string(web_port) + "\r\n";
    if (controller) {
      args = std::move(sim_args);
      if (serial) {
        args.insert(args.end(), {"--pty", "--link", dir.File("usb-vaux")});
      } else {
        args.insert(args.end(), {"--tcp", "0"});
      }
      StartSim(args);
      if (serial) {
        Eventually([&] { return ::access(dir.File("usb-vaux").c_str(), F_OK) == 0; });
        vaux += "UPBCommPort=" + dir.File("usb-vaux") + "\r\n";
      } else {
        const std::string sim_port = SimPort(sim);
        vaux += "UPBCommPort=" + sim_port + "\r\nSerialIP=127.0.0.1\r\n";
        // A restarted simulator takes the same port, as an adapter would.
        std::replace(args.begin(), args.end(), std::string("0"), sim_port);
      }
    }
    corvane::testing::WriteLoopbackXapConfig(dir.File("home"), kBroadcast);
    corvane::testing::WriteFile(dir.File("home/Config/Corvane.ini"), vaux);
    corvane.Start({"corvane", "--home", dir.File("home")}, dir.File("corvane"));
    up = Eventually(
        [&] {
          return hub.Stdout().find("client " + me + " at") != std::string::npos &&
                 corvane.Stderr().find("Corvane running") != std::string::npos;
        },
        60s);  // a 2.3 s controller takes 35 s to read at start-up
    while (listener.Receive(300ms)) {
    }
  }
  ~Rig() {
    if (sim.Running()) ::kill(sim.pid(), SIGCONT);
    corvane.Stop(SIGTERM);
    sim.Stop(SIGTERM);
    hub.Stop(SIGTERM);
  }
  void StartSim(const std::vector<std::string>& sim_args) {
    std::vector<std::string> all = {"vaux-sim"};
    all.insert(all.end(), sim_args.begin(), sim_args.end());
    sim.Start(all, dir.File("sim" + std::to_string(++sims)));
  }
  void StartHub() {
    hub.Start({"xap-hub", "--verbose"}, dir.File("hub" + std::to_string(++hubs)));
    Eventually([&] { return hub.Stdout().find("listening") != std::string::npos; });
  }
  void Send(const std::string& text) { sender.SendTo(text, kBroadcast, kXapPort); }

  // Asks for an echo and waits (up to 10 s) for its answer; the time taken,
  // or -1.
  double EchoMs(int tag) {
    // Built by appending: "q" + std::to_string(...) trips a false -Wrestrict
    // in g++ 12 at -O3.
    std::string query = "q";
    query += std::to_string(tag);
    const auto t0 = Clock::now();
    Send(Message("WDT.Echo", "", "Echo.Query\n{\nQuery=" + query + "\n}\n"));
    while (Clock::now() - t0 < 10s) {
      auto d = listener.Receive(50ms);
      if (d && d->data.find("\nResponse=" + query + "\n") != std::string::npos) {
        return Ms(Clock::now() - t0);
      }
    }
    return -1;
  }

  // First: the sockets below belong to the network they are made in.
  bool private_net = (UseOwnBinDir(), corvane::testing::EnterPrivateNetwork());
  TempDir dir;
  Subprocess hub, sim, corvane;
  TestUdpSocket listener, sender;
  uint16_t web_port = corvane::testing::FreeTcpPort();
  std::string me;
  bool up = false;
  int hubs = 0;
  int sims = 0;
  std::vector<std::string> args;  // the simulator's, for a restart
};

void BM_SilentControllerPauses(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig;
    if (!rig.up) {
      state.SkipWithError("corvane did not come up");
      return;
    }
    // The controller goes silent with its connection open.
    ::kill(rig.sim.pid(), SIGSTOP);
    const auto t0 = Clock::now();
    for (int i = 0; i < 50; ++i) {
      const int record = 1 + i % 42;
      rig.Send(Message("xAPBSC.cmd", rig.me + ":>",
                       "output.state.1\n{\nID=" + Hex(record) + "\nLevel=" + std::to_string(3 + i % 5) +
                           "\n}\n"));
    }
    Answers answers;
    while (Clock::now() - t0 < 15s && answers.asked < 200) answers.Probe(rig);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    state.counters["max_echo_ms"] = answers.max_echo;
    state.counters["max_page_ms"] = answers.max_page;
    state.counters["probes"] = answers.asked;
    state.counters["failed_probes"] = answers.failures;
    state.counters["link_down_reports"] =
        static_cast<double>(Occurrences(rig.corvane.Stderr(), "not answering ("));
    state.counters["private_net"] = rig.private_net ? 1 : 0;
  }
}
BENCHMARK(BM_SilentControllerPauses)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_HubRestartRecovery(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig;
    if (!rig.up) {
      state.SkipWithError("corvane did not come up");
      return;
    }
    rig.hub.Stop(SIGTERM);
    rig.StartHub();  // knows no client yet
    const auto t0 = Clock::now();
    const size_t seen = Occurrences(rig.sim.Stdout(), "<- VP2104");
    double seconds = -1;
    int level = 1;
    for (int sent = 0; sent < 200 && Clock::now() - t0 < 90s; ++sent) {
      rig.Send(Message("xAPBSC.cmd", rig.me + ":>",
                       "output.state.1\n{\nID=0A\nLevel=" + std::to_string(level) + "\n}\n"));
      level = level == 1 ? 2 : 1;
      std::this_thread::sleep_for(500ms);
      if (Occurrences(rig.sim.Stdout(), "<- VP2104") > seen) {
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        break;
      }
    }
    if (seconds < 0) {
      state.SkipWithError("no command reached the controller within 90 s");
      return;
    }
    state.SetIterationTime(seconds);
    state.counters["seconds_to_first_command"] = seconds;
    state.counters["private_net"] = rig.private_net ? 1 : 0;
  }
}
BENCHMARK(BM_HubRestartRecovery)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_MalformedFloodLogBytes(benchmark::State& state) {
  constexpr int kDatagrams = 100'000;
  for (auto _ : state) {
    Rig rig(false);
    if (!rig.up) {
      state.SkipWithError("corvane did not come up");
      return;
    }
    const std::string err_path = rig.dir.File("corvane.err");
    const std::string log_path = rig.dir.File("home/Data/Corvane.txt");
    const std::string err_log = rig.corvane.Stderr();
    const size_t at = err_log.find("Using xAP port ");
    const auto port = static_cast<uint16_t>(std::atoi(err_log.c_str() + at + 15));
    const long err_before = FileSize(err_path);
    const long log_before = FileSize(log_path) + FileSize(log_path + ".1");
    const std::string bad = Message("bench.flood", "",
                                    "block\n{\na=1\n}\nblock\n{\nb=2\n}\n");
    const auto t0 = Clock::now();
    int sent = 0;
    // Straight to the relay port, in bursts the receive queue can take.
    while (sent < kDatagrams && Clock::now() - t0 < 120s) {
      for (int i = 0; i < 500 && sent < kDatagrams; ++i, ++sent) {
        rig.sender.SendTo(bad, "127.0.0.1", port);
      }
      std::this_thread::sleep_for(2ms);
    }
    const double send_s = std::chrono::duration<double>(Clock::now() - t0).count();
    std::this_thread::sleep_for(2s);
    rig.corvane.Stop(SIGTERM);  // writes the counts still held back
    if (std::getenv("BENCH_VERBOSE")) std::fprintf(stderr, "%s\n", rig.corvane.Stderr().c_str());
    const long err_bytes = FileSize(err_path) - err_before;
    const long log_bytes = FileSize(log_path) + FileSize(log_path + ".1") - log_before;
    state.SetIterationTime(send_s);
    state.counters["datagrams"] = sent;
    state.counters["error_log_bytes"] = static_cast<double>(log_bytes);
    state.counters["stderr_bytes"] = static_cast<double>(err_bytes);
    state.counters["bytes_per_datagram"] =
        sent > 0 ? static_cast<double>(log_bytes + err_bytes) / sent : 0;
    state.counters["private_net"] = rig.private_net ? 1 : 0;
  }
}
BENCHMARK(BM_MalformedFloodLogBytes)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

// The control commands a controller received, one per step: a command sent
// again (a read-back retry) is not counted twice. Keyed by zone and function
// ("0102" zone 1 volume; mute and unmute both count as "01MU").
std::vector<std::pair<std::string, std::string>> Steps(const std::string& out) {
  std::vector<std::pair<std::string, std::string>> steps;
  for (size_t at = out.find("<- VP21"); at != std::string::npos;
       at = out.find("<- VP21", at + 1)) {
    const std::string cmd = out.substr(at + 3, 10);
    std::string key = cmd.substr(4, 4);
    if (key.substr(2) == "28" || key.substr(2) == "1B") key = key.substr(0, 2) + "MU";
    if (!steps.empty() && steps.back().second == cmd) continue;
    steps.emplace_back(key, cmd);
  }
  return steps;
}

enum Fault { kSlow07, kSlow23, kSilent10, kAdapterAway6, kSerialReplug };

void BM_FaultMatrix(benchmark::State& state) {
  const auto fault = static_cast<Fault>(state.range(0));
  std::vector<std::string> sim_args;
  if (fault == kSlow07) sim_args = {"--fault", "slow", "--slow-ms", "700"};
  if (fault == kSlow23) sim_args = {"--fault", "slow", "--slow-ms", "2300"};
  // Start-up with a silent controller takes 9 s (three unanswered reads),
  // so the requests made once corvane is up meet the last 6 s of silence.
  if (fault == kSilent10) sim_args = {"--silent-for", "16"};
  for (auto _ : state) {
    const auto sim_started = Clock::now();
    Rig rig(true, sim_args, fault == kSerialReplug);
    if (!rig.up) {
      state.SkipWithError("corvane did not come up");
      return;
    }
    Answers answers;
    auto probe_for = [&](std::chrono::milliseconds span, const std::function<bool()>& done) {
      const auto end = Clock::now() + span;
      while (Clock::now() < end && !(done && done())) answers.Probe(rig);
    };
    const bool outage = fault == kAdapterAway6 || fault == kSerialReplug;
    if (outage) rig.sim.Stop(SIGTERM);
    const auto fault_start = Clock::now();
    // The requests, 150 ms apart: three Downs of zone 1's volume, a Toggle
    // of zone 1, source 3 for zone 2, an Up of zone 2's volume.
    const std::vector<std::pair<std::string, std::string>> requests = {
        {"0D", "1"}, {"0D", "1"}, {"0D", "1"}, {"07", "0"}, {"02", "3"}, {"0E", "0"}};
    const std::vector<std::string> keys = {"0102", "0102", "0102", "01MU", "0201", "0202"};
    for (const auto& [id, level] : requests) {
      rig.Send(Message("xAPBSC.cmd", rig.me + ":>",
                       "output.state.1\n{\nID=" + id + "\nLevel=" + level + "\n}\n"));
      probe_for(150ms, nullptr);
    }
    // The fault ends: the device or adapter comes back, or the silence or
    // the last request (a slow controller stays slow) is over.
    if (outage) {
      const auto away = fault == kAdapterAway6 ? 6s : 4s;
      probe_for(10s, [&] { return Clock::now() - fault_start >= away; });
      rig.StartSim(rig.args);
    } else if (fault == kSilent10) {
      probe_for(20s, [&] { return Clock::now() - sim_started >= 16s; });
    }
    const auto fault_end = Clock::now();
    std::vector<std::pair<std::string, std::string>> steps;
    auto last_step = fault_end;
    probe_for(60s, [&] {
      auto now_steps = Steps(rig.sim.Stdout());
      if (now_steps.size() != steps.size()) last_step = Clock::now();
      steps = std::move(now_steps);
      return steps.size() >= keys.size();
    });
    probe_for(2s, nullptr);  // nothing more should come
    steps = Steps(rig.sim.Stdout());
    std::vector<std::string> got;
    for (const auto& step : steps) got.push_back(step.first);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - fault_start).count());
    state.counters["requests_issued"] = static_cast<double>(requests.size());
    state.counters["carried_out"] = static_cast<double>(steps.size());
    state.counters["order_kept"] = got == keys ? 1 : 0;
    state.counters["recovery_to_last_s"] =
        std::chrono::duration<double>(last_step - fault_end).count();
    state.counters["max_echo_ms"] = answers.max_echo;
    state.counters["max_page_ms"] = answers.max_page;
    state.counters["failed_probes"] = answers.failures;
    state.counters["private_net"] = rig.private_net ? 1 : 0;
  }
}
BENCHMARK(BM_FaultMatrix)
    ->ArgName("fault")
    ->DenseRange(kSlow07, kSerialReplug)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
