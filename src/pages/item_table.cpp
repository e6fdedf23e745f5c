#include "pages/item_table.h"

#include <algorithm>
#include <functional>

#include "core/text.h"
#include "devicetable/status_text.h"

namespace corvane {

namespace {

// -1, 0 or 1 for two rows by one field.
using FieldCompare = std::function<int(const ItemRow&, const ItemRow&)>;

template <typename T>
int Cmp(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

FieldCompare Text(std::string ItemRow::*field) {
  return [field](const ItemRow& a, const ItemRow& b) {
    const int c = CompareIgnoreCase(a.*field, b.*field);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  };
}
template <typename T>
FieldCompare Plain(T ItemRow::*field) {
  return [field](const ItemRow& a, const ItemRow& b) { return Cmp(a.*field, b.*field); };
}

std::optional<FieldCompare> FieldByName(std::string_view name) {
  static const std::pair<std::string_view, FieldCompare> kFields[] = {
      {"LinkOn", Text(&ItemRow::LinkOn)},     {"LinkOff", Text(&ItemRow::LinkOff)},
      {"ModuleID", Text(&ItemRow::ModuleID)}, {"Location", Text(&ItemRow::Location)},
      {"Name", Text(&ItemRow::Name)},         {"Changed", Plain(&ItemRow::Changed)},
      {"Used", Plain(&ItemRow::Used)},        {"DCSort", Text(&ItemRow::DCSort)},
      {"Status", Text(&ItemRow::Status)},     {"UIDIndex", Text(&ItemRow::UIDIndex)},
      {"Tag", Text(&ItemRow::Tag)},           {"Event", Plain(&ItemRow::Event)},
      {"Kind", Plain(&ItemRow::Kind)},        {"Buttons", Plain(&ItemRow::Buttons)},
      {"Value", Plain(&ItemRow::Value)},      {"Values", Text(&ItemRow::Values)},
  };
  for (const auto& [n, cmp] : kFields) {
    if (EqualsIgnoreCase(n, name)) return cmp;
  }
  return std::nullopt;
}

}  // namespace

void ItemTable::AddLinkInfo(const UPBLinkState& item) {
  ItemRow r;
  r.LinkOn = item.OnLink;
  r.LinkOff = item.OffLink;
  r.ModuleID = std::to_string(item.UIDindex);
  r.Name = item.Name;
  r.Changed = item.LastChange;
  r.Used = item.Used;
  r.DCSort = ToHex(item.UIDindex);
  r.Status = FormatStatus(item);
  r.UIDIndex = std::to_string(item.UIDindex);
  r.Tag = item.Tag;
  r.Event = item.EventNotification;
  r.Kind = item.Kind;
  if (!item.Values.empty()) r.Buttons = 1;
  r.Value = item.Value;
  r.Values = item.Values;
  rows_.push_back(std::move(r));
}

bool ItemTable::Sort(std::string_view sort) {
  struct Key {
    FieldCompare cmp;
    bool descending;
  };
  std::vector<Key> keys;
  for (const std::string& part : Split(sort, ',')) {
    std::vector<std::string> words;
    for (const std::string& w : Split(TrimWhite(part), ' ')) {
      if (!w.empty()) words.push_back(w);
    }
    if (words.empty() || words.size() > 2) return false;
    auto cmp = FieldByName(words[0]);
    if (!cmp) return false;
    bool descending = false;
    if (words.size() == 2) {
      if (EqualsIgnoreCase(words[1], "DESC")) {
        descending = true;
      } else if (!EqualsIgnoreCase(words[1], "ASC")) {
        return false;
      }
    }
    keys.push_back({std::move(*cmp), descending});
  }
  if (keys.empty()) return false;
  std::stable_sort(rows_.begin(), rows_.end(), [&](const ItemRow& a, const ItemRow& b) {
    for (const Key& k : keys) {
      const int c = k.cmp(a, b);
      if (c != 0) return k.descending ? c > 0 : c < 0;
    }
    return false;
  });
  return true;
}

void ItemTable::FilterUsed() {
  std::erase_if(rows_, [](const ItemRow& r) { return !r.Used; });
}

}  // namespace corvane
