// Runs a fuzz entry point over seed files when libFuzzer is not available
// (a gcc build). Each argument is a file or a folder of files; each file is
// fed once as it is, then a bounded number of times with simple mutations.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunOne(const std::string& bytes) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void RunFile(const std::filesystem::path& p, std::mt19937& rng) {
  std::ifstream in(p, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  RunOne(bytes);
  for (int round = 0; round < 200; ++round) {
    std::string m = bytes;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      switch (rng() % 4) {
        case 0:
          if (!m.empty()) m[rng() % m.size()] = static_cast<char>(rng() % 256);
          break;
        case 1:
          if (!m.empty()) m.erase(rng() % m.size(), 1 + rng() % 8);
          break;
        case 2:
          m.insert(m.empty() ? 0 : rng() % m.size(), 1, static_cast<char>(rng() % 256));
          break;
        default:
          if (!m.empty()) {
            size_t from = rng() % m.size();
            m.insert(rng() % m.size(), m.substr(from, 1 + rng() % 16));
          }
      }
    }
    RunOne(m);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::mt19937 rng(12345);
  int files = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(p)) {
        if (entry.is_regular_file()) {
          RunFile(entry.path(), rng);
          ++files;
        }
      }
    } else if (std::filesystem::is_regular_file(p)) {
      RunFile(p, rng);
      ++files;
    }
  }
  std::cout << "ran " << files << " seed files\n";
  return 0;
}
