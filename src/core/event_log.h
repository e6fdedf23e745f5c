// The program's two report sinks: the event log (one event per call, sent as
// an xAP "Homeseer.Event" message once the transport exists, and always
// written to standard error) and the error-log file Data/Corvane.txt.
// Neither grows without bound under a flood of bad input: a report identical
// to the one before is counted instead of written, and the count goes out as
// one line when the run ends (a different report, FlushRepeats) or, while it
// lasts, once a minute; the error-log file rolls over to Corvane.txt.1 at
// kErrorLogLimit bytes (one previous file is kept).
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace corvane {

class EventLog {
 public:
  static constexpr long kErrorLogLimit = 1024 * 1024;
  static constexpr double kRepeatReportDays = 60.0 / 86400;  // a minute
  // Sends one event as an item list (name, char 1, value; items joined by
  // char 0) with class "Homeseer.Event" and section "Event.Log".
  using XapSender = std::function<void(std::string_view item_list)>;

  explicit EventLog(const WallClock& clock, std::ostream* err = nullptr);

  void SetXapSender(XapSender sender) { xap_sender_ = std::move(sender); }
  // DebugEvent reports only while this answers true (the DebugLog setting).
  void SetDebugEnabled(std::function<bool()> enabled) { debug_enabled_ = std::move(enabled); }
  bool DebugEnabled() const { return debug_enabled_ && debug_enabled_(); }
  void SetErrorLogPath(std::string path) { error_log_path_ = std::move(path); }
  const std::string& ErrorLogPath() const { return error_log_path_; }
  void SetStderr(std::ostream* err) { err_ = err; }

  void LogEvent(std::string_view type, std::string_view data);
  void DebugEvent(std::string_view type, std::string_view data);
  // A failure caught at an operation's boundary: the event's data is the
  // routine's text followed by " Line ", the line number (0: the program
  // keeps none), a space and the error's description.
  void LogError(std::string_view type, std::string_view data, std::string_view description);

  // A line for standard error only (start-up and shutdown notes): not an
  // event, so nothing is sent over xAP.
  void Note(std::string_view text);

  // Appends "source message line description" to the error-log file. A
  // failure to write it is not reported further.
  void WriteErrorLog(std::string_view source, std::string_view message,
                     std::string_view description = {}, int line = 0);

  // The Time item of the event message.
  std::string TimeText() const;

  // Writes the counts of repeats not yet reported (at shutdown, and by a
  // periodic caller so that a flood's count does not wait for the next
  // report).
  void FlushRepeats();

 private:
  // A run of identical reports: its key, how many were held back, and when
  // the run's last line was written.
  struct Repeats {
    std::string key;
    uint64_t held = 0;
    double written = 0;
  };
  // True when `key` repeats the run: the report is then held back (and the
  // count written when a minute has passed). Otherwise the previous run's
  // count is written (through `report`) and a new run starts.
  bool Held(Repeats& run, const std::string& key,
            const std::function<void(const std::string& key, uint64_t held)>& report);
  void WriteEvent(const std::string& type, const std::string& data);
  void WriteErrorLine(const std::string& text);
  void ReportEventRepeats(const std::string& key, uint64_t held);
  void ReportErrorRepeats(const std::string& key, uint64_t held);

  const WallClock& clock_;
  std::ostream* err_;
  XapSender xap_sender_;
  std::function<bool()> debug_enabled_;
  std::string error_log_path_;
  bool sending_ = false;  // an event raised while sending one goes to stderr only
  Repeats event_repeats_;
  Repeats error_repeats_;
};

// Packs name/value pairs into an item list.
std::string PackItems(std::initializer_list<std::pair<std::string_view, std::string_view>> items);

}  // namespace corvane
