// The echo window's model ("Vaux Data Monitor Window"): the text of the
// traffic to and from the controller (its last 10,000 characters), the Freeze
// box, the link status label and the scroll flag. Without a desktop it is a
// text model only; a front end may show CommData() and hook the scrolling.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace corvane {

class EventLog;
class WallClock;

class EchoWindow {
 public:
  static constexpr size_t kMaxText = 10000;
  static constexpr size_t kReceivedWidth = 92;

  EchoWindow(const WallClock& wall, EventLog& log) : wall_(wall), log_(log) {}

  // Loading sets the scroll flag, unloading clears it.
  void Load() { scroll_flag_ = true; }
  void Unload() { scroll_flag_ = false; }
  bool ScrollFlag() const { return scroll_flag_; }
  void SetScrollFlag(bool on) { scroll_flag_ = on; }

  // One entry for a text sent to the controller: line end, "Sent to Vaux ",
  // the text, "    <", date and time, seconds since midnight, ">", line end.
  void EchoMessage(std::string_view message);
  // Received data, cut at CR LF: each piece padded or cut to 92 characters
  // and stamped; a remainder without CR LF is added as it is. Spaces are
  // removed first. Nothing is added while Freeze is ticked.
  void EchoReceived(std::string_view data);
  // Puts `mark` just before the text's last CR LF (at the end when none).
  void InsertBeforeLastLineEnd(std::string_view mark);
  // Brings the end of the text into view; nothing while Freeze is ticked.
  void ScrollEchoWindows();

  const std::string& CommData() const { return comm_data_; }
  bool Freeze() const { return freeze_; }
  void SetFreeze(bool on) { freeze_ = on; }
  const std::string& aOpenStatus() const { return open_status_; }
  void SetOpenStatus(std::string text);

  // Who watches the text live (the web page's stream, a desktop window):
  // told of every change as the change itself, so a watcher that started
  // from CommData() can follow without fetching the whole text again.
  enum class Change { kAppend, kInsertBeforeLastLineEnd, kStatus };
  using Watcher = std::function<void(Change change, std::string_view text)>;
  void SetWatcher(Watcher watcher) { watcher_ = std::move(watcher); }

  // Processes pending events once (so a front end repaints while the
  // program is busy); and a desktop front end's scroll operation.
  void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }
  void SetScroller(std::function<void()> scroll) { scroller_ = std::move(scroll); }

  // "hh:mm:ss" and the seconds since midnight as a single-precision number.
  std::string TimeStamp() const;
  std::string SecondsSinceMidnight() const;

 private:
  void Append(std::string_view text);
  void Tell(Change change, std::string_view text);

  const WallClock& wall_;
  EventLog& log_;
  std::string comm_data_;
  std::string open_status_;
  bool freeze_ = false;
  bool scroll_flag_ = false;
  std::function<void()> pump_;
  std::function<void()> scroller_;
  Watcher watcher_;
};

// A watcher's copy of the echo text: starts from the whole text and applies
// each change as the window did, keeping the same last 10,000 characters.
// Front ends that show the text elsewhere (the desktop echo window fed by the
// daemon's stream) keep one.
class EchoMirror {
 public:
  void Reset(std::string text, std::string status);
  // kStatus replaces the status; the others change the text.
  void Apply(EchoWindow::Change change, std::string_view text);
  const std::string& text() const { return text_; }
  const std::string& status() const { return status_; }

 private:
  std::string text_;
  std::string status_;
};

}  // namespace corvane
