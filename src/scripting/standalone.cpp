#include "scripting/standalone.h"

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "devicetable/device_table.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/udp_socket.h"
#include "scripting/application.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace corvane {

namespace {

constexpr int kZoneRecords = 42;
constexpr size_t kTagField = 5;  // of a zone record's line in section Vaux

}  // namespace

struct StandaloneApplication::Parts {
  explicit Parts(const std::string& home)
      : log(wall, nullptr),
        ini(JoinPath(home, "Config"), log),
        net(loop),
        xap(loop, net, log),
        outbox(xap, log) {}
  SteadyClock clock;
  SystemWallClock wall;
  EventLoop loop{clock};
  EventLog log;
  IniCache ini;
  PosixUdpNetwork net;
  XapTransport xap;
  XapOutbox outbox;
};

StandaloneApplication::StandaloneApplication(std::string home)
    : parts_(std::make_unique<Parts>(home)) {
  Parts& p = *parts_;
  // Events go out on xAP only: this process's standard error belongs to the
  // script that spawned it.
  p.log.SetStderr(nullptr);
  p.log.SetErrorLogPath(JoinPath(home, "Data/Corvane.txt"));
  p.log.SetXapSender(
      [&p](std::string_view items) { p.outbox.SendXap("", "Homeseer.Event", "Event.Log", items); });
  p.ini.AppInitialize();
  const std::string me = "zyn.Vaux." + ComputerName();
  p.xap.SetXapSource(me);
  p.xap.SetXapUID("FF.0022:00");
  p.xap.SetBroadcastAddress(
      p.ini.GetIniSetting("Interface", "BroadcastAddress", "Default", kXapIniFile));
  p.xap.SetInterfaceAddress(
      p.ini.GetIniSetting("Interface", "InterfaceAddress", "Default", kXapIniFile));
  p.outbox.SetBaseUID(NormalizeUID(
      RemoveQuotes(p.ini.GetIniSetting(kSettingsSection, "UID", "FF.0022:00", kMainIniFile))));
  if (p.xap.Init() > 0) p.outbox.SetReady(true);

  ApplicationContext c;
  c.log = &p.log;
  c.ini = &p.ini;
  c.sender = &p.outbox;
  c.send_raw = [&p](std::string_view datagram) {
    Guard(p.log, "SendUDPMessage", [&] { p.xap.SendRawXap(datagram); });
  };
  c.now = [&p] { return p.wall.Now(); };
  c.scripts_folder = JoinPath(home, "Scripts");
  c.app_path = ExecutableFolder();
  c.home = home;
  c.remote_response = [this, me, &p](const std::string& tag, const std::string& value) {
    const std::string id = ResponseCommandId(tag);
    if (id.empty()) {
      p.log.LogEvent("Corvane", "Tag " + tag + " not recognized");
      return;
    }
    p.outbox.SendXap(me + ":>", "xAPBSC.cmd", "output.state.1",
                     PackItems({{"ID", id}, {"State", "on"}, {"Level", value}}));
  };
  object_ = MakeApplication(c);
}

StandaloneApplication::~StandaloneApplication() {
  parts_->log.SetXapSender(nullptr);
}

std::string StandaloneApplication::ResponseCommandId(const std::string& tag) {
  if (tag.empty()) return "";
  for (int n = 1; n <= kZoneRecords; ++n) {
    const std::string key = DeviceTable::RecordKey(n);
    const auto fields =
        Split(parts_->ini.GetIniSetting(kSettingsSection, key, "", kMainIniFile), ';');
    if (fields.size() > kTagField && EqualsIgnoreCase(fields[kTagField], tag)) return ToHex(n);
  }
  return "";
}

void RegisterStandaloneApplication(vbs::Engine& engine, std::string home) {
  auto app = std::make_shared<std::unique_ptr<StandaloneApplication>>();
  engine.RegisterProgId(kApplicationProgId, [app, home]() -> vbs::Ref<vbs::Object> {
    if (!*app) *app = std::make_unique<StandaloneApplication>(home);
    return (*app)->object();
  });
}

}  // namespace corvane
