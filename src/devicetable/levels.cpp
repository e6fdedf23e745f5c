#include "devicetable/levels.h"

#include <algorithm>

#include "core/text.h"

namespace corvane {

namespace {

LevelTable Build(int first_code, int last_code, int step_db, int zero_code) {
  LevelTable t;
  for (int c = first_code; c >= last_code; --c) {
    t.push_back(c);
    t.push_back(step_db * (c - zero_code));
  }
  return t;
}

size_t PairCount(const LevelTable& t) {
  return t.size() / 2;
}

// The pair DbToCode and DbToListPosition choose.
size_t PairAtOrBelow(int db, const LevelTable& t) {
  const size_t n = PairCount(t);
  for (size_t p = 0; p < n; ++p) {
    if (t[2 * p + 1] <= db) return p;
  }
  return n ? n - 1 : 0;
}

}  // namespace

const std::vector<std::string>& ZoneAttributes() {
  static const std::vector<std::string> list =
      Split("Source,Status,VolumeDb,BassDB,TrebleDb,TurnOn_MuteDb,TurnOn_VolumeDb", ',');
  return list;
}

std::string_view ComponentType(int component_index) {
  const auto& list = ZoneAttributes();
  if (component_index < 0 || component_index >= static_cast<int>(list.size())) return {};
  return list[static_cast<size_t>(component_index)];
}

const LevelTable& VolumeTable() {
  static const LevelTable t = [] {
    LevelTable v = Build(63, 28, 2, 60);
    v.push_back(27);
    v.push_back(-80);
    return v;
  }();
  return t;
}

const LevelTable& BassTable() {
  static const LevelTable t = Build(11, 3, 3, 6);
  return t;
}

const LevelTable& TrebleTable() {
  static const LevelTable t = Build(10, 3, 3, 6);
  return t;
}

const LevelTable* TableForKind(int kind) {
  switch (kind) {
    case kVolumeKind:
    case kTurnOnMuteKind:
    case kTurnOnVolumeKind:
      return &VolumeTable();
    case kBassKind:
      return &BassTable();
    case kTrebleKind:
      return &TrebleTable();
    default:
      return nullptr;
  }
}

int CodeToDb(int code, const LevelTable& table) {
  for (size_t p = 0; p < PairCount(table); ++p) {
    if (table[2 * p] == code) return table[2 * p + 1];
  }
  return 0;
}

int DbToCode(int db, const LevelTable& table) {
  if (table.empty()) return 0;
  return table[2 * PairAtOrBelow(db, table)];
}

int DbToListPosition(int db, const LevelTable& table) {
  return static_cast<int>(PairAtOrBelow(db, table)) + kFirstLevelPosition;
}

namespace {

// The pair a list position names, limited to the table.
size_t PairOfPosition(int pos, const LevelTable& table) {
  const int last = static_cast<int>(PairCount(table)) - 1;
  return static_cast<size_t>(std::clamp(pos - kFirstLevelPosition, 0, std::max(last, 0)));
}

}  // namespace

int ListPositionToCode(int pos, const LevelTable& table) {
  return table.empty() ? 0 : table[2 * PairOfPosition(pos, table)];
}

int PositionToDb(int pos, const LevelTable& table) {
  return table.empty() ? 0 : table[2 * PairOfPosition(pos, table) + 1];
}

std::vector<std::string> LevelList(const LevelTable& table) {
  std::vector<std::string> list{"Up", "Down"};
  for (size_t p = 0; p < PairCount(table); ++p) {
    list.push_back(std::to_string(table[2 * p + 1]) + " db");
  }
  return list;
}

const std::vector<std::string>& StatusList() {
  static const std::vector<std::string> list{"Off", "On", "Mute"};
  return list;
}

const std::vector<std::string>& StatusRequestList() {
  static const std::vector<std::string> list{"Toggle", "On", "Mute"};
  return list;
}

}  // namespace corvane
