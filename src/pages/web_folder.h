// The web folder the program ships (style sheet, help page, pictures),
// built into the executable and copied into HTML/ of the program folder
// where files are missing. The user's own files are never replaced.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class EventLog;

struct ShippedWebFile {
  std::string_view name;  // path below HTML/, "/" separated
  std::string_view data;
};

// Every file of the shipped web folder.
const std::vector<ShippedWebFile>& ShippedWebFiles();

// Copies each shipped file that HTML/ lacks (names compared ignoring letter
// case, folders reused whatever their letter case) into `html_folder`.
// Returns the number of files written; failures are reported to `log`.
int InstallWebFolder(const std::string& html_folder, EventLog& log);

}  // namespace corvane
