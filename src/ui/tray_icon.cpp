#include "ui/tray_icon.h"

namespace corvane {

NotifyCall TrayIcon::Update(bool icon_on, TrayPicture picture) {
  NotifyCall call;
  if (icon_on) {
    call.op = shown_ ? NotifyOp::kModify : NotifyOp::kAdd;
    call.picture = picture;
    call.tip = TipText();
    shown_ = true;
  } else {
    if (shown_) call.op = NotifyOp::kDelete;
    shown_ = false;
  }
  return call;
}

void TrayIcon::MouseMessage(int32_t msg) {
  if (busy_) return;
  busy_ = true;
  if (msg >= kTrayLeftButtonDown && msg <= kTrayRightDoubleClick && callback_) {
    try {
      callback_->TrayIconCallback(msg);
    } catch (...) {
      // The shell's callback has no one to report to; the menu is the
      // callback's own business and it reports its own failures.
    }
  }
  busy_ = false;
}

std::string TrayIcon::TipText() const {
  return caption_.substr(0, kTipField - 1);
}

std::vector<TrayMenuEntry> TrayMenuEntries(bool daemon_running) {
  static const std::vector<TrayMenuEntry> kEntries = {
      {"Browser", TrayAction::kBrowser}, {"GUI", TrayAction::kGui},
      {"IO Window", TrayAction::kIoWindow}, {"Help", TrayAction::kHelp},
      {"-", TrayAction::kNone},           {"Exit", TrayAction::kExit},
  };
  std::vector<TrayMenuEntry> entries;
  if (!daemon_running) {
    entries.push_back({"Start Corvane", TrayAction::kStart});
    entries.push_back({"-", TrayAction::kNone});
  }
  entries.insert(entries.end(), kEntries.begin(), kEntries.end());
  return entries;
}

bool TrayOpensMenu(int32_t msg) {
  return msg == kTrayLeftButtonUp || msg == kTrayRightButtonUp;
}

std::string TrayConnectHost(std::string_view bind_address) {
  while (!bind_address.empty() && (bind_address.front() == ' ' || bind_address.front() == '"')) {
    bind_address.remove_prefix(1);
  }
  while (!bind_address.empty() && (bind_address.back() == ' ' || bind_address.back() == '"')) {
    bind_address.remove_suffix(1);
  }
  if (bind_address.empty() || bind_address == "0.0.0.0" || bind_address == "*") return "127.0.0.1";
  if (bind_address == "::" || bind_address == "[::]") return "::1";
  if (bind_address.size() > 2 && bind_address.front() == '[' && bind_address.back() == ']') {
    bind_address = bind_address.substr(1, bind_address.size() - 2);
  }
  return std::string(bind_address);
}

std::string TrayPageAddress(std::string_view bind_address, int http_port, std::string_view path) {
  std::string host = TrayConnectHost(bind_address);
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return "http://" + host + ":" + std::to_string(http_port) + std::string(path);
}

std::optional<TrayPicture> TrayBlinker::Show(TrayPicture picture) {
  if (picture == shown_) return std::nullopt;
  shown_ = picture;
  return picture;
}

std::optional<TrayPicture> TrayBlinker::OnTraffic(int64_t now_ms) {
  if (shown_ != TrayPicture::kNormal) return std::nullopt;
  due_ms_ = now_ms + kLitMs;
  return Show(TrayPicture::kTraffic);
}

std::optional<TrayPicture> TrayBlinker::OnTick(int64_t now_ms) {
  if (!due_ms_ || now_ms < *due_ms_) return std::nullopt;
  due_ms_.reset();
  if (shown_ != TrayPicture::kTraffic) return std::nullopt;
  return Show(TrayPicture::kNormal);
}

std::optional<TrayPicture> TrayBlinker::OnDaemonGone() {
  due_ms_.reset();
  return Show(TrayPicture::kStopped);
}

std::optional<TrayPicture> TrayBlinker::OnDaemonBack() {
  due_ms_.reset();
  return Show(TrayPicture::kNormal);
}

}  // namespace corvane
