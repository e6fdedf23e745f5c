// The zone model's fixed tables: the zone attributes, the controller's level
// tables (level code <-> decibels) with their conversions, and the value
// lists a zone record's value is a position in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

inline constexpr int kZoneCount = 6;
inline constexpr int kAttributeCount = 7;
inline constexpr int kZoneRecordCount = kZoneCount * kAttributeCount;  // 42

// Record kinds (= attribute index) in attribute order.
enum ZoneKind : int {
  kSourceKind = 0,
  kStatusKind = 1,
  kVolumeKind = 2,
  kBassKind = 3,
  kTrebleKind = 4,
  kTurnOnMuteKind = 5,
  kTurnOnVolumeKind = 6,
};

// "Source,Status,VolumeDb,BassDB,TrebleDb,TurnOn_MuteDb,TurnOn_VolumeDb".
const std::vector<std::string>& ZoneAttributes();
// The attribute name of a component index; empty outside 0..6.
std::string_view ComponentType(int component_index);

// The record number (UIDindex, 1..42) of attribute `kind` of `zone` (1..6),
// and the zone (1..6) of a record number.
inline int RecordIndex(int kind, int zone) {
  return kZoneCount * kind + zone;
}
inline int ZoneOfRecord(int uid_index) {
  return ((uid_index - 1) % kZoneCount + kZoneCount) % kZoneCount + 1;
}

// A level table: (code, decibels) pairs, highest level first, kept as one
// flat list code, dB, code, dB, ... (codes at even indices).
using LevelTable = std::vector<int>;

const LevelTable& VolumeTable();  // codes 63..28 = 2 x (c - 60) dB, then 27 = -80 dB
const LevelTable& BassTable();    // codes 11..3 = 3 x (c - 6) dB
const LevelTable& TrebleTable();  // codes 10..3 = 3 x (c - 6) dB
// The table of a level kind (2..6), or nullptr for the other kinds.
const LevelTable* TableForKind(int kind);

// The decibels of the first pair holding `code`; 0 when none does.
int CodeToDb(int code, const LevelTable& table);
// The code of the first pair whose decibels are at or below `db` (the first
// code above the table's range, the last one below it).
int DbToCode(int db, const LevelTable& table);
// The list position of that pair (pair p is position p + 2).
int DbToListPosition(int db, const LevelTable& table);
// The code of pair pos - 2, limited to the first and last pair.
int ListPositionToCode(int pos, const LevelTable& table);

// Named positions of the value and request lists, so that no layer writes
// them as bare numbers. A level kind's list starts with the two relative
// requests; the Status request list ("Toggle", "On", "Mute") shares its
// positions with the stored Status list ("Off", "On", "Mute").
inline constexpr int kUpPosition = 0;      // level kinds: "Up" (one step louder)
inline constexpr int kDownPosition = 1;    // level kinds: "Down"
inline constexpr int kFirstLevelPosition = 2;  // level kinds: the table's first (loudest) pair
inline constexpr int kTogglePosition = 0;  // Status request: "Toggle"
inline constexpr int kOffPosition = 0;     // Status value: "Off"
inline constexpr int kOnPosition = 1;      // Status: "On"
inline constexpr int kMutePosition = 2;    // Status: "Mute"

// The decibels a level list position names (pair position - 2), limited to
// the table's first and last pair; 0 for an empty table.
int PositionToDb(int position, const LevelTable& table);

// A level kind's value list: "Up", "Down", then each pair's decibels followed
// by " db" ("6 db", "4 db", ... "-80 db").
std::vector<std::string> LevelList(const LevelTable& table);
// The Status list as stored ("Off", "On", "Mute") and as offered for
// control ("Toggle", "On", "Mute").
const std::vector<std::string>& StatusList();
const std::vector<std::string>& StatusRequestList();

}  // namespace corvane
