// Whatever the controller sends: the bytes answer a zone status request, a
// power-up request and a configuration request in turn, arriving in two
// pieces, so they pass the receive framing, VauxReceive, the reply decoders
// and the zone model. Virtual time: a missing reply costs nothing.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "core/event_log.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "support/controller_rig.h"

namespace {

using namespace corvane;

struct Rig : testing::QuietControllerRig {
  VauxPort& port = controller.port;
  VauxLink& link = controller.link;
  std::string reply;

  Rig() : QuietControllerRig("/nonexistent-corvane-fuzz") {
    controller.settings.debug_log = true;
    log.SetDebugEnabled([this] { return controller.settings.debug_log; });
    controller.tcp.on_send = [this](const std::string&) {
      const size_t half = reply.size() / 2;
      controller.tcp.Arrive(reply.substr(0, half));
      controller.tcp.Arrive(reply.substr(half));
    };
    port.OpenCommPort("4001");
    controller.table.ReadLastChange();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig rig;
  rig.reply.assign(reinterpret_cast<const char*>(data), size);
  rig.port.ResetReceive();
  rig.link.GetZoneStatus(1);
  rig.link.PowerupStatus(2);
  rig.link.VauxSend("VPFE010000", "VS", "ConfigurationByteA",
                    corvane::VauxLink::ReplyDecoder::kConfigurationByte);
  rig.port.CommReceive(rig.reply, 2);
  return 0;
}
