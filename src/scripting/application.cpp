#include "scripting/application.h"

#include <cmath>
#include <exception>
#include <fstream>
#include <memory>

#include "config/ini_cache.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "device/vaux_link.h"
#include "devicetable/device_table.h"
#include "scripting/process_object.h"
#include "scripting/script_files.h"
#include "scripting/script_host.h"
#include "scripting/script_objects.h"
#include "scripting/subscriptions.h"
#include "vbscript/ops.h"
#include "xap/xap_sender.h"

namespace corvane {

using vbs::CallArgs;
using vbs::Value;

namespace {

double TimeOfDay(double date_value) {
  return date_value - std::floor(date_value);
}

class App {
 public:
  explicit App(ApplicationContext c) : c_(std::move(c)) {}

  Value SendUDPMessage(CallArgs& a) {
    if (c_.send_raw) c_.send_raw(ArgText(a, 0));
    return Value();
  }
  Value SendXapMessage(CallArgs& a) {
    Guard(Log(), "SendXapMessage", [&] {
      if (c_.sender) {
        c_.sender->SendXap(ArgText(a, 0), ArgText(a, 1), ArgText(a, 2), ArgText(a, 3),
                           ArgText(a, 4), ArgText(a, 5), ArgText(a, 6));
      }
    });
    return Value();
  }
  Value SelectXapMessage(CallArgs& a) {
    Value position;
    Guard(Log(), "ReceiveXapMessage", [&] {
      if (!c_.subscriptions) return;
      position = Value::Long(static_cast<int32_t>(c_.subscriptions->Select(
          ArgText(a, 0), ArgText(a, 1), ArgText(a, 2), ArgText(a, 3), ScriptPath(ArgText(a, 4)))));
    });
    return position;
  }
  Value GetXapMessage(CallArgs& a) {
    if (!c_.subscriptions) return Value::Nothing();
    const double position = LeadingNumber(ArgText(a, 0));
    if (!(position >= 1)) return Value::Nothing();
    return MakeXapMessageObject(c_.subscriptions->Next(static_cast<size_t>(position)));
  }
  Value DeSelectXapMessage(CallArgs& a) {
    Guard(Log(), "RemoveXapMessage", [&] {
      if (c_.subscriptions) {
        c_.subscriptions->DeSelect(ArgText(a, 0), ArgText(a, 1), ArgText(a, 2),
                                   ScriptPath(ArgText(a, 4)));
      }
    });
    return Value();
  }
  Value InitScriptControl(CallArgs&) {
    if (c_.host) c_.host->InitScriptControl();
    return Value();
  }
  Value ReadScript(CallArgs&) {
    if (c_.host) c_.host->ReadScript();
    return Value();
  }
  Value WriteLog(CallArgs& a) {
    Log().LogEvent(ArgText(a, 0), ArgText(a, 1));
    return Value();
  }
  Value FlushIniCache(CallArgs&) {
    if (c_.ini) c_.ini->FlushIniCache();
    return Value();
  }
  Value ClearINISection(CallArgs& a) {
    if (c_.ini) c_.ini->ClearINISection(ArgText(a, 0), ArgText(a, 1));
    return Value();
  }
  Value GetINISection(CallArgs& a) {
    return Value::Str(c_.ini ? c_.ini->GetINISection(ArgText(a, 0), ArgText(a, 1)) : "");
  }
  Value GetIniSetting(CallArgs& a) {
    return Value::Str(
        c_.ini ? c_.ini->GetIniSetting(ArgText(a, 0), ArgText(a, 1), ArgText(a, 2), ArgText(a, 3))
               : ArgText(a, 2));
  }
  Value SaveIniSetting(CallArgs& a) {
    if (c_.ini) c_.ini->SaveIniSetting(ArgText(a, 0), ArgText(a, 1), ArgText(a, 2), ArgText(a, 3));
    return Value();
  }
  Value GetAppPath(CallArgs&) { return Value::Str(c_.app_path); }
  Value Spawn(CallArgs& a) {
    const std::string file =
        WrapWSF(c_.scripts_folder, ArgText(a, 0), ArgText(a, 1), ArgText(a, 2));
    ProcessStart start;
    start.program = c_.vbs_path;
    if (c_.spawn_timeout_s > 0) start.args = {"--timeout", std::to_string(c_.spawn_timeout_s)};
    start.args.push_back(JoinScripts(file));
    start.env = {{"CORVANE_HOME", c_.home}};
    start.directory = c_.scripts_folder;
    start.pump = c_.pump;
    return StartProcessObject(start);
  }
  Value Run(CallArgs& a) {
    if (c_.host) c_.host->RunFile(ArgText(a, 0), "main", "");
    return Value();
  }
  Value RunEx(CallArgs& a) {
    return c_.host ? c_.host->RunFile(ArgText(a, 0), ArgText(a, 1), ArgText(a, 2)) : Value();
  }
  Value TagList(CallArgs& a) {
    const DeviceRecord record = Device(ArgText(a, 0));
    if (!record) return Value::Nothing();
    return MakeTextList(record->MessageKeyList);
  }
  Value Request(CallArgs& a) {
    const std::string tag = ArgText(a, 0);
    if (ToLower(tag) == "lastevent") {
      if (!c_.host || !c_.host->CurrentEvent()) return Value::Nothing();
      return Items(*c_.host->CurrentEvent());
    }
    const DeviceRecord record = Device(tag);
    if (!record) return Value::Nothing();
    if (record->Link) {
      return MakeKeyedList({{"value", std::to_string(record->Link->Value)},
                            {"lastchange", FormatGeneralDate(record->Link->LastChange)}});
    }
    return Items(*record);
  }
  Value LastChange(CallArgs& a) {
    const DeviceRecord record = Device(ArgText(a, 0));
    if (record) return Value::Date(record->Link ? record->Link->LastChange : record->LastChange);
    return Value::Date(Now());
  }
  Value Sequence(CallArgs& a) {
    const DeviceRecord record = Device(ArgText(a, 0));
    if (record) return Value::Long(record->Link ? record->Link->Sequence : record->Sequence);
    return Value::Long(-1);
  }
  Value Sunrise(CallArgs&) { return Value::Str(c_.sunrise ? c_.sunrise() : ""); }
  Value Sunset(CallArgs&) { return Value::Str(c_.sunset ? c_.sunset() : ""); }
  Value X10(CallArgs& a) {
    if (c_.sender) {
      c_.sender->SendXap(
          "", "xap-x10.request", "xap-x10.request",
          PackItems(
              {{"device", ArgText(a, 0)}, {"command", ArgText(a, 1)}, {"count", ArgText(a, 2)}}));
    }
    return Value();
  }
  Value Response(CallArgs& a) {
    const std::string tag = ArgText(a, 0);
    const std::string value = ArgText(a, 1);
    Guard(Log(), "Response " + tag + "=" + value, [&] {
      if (!c_.table) {
        if (c_.remote_response) c_.remote_response(tag, value);
        return;
      }
      const DeviceRecord record = Device(tag);
      if (!record) {
        Log().LogEvent("Corvane", "Tag " + tag + " not recognized");
      } else if (!record->Link) {
        Log().LogEvent("Corvane", "Tag " + tag + " is a receive message tag");
      } else if (!record->Link->Controllable) {
        Log().LogEvent("Corvane", "Tag " + tag + " not recognized as controllable");
      } else if (c_.vaux) {
        c_.vaux->ControlVauxLink(record->Link, value);
      }
    });
    return Value();
  }
  Value NightTimeMember(CallArgs& a) {
    const std::string rise = c_.sunrise ? c_.sunrise() : "";
    const std::string set = c_.sunset ? c_.sunset() : "";
    return Value::Bool(NightTime(Now(), rise, set, LeadingNumber(ArgText(a, 0))));
  }
  Value VauxCommand(CallArgs& a) {
    return Value::Str(c_.vaux ? c_.vaux->VauxCommand(ArgText(a, 0)) : "");
  }
  Value Empty(CallArgs&) { return Value::Str(""); }
  Value Version(CallArgs&) { return Value::Str(kApplicationVersion); }

