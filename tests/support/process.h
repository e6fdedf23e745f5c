// Starts a program of this build (bin/corvane, bin/vaux-sim, ...) for an
// integration test, with its standard output and error captured to files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace corvane::testing {

// The folder of the built programs: $CORVANE_BIN_DIR, set by ctest.
std::string BinDir();

class Subprocess {
 public:
  Subprocess() = default;
  ~Subprocess();  // kills the process when it still runs
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Starts argv[0] (a path, or a name looked up in BinDir()). Output goes to
  // `log_prefix`.out and .err when given, else to /dev/null.
  bool Start(std::vector<std::string> argv, const std::string& log_prefix = {});
  bool Running();
  // Sends `sig` and waits up to `timeout` for the exit; returns the exit code
  // (128 + signal when killed by one), or -1 when it did not end in time.
  int Stop(int sig, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits for the process to end by itself; -1 on timeout.
  int Wait(std::chrono::milliseconds timeout);
  pid_t pid() const { return pid_; }
  std::string Stdout() const { return ReadFile(out_path_); }
  std::string Stderr() const { return ReadFile(err_path_); }
  // Whether it has printed `text`, on its standard output or error.
  bool Printed(std::string_view text) const {
    return Stdout().find(text) != std::string::npos || Stderr().find(text) != std::string::npos;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string out_path_, err_path_;
};

// Polls `done` every few milliseconds until it is true or `timeout` passes.
template <typename F>
bool Eventually(F done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// Starts corvane on the program folder `home` (output to `log_prefix`, by
// default <home>/corvane) and waits until it reports itself running.
bool StartCorvane(Subprocess& corvane, const std::string& home, std::string log_prefix = {},
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace corvane::testing
