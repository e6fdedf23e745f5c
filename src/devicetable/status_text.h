// The status text of a zone record, as the status page shows it and the xAP
// state reports carry it (DisplayText): the record's value and, when its
// value list names it, " / " and that name ("1 / On", "5 / 0 db"). Also the
// record's value list read as (text, list position) entries: the one reading
// the status text, the xAP value lists and the xAP level all share, so that
// a level a peer picks from the advertised list names the value it shows.
#pragma once

#include <string>
#include <vector>

#include "devicetable/records.h"

namespace corvane {

// Empty when the value lies outside the record's value list.
std::string FormatStatus(const UPBLinkState& item);

// The entries of a value list (separated by character 1); none for an empty
// text.
std::vector<std::string> ValueEntries(const std::string& values);

// One entry of a record's value list and the value (list position) it names.
// A level kind's stored list leaves out the requests "Up" and "Down", so its
// entries name positions 2 onwards.
struct ListedValue {
  std::string text;      // the display text (the whole entry when it has no index)
  int position = 0;      // the record Value this entry stands for
  bool named = false;    // the entry has an index part (after character 2)
  bool indexed = false;  // ... and that index is numeric
};
std::vector<ListedValue> ListedValues(const UPBLinkState& record);
// The highest position the record's value list names; -1 for an empty list.
int LastListPosition(const UPBLinkState& record);
// The position of the list's first stored entry: 2 for level kinds, else 0.
int FirstListPosition(int kind);

}  // namespace corvane
