// Test helpers: a fresh temporary folder removed at the end of the test,
// whole-file read and write, and counting a text in a log or page.
#pragma once

#include <string>
#include <string_view>

namespace corvane::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(std::string_view rel) const { return path_ + "/" + std::string(rel); }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view content);
bool FileExists(const std::string& path);
// How often `needle` stands in `text` (overlapping places count).
size_t Occurrences(std::string_view text, std::string_view needle);
inline bool Has(std::string_view text, std::string_view needle) {
  return text.find(needle) != std::string_view::npos;
}

}  // namespace corvane::testing
