// Loads section "Vaux" of Corvane.ini into `Settings`. Each key is one row of a
// table (list name, key in the file, loader and form defaults, loader), so the
// start-up loader, the setup form and a single-key reload read the same rows.
#include "config/settings.h"

#include <cmath>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "core/text.h"

namespace corvane {

namespace {

// Stores one raw INI text into its field of `Settings`, converted.
using Loader = void (*)(Settings&, const std::string& raw);

template <std::string Settings::*Field>
void Text(Settings& s, const std::string& raw) { s.*Field = raw; }
template <std::string Settings::*Field>
void Unquoted(Settings& s, const std::string& raw) { s.*Field = RemoveQuotes(raw); }
template <bool Settings::*Field>
void Bool(Settings& s, const std::string& raw) { s.*Field = IniBool(raw); }
template <int16_t Settings::*Field>
void Int16(Settings& s, const std::string& raw) { s.*Field = IniInt16(raw); }
void Uid(Settings& s, const std::string& raw) { s.uid = NormalizeUID(RemoveQuotes(raw)); }

struct KeyInfo {
  std::string_view list_name;  // as the key list spells it (the setup form's boxes use it)
  std::string_view key;        // as written to the file
  std::string_view loader_default;
  std::string_view form_default;
  Loader load;
};

constexpr std::string_view kInputNames = "Input1,Input2,Input3,Input4,Input5,Input6,Input7,Input8";

// The settings key list, in its order: the setup form's 13 boxes are the first 13 rows.
constexpr KeyInfo kKeys[] = {
    {"upbcommport", "UPBCommPort", "", "", Unquoted<&Settings::upb_comm_port>},
    {"serialip", "SerialIP", "", "", Unquoted<&Settings::serial_ip>},
    {"httpport", "HTTPPort", kDefaultHttpPort, "", Unquoted<&Settings::http_port>},
    {"debuglog", "DebugLog", "False", "false", Bool<&Settings::debug_log>},
    {"background", "Background", "Black", "black", Text<&Settings::background>},
    {"styleSheet", "StyleSheet", "StyleNoBody.css", "StyleNoBody.css",
     Unquoted<&Settings::style_sheet>},
    {"uid", "UID", "FF.0022:00", "FF.0022:00", Uid},
    {"showsetup", "ShowSetup", "false", "true", Bool<&Settings::show_setup>},
    {"showinputlinks", "ShowInputLinks", "false", "false", Bool<&Settings::show_input_links>},
    {"ShowMacroMap", "ShowMacroMap", "false", "false", Bool<&Settings::show_macro_map>},
    {"showonlyused", "ShowOnlyUsed", "false", "False", Bool<&Settings::show_only_used>},
    {"showstatus", "ShowStatus", "0", "2", Int16<&Settings::show_status>},
    {"showreceivemessages", "ShowReceiveMessages", "false", "false",
     Bool<&Settings::show_receive_messages>},
    {"showreceivedetail", "ShowReceiveDetail", "false", "False",
     Bool<&Settings::show_receive_detail>},
    {"periodicscriptinterval", "PeriodicScriptInterval", "", "",
     Text<&Settings::periodic_script_interval>},
    {"inputnamelist", "inputnamelist", kInputNames, kInputNames, Text<&Settings::input_name_list>},
    {"updownincrement", "UpDownIncrement", "3", "3", Text<&Settings::up_down_increment>},
};

// Settings this program adds beside the list; loaded the same way, shown on no form.
constexpr KeyInfo kAddedKeys[] = {
    {"SerialSettings", "SerialSettings", "9600,n,8,1", "", Unquoted<&Settings::serial_settings>},
    {"HTTPBindAddress", "HTTPBindAddress", "", "", Unquoted<&Settings::http_bind_address>},
    {"ScriptTimeout", "ScriptTimeout", "90", "", Unquoted<&Settings::script_timeout>},
    // Read at start-up with the UID (the xAP identity is set before the
    // other settings are loaded); listed so it is loaded and kept likewise.
    {"Instance", "Instance", "", "", Unquoted<&Settings::instance>},
    {"RequestTimeout", "RequestTimeout", "60", "", Unquoted<&Settings::request_timeout>},
    {"StatusPoll", "StatusPoll", "0", "", Unquoted<&Settings::status_poll>},
};

const KeyInfo* FindKey(std::string_view name) {
  for (const auto& k : kKeys)
    if (EqualsIgnoreCase(k.list_name, name)) return &k;
  for (const auto& k : kAddedKeys)
    if (EqualsIgnoreCase(k.list_name, name)) return &k;
  return nullptr;
}

template <typename Field>
std::vector<std::string> Column(Field field) {
  std::vector<std::string> v;
  for (const auto& k : kKeys) v.emplace_back(k.*field);
  return v;
}

}  // namespace

const std::vector<std::string>& SettingsKeyList() {
  static const std::vector<std::string> list = Column(&KeyInfo::list_name);
  return list;
}

const std::vector<std::string>& LoaderDefaults() {
  static const std::vector<std::string> list = Column(&KeyInfo::loader_default);
  return list;
}

const std::vector<std::string>& FormDefaults() {
  static const std::vector<std::string> list = Column(&KeyInfo::form_default);
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
  const KeyInfo* info = FindKey(name);
  if (info == nullptr) return;
  info->load(values_,
             ini_.GetIniSetting(kSettingsSection, info->key, info->loader_default, kMainIniFile));
}

void SettingsStore::InitIniKeys() {
  for (const auto& k : kKeys) SetIniValue(k.list_name);
  for (const auto& k : kAddedKeys) SetIniValue(k.list_name);
}

// The callers' boundaries (start-up's InitHW, a reload) report a failure.
void SettingsStore::InitINIVariables() {
  InitIniKeys();
  if (hooks_.reset_receive) hooks_.reset_receive();
  const bool already_open = hooks_.port_is_open && hooks_.port_is_open();
  if (!values_.upb_comm_port.empty() && !already_open && hooks_.open_port) {
    port_open_ = hooks_.open_port(values_.upb_comm_port);
  }
}

}  // namespace corvane
