// The text builder against plain appends, building a 5,000-piece page.
#include <benchmark/benchmark.h>

#include <string>

#include "core/fast_string.h"

namespace {

void BM_FastStringPage5000(benchmark::State& state) {
  for (auto _ : state) {
    corvane::FastString page;
    for (int i = 0; i < 1000; ++i) {
      page.Add("<td class='TABLEROWODD'>");
      page.Add(i);
      page.Add("</td>");
      page.Add("Channel1_Source");
      page.Add("\r\n");
    }
    benchmark::DoNotOptimize(page.Value().size());
  }
}
BENCHMARK(BM_FastStringPage5000);

void BM_StdStringPage5000(benchmark::State& state) {
  for (auto _ : state) {
    std::string page;
    for (int i = 0; i < 1000; ++i) {
      page += "<td class='TABLEROWODD'>";
      page += std::to_string(i);
      page += "</td>";
      page += "Channel1_Source";
      page += "\r\n";
    }
    benchmark::DoNotOptimize(page.size());
  }
}
BENCHMARK(BM_StdStringPage5000);

// The naive way the builder replaces: a new text for every piece.
void BM_ConcatenateNewTextEachPiece5000(benchmark::State& state) {
  for (auto _ : state) {
    std::string page;
    for (int i = 0; i < 1000; ++i) {
      page = page + "<td class='TABLEROWODD'>";
      page = page + std::to_string(i);
      page = page + "</td>";
      page = page + "Channel1_Source";
      page = page + "\r\n";
    }
    benchmark::DoNotOptimize(page.size());
  }
}
BENCHMARK(BM_ConcatenateNewTextEachPiece5000);

}  // namespace
