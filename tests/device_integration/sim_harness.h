// Starting bin/vaux-sim and bin/corvane for the controller integration tests.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace corvane::testing {

// The simulator, started and waited for until it names its address.
struct Sim {
  Subprocess process;
  std::string address;  // TCP port number, or the pty path

  bool Start(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), "vaux-sim");
    if (!process.Start(args, dir.File("sim"))) return false;
    return Eventually([&] {
      const std::string out = process.Stdout();
      for (const std::string marker : {"listening on 127.0.0.1:", "pty "}) {
        size_t at = out.find("vaux-sim " + marker);
        if (at == std::string::npos) continue;
        size_t from = at + 9 + marker.size();
        size_t end = out.find('\n', from);
        if (end == std::string::npos) return false;
        address = out.substr(from, end - from);
        return true;
      }
      return false;
    });
  }
  // The commands it received, in order.
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    const std::string text = process.Stdout();
    size_t at = 0;
    while ((at = text.find("<- ", at)) != std::string::npos) {
      size_t end = text.find('\n', at);
      out.push_back(text.substr(at + 3, end - at - 3));
      at = end;
    }
    return out;
  }
};

// A program folder whose settings point at the simulator.
inline void WriteSettings(const TempDir& home, const std::string& port, const std::string& ip) {
  WriteLoopbackXapConfig(home.path(), "127.0.0.1");
  WriteFile(home.File("Config/Corvane.ini"), "[Vaux]\r\nUPBCommPort=" + port + "\r\nSerialIP=" +
                                                 ip + "\r\nDebugLog=True\r\nHTTPPort=0\r\n");
}

// The stored value of zone record n from the saved Corvane.ini, or -1.
inline int SavedValue(const std::string& ini, int n) {
  char key[40];
  std::snprintf(key, sizeof key, "Vaux_Aris_700_%02X=", n);
  size_t at = ini.find(key);
  if (at == std::string::npos) return -1;
  size_t semi = ini.find(';', at);
  if (semi == std::string::npos) return -1;
  return std::atoi(ini.c_str() + semi + 1);
}

}  // namespace corvane::testing
