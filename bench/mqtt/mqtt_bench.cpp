// The MQTT side on loopback with a mosquitto broker of its own.
//
// BM_MqttCommandLatency: a command published on <base>/zone2/status/set ->
// broker -> corvane (the controller link's command and read-back) ->
// vaux-sim, which answers at once -> the retained state on
// <base>/zone2/status heard by a subscriber. Each iteration toggles zone 2
// between mute and on, so every command changes the record.
//
// BM_MqttRefresh: all 42 zone records change at once in a program running
// in this process (as after a whole-controller status poll); measured from
// the first change to the 42nd state message heard by the subscriber.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../bridge/program_bench.h"
#include "app/program.h"
#include "devicetable/levels.h"
#include "mqtt/mqtt_rig.h"
#include "support/fake_udp.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using corvane::testing::Broker;
using corvane::testing::Eventually;
using corvane::testing::Subprocess;
using corvane::testing::TempDir;
using corvane::testing::TestClient;
using Clock = std::chrono::steady_clock;
using corvane::bench::Ms;
using corvane::bench::Percentile;
using corvane::bench::SimPort;
using corvane::bench::UseOwnBinDir;


// vaux-sim on a free port of 127.0.0.1; its port, or empty.
std::string StartSim(Subprocess& sim, const TempDir& dir) {
  sim.Start({"vaux-sim", "--tcp", "0", "--quiet"}, dir.File("sim"));
  return SimPort(sim);
}

std::string Settings(const std::string& sim_port, uint16_t broker_port) {
  return "[Vaux]\r\nUPBCommPort=" + sim_port + "\r\nSerialIP=127.0.0.1\r\nHTTPPort=0\r\n" +
         "[MQTT]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker_port) +
         "\r\nBaseTopic=bench/amp\r\n";
}

void BM_MqttCommandLatency(benchmark::State& state) {
  UseOwnBinDir();
  const bool private_net = corvane::testing::EnterPrivateNetwork();
  TempDir dir;
  Broker broker;
  Subprocess sim, corvane;
  if (!broker.Start(dir)) {
    state.SkipWithError("mosquitto did not start");
    return;
  }
  const std::string sim_port = StartSim(sim, dir);
  corvane::testing::WriteLoopbackXapConfig(dir.File("home"), "127.0.0.1");
  corvane::testing::WriteFile(dir.File("home/Config/Corvane.ini"), Settings(sim_port, broker.port()));
  TestClient client;
  client.Connect(broker.port(), "bench/amp/zone2/status");
  corvane.Start({"corvane", "--home", dir.File("home")}, dir.File("corvane"));
  if (!client.WaitFor("bench/amp/zone2/status", "on", 20s)) {
    state.SkipWithError("corvane did not publish zone 2");
    return;
  }
  std::vector<double> total;
  bool mute = true;
  for (auto _ : state) {
    const std::string want = mute ? "mute" : "on";
    mute = !mute;
    const auto t0 = Clock::now();
    client.Publish("bench/amp/zone2/status/set", want);
    if (!client.WaitFor("bench/amp/zone2/status", want, 5s)) {
      state.SkipWithError("no state after the command");
      break;
    }
    const auto t1 = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    total.push_back(Ms(t1 - t0));
  }
  state.counters["median_ms"] = Percentile(total, 0.5);
  state.counters["p99_ms"] = Percentile(total, 0.99);
  state.counters["private_net"] = private_net ? 1 : 0;
  corvane.Stop(SIGTERM);
  sim.Stop(SIGTERM);
  broker.Stop();
}
BENCHMARK(BM_MqttCommandLatency)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

void BM_MqttRefresh(benchmark::State& state) {
  UseOwnBinDir();
  TempDir dir;
  Broker broker;
  Subprocess sim;
  if (!broker.Start(dir)) {
    state.SkipWithError("mosquitto did not start");
    return;
  }
  const std::string sim_port = StartSim(sim, dir);
  const std::string home = dir.File("home");
  corvane::testing::WriteLoopbackXapConfig(home, "127.0.0.1");
  corvane::testing::WriteFile(home + "/Config/Corvane.ini", Settings(sim_port, broker.port()));
  corvane::SteadyClock clock;
  corvane::SystemWallClock wall;
  std::ostringstream err;
  corvane::Program program({home, home + "/corvane", "bench"}, clock, wall, &err,
                           [](corvane::EventLoop& loop) {
                             return std::make_unique<corvane::FakeUdpNetwork>(loop);
                           });
  if (program.Startup() != 0) {
    state.SkipWithError("the program did not start");
    return;
  }
  corvane::EventLoop& loop = program.loop();
  TestClient client;
  client.Connect(broker.port(), "bench/amp/+/+");
  if (!loop.PumpUntil([&] { return client.Latest().size() == 42; }, loop.NowMs() + 20000)) {
    state.SkipWithError("no state from the program");
    return;
  }
  std::vector<double> rates, publish_ms;
  for (auto _ : state) {
    const size_t heard = client.Messages().size();
    const auto t0 = Clock::now();
    for (int n = 1; n <= corvane::kZoneRecordCount; ++n) {
      const corvane::ZoneRecord r = program.devices().Record(n);
      // Source 1/2, status on/mute, levels at the 2nd/3rd level: always a change.
      const int16_t a = r->Kind < 2 ? 1 : 3;
      program.devices().ChangeEvent(r, static_cast<int16_t>(r->Value == a ? a + 1 : a));
    }
    const auto t1 = Clock::now();
    // The subscriber hears on its own thread: the loop runs in short slices
    // (flushing what the socket did not take at once) until it has all 42.
    auto all_heard = [&] { return client.Messages().size() >= heard + 42; };
    while (!all_heard() && Clock::now() - t0 < 5s) loop.PumpUntil(all_heard, loop.NowMs() + 1);
    if (!all_heard()) {
      state.SkipWithError("not every change was heard");
      break;
    }
    const auto t2 = Clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
    rates.push_back(42.0 / std::chrono::duration<double>(t2 - t0).count());
    publish_ms.push_back(Ms(t1 - t0));
  }
  state.counters["msgs_per_s_median"] = Percentile(rates, 0.5);
  state.counters["refresh_ms_median"] = 42000.0 / std::max(Percentile(rates, 0.5), 1.0);
  state.counters["publish_side_ms_median"] = Percentile(publish_ms, 0.5);
  program.Shutdown();
  sim.Stop(SIGTERM);
  broker.Stop();
}
BENCHMARK(BM_MqttRefresh)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

}  // namespace
