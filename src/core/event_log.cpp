#include "core/event_log.h"

#include <cstdio>
#include <filesystem>
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

bool EventLog::Held(Repeats& run, const std::string& key,
                    const std::function<void(const std::string&, uint64_t)>& report) {
  const double now = clock_.Now();
  if (key == run.key) {
    ++run.held;
    if (now - run.written >= kRepeatReportDays) {
      const uint64_t held = run.held;
      run.held = 0;
      run.written = now;
      report(key, held);
    }
    return true;
  }
  if (run.held > 0) report(run.key, run.held);
  run = Repeats{key, 0, now};
  return false;
}

void EventLog::FlushRepeats() {
  auto flush = [](Repeats& run, const std::function<void(const std::string&, uint64_t)>& report) {
    if (run.held == 0) return;
    const uint64_t held = run.held;
    run.held = 0;
    report(run.key, held);
  };
  flush(event_repeats_, [this](const std::string& k, uint64_t n) { ReportEventRepeats(k, n); });
  flush(error_repeats_, [this](const std::string& k, uint64_t n) { ReportErrorRepeats(k, n); });
}

void EventLog::LogEvent(std::string_view type, std::string_view data) {
  const std::string clean_type = OneLine(type);
  const std::string clean_data = OneLine(data);
  const std::string key = clean_type + '\x01' + clean_data;
  if (Held(event_repeats_, key,
           [this](const std::string& k, uint64_t n) { ReportEventRepeats(k, n); })) {
    return;
  }
  WriteEvent(clean_type, clean_data);
}

void EventLog::ReportEventRepeats(const std::string& key, uint64_t held) {
  const size_t one = key.find('\x01');
  WriteEvent(key.substr(0, one),
             "(the last report came " + std::to_string(held) + " more times) " + key.substr(one + 1));
}

void EventLog::WriteEvent(const std::string& type, const std::string& data) {
  const std::string time = TimeText();
  if (err_) {
    (*err_) << time << " [" << type << "] " << data << '\n';
    err_->flush();
  }
  if (xap_sender_ && !sending_) {
    sending_ = true;
    // The log cannot report its own failure as an event (that would send
    // again): it goes to standard error only.
    try {
      xap_sender_(PackItems({{"Time", time}, {"Type", type}, {"Data", data}}));
    } catch (...) {
      Note("the event above could not be sent over xAP");
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
  if (Held(error_repeats_, text,
           [this](const std::string& k, uint64_t n) { ReportErrorRepeats(k, n); })) {
    return;
  }
  WriteErrorLine(text);
}

void EventLog::ReportErrorRepeats(const std::string& key, uint64_t held) {
  WriteErrorLine("(the last line came " + std::to_string(held) + " more times) " + key);
}

void EventLog::WriteErrorLine(const std::string& text) {
  if (err_) {
    (*err_) << TimeText() << " [error log] " << OneLine(text) << '\n';
    err_->flush();
  }
  if (error_log_path_.empty()) return;
  // At the limit the file becomes the previous one (replacing the one kept
  // before) and a new one begins.
  std::error_code ec;
  const auto size = std::filesystem::file_size(error_log_path_, ec);
  if (!ec && size + text.size() + 1 > static_cast<uintmax_t>(kErrorLogLimit)) {
    std::filesystem::rename(error_log_path_, error_log_path_ + ".1", ec);
  }
  if (FILE* f = std::fopen(error_log_path_.c_str(), "ab")) {
    std::string out = text;
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
  }
}

}  // namespace corvane