 private:
  EventLog& Log() { return *c_.log; }
  double Now() const { return c_.now ? c_.now() : 0; }
  // A subscription's script: relative names lie in the Scripts folder.
  std::string ScriptPath(const std::string& name) const {
    return ResolveScriptPath(c_.scripts_folder, name);
  }
  std::string JoinScripts(const std::string& file) const {
    return ResolveScriptPath(c_.scripts_folder, file);
  }
  DeviceRecord Device(const std::string& tag) const {
    if (!c_.table) return nullptr;
    const DeviceRecord* found = c_.table->DeviceDictionary().Find(tag);
    return found ? *found : nullptr;
  }
  static Value Items(const DeviceClass& record) {
    KeyedTexts items;
    for (const auto& [k, v] : record.MessageList) items.emplace_back(k, v);
    return MakeKeyedList(std::move(items));
  }

  ApplicationContext c_;
};

// The members in their interface order: name, argument count (least and
// most), whether scripts read it as a property, and what it does.
struct Member {
  const char* name;
  int min_args, max_args;
  bool property;
  Value (App::*fn)(CallArgs&);
};

constexpr Member kMembers[] = {
    {"SendUDPMessage", 1, 1, false, &App::SendUDPMessage},
    {"SendXapMessage", 7, 7, false, &App::SendXapMessage},
    {"SelectXapMessage", 5, 5, false, &App::SelectXapMessage},
    {"GetXapMessage", 1, 1, false, &App::GetXapMessage},
    {"DeSelectXapMessage", 5, 5, false, &App::DeSelectXapMessage},
    {"InitScriptControl", 0, 0, false, &App::InitScriptControl},
    {"ReadScript", 0, 0, false, &App::ReadScript},
    {"WriteLog", 2, 2, false, &App::WriteLog},
    {"FlushIniCache", 0, 0, false, &App::FlushIniCache},
    {"ClearINISection", 2, 2, false, &App::ClearINISection},
    {"GetINISection", 2, 2, false, &App::GetINISection},
    {"GetIniSetting", 3, 4, false, &App::GetIniSetting},
    {"SaveIniSetting", 3, 4, false, &App::SaveIniSetting},
    {"GetAppPath", 0, 0, true, &App::GetAppPath},
    {"Spawn", 3, 3, false, &App::Spawn},
    {"Run", 1, 1, false, &App::Run},
    {"RunEx", 3, 3, false, &App::RunEx},
    {"TagList", 1, 1, false, &App::TagList},
    {"Request", 1, 1, false, &App::Request},
    {"LastChange", 1, 1, false, &App::LastChange},
    {"Sequence", 1, 1, false, &App::Sequence},
    {"Sunrise", 0, 0, true, &App::Sunrise},
    {"Sunset", 0, 0, true, &App::Sunset},
    {"X10", 2, 3, false, &App::X10},
    {"Response", 2, 2, false, &App::Response},
    {"NightTime", 1, 1, false, &App::NightTimeMember},
    {"VauxCommand", 1, 1, false, &App::VauxCommand},
    {"DeviceString", 1, 1, false, &App::Empty},
    {"WebLoggedInUser", 0, 0, true, &App::Empty},
    {"Version", 0, 0, true, &App::Version},
    {"SystemUpTime", 0, 0, true, &App::Empty},
};
static_assert(std::size(kMembers) == 31);

}  // namespace

vbs::Ref<vbs::Object> MakeApplication(const ApplicationContext& context) {
  // The error log exists from the object's creation on, so that a watcher
  // (tail -f, a log collector) can follow it before the first error.
  if (context.log && !context.log->ErrorLogPath().empty()) {
    const std::string& path = context.log->ErrorLogPath();
    CreateFolders(path, context.log);
    std::ofstream touch(path, std::ios::app);
  }
  auto app = std::make_shared<App>(context);
  auto o = vbs::MakeRef<vbs::HostObject>("Application");
  for (const Member& m : kMembers) {
    auto call = [app, m](CallArgs& a) {
      CheckArgCount(a, m.min_args, m.max_args);
      try {
        return ((*app).*(m.fn))(a);
      } catch (const vbs::ScriptError&) {
        throw;
      } catch (const std::exception& e) {
        // A failure of the program's side reaches the script as an error
        // it can handle (On Error Resume Next).
        vbs::Throw(vbs::kErrInvalidCall, std::string(m.name) + ": " + e.what());
      }
    };
    if (m.property) {
      o->AddProperty(m.name, call);
    } else {
      o->AddMethod(m.name, call);
    }
  }
  return o;
}

bool NightTime(double now, std::string_view sunrise, std::string_view sunset,
               double offset_minutes) {
  const auto rise = ParseDateTime(sunrise);
  const auto set = ParseDateTime(sunset);
  if (!rise || !set || !std::isfinite(offset_minutes)) return false;
  const double t = TimeOfDay(now);
  const double day_start = TimeOfDay(*rise) - offset_minutes / 1440.0;
  const double day_end = TimeOfDay(*set) + offset_minutes / 1440.0;
  return !(t > day_start && t < day_end);
}

}  // namespace corvane
