// Where modules hand changed device records to the scripts. The script host
// implements ScriptEventQueue; the program passes every module its
// ScriptEventSink, which forwards to the script host once one is installed
// and drops events (silently, logging nothing) until then.
#pragma once

#include <utility>

#include "devicetable/records.h"

namespace corvane {

class ScriptEventQueue {
 public:
  virtual ~ScriptEventQueue() = default;
  // Queues a device record for the main script's Main procedure (none: the
  // periodic tick). Must only queue: the script runs later, never inside
  // the caller.
  virtual void QueueScriptEvent(DeviceRecord record) = 0;
};

class ScriptEventSink final : public ScriptEventQueue {
 public:
  // nullptr: drop events again.
  void Install(ScriptEventQueue* host) { host_ = host; }
  bool Installed() const { return host_ != nullptr; }
  void QueueScriptEvent(DeviceRecord record) override {
    if (host_) host_->QueueScriptEvent(std::move(record));
  }

 private:
  ScriptEventQueue* host_ = nullptr;
};

}  // namespace corvane
