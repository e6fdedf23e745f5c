#include "core/event_log.h"

#include <cstdio>
#include <iostream>

#include "core/datetime.h"

namespace corvane {

namespace {

// Events are one line each: control characters become spaces.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (auto& c : out) {
    if (c == '\n' || c == '\r' || c == '\0' || c == '\x01') c = ' ';
  }
  return out;
}

}  // namespace

std::string PackItems(std::initializer_list<std::pair<std::string_view, std::string_view>> items) {
  std::string out;
  bool first = true;
  for (const auto& [name, value] : items) {
    if (!first) out.push_back('\0');
    first = false;
    out.append(name);
    out.push_back('\x01');
    out.append(value);
  }
  return out;
}

EventLog::EventLog(const WallClock& clock, std::ostream* err)
    : clock_(clock), err_(err ? err : &std::cerr) {}

std::string EventLog::TimeText() const {
  return FormatGeneralDate(clock_.Now());
}

void EventLog::LogEvent(std::string_view type, std::string_view data) {
  const std::string time = TimeText();
  const std::string clean_type = OneLine(type);
  const std::string clean_data = OneLine(data);
  if (err_) {
    (*err_) << time << " [" << clean_type << "] " << clean_data << '\n';
    err_->flush();
  }
  if (xap_sender_ && !sending_) {
    sending_ = true;
    try {
      xap_sender_(PackItems({{"Time", time}, {"Type", clean_type}, {"Data", clean_data}}));
    } catch (...) {
    }
    sending_ = false;
  }
}

void EventLog::Note(std::string_view text) {
  if (!err_) return;
  (*err_) << TimeText() << " " << OneLine(text) << '\n';
  err_->flush();
}

void EventLog::DebugEvent(std::string_view type, std::string_view data) {
  if (DebugEnabled()) LogEvent(type, data);
}

void EventLog::LogError(std::string_view type, std::string_view data,
                        std::string_view description) {
  std::string text(data);
  text += " Line 0 ";
  text += description;
  LogEvent(type, text);
}

void EventLog::WriteErrorLog(std::string_view source, std::string_view message,
                             std::string_view description, int line) {
  std::string text;
  text.append(source).append(" ").append(message).append(" ");
  text.append(std::to_string(line)).append(" ").append(description);
  if (err_) {
    (*err_) << TimeText() << " [error log] " << OneLine(text) << '\n';
    err_->flush();
  }
  if (error_log_path_.empty()) return;
  if (FILE* f = std::fopen(error_log_path_.c_str(), "ab")) {
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

}  // namespace corvane
