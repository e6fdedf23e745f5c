#include "scripting/script_host.h"

#include <chrono>
#include <exception>

#include "config/settings.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "platform/deferred_call.h"
#include "scripting/script_files.h"

namespace corvane {

namespace {

// Dropped events are reported at the first and then at every this many.
constexpr uint64_t kDropReportEvery = 1000;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Position(const vbs::ScriptError* e) {
  return "@ Line " + std::to_string(e ? e->line : 0) + " col " + std::to_string(e ? e->column : 0);
}

}  // namespace

ScriptHost::ScriptHost(EventLoop& loop, EventLog& log, ScriptHostOptions options)
    : loop_(loop),
      log_(log),
      options_(std::move(options)),
      queue_timer_(loop, [this] { ScriptQueueTimer_Timer(); }),
      periodic_timer_(loop, [this] { PeriodicScriptTimer_Timer(); }) {
  vbs::EngineOptions engine_options;
  engine_options.timeout_ms = options_.timeout_ms;
  engine_options.max_string_bytes = options_.max_string_bytes;
  engine_options.on_time_check = [this] { ServeWhileRunning(); };
  main_ = std::make_unique<vbs::Engine>(engine_options);
  run_ = std::make_unique<vbs::Engine>(engine_options);
}

ScriptHost::~ScriptHost() {
  *alive_ = false;
}

void ScriptHost::SetTimeout(int ms) {
  options_.timeout_ms = ms;
  main_->SetTimeout(ms);
  run_->SetTimeout(ms);
}

// --- engines and loading -------------------------------------------------------

void ScriptHost::PrepareEngine(vbs::Engine& engine) {
  engine.SetTimeout(options_.timeout_ms);
  // MsgBox and InputBox have no one to show them to: their texts are logged.
  engine.SetLogSink([this](std::string_view kind, std::string_view text) {
    log_.LogEvent("Script " + std::string(kind), text);
  });
  if (publish_) publish_(engine);
}

void ScriptHost::InitScriptControl() {
  Guard(log_, "InitScriptControl", [&] {
    read_pending_ = false;
    main_->Reset();
    run_->Reset();
    PrepareEngine(*main_);
    PrepareEngine(*run_);
    LoadMainScript();
  });
}

void ScriptHost::ReadScript() {
  // A page served while a script runs asks for it: the new code comes in
  // between events, not under the running script.
  if (running_ > 0) {
    read_pending_ = true;
    return;
  }
  Guard(log_, "ReadScript", [&] {
    main_->Reset();
    PrepareEngine(*main_);
    LoadMainScript();
  });
}

void ScriptHost::LoadMainScript() {
  has_main_ = AddScript(*main_, kMainModule, kMainScript);
  if (has_main_ && !main_->FindProcedure(kMainModule, "Main")) {
    log_.LogEvent("Corvane", "Script " + std::string(kMainScript) +
                                 " has no Main procedure: its events are not run");
  }
}

bool ScriptHost::AddScript(vbs::Engine& engine, std::string_view module, std::string_view file) {
  IncludeExpander expander(options_.scripts_folder,
                           [](const std::string& path) -> std::optional<std::string> {
                             auto bytes = ReadWholeFile(path);
                             if (!bytes) return std::nullopt;
                             return vbs::DecodeScriptText(*bytes);
                           });
  std::vector<ScriptSource> sources;
  try {
    sources = expander.Expand(file);
  } catch (const std::exception& e) {
    ReportSyntaxError(e.what(), file, nullptr);
  }
  if (sources.empty()) return false;
  engine.AddModule(module);
  for (const auto& source : sources) {
    RunGuard guard(*this);
    try {
      engine.AddCode(module, source.text);
    } catch (const vbs::ScriptError& e) {
      ReportSyntaxError("", source.name, &e);
    } catch (const std::exception& e) {
      ReportSyntaxError(e.what(), source.name, nullptr);
    }
  }
  return true;
}

vbs::Value ScriptHost::RunProcedure(vbs::Engine& engine, std::string_view module,
                                    std::string_view procedure, std::string_view parameter) {
  RunGuard guard(*this);
  try {
    const auto info = engine.FindProcedure(module, procedure);
    if (!info) return vbs::Value();
    std::vector<vbs::Value> args;
    if (info->arg_count > 0) args.push_back(vbs::Value::Str(parameter));
    vbs::Value result = engine.Call(module, info->name, std::move(args));
    return info->has_return_value ? result : vbs::Value();
  } catch (const vbs::ScriptError& e) {
    ReportRunError("", &e);
  } catch (const std::exception& e) {
    ReportRunError(e.what(), nullptr);
  }
  return vbs::Value();
}

vbs::Value ScriptHost::RunFile(std::string_view file, std::string_view procedure,
                               std::string_view parameter) {
  bool added = false;
  Guard(log_, "Script-Add ", [&] {
    run_->Reset();
    PrepareEngine(*run_);
    added = AddScript(*run_, kRunModule, file);
  });
  if (!added) return vbs::Value();
  return RunProcedure(*run_, kRunModule, procedure, parameter);
}

// --- reports -------------------------------------------------------------------

void ScriptHost::ReportSyntaxError(std::string_view program_error, std::string_view file,
                                   const vbs::ScriptError* e) {
  const std::string text = "Error in script syntax " + std::string(program_error) + " / " +
                           std::string(file) + " " + (e ? e->FullDescription() : "") + Position(e);
  log_.LogEvent("Corvane", text);
  log_.WriteErrorLog("Corvane", text);
}

void ScriptHost::ReportRunError(std::string_view program_error, const vbs::ScriptError* e) {
  const std::string text = "Script Run Error " + std::string(program_error) + " / " +
                           std::to_string(e ? e->number : 0) + " - " +
                           (e ? e->FullDescription() : "") + Position(e);
  log_.LogEvent("Corvane", text);
  log_.WriteErrorLog("Corvane", text);
}

// --- the event queue -------------------------------------------------------------

void ScriptHost::QueueScriptEvent(DeviceRecord record) {
  if (queue_.size() >= options_.max_queued_events) {
    queue_.pop_front();
    if (dropped_events_++ % kDropReportEvery == 0) {
      log_.LogEvent("Corvane", "Script queue full: " + std::to_string(dropped_events_) +
                                   " events dropped, the oldest first");
    }
  }
  queue_.push_back(std::move(record));
  if (!next_scheduled_ && !queue_timer_.Enabled()) {
    queue_timer_.SetInterval(options_.queue_delay_ms);
    queue_timer_.Start();
  }
}

void ScriptHost::ScriptQueueTimer_Timer() {
  queue_timer_.Stop();
  if (!Guard(log_, "ScriptQueueTimer_Timer", [&] { RunNextEvent(); })) ScheduleNext();
}

void ScriptHost::RunNextEvent() {
  next_scheduled_ = false;
  // Inside a running script (its time checks serve the loop) the next
  // event waits: the running one schedules it when it ends.
  if (running_ > 0 || queue_.empty()) return;
  current_event_ = std::move(queue_.front());
  queue_.pop_front();
  const std::string tag = current_event_ ? current_event_->Tag : std::string();
  if (has_main_) RunProcedure(*main_, kMainModule, "Main", tag);
  current_event_.reset();
  ScheduleNext();
}

void ScriptHost::ScheduleNext() {
  if (queue_.empty() || next_scheduled_) return;
  next_scheduled_ = true;
  DeferWhileAlive(loop_, alive_, [this] {
    if (!Guard(log_, "ScriptQueueTimer_Timer", [&] { RunNextEvent(); })) ScheduleNext();
  });
}

ScriptHost::RunGuard::~RunGuard() {
  if (--host_.running_ > 0) return;
  // What waited for the script: a reload asked for meanwhile, then events.
  if (host_.read_pending_) {
    host_.read_pending_ = false;
    ScriptHost* host = &host_;
    DeferWhileAlive(host_.loop_, host_.alive_, [host] { host->ReadScript(); });
  }
  host_.ScheduleNext();
}

void ScriptHost::ServeWhileRunning() {
  if (loop_.QuitRequested()) {
    throw vbs::ScriptError(vbs::kErrTimeout, "Script stopped: the program is closing",
                           std::string(vbs::kRuntimeSource));
  }
  const int64_t now = SteadyMs();
  if (now - last_served_ms_ < options_.serve_interval_ms) return;
  last_served_ms_ = now;
  loop_.Pump();
}

// --- the periodic timer ---------------------------------------------------------

void ScriptHost::ArmPeriodic(std::string_view periodic_script_interval) {
  // The setup page and a reload arm it on every save: the same interval
  // again must not restart the countdown (saved often enough, the periodic
  // script would never run).
  if (periodic_armed_ && periodic_script_interval == periodic_text_) return;
  periodic_armed_ = true;
  periodic_text_ = std::string(periodic_script_interval);
  const PeriodicSchedule p = ComputePeriodicSchedule(periodic_script_interval);
  periodic_timer_.Stop();
  if (!p.enabled) return;
  periodic_timer_.SetInterval(p.interval_ms);
  minute_counter_ = p.minute_counter;
  periodic_timer_.Start();
}

void ScriptHost::PeriodicScriptTimer_Timer() {
  Guard(log_, "PeriodicScriptTimer_Timer", [&] {
    if (--minute_counter_ >= 0) {
      periodic_timer_.SetInterval(60000);
      return;
    }
    QueueScriptEvent(nullptr);
    const PeriodicSchedule p =
        ComputePeriodicSchedule(periodic_source_ ? periodic_source_() : periodic_text_);
    if (!p.enabled) {
      periodic_timer_.Stop();
      return;
    }
    periodic_timer_.SetInterval(p.interval_ms);
    minute_counter_ = p.minute_counter;
  });
}

}  // namespace corvane
