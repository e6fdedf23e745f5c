// The scripting side of the program in one piece: the script host, the
// subscriptions (which see every received datagram before the bridge does)
// and the one Application object, published to every engine the host
// prepares. The composition root makes it early in start-up, installs it
// where the other modules queue events and pass datagrams, and applies the
// settings once they are loaded.
#pragma once

#include <functional>
#include <string>

#include "scripting/application.h"
#include "scripting/script_host.h"
#include "scripting/subscriptions.h"

namespace corvane {

class XapBridge;
class XapTransport;
class WallClock;
struct Settings;

struct ScriptingParts {
  EventLoop& loop;
  EventLog& log;
  IniCache& ini;
  const Settings& settings;
  XapSender& sender;
  XapTransport& xap;
  DeviceTable& table;
  VauxLink& vaux;
  XapBridge& bridge;
  const WallClock& wall;
  std::string program_folder;  // Scripts/ lies below it
  std::string app_path;        // the executable's folder
  std::string vbs_path;        // the script runner Spawn starts
};

class ScriptingModule {
 public:
  explicit ScriptingModule(const ScriptingParts& parts);

  ScriptHost& host() { return host_; }
  Subscriptions& subscriptions() { return subscriptions_; }
  const vbs::Ref<vbs::Object>& application() const { return application_; }

  // The settings are loaded: the time-out and the periodic timer follow them.
  void ApplySettings();

 private:
  const Settings& settings_;
  ScriptHost host_;
  Subscriptions subscriptions_;
  vbs::Ref<vbs::Object> application_;
};

// Seconds of the ScriptTimeout setting; 90 for anything but a positive number.
int ScriptTimeoutSeconds(std::string_view text);

}  // namespace corvane
