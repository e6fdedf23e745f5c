// Inbound xAP: what a message not addressed to the program costs, in the
// handler alone (parse, watched-source lookup, addressing gate) and through a
// real loopback socket, the receive queue and its drain.
#include <benchmark/benchmark.h>

#include <memory>
#include <ostream>
#include <string>

#include "core/event_log.h"
#include "devicetable/script_event_queue.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/udp_socket.h"
#include "support/controller_rig.h"
#include "bridge/bridge.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace {

using namespace corvane;

// A BSC command for another program, as a busy xAP network carries many.
const std::string kOthersCommand =
    "xap-header\n{\nv=13\nhop=1\nuid=FF.ABCD:01\nclass=xAPBSC.cmd\nsource=acme.panel.hall\n"
    "target=acme.lights.house:kitchen.ceiling\n}\noutput.state.1\n{\nID=*\nState=on\n"
    "Level=40\n}\n";

// The program's inbound side on the real clock, without a controller link.
struct Inbound : XapCallback {
  SteadyClock clock;
  SystemWallClock wall;
  EventLoop loop{clock};
  std::ostream quiet{nullptr};
  EventLog log{wall, &quiet};
  testing::ControllerRig controller{loop, wall, log, "/nonexistent-corvane-bench"};
  DeviceTable& table = controller.table;
  PosixUdpNetwork net{loop};
  XapTransport xap{loop, net, log};
  XapOutbox outbox{xap, log};
  ScriptEventSink scripts;
  XapBridge bridge{
      loop, log, wall, outbox, xap, table, controller.link, scripts, "/opt/corvane/corvane"};
  int64_t handled = 0;

  Inbound() {
    table.ReadLastChange();
    for (int i = 0; i < 20; ++i) {  // a few watched sources, none of them this sender
      const std::string n = std::to_string(i);
      table.FilterDictionary().Add("acme.sensor.s" + n + "~weather.report", "s" + n + ";");
    }
    xap.SetXapSource("zyn.Vaux.HOST");
    xap.SetBroadcastAddress("127.0.0.1");  // the program's own messages stay on loopback
    xap.RegisterNewMessageCallback(this);
  }
  void onMessage() override {
    for (std::string text = xap.GetMessage(); !text.empty(); text = xap.GetMessage()) {
      bridge.inbound().Readmessage(text);
      ++handled;
    }
  }
};

void BM_ReadmessageNotAddressed(benchmark::State& state) {
  Inbound in;
  for (auto _ : state) in.bridge.inbound().Readmessage(kOthersCommand);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadmessageNotAddressed);

// Datagrams sent to the program's relay port on 127.0.0.1 as fast as one
// sender manages, read by the loop (at most 64 per readiness event), queued,
// drained 50 ms after the first of each burst and handed to Readmessage.
// One iteration is 20,000 datagrams; the last drain's 50 ms wait is included.
void BM_InboundLoopbackThroughput(benchmark::State& state) {
  Inbound in;
  const int32_t port = in.xap.Init();
  if (port <= 0) {
    state.SkipWithError("no relay port");
    return;
  }
  auto sender = in.net.OpenUdp();
  sender->Bind("127.0.0.1", 0);
  constexpr int kPerIteration = 20000;
  constexpr int kChunk = 32;  // then let the loop read, so the socket buffer never overflows
  uint64_t dropped_before = in.xap.DroppedCount();
  for (auto _ : state) {
    const int64_t target = in.handled + kPerIteration;
    for (int sent = 0; sent < kPerIteration; sent += kChunk) {
      for (int i = 0; i < kChunk; ++i) {
        sender->SendTo(kOthersCommand, "127.0.0.1", static_cast<uint16_t>(port));
      }
      in.loop.Pump();
    }
    in.loop.PumpUntil([&] { return in.handled >= target; }, in.loop.NowMs() + 5000);
  }
  state.SetItemsProcessed(in.handled);
  state.counters["dropped"] = static_cast<double>(in.xap.DroppedCount() - dropped_before);
  state.counters["lost"] = static_cast<double>(state.iterations() * kPerIteration - in.handled);
}
BENCHMARK(BM_InboundLoopbackThroughput)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
