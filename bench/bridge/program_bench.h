// What the benchmarks that run the real programs share: milliseconds of a
// duration, counting a text's occurrences (in a program's output), and
// finding the programs (CORVANE_BIN_DIR, default: the benchmark's folder).
#pragma once

#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace corvane::bench {

inline double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

inline void UseOwnBinDir() {
  if (std::getenv("CORVANE_BIN_DIR")) return;
  char exe[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir(exe, n > 0 ? static_cast<size_t>(n) : 0);
  ::setenv("CORVANE_BIN_DIR", dir.substr(0, dir.rfind('/')).c_str(), 1);
}

}  // namespace corvane::bench
