// The program's own settings: section "Vaux" of Corvane.ini, loaded into
// memory at start-up and read from memory by every module.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class IniCache;
class EventLog;

inline constexpr std::string_view kMainIniFile = "Corvane.ini";
inline constexpr std::string_view kXapIniFile = "zynXap.ini";
inline constexpr std::string_view kSettingsSection = "Vaux";
// The web server's port when HTTPPort is not set.
inline constexpr std::string_view kDefaultHttpPort = "8018";

struct Settings {
  std::string upb_comm_port;  // UPBCommPort: controller port; empty opens none
  std::string serial_ip;      // SerialIP: serial-to-TCP adapter address
  std::string http_port{kDefaultHttpPort};
  bool debug_log = false;
  std::string background = "Black";
  std::string style_sheet = "StyleNoBody.css";
  std::string uid = "FF.0022:00";
  bool show_setup = false;
  bool show_input_links = false;
  bool show_macro_map = false;
  bool show_only_used = false;
  int16_t show_status = 0;
  bool show_receive_messages = false;
  bool show_receive_detail = false;
  std::string periodic_script_interval;
  std::string input_name_list = "Input1,Input2,Input3,Input4,Input5,Input6,Input7,Input8";
  std::string up_down_increment = "3";
  // Settings this program adds to the list above.
  std::string serial_settings = "9600,n,8,1";  // SerialSettings: serial line parameters
  std::string http_bind_address;               // HTTPBindAddress: empty = all addresses
  std::string script_timeout = "90";           // ScriptTimeout: seconds a script may run
  std::string instance;  // Instance: appended to the xAP source address; empty = none
  std::string request_timeout = "60";  // RequestTimeout: seconds a controller request may wait
  std::string status_poll = "0";       // StatusPoll: seconds between zone polls; 0 = none
};

// The settings key list (17 names, in order), shared by the start-up loader
// and the desktop setup form, whose boxes take the first 13.
const std::vector<std::string>& SettingsKeyList();
// Defaults used when a key is missing or empty, indexed like the key list.
const std::vector<std::string>& LoaderDefaults();
// Defaults the setup form shows for a missing key, indexed like the key list.
const std::vector<std::string>& FormDefaults();

// Text to value conversions of the settings.
std::string RemoveQuotes(std::string_view s);
bool IniBool(std::string_view s);
// The leading number, rounded halves to even; 0 when it does not fit 16 bits.
int16_t IniInt16(std::string_view s);
// "FF002200" -> "FF.0022:00"; a text holding ":" is used unchanged.
std::string NormalizeUID(std::string_view s);

// The periodic-script timer derived from PeriodicScriptInterval (seconds).
struct PeriodicSchedule {
  bool enabled = false;
  int64_t interval_ms = 0;
  int64_t minute_counter = 0;
};
PeriodicSchedule ComputePeriodicSchedule(std::string_view periodic_script_interval);

// Loads the settings through the INI cache and keeps them.
class SettingsStore {
 public:
  SettingsStore(IniCache& ini, EventLog& /*log*/) : ini_(ini) {}

  Settings& values() { return values_; }
  const Settings& values() const { return values_; }

  // Loads every key of the settings key list (and the added settings).
  void InitIniKeys();
  // Loads one setting by its list name (any letter case); others are ignored.
  void SetIniValue(std::string_view name);

  // What InitINIVariables does with the controller port, supplied by the
  // controller link once it exists.
  struct PortHooks {
    std::function<void()> reset_receive;                // empty the pending receive text
    std::function<bool()> port_is_open;                 // is the port already open
    std::function<bool(const std::string&)> open_port;  // InitCommPort
  };
  void SetPortHooks(PortHooks hooks) { hooks_ = std::move(hooks); }
  // InitIniKeys, then resets the link's receive state and, when UPBCommPort
  // is set and the port is not open yet, opens it.
  void InitINIVariables();
  bool port_open_flag() const { return port_open_; }

 private:
  IniCache& ini_;
  Settings values_;
  PortHooks hooks_;
  bool port_open_ = false;
};

}  // namespace corvane
