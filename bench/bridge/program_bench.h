// What the benchmarks that run the real programs share: milliseconds of a
// duration, percentiles of samples, finding the programs (CORVANE_BIN_DIR, default: the benchmark's
// folder) and the TCP port a started vaux-sim listens on.
#pragma once

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/process.h"

namespace corvane::bench {

inline double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The sample at fraction p (0.5: the median) of the sorted samples; 0 for none.
inline double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

inline void UseOwnBinDir() {
  if (std::getenv("CORVANE_BIN_DIR")) return;
  char exe[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string dir(exe, n > 0 ? static_cast<size_t>(n) : 0);
  ::setenv("CORVANE_BIN_DIR", dir.substr(0, dir.rfind('/')).c_str(), 1);
}

// The port vaux-sim prints ("listening on 127.0.0.1:PORT") once it listens;
// "" when it did not say so in time.
inline std::string SimPort(corvane::testing::Subprocess& sim) {
  std::string port;
  corvane::testing::Eventually([&] {
    const std::string out = sim.Stdout();
    const size_t at = out.find("listening on 127.0.0.1:");
    if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
    port = out.substr(at + 23, out.find('\n', at) - at - 23);
    return true;
  });
  return port;
}

}  // namespace corvane::bench
