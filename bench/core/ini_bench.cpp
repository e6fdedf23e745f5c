// INI store: load and save of a 10,000-key file, and a cache lookup of a
// file that did not change.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/ini_cache.h"
#include "config/ini_tool.h"
#include "core/event_log.h"

namespace {

struct BenchFolder {
  BenchFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "corvane-bench-XXXXXX").string();
    path = ::mkdtemp(tmpl.data());
    std::ofstream out(path + "/Big.ini", std::ios::binary);
    for (int s = 0; s < 100; ++s) {
      out << "[Section" << s << "]\r\n";
      for (int k = 0; k < 100; ++k) {
        out << "Key" << k << "=Some value text " << s * 100 + k << "\r\n";
      }
    }
  }
  ~BenchFolder() { std::filesystem::remove_all(path); }
  std::string path;
};

BenchFolder& Folder() {
  static BenchFolder f;
  return f;
}

void BM_IniLoad10k(benchmark::State& state) {
  const std::string file = Folder().path + "/Big.ini";
  for (auto _ : state) {
    corvane::IniTool ini;
    ini.Load(file);
    benchmark::DoNotOptimize(ini.EntryCount());
  }
}
BENCHMARK(BM_IniLoad10k)->Unit(benchmark::kMillisecond);

void BM_IniSave10k(benchmark::State& state) {
  corvane::IniTool ini;
  ini.Load(Folder().path + "/Big.ini");
  const std::string copy = Folder().path + "/Copy.ini";
  ini.Load(copy);  // an empty store with the copy's path...
  corvane::IniTool source;
  source.Load(Folder().path + "/Big.ini");
  for (const auto& h : source.Headers()) {
    for (const auto& k : source.Keys(h)) ini.WriteKey(h, k, source.Read(h, k, ""));
  }
  // A save with nothing changed writes nothing: each round changes a key.
  int round = 0;
  for (auto _ : state) {
    ini.WriteKey("Bench", "Round", std::to_string(++round));
    benchmark::DoNotOptimize(ini.Save());
  }
}
BENCHMARK(BM_IniSave10k)->Unit(benchmark::kMillisecond);

void BM_IniCacheLookupUnchanged(benchmark::State& state) {
  corvane::ManualWallClock wall(46000);
  std::ostringstream err;
  corvane::EventLog log(wall, &err);
  corvane::IniCache cache(Folder().path, log);
  (void)cache.GetIniSetting("Section50", "Key50", "", "Big.ini");
  for (auto _ : state) {
    benchmark::DoNotOptimize(cache.GetIniSetting("Section50", "Key50", "", "Big.ini"));
  }
}
BENCHMARK(BM_IniCacheLookupUnchanged);

}  // namespace
