#include "web/web_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <vector>

#include "core/datetime.h"
#include "core/text.h"

namespace corvane {

namespace {

// The entry of `dir` named `part`: exact first, else the first that matches
// ignoring letter case (in name order, so the choice does not depend on the
// directory's internal order).
std::optional<std::string> FindEntry(const std::string& dir, const std::string& part) {
  struct stat st {};
  const std::string exact = dir + "/" + part;
  if (::lstat(exact.c_str(), &st) == 0) return exact;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "/" : dir.c_str()), &::closedir);
  if (!d) return std::nullopt;
  std::optional<std::string> best;
  while (dirent* e = ::readdir(d.get())) {
    std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    if (EqualsIgnoreCase(n, part) && (!best || n < *best)) best = std::string(n);
  }
  if (!best) return std::nullopt;
  return dir + "/" + *best;
}

std::optional<WebFile> Describe(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  WebFile f;
  f.path = path;
  f.size = static_cast<uint64_t>(st.st_size);
  f.modified = LocalDateValue(static_cast<int64_t>(st.st_mtime));
  return f;
}

std::optional<WebFile> Walk(std::string dir, std::string_view name, bool allow_dots) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t sep = name.find_first_of("\\/", start);
    std::string_view part =
        name.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    if (!part.empty()) {
      if (part.find('\0') != std::string_view::npos) return std::nullopt;
      if (!allow_dots && (part == "." || part == "..")) return std::nullopt;
      parts.emplace_back(part);
    }
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  if (parts.empty()) return std::nullopt;
  for (const auto& part : parts) {
    auto next = FindEntry(dir, part);
    if (!next) return std::nullopt;
    dir = std::move(*next);
  }
  return Describe(dir);
}

}  // namespace

double LocalDateValue(int64_t unix_seconds) {
  time_t t = static_cast<time_t>(unix_seconds);
  tm local{};
  localtime_r(&t, &local);
  CivilDateTime c;
  c.year = local.tm_year + 1900;
  c.month = local.tm_mon + 1;
  c.day = local.tm_mday;
  c.hour = local.tm_hour;
  c.minute = local.tm_min;
  c.second = local.tm_sec;
  return ToDateValue(c);
}

std::optional<WebFile> FindWebFile(std::string_view folder, std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  return Walk(std::string(folder), name, false);
}

std::optional<WebFile> FindFileIgnoringCase(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  if (path[0] != '/') return Walk(".", path, true);
  return Walk("", path.substr(1), true);
}

}  // namespace corvane
