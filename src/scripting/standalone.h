// The Application a script gets when it runs outside the daemon, in the
// process Spawn starts (CreateObject("Quorel.Application") under the vbs
// tool). It reads the settings of the same program folder and sends on the
// same xAP network; what needs the running program's state acts through
// the network (Response: an xAPBSC.cmd to the program's own address) or
// gives a fall-back (no device records: Request and TagList give Nothing,
// Sequence -1, LastChange now; no controller link: VauxCommand ""; no time
// message seen: Sunrise and Sunset "", NightTime False; no script host:
// Run and RunEx do nothing, InitScriptControl and ReadScript do nothing; no
// subscriptions: GetXapMessage gives Nothing).
#pragma once

#include <memory>
#include <string>

#include "vbscript/engine.h"

namespace corvane {

class StandaloneApplication {
 public:
  // `home` is the program folder (Config/, Scripts/ below it).
  explicit StandaloneApplication(std::string home);
  ~StandaloneApplication();
  StandaloneApplication(const StandaloneApplication&) = delete;
  StandaloneApplication& operator=(const StandaloneApplication&) = delete;

  vbs::Ref<vbs::Object> object() const { return object_; }
  // The xAPBSC.cmd that commands zone record `tag` through the running
  // program; empty when no zone record has that tag.
  std::string ResponseCommandId(const std::string& tag);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  vbs::Ref<vbs::Object> object_;
};

// Makes CreateObject of the Spawn wrapper's ProgID give a stand-alone
// Application (made at the first call) for the program folder `home`.
void RegisterStandaloneApplication(vbs::Engine& engine, std::string home);

}  // namespace corvane
