// The scripting module on virtual time, over the bridge test's rig: the real
// device table, controller link (the simulator answers), bridge and xAP
// transport on the in-memory network. Tests write Scripts/ files, load them
// and run the loop; hooks let scripts call back into the test.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/bridge_fixture.h"
#include "scripting/scripting_module.h"
#include "vbscript/ops.h"

namespace corvane {

class ScriptingTest : public BridgeTest {
 protected:
  void SetUp() override {
    BridgeTest::SetUp();
    ::mkdir(dir_.File("Scripts").c_str(), 0755);
    ::mkdir(dir_.File("Data").c_str(), 0755);
    log_.SetErrorLogPath(dir_.File("Data/Corvane.txt"));
    module_ = std::make_unique<ScriptingModule>(ScriptingParts{
        loop_, log_, ini_, settings_, sender_, xap_, table_, link_, bridge_, wall_, dir_.path(),
        "/opt/corvane", "vbs"});
    // "test.Note x" records x; "test.Hook" runs the test's hook.
    auto test = vbs::MakeRef<vbs::HostObject>("Test");
    test->AddMethod("Note", [this](vbs::CallArgs& a) {
      notes_.push_back(a.size() > 0 ? vbs::ToText(a[0]) : "");
      return vbs::Value();
    });
    test->AddMethod("Hook", [this](vbs::CallArgs&) {
      if (hook_) hook_();
      return vbs::Value();
    });
    vbs::Ref<vbs::Object> app = module_->application();
    vbs::Ref<vbs::Object> t = test;
    host().SetPublisher([app, t](vbs::Engine& e) {
      e.AddObject("xap", app, true);
      e.AddObject("test", t, false);
    });
  }

  ScriptHost& host() { return module_->host(); }
  void Script(const std::string& name, const std::string& text) {
    testing::WriteFile(dir_.File("Scripts/" + name), text);
  }
  // Writes the main script and loads it.
  void Main(const std::string& text) {
    Script("Corvane.txt", text);
    host().InitScriptControl();
  }
  void Queue(const std::string& tag) {
    auto r = std::make_shared<DeviceClass>();
    r->Tag = tag;
    host().QueueScriptEvent(r);
  }
  // Runs the loop until the queue is empty and nothing is scheduled.
  void Drain() {
    loop_.PumpUntil([&] { return host().QueuedEvents() == 0 && !host().ScriptQueueTimer().Enabled(); },
                    loop_.NowMs() + 1000);
    loop_.Pump();
  }

  std::unique_ptr<ScriptingModule> module_;
  std::vector<std::string> notes_;
  std::function<void()> hook_;
};

}  // namespace corvane
