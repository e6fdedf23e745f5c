// The Application object: the one object through which scripts reach the
// program, published to them as "xap" with its members also callable
// without the prefix. Its 31 public members, in their interface order:
//   SendUDPMessage SendXapMessage SelectXapMessage GetXapMessage
//   DeSelectXapMessage InitScriptControl ReadScript WriteLog FlushIniCache
//   ClearINISection GetINISection GetIniSetting SaveIniSetting GetAppPath
//   Spawn Run RunEx TagList Request LastChange Sequence Sunrise Sunset X10
//   Response NightTime VauxCommand DeviceString WebLoggedInUser Version
//   SystemUpTime
// The daemon's instance works on the running program's state. A script
// started by Spawn gets a stand-alone instance (no device table, no script
// host): those members act through the network or give fall-backs (see
// ApplicationContext).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "vbscript/engine.h"

namespace corvane {

class DeviceTable;
class EventLog;
class IniCache;
class ScriptHost;
class Subscriptions;
class VauxLink;
class XapSender;

inline constexpr std::string_view kApplicationVersion = "1.6.174";
// The ProgID the Spawn wrapper creates its Application by.
inline constexpr std::string_view kApplicationProgId = "Quorel.Application";

struct ApplicationContext {
  EventLog* log = nullptr;  // required
  IniCache* ini = nullptr;
  XapSender* sender = nullptr;
  std::function<void(std::string_view datagram)> send_raw;
  std::function<double()> now;  // local date value
  std::string scripts_folder;   // <home>/Scripts
  std::string app_path;         // the executable's own folder (GetAppPath)

  // The daemon's state; null in a stand-alone instance.
  ScriptHost* host = nullptr;
  Subscriptions* subscriptions = nullptr;
  DeviceTable* table = nullptr;
  VauxLink* vaux = nullptr;
  std::function<std::string()> sunrise;
  std::function<std::string()> sunset;

  // Response where there is no device table: commands the zone through the
  // running program (an xAPBSC.cmd to its own address).
  std::function<void(const std::string& tag, const std::string& value)> remote_response;

  // Spawn: the script runner (the vbs tool), its time-out in seconds, the
  // program folder the spawned Application reads its settings from, and
  // what serves the program while a script waits for the process.
  std::string vbs_path = "vbs";
  int spawn_timeout_s = 0;
  std::string home;
  std::function<void()> pump;
};

// Makes the object. The context's pointers must outlive it.
vbs::Ref<vbs::Object> MakeApplication(const ApplicationContext& context);

// The night test: false when the time of day `now` lies strictly between
// sunrise minus `offset_minutes` and sunset plus `offset_minutes`; true
// otherwise. Texts that are not times give false.
bool NightTime(double now, std::string_view sunrise, std::string_view sunset,
               double offset_minutes);

}  // namespace corvane
