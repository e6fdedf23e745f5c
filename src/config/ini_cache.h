// The INI cache: one IniTool per settings file for the whole run. A file is
// read again when it changed on disk (keeping the program's unsaved changes
// over it); changes reach the disk only at FlushIniCache, merged with what
// is on disk then. Every settings read and write of the program goes
// through it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/ini_tool.h"

namespace corvane {

class EventLog;

class IniCache {
 public:
  // The file used when a caller names none.
  static constexpr std::string_view kDefaultFile = "settings.ini";

  IniCache(std::string config_folder, EventLog& log);

  // Fills slot 0 with its placeholder; real files take slots 1 and up.
  void AppInitialize();

  // The slot of a file (a bare file name, never a path), created empty on
  // disk and in the cache when missing. A new version on disk is read
  // (unsaved changes kept over it) unless keep_current is true.
  int FindIniFile(std::string_view file, bool keep_current);

  std::string GetIniSetting(std::string_view group, std::string_view key,
                            std::string_view default_value, std::string_view file = {});
  void SaveIniSetting(std::string_view group, std::string_view key, std::string_view value,
                      std::string_view file = {});
  // Removes the section's keys; the file is written with its next save.
  void ClearINISection(std::string_view group, std::string_view file = {});
  // "key=value" for every key of the section, joined by character 0.
  std::string GetINISection(std::string_view group, std::string_view file = {});
  void FlushIniCache();

  // Direct access to a file's store (after FindIniFile), for callers that
  // walk sections themselves.
  IniTool& Store(int slot) { return *slots_.at(static_cast<size_t>(slot)).store; }
  void MarkChanged(int slot) { slots_.at(static_cast<size_t>(slot)).changed = true; }
  const std::string& config_folder() const { return folder_; }
  int Count() const { return static_cast<int>(slots_.size()) - 1; }
  std::string PathOf(int slot) const { return slots_.at(static_cast<size_t>(slot)).path; }

 private:
  struct Slot {
    std::string name;  // lower case
    std::string path;
    FileStamp seen;  // the version on disk looked at last
    bool changed = false;
    std::unique_ptr<IniTool> store;
  };

  std::string ResolvePath(std::string_view file) const;
  void Report(std::string_view routine, std::string_view what);

  std::string folder_;
  EventLog& log_;
  std::vector<Slot> slots_;
};

}  // namespace corvane
