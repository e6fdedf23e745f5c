// The script host: one VBScript engine holding the main script
// (Scripts/Corvane.txt in module "Main", with its includes), a second one
// for the files Run and RunEx load (module "M1", replaced at each call), the
// queue of script events with its 5 ms queue timer, the periodic timer, and
// the two error reports users read in the log.
//
// Events run one at a time, oldest first: the queue timer runs the first,
// and each further one runs from a deferred call, so the program serves its
// sockets and timers between events. While a script runs long, the engine's
// time checks serve them too; the time-out ends a runaway script.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "devicetable/script_event_queue.h"
#include "platform/event_loop.h"
#include "vbscript/engine.h"

namespace corvane {

class EventLog;

struct ScriptHostOptions {
  std::string scripts_folder;  // <home>/Scripts
  int timeout_ms = 90000;      // a script running longer ends with a run error
  int64_t queue_delay_ms = 5;  // from the first queued event to its run
  // Events waiting beyond this many: the oldest is dropped (and counted).
  size_t max_queued_events = 100000;
  // The longest text a script may build; beyond it "Out of memory" (the
  // daemon's memory stays bounded whatever a script does).
  size_t max_string_bytes = size_t{32} << 20;
  // How often a long-running script lets the program serve its other work.
  int64_t serve_interval_ms = 20;
};

class ScriptHost final : public ScriptEventQueue {
 public:
  static constexpr std::string_view kMainScript = "Corvane.txt";
  static constexpr std::string_view kMainModule = "Main";
  static constexpr std::string_view kRunModule = "M1";

  ScriptHost(EventLoop& loop, EventLog& log, ScriptHostOptions options);
  ~ScriptHost() override;
  ScriptHost(const ScriptHost&) = delete;
  ScriptHost& operator=(const ScriptHost&) = delete;

  // What every engine gets after a reset: the Application object published
  // as "xap" with its members as global names, and CreateObject names.
  using Publisher = std::function<void(vbs::Engine&)>;
  void SetPublisher(Publisher publish) { publish_ = std::move(publish); }

  // Resets both engines (dropping all loaded code) and loads the main script.
  void InitScriptControl();
  // Loads the main script again, replacing the code of module "Main". Asked
  // while a script runs (from a page served meanwhile), it happens when that
  // script has ended.
  void ReadScript();
  bool HasMainScript() const { return has_main_; }

  // Queues a device record (none: a periodic tick) for Main.
  void QueueScriptEvent(DeviceRecord record) override;
  size_t QueuedEvents() const { return queue_.size(); }
  uint64_t DroppedEvents() const { return dropped_events_; }
  // The event whose Main runs now; none between events and for a periodic
  // tick.
  const DeviceRecord& CurrentEvent() const { return current_event_; }
  bool RunningEvent() const { return running_ > 0; }

  // The periodic timer from the PeriodicScriptInterval text: a number S
  // gives one periodic event every S seconds (0: every 60 s); anything else
  // stops it. The text is read again after each periodic event. The same
  // text as last time changes nothing.
  void ArmPeriodic(std::string_view periodic_script_interval);
  void SetPeriodicSource(std::function<std::string()> interval_text) {
    periodic_source_ = std::move(interval_text);
  }
  const Timer& PeriodicScriptTimer() const { return periodic_timer_; }
  const Timer& ScriptQueueTimer() const { return queue_timer_; }
  int64_t MinuteCounter() const { return minute_counter_; }

  // Run / RunEx: loads `file` (with its includes) into module "M1" of the
  // second engine, replacing what an earlier call loaded, and calls
  // `procedure` with `parameter`; gives its result (Empty when there is no
  // such procedure or it failed).
  vbs::Value RunFile(std::string_view file, std::string_view procedure,
                     std::string_view parameter);

  int timeout_ms() const { return options_.timeout_ms; }
  void SetTimeout(int ms);
  const std::string& scripts_folder() const { return options_.scripts_folder; }

  // The two reports (through the event log and into the error-log file).
  void ReportSyntaxError(std::string_view program_error, std::string_view file,
                         const vbs::ScriptError* e);
  void ReportRunError(std::string_view program_error, const vbs::ScriptError* e);

 private:
  struct LoadedModule {
    vbs::Engine* engine;
    std::string module;
  };
  void PrepareEngine(vbs::Engine& engine);
  void LoadMainScript();
  // Script.Add: loads a file with its includes into a module; each file's
  // syntax error is reported and the loading goes on. False when the file
  // does not exist.
  bool AddScript(vbs::Engine& engine, std::string_view module, std::string_view file);
  // Script.Run: the procedure (any letter case) with one argument when it
  // takes one; errors are reported and give Empty.
  vbs::Value RunProcedure(vbs::Engine& engine, std::string_view module,
                          std::string_view procedure, std::string_view parameter);
  void ScriptQueueTimer_Timer();
  void PeriodicScriptTimer_Timer();
  void RunNextEvent();
  void ScheduleNext();
  void ServeWhileRunning();
  // Marks a call into an engine; when the last one ends, waiting events are
  // scheduled (events queued meanwhile wait for it).
  class RunGuard {
   public:
    explicit RunGuard(ScriptHost& host) : host_(host) { ++host_.running_; }
    ~RunGuard();
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

   private:
    ScriptHost& host_;
  };

  EventLoop& loop_;
  EventLog& log_;
  ScriptHostOptions options_;
  Publisher publish_;
  std::unique_ptr<vbs::Engine> main_;
  std::unique_ptr<vbs::Engine> run_;
  bool has_main_ = false;

  std::deque<DeviceRecord> queue_;
  DeviceRecord current_event_;
  uint64_t dropped_events_ = 0;
  int running_ = 0;  // calls into the engines now under way
  bool next_scheduled_ = false;
  bool read_pending_ = false;
  Timer queue_timer_;  // ScriptQueueTimer
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  Timer periodic_timer_;  // PeriodicScriptTimer
  int64_t minute_counter_ = 0;
  std::function<std::string()> periodic_source_;
  std::string periodic_text_;  // as last armed, when there is no source
  bool periodic_armed_ = false;

  int64_t last_served_ms_ = 0;
};

}  // namespace corvane
