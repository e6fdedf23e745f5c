// xAP messages: parsing a received BSC command and reading its items, and
// building a BSC event; plus a 64 KiB datagram with thousands of items.
#include <benchmark/benchmark.h>

#include <string>

#include "xap/xap_message.h"

namespace {

// A BSC command as a panel sends it: a header with a target and one block.
const std::string kBscCommand =
    "xap-header\n{\nv=13\nhop=1\nuid=FF.ABCD:01\nclass=xAPBSC.cmd\nsource=acme.panel.hall\n"
    "target=zyn.Vaux.host:corvane_kitchen.*.volumedb\n}\noutput.state.1\n{\nID=*\nState=on\n"
    "Level=40\n}\n";

void BM_FromXapBscCommand(benchmark::State& state) {
  for (auto _ : state) {
    corvane::XapMessage m;
    m.FromXap(kBscCommand);
    benchmark::DoNotOptimize(m.CompareClass("xAPBSC.cmd"));
    benchmark::DoNotOptimize(m.CompareTarget("zyn.Vaux.host"));
    std::string id = m.GetItem("output.state", "ID");  // not there: "Unknown"
    std::string id1 = m.GetItem("output.state.1", "ID");
    std::string st = m.GetItem("output.state.1", "State");
    std::string lv = m.GetItem("output.state.1", "Level");
    benchmark::DoNotOptimize(id.data());
    benchmark::DoNotOptimize(id1.data());
    benchmark::DoNotOptimize(st.data());
    benchmark::DoNotOptimize(lv.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBscCommand.size()));
}
BENCHMARK(BM_FromXapBscCommand);

void BM_ToXapBscEvent(benchmark::State& state) {
  for (auto _ : state) {
    corvane::XapMessage m;
    m.SetMsgUID("FF.0022:07");
    m.SetMsgClass("xapbsc.event");
    m.SetMsgSource("zyn.Vaux.HOST:Corvane_Channel1_Status.Vaux_Aris_700_07.Status");
    m.SetMsgTarget("");
    m.AddHeader();
    m.AddSection("output.state");
    m.AddItem("output.state", "state", "ON");
    m.AddItem("output.state", "DisplayText", "On");
    m.AddItem("output.state", "level", "1/2");
    std::string text = m.ToXap();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToXapBscEvent);

void BM_FromXap64KiBManyItems(benchmark::State& state) {
  std::string text = "xap-header\n{\nclass=big.one\n}\nbig\n{\n";
  for (int i = 0; text.size() < 65000; ++i) text.append("i").append(std::to_string(i)).append("=v\n");
  text += "}\n";
  for (auto _ : state) {
    corvane::XapMessage m;
    m.FromXap(text);
    std::string v = m.GetItem("big", "i5000");
    benchmark::DoNotOptimize(v.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_FromXap64KiBManyItems);

}  // namespace
