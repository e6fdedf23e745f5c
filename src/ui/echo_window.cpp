#include "ui/echo_window.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/datetime.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "platform/clock.h"

namespace corvane {

void EchoWindow::Append(std::string_view text) {
  comm_data_.append(text);
  if (comm_data_.size() > kMaxText) comm_data_.erase(0, comm_data_.size() - kMaxText);
  Tell(Change::kAppend, text);
}

void EchoWindow::SetOpenStatus(std::string text) {
  open_status_ = std::move(text);
  Tell(Change::kStatus, open_status_);
}

// A failing watcher is reported and never stops the sender.
void EchoWindow::Tell(Change change, std::string_view text) {
  if (!watcher_) return;
  Guard(log_, "EchoWindow watcher ", [&] { watcher_(change, text); });
}

std::string EchoWindow::SecondsSinceMidnight() const {
  const double now = wall_.Now();
  double day_part = std::fabs(now - std::trunc(now));
  const float seconds = static_cast<float>(day_part * 86400.0);
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, seconds);
  return std::string(buf, r.ptr);
}

std::string EchoWindow::TimeStamp() const {
  const CivilDateTime t = FromDateValue(wall_.Now());
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour % 100, t.minute % 100, t.second % 100);
  return buf;
}

// The sender (the controller link) goes on whatever happens here.
void EchoWindow::EchoMessage(std::string_view message) {
  Guard(log_, "EchoMessage ", [&] {
    const CivilDateTime t = FromDateValue(wall_.Now());
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", t.year % 10000,
                  t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
    std::string entry = "\r\nSent to Vaux ";
    entry.append(message);
    entry += "    <";
    entry += stamp;
    entry += " ";
    entry += SecondsSinceMidnight();
    entry += ">\r\n";
    Append(entry);
    ScrollEchoWindows();
    if (pump_) pump_();
  });
}

void EchoWindow::EchoReceived(std::string_view data) {
  if (freeze_) return;
  std::string text;
  for (char c : data) {
    if (c != ' ') text.push_back(c);
  }
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    std::string piece = text.substr(start, end - start);
    piece.resize(kReceivedWidth, ' ');
    out += piece;
    out += '<';
    out += TimeStamp();
    out += ' ';
    out += SecondsSinceMidnight();
    out += ">\r\n";
    start = end + 2;
  }
  out.append(text, start, std::string::npos);
  Append(out);
  if (scroll_flag_) ScrollEchoWindows();
}

void EchoWindow::InsertBeforeLastLineEnd(std::string_view mark) {
  const size_t at = comm_data_.rfind("\r\n");
  if (at == std::string::npos) {
    Append(mark);
  } else {
    comm_data_.insert(at, mark);
    if (comm_data_.size() > kMaxText) comm_data_.erase(0, comm_data_.size() - kMaxText);
    Tell(Change::kInsertBeforeLastLineEnd, mark);
  }
}

void EchoWindow::ScrollEchoWindows() {
  if (freeze_ || !scroller_) return;
  Guard(log_, " ScrollEchoWindows: ", [&] { scroller_(); });
}

void EchoMirror::Reset(std::string text, std::string status) {
  text_ = std::move(text);
  status_ = std::move(status);
  if (text_.size() > EchoWindow::kMaxText) text_.erase(0, text_.size() - EchoWindow::kMaxText);
}

void EchoMirror::Apply(EchoWindow::Change change, std::string_view text) {
  switch (change) {
    case EchoWindow::Change::kStatus:
      status_ = text;
      return;
    case EchoWindow::Change::kAppend:
      text_.append(text);
      break;
    case EchoWindow::Change::kInsertBeforeLastLineEnd: {
      const size_t at = text_.rfind("\r\n");
      text_.insert(at == std::string::npos ? text_.size() : at, text);
      break;
    }
  }
  if (text_.size() > EchoWindow::kMaxText) text_.erase(0, text_.size() - EchoWindow::kMaxText);
}

}  // namespace corvane
