// One INI file held in memory: parsed by the program's INI grammar and
// written back sorted, with a backup of the previous file. The store knows
// which file it read (identity, time stamp, size) and which keys the program
// changed since; a save over a file that someone edited meanwhile writes only
// those keys over a fresh copy, so an edit made by hand while the program
// runs is never lost. A save keeps the file's mode, owner and symbolic link.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {

class EventLog;

// What identifies one version of a file on disk.
struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  off_t size = 0;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;

  // The stamp of `path` (following links); not existing when it cannot be read.
  static FileStamp Of(const std::string& path);
  static FileStamp OfFd(int fd);
  // The same version: same file, same time stamp and size.
  bool SameVersion(const FileStamp& other) const;
};

class IniTool {
 public:
  // The separator inside value-entry keys and inside Keys/Headers lists.
  static constexpr char kSeparator = '\x03';

  explicit IniTool(EventLog* log = nullptr) : log_(log) {}

  // Empties the store, remembers `path` and parses the file when it exists.
  // A file that exists but cannot be read is reported and leaves the store
  // as it was; the result tells whether the store now mirrors the file.
  bool Load(const std::string& path);
  // Reads the file again when it is not the version read last, keeping the
  // program's unsaved changes over it (they win for keys both changed).
  // False when the file could not be read; the store is then unchanged.
  bool Reload();
  // Parses `text` as the content of a file (used by Load, tests and fuzzing).
  // A UTF-8 byte-order mark at its start is skipped.
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
  // Removes every key (the program's change: a save empties the file).
  void Clear();
  // Writes the store to the remembered path: sections in upper case, sorted,
  // CR LF line ends. When the file changed on disk since it was read, it is
  // read again first and only the keys the program changed are written over
  // it (reported as an event). The old file is copied to "<path>_bck" (never
  // more readable than the file), and the new text replaces the file only
  // once it is completely written, with the file's mode and owner (0600 for
  // a new file); a symbolic link is saved through, the link stays. Nothing
  // is written when nothing changed. Reports "IniTool Save " and returns
  // false when the file could not be written.
  bool Save();
  // The text Save writes.
  std::string SaveText() const;

  const std::string& path() const { return path_; }
  size_t EntryCount() const { return index_.size(); }
  // Keys changed since the file was read or written last.
  size_t ChangeCount() const { return changes_.size(); }
  // The version of the file read or written last.
  const FileStamp& disk() const { return disk_; }

 private:
  struct Entry {
    std::string key;  // section name, or section + kSeparator + key name
    std::string value;
    bool is_section = false;
    bool alive = true;
  };

  // A key the program changed: its value now (none: removed) and on disk
  // when it was read (none: absent).
  struct Change {
    std::string key;
    std::optional<std::string> now;
    std::optional<std::string> read;
  };

  const Entry* Find(std::string_view key) const;
  Entry* Find(std::string_view key);
  std::optional<std::string> ValueOf(std::string_view key) const;
  void Add(std::string key, std::string value, bool is_section);
  void Remove(std::string_view key);
  void Reset();
  void SetValue(std::string_view value_key, std::string_view value);
  void Record(std::string_view value_key, const std::optional<std::string>& now);
  // Takes `fresh` as the disk's content and puts the changes over it; the
  // keys whose value on disk changed too.
  std::vector<std::string> MergeOnto(IniTool& fresh);
  bool ReadFresh(IniTool& fresh, FileStamp& stamp);
  void ReportMerge(std::string_view what, const std::vector<std::string>& keys);
  void Report(std::string_view data);

  EventLog* log_;
  std::string path_;
  std::vector<Entry> entries_;                     // insertion order, with holes
  std::unordered_map<std::string, size_t> index_;  // lower-cased key -> position
  size_t dead_ = 0;
  FileStamp disk_;
  std::vector<Change> changes_;                      // in the order first made
  std::unordered_map<std::string, size_t> changed_;  // lower-cased key -> position
};

// Save writes "<file>.tmp<process id>" and renames it over the file; a
// process killed in between leaves that file behind. This removes such files
// from `folder`, and beside the target of each symbolic link in it (only
// names of that form, and not those of another running copy of this program,
// which may be saving) and reports each one. Returns how many were removed.
int RemoveStaleSaveFiles(const std::string& folder, EventLog* log);

}  // namespace corvane
