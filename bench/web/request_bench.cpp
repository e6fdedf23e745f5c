// Parsing cost of typical and hostile requests (the wrk script measures the
// server as a whole).
#include <benchmark/benchmark.h>

#include <string>

#include "web/request.h"

namespace {

void Parse(benchmark::State& state, const std::string& raw) {
  for (auto _ : state) {
    corvane::Request r;
    r.ParsePage(raw);
    benchmark::DoNotOptimize(r.Form("clientinput"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * raw.size()));
}

void BM_BrowserGet(benchmark::State& state) {
  Parse(state,
        "GET /status?x=1&y=a+b HTTP/1.1\r\nHost: 127.0.0.1:8018\r\nUser-Agent: Mozilla/5.0 "
        "(X11; Linux x86_64)\r\nAccept: text/html,application/xhtml+xml\r\n"
        "Accept-Language: en-US,en;q=0.5\r\nConnection: keep-alive\r\n\r\n");
}
BENCHMARK(BM_BrowserGet);

void BM_SaveChangesPost(benchmark::State& state) {
  std::string body = "clientinput=yes&clientvalue=yes&UpdateButton=Save+Changes";
  for (int i = 1; i <= 42; ++i) {
    body += "&Used" + std::to_string(i) + "=on&Tag" + std::to_string(i) + "=zone%20tag&name" +
            std::to_string(i) + "=Zone+" + std::to_string(i);
  }
  Parse(state, "POST /status HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
}
BENCHMARK(BM_SaveChangesPost);

void BM_HundredKilobyteUrl(benchmark::State& state) {
  Parse(state, "GET /" + std::string(100 * 1024, '%') + " HTTP/1.1\r\n\r\n");
}
BENCHMARK(BM_HundredKilobyteUrl);

void BM_FiveThousandFields(benchmark::State& state) {
  std::string body;
  for (int i = 0; i < 5000; ++i) {
    const std::string n = std::to_string(i);
    body.append("f").append(n).append("=").append(n).append("&");
  }
  Parse(state, "POST /status HTTP/1.1\r\nHost: h\r\n\r\n" + body);
}
BENCHMARK(BM_FiveThousandFields);

}  // namespace
