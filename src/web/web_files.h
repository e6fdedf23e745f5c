// Files of the web folder, named as requests name them: "\" (or "/")
// separated, found ignoring letter case, never outside the folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct WebFile {
  std::string path;     // the file's real path
  uint64_t size = 0;    // bytes
  double modified = 0;  // modification time as a local date value
};

// Finds `name` below `folder`. Each part of the name matches a directory
// entry exactly or, failing that, ignoring letter case. Names with a ".."
// or "." part, a NUL byte, or that lead to anything but a regular file give
// nothing.
std::optional<WebFile> FindWebFile(std::string_view folder, std::string_view name);

// A regular file's real path with its letter case found as above, for a path
// given in full (used for the help page).
std::optional<WebFile> FindFileIgnoringCase(std::string_view path);

// The local date value of a time_t.
double LocalDateValue(int64_t unix_seconds);

}  // namespace corvane
