// One INI file held in memory: parsed by the program's INI grammar and
// written back sorted, with a backup of the previous file.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {

class EventLog;

class IniTool {
 public:
  // The separator inside value-entry keys and inside Keys/Headers lists.
  static constexpr char kSeparator = '\x03';

  explicit IniTool(EventLog* log = nullptr) : log_(log) {}

  // Empties the store, remembers `path` and parses the file when it exists.
  // A file that exists but cannot be read is reported and leaves the store
  // as it was; the result tells whether the store now mirrors the file.
  bool Load(const std::string& path);
  // Parses `text` as the content of a file (used by Load, tests and fuzzing).
  void LoadText(std::string_view text);
  void DumpHashTable() {}

  // The value, or `default_value` when the key is missing or its value empty.
  std::string Read(std::string_view header, std::string_view key,
                   std::string_view default_value) const;
  void WriteKey(std::string_view header, std::string_view key, std::string_view value);
  void RemoveKey(std::string_view header, std::string_view key);
  // Removes every key of the section; the section entry itself stays.
  void RemoveSection(std::string_view header);
  // Section names in the order they were first seen.
  std::vector<std::string> Headers() const;
  // Key names of one section in order; keys that are empty or only spaces are
  // left out; a section without keys gives a single empty element.
  std::vector<std::string> Keys(std::string_view header) const;
  void Clear();
  // Writes the store to the remembered path: sections in upper case, sorted,
  // CR LF line ends. The old file is copied to "<path>_bck" first, and the new
  // text replaces the file only once it is completely written. Reports
  // "IniTool Save " and returns false when the file could not be written.
  bool Save();
  // The text Save writes.
  std::string SaveText() const;

  const std::string& path() const { return path_; }
  size_t EntryCount() const { return index_.size(); }

 private:
  struct Entry {
    std::string key;  // section name, or section + kSeparator + key name
    std::string value;
    bool is_section = false;
    bool alive = true;
  };

  const Entry* Find(std::string_view key) const;
  Entry* Find(std::string_view key);
  void Add(std::string key, std::string value, bool is_section);
  void Remove(std::string_view key);
  void Report(std::string_view data);

  EventLog* log_;
  std::string path_;
  std::vector<Entry> entries_;                     // insertion order, with holes
  std::unordered_map<std::string, size_t> index_;  // lower-cased key -> position
  size_t dead_ = 0;
};

// Save writes "<file>.tmp<process id>" and renames it over the file; a
// process killed in between leaves that file behind. This removes such files
// from `folder` (only names of that form, and not those of another running
// copy of this program, which may be saving) and reports each one. Returns
// how many were removed.
int RemoveStaleSaveFiles(const std::string& folder, EventLog* log);

}  // namespace corvane
