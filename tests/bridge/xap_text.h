// The text of a received xAP message for tests: header lines, then sections,
// each given as its name followed by "item=value" lines.
#pragma once

#include <string>
#include <vector>

namespace corvane::testing {

inline std::string XapText(const std::string& cls, const std::string& source,
                           const std::string& target,
                           const std::vector<std::vector<std::string>>& sections) {
  std::string t =
      "xap-header\n{\nv=13\nhop=1\nuid=FF.1234:00\nclass=" + cls + "\nsource=" + source + "\n";
  if (!target.empty()) t += "target=" + target + "\n";
  t += "}\n";
  for (const auto& s : sections) {
    t += s.at(0) + "\n{\n";
    for (size_t i = 1; i < s.size(); ++i) t += s[i] + "\n";
    t += "}\n";
  }
  return t;
}

}  // namespace corvane::testing
