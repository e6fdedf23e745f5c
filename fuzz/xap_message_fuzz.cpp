// Feeds arbitrary bytes to the xAP parser as a received datagram and reads
// the result the way the inbound handler does; then builds a message from
// parts of the input and checks that it parses back to the same values.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"
#include "xap/xap_message.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void ReadBack(std::string_view text) {
  corvane::XapMessage m;
  m.FromXap(text);
  Check(m.CompareAddress(m.MsgSource(), m.MsgTarget()) ==
        m.CompareAddress(m.MsgTarget(), m.MsgSource()));
  (void)m.CompareTarget("zyn.Vaux.host");
  (void)m.CompareClass("xAPBSC.cmd");
  try {
    const auto names = m.MsgSection();
    Check(names.size() == (m.SectionCount() == 0 ? 1 : m.SectionCount() - 1));
    for (size_t i = 0; i < m.SectionCount(); ++i) {
      auto items = m.msgCollection(static_cast<int16_t>(i));
      Check(items.has_value());
      const std::string name = i < names.size() ? names[i] : std::string();
      for (size_t k = 0; k < items->Count() && i < names.size(); ++k) {
        // Every stored line holds "=", and GetItem returns what follows it.
        const std::string_view line = items->Line(k);
        const size_t eq = line.find('=');
        Check(eq != std::string_view::npos);
        Check(m.GetItem(name, items->Key(k)) == line.substr(eq + 1));
      }
    }
  } catch (const corvane::XapMessageError&) {
    Check(m.SectionCount() == 1);
  }
  (void)m.GetItem("output.state.1", "ID");
}

void RoundTrip(std::string_view text) {
  // Two single-line texts taken from the input.
  const size_t cut = text.size() / 2;
  std::string cls(text.substr(0, cut)), value(text.substr(cut));
  for (auto* s : {&cls, &value}) {
    for (auto& c : *s) {
      if (c == '\n') c = ' ';
    }
  }
  corvane::XapMessage out;
  out.SetMsgClass(cls);
  out.SetMsgSource("a.b.c");
  out.SetMsgTarget("");
  out.AddHeader();
  out.AddSection("Sec");
  out.AddItem("Sec", "Key", value);
  corvane::XapMessage in;
  in.FromXap(out.ToXap());
  Check(in.MsgClass() == corvane::TrimSpaces(cls));
  Check(in.GetItem("sec", "KEY") == value);
  Check(in.MsgSection().size() == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ReadBack(text);
  RoundTrip(text);
  return 0;
}
