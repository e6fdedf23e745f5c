// Whatever the controller sends: the bytes answer a zone status request, a
// power-up request and a configuration request in turn, arriving in two
// pieces, so they pass the receive framing, VauxReceive, the reply decoders
// and the zone model. Virtual time: a missing reply costs nothing.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "config/settings.h"
#include "device/vaux_link.h"
#include "device/vaux_port.h"
#include "devicetable/device_table.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "support/fake_transports.h"
#include "ui/echo_window.h"

namespace {

using namespace corvane;

struct Rig {
  ManualClock clock;
  ManualWallClock wall{46000.5, &clock};
  EventLoop loop{clock};
  std::ostream quiet{nullptr};
  EventLog log{wall, &quiet};
  IniCache ini{"/nonexistent-corvane-fuzz", log};  // nothing is read or written
  Settings settings;
  DeviceTable table{ini, log, wall, settings};
  EchoWindow echo{wall, log};
  FakeSerialPort serial{loop};
  FakeTcpClient tcp{loop};
  VauxPort port{loop, log, settings, echo, serial, tcp};
  VauxLink link{loop, log, settings, table, port, echo};
  std::string reply;

  Rig() {
    settings.debug_log = true;
    settings.upb_comm_port = "4001";
    settings.serial_ip = "127.0.0.1";
    log.SetDebugEnabled([this] { return settings.debug_log; });
    port.SetLineHandler([this](const std::string& line) { link.VauxReceive(line); });
    tcp.on_send = [this](const std::string&) {
      const size_t half = reply.size() / 2;
      tcp.Arrive(reply.substr(0, half));
      tcp.Arrive(reply.substr(half));
    };
    port.OpenCommPort("4001");
    table.ReadLastChange();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig rig;
  rig.reply.assign(reinterpret_cast<const char*>(data), size);
  rig.port.ResetReceive();
  rig.link.GetZoneStatus(1);
  rig.link.PowerupStatus(2);
  rig.link.VauxSend("VPFE010000", "VS", "ConfigurationByteA");
  rig.port.CommReceive(rig.reply, 2);
  return 0;
}
