// Reading the controller's reply lines: the kinds, the report texts of
// information, error and event codes, and the layouts of the zone status,
// power-up and configuration replies. Pure functions of the line.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The two-digit hex field at 1-based character position `pos` of `line`;
// a missing field reads -1 (a partly present one reads its one digit).
int HexField(std::string_view line, size_t pos);

// The code of a "VI" or "VE" line: characters 3-4, spaces trimmed.
std::string ReplyCode(std::string_view line);
// "Command Accepted", ... or "Vaux Information Unknown " + code.
std::string InformationText(std::string_view code);
// "Invalid Checksum (...)", ... or "Unknown Error Code " + code.
std::string ErrorText(std::string_view code);
// The status text of an event ("VV") line by its numeric value.
std::string EventStatusText(int value);
// The function text of an event line from its source number and function code.
std::string EventFunctionText(int source, int function);
// The report of a "VV" line.
std::string EventReport(std::string_view line);

// A zone status reply ("VX" to a zone status request).
struct ZoneStatusReply {
  int status = -1;  // 0 Off, 1 On, 2 Mute (larger values count as 2)
  int source = -1;  // 0 none, 1..8 inputs
  int volume_code = -1;
  int bass_code = -1;
  int treble_code = -1;
  int zone = -1;
};
ZoneStatusReply ParseZoneStatus(std::string_view line);
std::string_view StatusName(int status);
// "Vaux Zone Status Response: <line>=> Zone z, Source=s, Status=..., Volume=vdb, ..."
std::string ZoneStatusReport(std::string_view line, const ZoneStatusReply& reply);

// A power-up reply ("VX" to a power-up request); the zone is not in it.
struct PowerupReply {
  int volume_code = -1;  // turn-on volume
  int mute_code = -1;    // turn-on mute level
};
PowerupReply ParsePowerup(std::string_view line);
std::string PowerupReport(std::string_view line, int zone, const PowerupReply& reply);

// The flags of configuration byte A or B ("ConfigurationByteA" or "...B"):
// the name, then ", flag=True/False" for each named bit from the lowest.
std::string ConfigurationReport(std::string_view name, int byte);

}  // namespace corvane
