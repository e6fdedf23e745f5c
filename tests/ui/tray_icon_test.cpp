// The tray icon's logic: which mouse messages reach the callback, the
// add/modify/delete sequence, the tip field, the menu and the blinking.
#include "ui/tray_icon.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace corvane {
namespace {

struct Recorder : TrayIconCallbackTarget {
  std::vector<int32_t> calls;
  TrayIcon* icon = nullptr;
  bool reenter = false;
  bool fail = false;
  void TrayIconCallback(int32_t msg) override {
    calls.push_back(msg);
    // A nested message (the shell reporting while the menu is up) is dropped.
    if (reenter && icon) icon->MouseMessage(kTrayRightButtonUp);
    if (fail) throw std::runtime_error("menu failed");
  }
};

// Only button messages reach the callback; the busy flag stops reentry and is
// cleared after a failure.
TEST(TrayIcon, ButtonMessagesReachTheCallbackOnceAtATime) {
  TrayIcon icon;
  Recorder rec;
  icon.SetCallback(&rec);
  for (int32_t msg : {511, 512, 513, 514, 515, 516, 517, 518, 519, 520}) icon.MouseMessage(msg);
  EXPECT_EQ(rec.calls, (std::vector<int32_t>{513, 514, 515, 516, 517, 518}));
  rec.calls.clear();
  rec.icon = &icon;
  rec.reenter = true;
  icon.MouseMessage(kTrayLeftButtonUp);
  EXPECT_EQ(rec.calls, (std::vector<int32_t>{514}));
  rec.reenter = false;
  rec.fail = true;
  icon.MouseMessage(kTrayLeftButtonUp);  // the failure is ignored ...
  rec.fail = false;
  icon.MouseMessage(kTrayRightButtonUp);  // ... and the flag cleared
  EXPECT_EQ(rec.calls, (std::vector<int32_t>{514, 514, 517}));
}

TEST(TrayIcon, AddThenModifyThenOneDelete) {
  TrayIcon icon;
  EXPECT_EQ(icon.Update(false).op, NotifyOp::kNone);  // never shown: nothing to delete
  NotifyCall first = icon.Update(true, TrayPicture::kNormal);
  EXPECT_EQ(first.op, NotifyOp::kAdd);
  EXPECT_EQ(first.tip, "Vaux Aris 700");
  NotifyCall second = icon.Update(true, TrayPicture::kTraffic);
  EXPECT_EQ(second.op, NotifyOp::kModify);
  EXPECT_EQ(second.picture, TrayPicture::kTraffic);
  EXPECT_EQ(icon.Update(false).op, NotifyOp::kDelete);
  EXPECT_EQ(icon.Update(false).op, NotifyOp::kNone);
  EXPECT_FALSE(icon.shown());
  EXPECT_EQ(icon.Update(true).op, NotifyOp::kAdd);  // shown again after a delete
  icon.SetCaption(std::string(70, 'x'));            // cut to the shell's tip field
  EXPECT_EQ(icon.Update(true).tip.size(), 63u);
}

TEST(TrayMenu, ButtonReleasesOpenTheMenuAndTheEntriesAreInOrder) {
  for (int32_t msg = 512; msg <= 518; ++msg) {
    EXPECT_EQ(TrayOpensMenu(msg), msg == 514 || msg == 517) << msg;
  }
  std::vector<std::string_view> captions;
  for (const auto& e : TrayMenuEntries(true)) captions.push_back(e.caption);
  EXPECT_EQ(captions,
            (std::vector<std::string_view>{"Browser", "GUI", "IO Window", "Help", "-", "Exit"}));
  const auto stopped = TrayMenuEntries(false);
  EXPECT_EQ(stopped.front().action, TrayAction::kStart);
  EXPECT_EQ(stopped.back().action, TrayAction::kExit);
  // The page where the daemon listens (as its lock file records it).
  for (const auto& [bind, host] :
       std::vector<std::pair<std::string, std::string>>{{"", "127.0.0.1"},
                                                        {"0.0.0.0", "127.0.0.1"},
                                                        {"::", "[::1]"},
                                                        {" \"192.168.1.5\"", "192.168.1.5"},
                                                        {"fe80::1", "[fe80::1]"}}) {
    EXPECT_EQ(TrayPageAddress(bind, 8018, "/status"), "http://" + host + ":8018/status") << bind;
  }
}

TEST(TrayBlinker, TrafficLightsTheIconForAMomentOnlyUnlessTheDaemonStopped) {
  TrayBlinker b;
  EXPECT_EQ(b.OnTraffic(1000), TrayPicture::kTraffic);
  EXPECT_EQ(b.OnTraffic(1100), std::nullopt);  // already lit: no extra shell call
  EXPECT_EQ(b.DueMs(), 1000 + TrayBlinker::kLitMs);
  EXPECT_EQ(b.OnTick(1100), std::nullopt);  // early tick changes nothing
  EXPECT_EQ(b.OnTick(1250), TrayPicture::kNormal);
  EXPECT_EQ(b.DueMs(), std::nullopt);
  EXPECT_EQ(b.OnTraffic(1300), TrayPicture::kTraffic);  // the next burst blinks again
  // A stopped daemon holds the stopped picture.
  EXPECT_EQ(b.OnDaemonGone(), TrayPicture::kStopped);
  EXPECT_EQ(b.OnTick(1900), std::nullopt);  // the pending unlight is dropped
  EXPECT_EQ(b.OnTraffic(2000), std::nullopt);
  EXPECT_EQ(b.shown(), TrayPicture::kStopped);
  EXPECT_EQ(b.OnDaemonBack(), TrayPicture::kNormal);
  EXPECT_EQ(b.OnDaemonBack(), std::nullopt);
}

}  // namespace
}  // namespace corvane
