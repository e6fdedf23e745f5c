// The settings the page header reads, as tables of keys with their defaults:
// section [Settings] of Corvane.ini (read at every page; missing keys read
// as empty) and section [header.asp] of includes.ini (the page's pieces; the
// keys a new file is given are written back with their defaults, so the
// user finds them there). A page reads each table once into SettingValues.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

class IniCache;

struct SettingKey {
  std::string_view key;
  std::string_view default_value;
  bool written_when_missing = false;
};

// Corvane.ini [Settings] as the header uses it.
std::span<const SettingKey> HeaderOptionKeys();
// includes.ini [header.asp].
std::span<const SettingKey> HeaderIncludeKeys();

inline constexpr std::string_view kIncludesFile = "includes.ini";
inline constexpr std::string_view kIncludesSection = "header.asp";

// One table's values, read from one section at one moment.
class SettingValues {
 public:
  SettingValues() = default;
  // Reads every key of `keys` with a single check of the file.
  static SettingValues Read(IniCache& ini, std::string_view section, std::string_view file,
                            std::span<const SettingKey> keys);
  // The value of a key of the table (letter case ignored); "" for a key the
  // table does not hold.
  const std::string& operator[](std::string_view key) const;
  // The value trimmed.
  std::string_view Trimmed(std::string_view key) const;
  // A page switch: "yes", "true", "on" or a number other than 0.
  bool On(std::string_view key) const;

 private:
  std::map<std::string, std::string> values_;  // lower-cased key -> value
};

}  // namespace corvane
