#include "scripting/scripting_module.h"

#include "bridge/bridge.h"
#include "config/settings.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "platform/clock.h"
#include "xap/xap_transport.h"

namespace corvane {

namespace {

constexpr int kDefaultTimeoutSeconds = 90;
// Longest accepted time-out (a day); longer texts are read as this.
constexpr double kMaxTimeoutSeconds = 86400;

ScriptHostOptions HostOptions(const ScriptingParts& p) {
  ScriptHostOptions o;
  o.scripts_folder = JoinPath(p.program_folder, "Scripts");
  o.timeout_ms = ScriptTimeoutSeconds(p.settings.script_timeout) * 1000;
  return o;
}

}  // namespace

int ScriptTimeoutSeconds(std::string_view text) {
  if (!IsNumeric(text)) return kDefaultTimeoutSeconds;
  const double s = LeadingNumber(text);
  if (!(s >= 1)) return kDefaultTimeoutSeconds;
  return static_cast<int>(std::min(s, kMaxTimeoutSeconds));
}

ScriptingModule::ScriptingModule(const ScriptingParts& p)
    : settings_(p.settings),
      host_(p.loop, p.log, HostOptions(p)),
      subscriptions_(p.log, &p.bridge.inbound()) {
  ApplicationContext c;
  c.log = &p.log;
  c.ini = &p.ini;
  c.sender = &p.sender;
  XapTransport* xap = &p.xap;
  EventLog* log = &p.log;
  c.send_raw = [xap, log](std::string_view datagram) {
    Guard(*log, "SendUDPMessage", [&] { xap->SendRawXap(datagram); });
  };
  const WallClock* wall = &p.wall;
  c.now = [wall] { return wall->Now(); };
  c.scripts_folder = host_.scripts_folder();
  c.app_path = p.app_path;
  c.host = &host_;
  c.subscriptions = &subscriptions_;
  c.table = &p.table;
  c.vaux = &p.vaux;
  XapBridge* bridge = &p.bridge;
  c.sunrise = [bridge] { return bridge->Sunrise(); };
  c.sunset = [bridge] { return bridge->Sunset(); };
  c.vbs_path = p.vbs_path;
  c.spawn_timeout_s = host_.timeout_ms() / 1000;
  c.home = p.program_folder;
  EventLoop* loop = &p.loop;
  c.pump = [loop] { loop->Pump(); };
  application_ = MakeApplication(c);

  vbs::Ref<vbs::Object> app = application_;
  host_.SetPublisher([app](vbs::Engine& engine) {
    engine.AddObject("xap", app, /*global_members=*/true);
    // A script may also ask for the object by the wrapper's ProgID.
    engine.RegisterProgId(kApplicationProgId, [app] { return app; });
  });
  const Settings* settings = &p.settings;
  host_.SetPeriodicSource([settings] { return settings->periodic_script_interval; });
}

void ScriptingModule::ApplySettings() {
  host_.SetTimeout(ScriptTimeoutSeconds(settings_.script_timeout) * 1000);
  host_.ArmPeriodic(settings_.periodic_script_interval);
}

}  // namespace corvane
