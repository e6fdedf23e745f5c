// The program's two report sinks: the event log (one event per call, sent as
// an xAP "Homeseer.Event" message once the transport exists, and always
// written to standard error) and the error-log file Data/Corvane.txt.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace corvane {

class EventLog {
 public:
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

 private:
  const WallClock& clock_;
  std::ostream* err_;
  XapSender xap_sender_;
  std::function<bool()> debug_enabled_;
  std::string error_log_path_;
  bool sending_ = false;  // an event raised while sending one goes to stderr only
};

// Packs name/value pairs into an item list.
std::string PackItems(std::initializer_list<std::pair<std::string_view, std::string_view>> items);

}  // namespace corvane
