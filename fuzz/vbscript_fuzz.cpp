// Any text fed to the VBScript engine: it may fail to compile or raise
// errors, but it must not crash, leak or hang past the time-out.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vbscript/engine.h"
#include "vbscript/ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvane::vbs::EngineOptions o;
  o.timeout_ms = 50;
  o.max_call_depth = 200;
  o.max_string_bytes = 1 << 20;
  o.max_array_elements = 100000;
  o.allow_system_objects = false;
  o.clock = [] { return 46362.25; };
  corvane::vbs::Engine engine(o);
  // The seed scripts print through WScript.Echo.
  auto wscript = corvane::vbs::MakeRef<corvane::vbs::HostObject>("Object");
  wscript->AddMethod("Echo", [](corvane::vbs::CallArgs& a) {
    for (int i = 0; i < a.size(); ++i) (void)corvane::vbs::ToText(a[i]);
    return corvane::vbs::Value();
  });
  engine.AddObject("WScript", wscript);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    engine.AddCode("Main", text);
    for (const auto& p : engine.Procedures("Main")) {
      std::vector<corvane::vbs::Value> args;
      for (int i = 0; i < p.arg_count; ++i) args.push_back(corvane::vbs::Value::Long(i));
      try {
        engine.Call("Main", p.name, args);
      } catch (const corvane::vbs::ScriptError&) {
      }
    }
  } catch (const corvane::vbs::ScriptError&) {
  }
  return 0;
}
