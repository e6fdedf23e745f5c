#include "config/settings.h"

#include <cmath>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "core/text.h"

namespace corvane {

namespace {

constexpr std::string_view kKeyList =
    "upbcommport,serialip,httpport,debuglog,background,styleSheet,uid,showsetup,showinputlinks,"
    "ShowMacroMap,showonlyused,showstatus,showreceivemessages,showreceivedetail,"
    "periodicscriptinterval,inputnamelist,updownincrement";

enum class Kind { kText, kTextUnquoted, kBool, kInt16, kUid };

struct KeyInfo {
  std::string_view key;  // as read from the file
  std::string_view loader_default;
  std::string_view form_default;
  Kind kind;
};

// Indexed like the key list.
constexpr KeyInfo kKeys[] = {
    {"UPBCommPort", "", "", Kind::kTextUnquoted},
    {"SerialIP", "", "", Kind::kTextUnquoted},
    {"HTTPPort", "8018", "", Kind::kTextUnquoted},
    {"DebugLog", "False", "false", Kind::kBool},
    {"Background", "Black", "black", Kind::kText},
    {"StyleSheet", "StyleNoBody.css", "StyleNoBody.css", Kind::kTextUnquoted},
    {"UID", "FF.0022:00", "FF.0022:00", Kind::kUid},
    {"ShowSetup", "false", "true", Kind::kBool},
    {"ShowInputLinks", "false", "false", Kind::kBool},
    {"ShowMacroMap", "false", "false", Kind::kBool},
    {"ShowOnlyUsed", "false", "False", Kind::kBool},
    {"ShowStatus", "0", "2", Kind::kInt16},
    {"ShowReceiveMessages", "false", "false", Kind::kBool},
    {"ShowReceiveDetail", "false", "False", Kind::kBool},
    {"PeriodicScriptInterval", "", "", Kind::kText},
    {"inputnamelist", "Input1,Input2,Input3,Input4,Input5,Input6,Input7,Input8",
     "Input1,Input2,Input3,Input4,Input5,Input6,Input7,Input8", Kind::kText},
    {"UpDownIncrement", "3", "3", Kind::kText},
};

}  // namespace

const std::vector<std::string>& SettingsKeyList() {
  static const std::vector<std::string> list = Split(kKeyList, ',');
  return list;
}

const std::vector<std::string>& LoaderDefaults() {
  static const std::vector<std::string> list = [] {
    std::vector<std::string> v;
    for (const auto& k : kKeys) v.emplace_back(k.loader_default);
    return v;
  }();
  return list;
}

const std::vector<std::string>& FormDefaults() {
  static const std::vector<std::string> list = [] {
    std::vector<std::string> v;
    for (const auto& k : kKeys) v.emplace_back(k.form_default);
    return v;
  }();
  return list;
}

std::string RemoveQuotes(std::string_view s) {
  return RemoveChar(s, '"');
}

bool IniBool(std::string_view s) {
  std::string t = ToLower(RemoveQuotes(s));
  if (t == "true") return true;
  return LeadingNumber(t) != 0;
}

int16_t IniInt16(std::string_view s) {
  auto v = ToInt16(LeadingNumber(s));
  return v ? *v : 0;
}

std::string NormalizeUID(std::string_view s) {
  if (s.find(':') != std::string_view::npos) return std::string(s);
  std::string out(s.substr(0, 2));
  out += ".";
  if (s.size() > 2) out.append(s.substr(2, 4));
  out += ":00";
  return out;
}

PeriodicSchedule ComputePeriodicSchedule(std::string_view text) {
  PeriodicSchedule p;
  if (!IsNumeric(text)) return p;
  const double s = LeadingNumber(text);
  if (!std::isfinite(s) || s < 0 || s > 1e9) return p;  // no timer for nonsense
  const int64_t r = static_cast<int64_t>(RoundHalfEven(s));
  const int64_t m = static_cast<int64_t>(std::floor(s / 60));
  p.enabled = true;
  if (r % 60 != 0) {
    p.interval_ms = (r % 60) * 1000;
    p.minute_counter = m;
  } else {
    p.interval_ms = 60000;
    p.minute_counter = m - 1;
  }
  return p;
}

void SettingsStore::SetIniValue(std::string_view name) {
  try {
    const auto& list = SettingsKeyList();
    Settings& v = values_;
    const std::string lname = ToLower(name);
    // Settings this program adds beside the list.
    if (lname == "serialsettings") {
      v.serial_settings = RemoveQuotes(
          ini_.GetIniSetting(kSettingsSection, "SerialSettings", "9600,n,8,1", kMainIniFile));
      return;
    }
    if (lname == "httpbindaddress") {
      v.http_bind_address =
          RemoveQuotes(ini_.GetIniSetting(kSettingsSection, "HTTPBindAddress", "", kMainIniFile));
      return;
    }
    size_t index = list.size();
    for (size_t i = 0; i < list.size(); ++i) {
      if (EqualsIgnoreCase(list[i], lname)) {
        index = i;
        break;
      }
    }
    if (index == list.size()) return;
    const KeyInfo& info = kKeys[index];
    const std::string raw =
        ini_.GetIniSetting(kSettingsSection, info.key, info.loader_default, kMainIniFile);
    switch (index) {
      case 0:
        v.upb_comm_port = RemoveQuotes(raw);
        break;
      case 1:
        v.serial_ip = RemoveQuotes(raw);
        break;
      case 2:
        v.http_port = RemoveQuotes(raw);
        break;
      case 3:
        v.debug_log = IniBool(raw);
        break;
      case 4:
        v.background = raw;
        break;
      case 5:
        v.style_sheet = RemoveQuotes(raw);
        break;
      case 6:
        v.uid = NormalizeUID(RemoveQuotes(raw));
        break;
      case 7:
        v.show_setup = IniBool(raw);
        break;
      case 8:
        v.show_input_links = IniBool(raw);
        break;
      case 9:
        v.show_macro_map = IniBool(raw);
        break;
      case 10:
        v.show_only_used = IniBool(raw);
        break;
      case 11:
        v.show_status = IniInt16(raw);
        break;
      case 12:
        v.show_receive_messages = IniBool(raw);
        break;
      case 13:
        v.show_receive_detail = IniBool(raw);
        break;
      case 14:
        v.periodic_script_interval = raw;
        break;
      case 15:
        v.input_name_list = raw;
        break;
      case 16:
        v.up_down_increment = raw;
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "SetIniValue", e.what());
  }
}

void SettingsStore::InitIniKeys() {
  try {
    for (const auto& name : SettingsKeyList()) SetIniValue(name);
    SetIniValue("SerialSettings");
    SetIniValue("HTTPBindAddress");
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "InitIniKeys", e.what());
  }
}

void SettingsStore::InitINIVariables() {
  try {
    InitIniKeys();
    if (hooks_.reset_receive) hooks_.reset_receive();
    const bool already_open = hooks_.port_is_open && hooks_.port_is_open();
    if (!values_.upb_comm_port.empty() && !already_open && hooks_.open_port) {
      port_open_ = hooks_.open_port(values_.upb_comm_port);
    }
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "InitINIVariables", e.what());
  }
}

}  // namespace corvane
