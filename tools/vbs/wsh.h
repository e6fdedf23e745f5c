// The WScript object a script run from the shell sees, and the reading of
// .wsf job files.
#pragma once

#include <string>
#include <vector>

#include "vbscript/engine.h"

namespace corvane::vbs {

// WScript.Quit ends the run with this exception; it passes through scripts'
// error handling.
struct QuitRequest {
  int code;
};

struct WshContext {
  std::string script_path;  // as given on the command line
  std::vector<std::string> args;
};

Ref<Object> MakeWScript(Engine& engine, const WshContext& ctx);

// The script blocks of the first job of a .wsf file: inline code and the
// files named by src (read relative to the .wsf file's folder).
struct ScriptBlock {
  std::string name;  // file the code came from, for error messages
  std::string code;
};
bool ReadWsf(const std::string& path, std::vector<ScriptBlock>& blocks, std::string& error);

}  // namespace corvane::vbs
