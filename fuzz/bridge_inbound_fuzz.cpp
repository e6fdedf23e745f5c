// Whatever datagram arrives: Readmessage with everything behind it (the BSC
// commands reach the controller link, whose fake TCP peer is the simulator;
// queries queue their answers; watched sources fill a device record). Virtual
// time: waits cost nothing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "core/event_log.h"
#include "devicetable/script_event_queue.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "support/fake_udp.h"
#include "simulator.h"
#include "support/controller_rig.h"
#include "bridge/bridge.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace {

using namespace corvane;

struct Rig : testing::QuietControllerRig {
  DeviceTable& table = controller.table;
  std::unique_ptr<sim::VauxSimulator> device = std::make_unique<sim::VauxSimulator>();
  FakeUdpNetwork net{loop};
  XapTransport xap{loop, net, log};
  XapOutbox outbox{xap, log};
  ScriptEventSink scripts;
  XapBridge bridge{
      loop, log, wall, outbox, xap, table, controller.link, scripts, "/opt/corvane/corvane"};

  Rig() : QuietControllerRig("/nonexistent-corvane-fuzz") {
    controller.tcp.on_send = [this](const std::string& cmd) {
      for (const auto& line : device->Feed(cmd)) controller.tcp.Arrive(line);
    };
    xap.SetXapSource("zyn.Vaux.HOST");
    xap.SetBroadcastAddress("127.0.0.1");
    xap.Init();
    outbox.SetReady(true);
    controller.port.OpenCommPort("4001");
    table.ReadLastChange();
    table.Record(13)->X10 = "A1";
    table.BuildX10Dictionary();
    table.FilterDictionary().Add("a.b.c~x.y", "dev;event");
    auto dev = std::make_shared<DeviceClass>();
    dev->Tag = "dev";
    table.DeviceDictionary().Add("dev", dev);
    table.SetObserver(&bridge.reporter());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig rig;
  rig.bridge.inbound().Readmessage(std::string(reinterpret_cast<const char*>(data), size));
  // Let queued answers go out, and keep the records of what was sent small.
  rig.loop.WaitMs(1000);
  rig.net.ClearSent();
  if (rig.device->Commands().size() > 100000) rig.device = std::make_unique<sim::VauxSimulator>();
  return 0;
}
