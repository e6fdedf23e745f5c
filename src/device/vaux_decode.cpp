#include "device/vaux_decode.h"

#include <array>

#include "core/text.h"
#include "devicetable/levels.h"

namespace corvane {

namespace {

struct CodeText {
  std::string_view code;
  std::string_view text;
};

constexpr CodeText kInformation[] = {
    {"80", "Command Accepted"},
    {"81", "Command Aborted (an ABORT character was received — buffer flushed)"},
    {"82", "Bogus Character (an invalid character was received)"},
    {"85", "Empty MACRO"},
    {"86", "Invalid SecurityID Code"},
    {"90", "IR Learn was successful"},
    {"91", "IR Learn timed-out"},
    {"98", "Controller System Program Load Successful"},
};

constexpr CodeText kErrors[] = {
    {"00", "Invalid Checksum (when checksumming is enabled)"},
    {"01", "Invalid Configuration Command (its mandatory checksum was incorrect)"},
    {"02", "Invalid Request Command (an invalid request number was found)"},
    {"03", "Invalid Control Command (an invalid device number was found)"},
    {"04", "Invalid Security ID Program Command (its mandatory checksum was bad)"},
    {"08", "Invalid Extended Control Command (invalid device or >255 data bytes)"},
    {"10", "IR Learn or Playback error (invalid device or function, no IR data...)"},
    {"12", "Invalid X10 Command or X-10 interface not found"},
    {"20", "RS-232 buffer overflow — cmd lost/buffer flushed (bad handshake?)"},
    {"22", "Action queue overflow (should not occur — queue was flushed)"},
    {"30", "Invalid MACRO number requested"},
    {"31", "Invalid Device (Source) number requested"},
    {"32", "Invalid Function number requested"},
    {"33", "Invalid Zone number (or Group) requested"},
    {"41", "Backup battery is low (10 years typical life) — service required"},
    {"60", "Vaux internal error code — system will hang (contact factory)"},
    {"70", "Vaux internal error code (contact factory)"},
    {"90", "Controller System Program not loaded — download now"},
    {"91", "Program download error (contact factory)"},
    {"92", "Program download error (contact factory)"},
    {"93", "Program download error (contact factory)"},
    {"94", "Program download error (contact factory)"},
    {"95", "Program download error (contact factory)"},
};

struct ValueText {
  int value;
  std::string_view text;
};

constexpr ValueText kEventStatus[] = {
    {0, "Function Not Performed by Controller"},
    {1, "Function Performed"},
    {16, "Invalid X-10 Function — Not Performed"},
    {17, "X-10 Interface Not Connected"},
    {21, "X-10 Input packet received (Altrix 3xxx and Aris 720i only)"},
    {33, "No Infrared data stored for this device/function"},
    {34, "No Infrared repeat data stored for this device/function"},
    {35, "IR data stored for this device/function is corrupt (should not occur)"},
    {36, "Unknown Infrared Function code"},
    {37, "Unknown Infrared Device code (00 or > 08h)"},
    {38, "Infrared Learn was successful"},
    {39, "Infrared Learn timed-out"},
    {40, "Infrared Learn internal error 0"},
    {41, "Infrared Learn internal error 1"},
    {48, "MACRO playback requested (Macro number, in hex, is in options byte)"},
    {64, "A/V Route was performed"},
    {65, "A/V Route was not performed"},
    {134, "Invalid SecID Code (dd/ff=received SecID, zz/oo=expected SecID)"},
    {153, "System Boot (dd = Ctrl Model, ff = Protocol Version, zz = Subver, oo = system cksum)"},
};

constexpr std::array<std::string_view, 8> kFlagsA = {
    "Echo_Errors",    "Ignore_Checksum", "Enable_Prompts", "Info_Messages",
    "Error_Messages", "Event_Messages",  "Zone_IR",        ""};
constexpr std::array<std::string_view, 8> kFlagsB = {
    "Disable_Programming", "XON-XOFF", "Modem", "", "", "", "", ""};

template <size_t N>
std::string_view Find(const CodeText (&table)[N], std::string_view code) {
  for (const auto& e : table) {
    if (e.code == code) return e.text;
  }
  return {};
}

}  // namespace

std::string ReplyCode(std::string_view line) {
  std::string_view code = line.size() > 2 ? line.substr(2, 2) : std::string_view();
  return std::string(TrimSpaces(code));
}

int HexField(std::string_view line, size_t pos) {
  if (pos == 0 || pos > line.size()) return -1;
  return HexValue(line.substr(pos - 1, 2));
}

std::string InformationText(std::string_view code) {
  std::string_view text = Find(kInformation, code);
  return text.empty() ? "Vaux Information Unknown " + std::string(code) : std::string(text);
}

std::string ErrorText(std::string_view code) {
  std::string_view text = Find(kErrors, code);
  return text.empty() ? "Unknown Error Code " + std::string(code) : std::string(text);
}

std::string EventStatusText(int value) {
  for (const auto& e : kEventStatus) {
    if (e.value == value) return std::string(e.text);
  }
  return "Unknown Function Code: " + ToHex(value);
}

namespace {

// Function codes of the X10 (sources 10 and 16) and security (source 11)
// inputs; a code not listed reads "<kind> Unknown".
struct FunctionName {
  int function;
  std::string_view text;
};
constexpr FunctionName kX10Functions[] = {
    {18, "X10 DIM"}, {20, "X10 ON"}, {26, "X10 BRIGHT"}, {28, "X10 OFF"}};
constexpr FunctionName kSecurityFunctions[] = {{20, "Security ARM"}, {28, "Security DISARM"}};

template <size_t N>
std::string FunctionText(const FunctionName (&names)[N], int function, std::string_view unknown) {
  for (const auto& n : names) {
    if (n.function == function) return std::string(n.text);
  }
  return std::string(unknown);
}

}  // namespace

std::string EventFunctionText(int source, int function) {
  if (source >= 1 && source <= 8) return "IR " + ToHex(function);
  if (source == 9) return "HVAC " + ToHex(function);
  if (source == 10 || source == 16) return FunctionText(kX10Functions, function, "X10 Unknown");
  if (source == 11) return FunctionText(kSecurityFunctions, function, "Security Unknown");
  return "Unknown Function";
}

std::string EventReport(std::string_view line) {
  const int status = HexField(line, 5);
  const int source = HexField(line, 7);
  const int function = HexField(line, 9);
  const int zone = HexField(line, 11);
  return "Vaux Event: " + std::string(line) + "> Status=" + EventStatusText(status) +
         ", Source=" + std::to_string(source) + ", Zone=" + std::to_string(zone) +
         ", Function=" + EventFunctionText(source, function);
}

ZoneStatusReply ParseZoneStatus(std::string_view line) {
  ZoneStatusReply r;
  r.status = HexField(line, 3);
  if (r.status > 2) r.status = 2;
  r.source = HexField(line, 5);
  r.volume_code = HexField(line, 7);
  r.bass_code = HexField(line, 9);
  r.treble_code = HexField(line, 11);
  r.zone = HexField(line, 13);
  return r;
}

std::string_view StatusName(int status) {
  const auto& names = StatusList();
  if (status < 0) return "Unknown";
  return names[static_cast<size_t>(status > 2 ? 2 : status)];
}

std::string ZoneStatusReport(std::string_view line, const ZoneStatusReply& r) {
  return "Vaux Zone Status Response: " + std::string(line) + "=> Zone " + std::to_string(r.zone) +
         ", Source=" + std::to_string(r.source) + ", Status=" + std::string(StatusName(r.status)) +
         ", Volume=" + std::to_string(CodeToDb(r.volume_code, VolumeTable())) +
         "db, Bass=" + std::to_string(CodeToDb(r.bass_code, BassTable())) +
         "db, Treble=" + std::to_string(CodeToDb(r.treble_code, TrebleTable())) + "db";
}

PowerupReply ParsePowerup(std::string_view line) {
  PowerupReply r;
  r.volume_code = HexField(line, 3);
  r.mute_code = HexField(line, 13);
  return r;
}

std::string PowerupReport(std::string_view line, int zone, const PowerupReply& r) {
  return "Vaux Zone Powerup Response: " + std::string(line) + "=> Zone " + std::to_string(zone) +
         ", Mute=" + std::to_string(CodeToDb(r.mute_code, VolumeTable())) +
         "db, Volume=" + std::to_string(CodeToDb(r.volume_code, VolumeTable())) + "db";
}

std::string ConfigurationReport(std::string_view name, int byte) {
  const auto& flags = name == "ConfigurationByteB" ? kFlagsB : kFlagsA;
  std::string text(name);
  for (size_t bit = 0; bit < flags.size(); ++bit) {
    if (flags[bit].empty()) continue;
    text += ", ";
    text += flags[bit];
    text += (byte >= 0 && (byte >> bit) & 1) ? "=True" : "=False";
  }
  return text;
}

}  // namespace corvane
