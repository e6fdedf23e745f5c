// The item table of the status page: one row per zone record, rebuilt for
// every page, sorted the way a record set sorts ("Field [ASC|DESC], ...")
// and optionally filtered to the used items.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devicetable/records.h"

namespace corvane {

struct ItemRow {
  std::string LinkOn;
  std::string LinkOff;
  std::string ModuleID;
  std::string Location;
  std::string Name;
  double Changed = 0;
  bool Used = false;
  std::string DCSort;
  std::string Status;
  std::string UIDIndex;
  std::string Tag;
  bool Event = false;
  int Kind = 0;
  std::optional<int> Buttons;  // 1 when the item has a value list
  int Value = 0;
  std::string Values;
};

class ItemTable {
 public:
  // AddLinkInfo: one row for a zone record.
  void AddLinkInfo(const UPBLinkState& item);
  // Sorts by a record-set sort text: field names (any letter case), each
  // optionally followed by ASC or DESC, separated by ",". Text fields compare
  // ignoring letter case; equal rows keep their order. A text naming an
  // unknown field or direction leaves the order unchanged and gives false.
  bool Sort(std::string_view sort);
  // Keeps the rows whose Used is true.
  void FilterUsed();

  const std::vector<ItemRow>& rows() const { return rows_; }
  void Clear() { rows_.clear(); }

 private:
  std::vector<ItemRow> rows_;
};

}  // namespace corvane
