// The notification-area icon apart from any toolkit: the tip text, the
// add/modify/delete calls the desktop shell is told, the mouse messages that
// reach TrayIconCallback, the pictures that blink on controller traffic and
// the entries of the pop-up menu. A desktop front end turns its toolkit's
// events into these calls and carries out what they return.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The mouse messages the shell reports for the icon (window message numbers).
inline constexpr int32_t kTrayMouseMove = 512;
inline constexpr int32_t kTrayLeftButtonDown = 513;
inline constexpr int32_t kTrayLeftButtonUp = 514;
inline constexpr int32_t kTrayLeftDoubleClick = 515;
inline constexpr int32_t kTrayRightButtonDown = 516;
inline constexpr int32_t kTrayRightButtonUp = 517;
inline constexpr int32_t kTrayRightDoubleClick = 518;
// The middle button's release: a message the icon ignores.
inline constexpr int32_t kTrayMiddleButtonUp = 520;

// The tip every front end shows.
inline constexpr std::string_view kTrayTip = "Vaux Aris 700";

class TrayIconCallbackTarget {
 public:
  virtual ~TrayIconCallbackTarget() = default;
  virtual void TrayIconCallback(int32_t msg) = 0;
};

enum class TrayPicture { kNormal, kTraffic, kStopped };

// What the shell is asked to do with the icon.
enum class NotifyOp { kNone, kAdd, kModify, kDelete };
struct NotifyCall {
  NotifyOp op = NotifyOp::kNone;
  TrayPicture picture = TrayPicture::kNormal;
  std::string tip;
};

class TrayIcon {
 public:
  // The shell's fixed tip field, the closing character 0 included.
  static constexpr size_t kTipField = 64;

  void SetCallback(TrayIconCallbackTarget* target) { callback_ = target; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }

  // With icon_on: add the icon the first time, modify it every later time.
  // Without: delete it when shown (once), otherwise nothing.
  NotifyCall Update(bool icon_on, TrayPicture picture = TrayPicture::kNormal);
  // A mouse message for the icon: 513 to 518 reach the callback, unless a
  // callback is still running; a failing callback is ignored.
  void MouseMessage(int32_t msg);

  bool shown() const { return shown_; }
  // The caption as the shell's field holds it (at most 63 characters).
  std::string TipText() const;

 private:
  TrayIconCallbackTarget* callback_ = nullptr;
  std::string caption_{kTrayTip};
  bool shown_ = false;
  bool busy_ = false;
};

// The pop-up menu: shown on a button release (left or right).
enum class TrayAction { kNone, kBrowser, kGui, kIoWindow, kHelp, kExit, kStart };
struct TrayMenuEntry {
  std::string_view caption;  // "-" is a separator
  TrayAction action;
};
// The entries in menu order; while the daemon is gone the menu starts with
// an entry that starts it again.
std::vector<TrayMenuEntry> TrayMenuEntries(bool daemon_running);
bool TrayOpensMenu(int32_t msg);
// Where a front end on this computer reaches a web server bound to
// `bind_address` (as the daemon's lock file records it): that address, or
// the loopback address when it listens on every address.
std::string TrayConnectHost(std::string_view bind_address);
// The program's own page: "http://HOST:PORT" + path (an IPv6 host in brackets).
std::string TrayPageAddress(std::string_view bind_address, int http_port, std::string_view path);

// Blinking on controller traffic: the traffic picture for kLitMs after
// traffic, then the normal picture; the stopped picture while the daemon is
// gone. Each call returns the picture to show now, or nothing when the shown
// one stays.
class TrayBlinker {
 public:
  static constexpr int64_t kLitMs = 250;

  std::optional<TrayPicture> OnTraffic(int64_t now_ms);
  // Called by the front end's timer at (or after) DueMs().
  std::optional<TrayPicture> OnTick(int64_t now_ms);
  std::optional<TrayPicture> OnDaemonGone();
  std::optional<TrayPicture> OnDaemonBack();

  TrayPicture shown() const { return shown_; }
  // When OnTick should run next; nothing when no change is pending.
  std::optional<int64_t> DueMs() const { return due_ms_; }

 private:
  std::optional<TrayPicture> Show(TrayPicture picture);

  TrayPicture shown_ = TrayPicture::kNormal;
  std::optional<int64_t> due_ms_;
};

}  // namespace corvane
