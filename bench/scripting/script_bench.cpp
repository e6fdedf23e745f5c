// The script host on the real clock, with the program's own pieces (device
// table, controller link without a controller, bridge, xAP transport bound to
// loopback) and the real Application object:
// - latency: an event queued -> Main entered, with a trivial Main; the queue
//   waits 5 ms on purpose, the counters give the median and p99 of the whole
//   and of what lies above those 5 ms;
// - throughput: events through the queue with a Main that reads
//   Request("lastevent") and writes a setting; RSS after each 100,000.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "core/event_log.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/udp_socket.h"
#include "scripting/scripting_module.h"
#include "support/controller_rig.h"
#include "support/temp_dir.h"
#include "vbscript/ops.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace {

using namespace corvane;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Resident memory in KiB (VmRSS of /proc/self/status).
double RssKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6));
  }
  return 0;
}

struct Rig {
  SteadyClock clock;
  SystemWallClock wall;
  EventLoop loop{clock};
  std::ostream quiet{nullptr};
  EventLog log{wall, &quiet};
  testing::TempDir dir;
  testing::ControllerRig controller{loop, wall, log, dir.path()};
  PosixUdpNetwork net{loop};
  XapTransport xap{loop, net, log};
  XapOutbox outbox{xap, log};
  ScriptEventSink sink;
  XapBridge bridge{loop,  log,  wall, outbox, xap, controller.table, controller.link,
                   sink, "/opt/corvane/corvane"};
  std::unique_ptr<ScriptingModule> scripting;
  int64_t entered_us = 0;
  int64_t runs = 0;

  explicit Rig(const std::string& main_script) {
    controller.table.ReadLastChange();
    xap.SetXapSource("zyn.Vaux.HOST");
    xap.SetBroadcastAddress("127.0.0.1");
    ::mkdir(dir.File("Scripts").c_str(), 0755);
    testing::WriteFile(dir.File("Scripts/Corvane.txt"), main_script);
    scripting = std::make_unique<ScriptingModule>(
        ScriptingParts{loop, log, controller.ini, controller.settings, outbox, xap,
                       controller.table, controller.link, bridge, wall, dir.path(), dir.path(),
                       "vbs"});
    auto probe = vbs::MakeRef<vbs::HostObject>("Probe");
    probe->AddMethod("Enter", [this](vbs::CallArgs&) {
      entered_us = NowUs();
      ++runs;
      return vbs::Value();
    });
    vbs::Ref<vbs::Object> app = scripting->application();
    vbs::Ref<vbs::Object> p = probe;
    scripting->host().SetPublisher([app, p](vbs::Engine& e) {
      e.AddObject("xap", app, true);
      e.AddObject("probe", p, false);
    });
    scripting->host().InitScriptControl();
  }
  DeviceRecord Event(int i) {
    auto r = std::make_shared<DeviceClass>();
    r->Tag = "zone1";
    r->MessageList.Add("value", std::to_string(i % 100));
    r->MessageList.Add("lastchange", "12/6/2026 6:00:00 PM");
    return r;
  }
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

void BM_EventToMainLatency(benchmark::State& state) {
  Rig rig("Sub Main(tag)\n probe.Enter\nEnd Sub\n");
  std::vector<double> latency_ms;
  int i = 0;
  for (auto _ : state) {
    const int64_t runs = rig.runs;
    const int64_t queued = NowUs();
    rig.scripting->host().QueueScriptEvent(rig.Event(i++));
    rig.loop.PumpUntil([&] { return rig.runs > runs; }, rig.loop.NowMs() + 1000);
    latency_ms.push_back(static_cast<double>(rig.entered_us - queued) / 1000.0);
  }
  state.counters["median_ms"] = Percentile(latency_ms, 0.5);
  state.counters["p99_ms"] = Percentile(latency_ms, 0.99);
  state.counters["median_above_5ms"] = Percentile(latency_ms, 0.5) - 5;
  state.counters["p99_above_5ms"] = Percentile(latency_ms, 0.99) - 5;
}
BENCHMARK(BM_EventToMainLatency)->Iterations(2000)->Unit(benchmark::kMillisecond);

// One iteration: 100,000 events queued at once, run until the queue is empty.
void BM_EventsThroughTheQueue(benchmark::State& state) {
  Rig rig(
      "Sub Main(tag)\n Dim v : v = Request(\"lastevent\")(\"value\")\n"
      " SaveIniSetting \"Bench\", \"Last\", v\n probe.Enter\nEnd Sub\n");
  constexpr int kEvents = 100000;
  const double rss_start = RssKiB();
  double rss_after_first = 0;
  int64_t total = 0;
  for (auto _ : state) {
    const int64_t target = rig.runs + kEvents;
    for (int i = 0; i < kEvents; ++i) rig.scripting->host().QueueScriptEvent(rig.Event(i));
    rig.loop.PumpUntil([&] { return rig.runs >= target; }, rig.loop.NowMs() + 120000);
    total += kEvents;
    if (rss_after_first == 0) rss_after_first = RssKiB();
  }
  state.SetItemsProcessed(total);
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  state.counters["rss_start_KiB"] = rss_start;
  state.counters["rss_after_100k_KiB"] = rss_after_first;
  state.counters["rss_end_KiB"] = RssKiB();
  state.counters["lost"] = static_cast<double>(total - rig.runs);
}
BENCHMARK(BM_EventsThroughTheQueue)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
