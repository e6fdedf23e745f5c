// vbs: runs a VBScript file (.vbs) or job (.wsf) from the shell.
//   vbs [--timeout SECONDS] file.vbs [args...]
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "core/text.h"
#include "scripting/standalone.h"
#include "vbscript/engine.h"
#include "wsh.h"

using corvane::vbs::Engine;
using corvane::vbs::ScriptError;

namespace {

void Usage() {
  std::cerr << "usage: vbs [--timeout SECONDS] file.vbs|file.wsf [arguments...]\n";
}

// The program folder a stand-alone Application reads its settings from:
// CORVANE_HOME (Spawn sets it), else the folder above a script kept in a
// Scripts folder, else the current folder.
std::string CorvaneHome(const std::string& script) {
  if (const char* home = std::getenv("CORVANE_HOME"); home && *home) return home;
  const std::string dir = std::filesystem::absolute(script).parent_path().string();
  const size_t slash = dir.rfind('/');
  if (slash != std::string::npos && corvane::EqualsIgnoreCase(dir.substr(slash + 1), "Scripts")) {
    return dir.substr(0, slash);
  }
  return ".";
}

void Report(const std::string& file, const ScriptError& e) {
  std::cerr << file << "(" << e.line << ", " << e.column << ") " << e.Message() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  int timeout_s = 0;
  while (i < argc && argv[i][0] == '-' && argv[i][1] == '-') {
    std::string opt = argv[i];
    if (opt == "--timeout" && i + 1 < argc) {
      timeout_s = std::atoi(argv[i + 1]);
      i += 2;
    } else if (opt == "--help") {
      Usage();
      return 0;
    } else {
      Usage();
      return 2;
    }
  }
  if (i >= argc) {
    Usage();
    return 2;
  }
  std::string path = argv[i++];
  corvane::vbs::WshContext ctx;
  ctx.script_path = path;
  for (; i < argc; ++i) ctx.args.push_back(argv[i]);

  std::vector<corvane::vbs::ScriptBlock> blocks;
  if (path.size() >= 4 && corvane::EqualsIgnoreCase(path.substr(path.size() - 4), ".wsf")) {
    std::string error;
    if (!corvane::vbs::ReadWsf(path, blocks, error)) {
      std::cerr << error << "\n";
      return 1;
    }
  } else {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
      std::cerr << "Cannot open " << path << "\n";
      return 1;
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    blocks.push_back(corvane::vbs::ScriptBlock{path, corvane::vbs::DecodeScriptText(ss.str())});
  }

  corvane::vbs::EngineOptions options;
  options.timeout_ms = timeout_s * 1000;
  Engine engine(options);
  engine.SetLogSink([](std::string_view kind, std::string_view text) {
    std::cerr << kind << ": " << text << "\n";
  });
  // WSH is the same object under its other name.
  auto wscript = corvane::vbs::MakeWScript(engine, ctx);
  engine.AddObject("WScript", wscript, false);
  engine.AddObject("WSH", wscript, false);
  corvane::RegisterStandaloneApplication(engine, CorvaneHome(path));
  std::string current = path;
  try {
    for (const auto& b : blocks) {
      current = b.name;
      engine.AddCode("Global", b.code);
    }
  } catch (const ScriptError& e) {
    std::cout.flush();
    Report(current, e);
    return 1;
  } catch (const corvane::vbs::QuitRequest& q) {
    std::cout.flush();
    return q.code;
  }
  std::cout.flush();
  return 0;
}
