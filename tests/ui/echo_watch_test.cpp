// Watching the echo text live: a mirror that starts from CommData() and
// applies each change ends with the same text the window holds; a failing
// watcher does not stop the echo.
#include <gtest/gtest.h>

#include <stdexcept>

#include "core/event_log.h"
#include "platform/clock.h"
#include "ui/echo_window.h"

namespace corvane {
namespace {

TEST(EchoWatch, ChangesRebuildTheWindowTextAndTheStatus) {
  ManualWallClock wall(46000.5);
  EventLog log(wall, nullptr);
  EchoWindow echo(wall, log);
  echo.EchoMessage("VP FE 52 01 00 ");
  EchoMirror mirror;
  mirror.Reset(echo.CommData(), echo.aOpenStatus());
  echo.SetWatcher(
      [&](EchoWindow::Change change, std::string_view text) { mirror.Apply(change, text); });
  echo.EchoReceived("VS 01 02\r\nVR");
  echo.InsertBeforeLastLineEnd("<try 2>");
  echo.EchoMessage(std::string(12000, 'A'));  // pushes the oldest text out
  echo.EchoReceived("00\r\n");
  echo.SetOpenStatus("Port Open / 1 tries");
  EXPECT_EQ(mirror.text(), echo.CommData());
  EXPECT_EQ(mirror.status(), "Port Open / 1 tries");
  // Marks into a text with no line end go to its end.
  mirror.Reset("abc", "");
  mirror.Apply(EchoWindow::Change::kInsertBeforeLastLineEnd, "<try 2>");
  EXPECT_EQ(mirror.text(), "abc<try 2>");
  // A failing watcher does not stop the echo.
  echo.SetWatcher([](EchoWindow::Change, std::string_view) { throw std::runtime_error("gone"); });
  echo.EchoMessage("X");
  EXPECT_NE(echo.CommData().find("Sent to Vaux X"), std::string::npos);
}

}  // namespace
}  // namespace corvane
