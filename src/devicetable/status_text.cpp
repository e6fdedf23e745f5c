#include "devicetable/status_text.h"

#include "core/text.h"

namespace corvane {

std::vector<std::string> ValueEntries(const std::string& values) {
  if (values.empty()) return {};
  return Split(values, '\x01');
}

std::string FormatStatus(const UPBLinkState& item) {
  // Level lists begin with "Up" and "Down", which the stored list leaves out.
  const int index = (item.Kind == 0 || item.Kind == 1) ? item.Value : item.Value - 2;
  const auto entries = ValueEntries(item.Values);
  if (index < 0 || static_cast<size_t>(index) >= entries.size()) return {};
  const std::string& entry = entries[static_cast<size_t>(index)];
  const size_t two = entry.find('\x02');
  if (two == std::string::npos) return std::to_string(item.Value);
  return std::to_string(item.Value) + " / " + entry.substr(0, two);
}

}  // namespace corvane
