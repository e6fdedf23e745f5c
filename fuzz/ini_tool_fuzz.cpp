// Feeds arbitrary bytes to the INI reader as a file's content, then reads,
// writes and saves the result as the program does.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/ini_tool.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvane::IniTool ini;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ini.LoadText(text);
  for (const auto& header : ini.Headers()) {
    for (const auto& key : ini.Keys(header)) (void)ini.Read(header, key, "x");
  }
  ini.WriteKey("Vaux", "UID", "FF.0022:00");
  // What Save writes must read back to the same entries.
  const std::string saved = ini.SaveText();
  corvane::IniTool again;
  again.LoadText(saved);
  if (again.SaveText() != saved) __builtin_trap();
  ini.RemoveSection("Vaux");
  return 0;
}
