// The status text of a zone record, as the status page shows it and the xAP
// state reports carry it (DisplayText): the record's value and, when its
// value list names it, " / " and that name ("1 / On", "5 / 0 db").
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

}  // namespace corvane
