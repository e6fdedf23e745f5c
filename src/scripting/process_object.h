// A script started in a process of its own (Spawn) and the object scripts
// hold for it: Status (0 running, 1 ended), ExitCode, ProcessID, StdOut and
// StdErr (ReadAll, ReadLine, AtEndOfStream, which wait for the process's
// output) and Terminate. While a read waits, the program keeps serving its
// other work through `pump`; both pipes are drained together so a process
// that fills one while the script reads the other never stalls.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "vbscript/engine.h"

namespace corvane {

struct ProcessStart {
  std::string program;  // a path, or a name looked up on PATH
  std::vector<std::string> args;
  std::vector<std::pair<std::string, std::string>> env;  // added to the environment
  std::string directory;                                 // working folder; empty: unchanged
  std::function<void()> pump;                            // serves the program while waiting
};

// Starts the process; throws std::runtime_error when it cannot be started.
vbs::Value StartProcessObject(const ProcessStart& start);

}  // namespace corvane
