// What the pages ask of the rest of the program, as small interfaces so that
// tests can put fakes in their place: the bridge (commands and queries go
// through the BSC handlers, exactly as if they had come over xAP) and the
// script host (read the main script again, rearm the periodic timer).
#pragma once

#include <string>
#include <string_view>

#include "bridge/bridge.h"

namespace corvane {

class PageBridge {
 public:
  virtual ~PageBridge() = default;
  // A BSC command block: target ">:>", the record number as two hex
  // digits, state, level. Waits for the controller while serving events.
  virtual void BSCCmd(std::string_view target, std::string_view id, std::string_view state,
                      std::string_view level) = 0;
  // A BSC query (">:>": every item). Waits for the status poll.
  virtual void BSCQuery(std::string_view target) = 0;
  // Today's sunrise and sunset as the last time message gave them.
  virtual std::string Sunrise() const = 0;
  virtual std::string Sunset() const = 0;
};

// The program's bridge behind that interface.
class XapPageBridge final : public PageBridge {
 public:
  explicit XapPageBridge(XapBridge& bridge) : bridge_(bridge) {}
  void BSCCmd(std::string_view target, std::string_view id, std::string_view state,
              std::string_view level) override {
    bridge_.BSCCmd(target, id, state, level);
  }
  void BSCQuery(std::string_view target) override { bridge_.BSCQuery(target); }
  std::string Sunrise() const override { return bridge_.Sunrise(); }
  std::string Sunset() const override { return bridge_.Sunset(); }

 private:
  XapBridge& bridge_;
};

// What the script host does for the pages; it installs itself in the
// program's ScriptControlSink.
class ScriptControl {
 public:
  virtual ~ScriptControl() = default;
  // Reads the main script (Scripts/Corvane.txt) again.
  virtual void ReadScript() = 0;
  // The PeriodicScriptInterval setting changed: the periodic timer runs
  // exactly when the text is numeric.
  virtual void PeriodicScriptIntervalChanged(std::string_view seconds) = 0;
};

// Forwards to the script host once there is one; until then nothing happens.
class ScriptControlSink final : public ScriptControl {
 public:
  void Install(ScriptControl* host) { host_ = host; }
  bool Installed() const { return host_ != nullptr; }
  void ReadScript() override {
    if (host_) host_->ReadScript();
  }
  void PeriodicScriptIntervalChanged(std::string_view seconds) override {
    if (host_) host_->PeriodicScriptIntervalChanged(seconds);
  }

 private:
  ScriptControl* host_ = nullptr;
};

}  // namespace corvane
