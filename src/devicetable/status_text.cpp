#include "devicetable/status_text.h"

#include "core/text.h"
#include "devicetable/levels.h"

namespace corvane {

std::vector<std::string> ValueEntries(const std::string& values) {
  if (values.empty()) return {};
  return Split(values, '\x01');
}

int FirstListPosition(int kind) {
  return TableForKind(kind) ? kFirstLevelPosition : 0;
}

std::vector<ListedValue> ListedValues(const UPBLinkState& record) {
  std::vector<ListedValue> out;
  const int first = FirstListPosition(record.Kind);
  const auto entries = ValueEntries(record.Values);
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& entry = entries[i];
    const size_t two = entry.find('\x02');
    ListedValue v;
    v.position = first + static_cast<int>(i);
    v.text = entry.substr(0, two);
    v.named = two != std::string::npos;
    v.indexed = v.named && IsNumeric(entry.substr(two + 1));
    out.push_back(std::move(v));
  }
  return out;
}

int LastListPosition(const UPBLinkState& record) {
  const size_t n = ValueEntries(record.Values).size();
  return n == 0 ? -1 : FirstListPosition(record.Kind) + static_cast<int>(n) - 1;
}

std::string FormatStatus(const UPBLinkState& item) {
  for (const ListedValue& v : ListedValues(item)) {
    if (v.position != item.Value) continue;
    if (!v.named) return std::to_string(item.Value);
    return std::to_string(item.Value) + " / " + v.text;
  }
  return {};
}

}  // namespace corvane
