// Watching the echo text live: a watcher that starts from CommData() and
// applies each change ends with the same text the window holds.
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
  std::string copy = echo.CommData();
  std::string status;
  echo.SetWatcher([&](EchoWindow::Change change, std::string_view text) {
    switch (change) {
      case EchoWindow::Change::kAppend: copy.append(text); break;
      case EchoWindow::Change::kStatus: status = text; break;
      case EchoWindow::Change::kInsertBeforeLastLineEnd: {
        const size_t at = copy.rfind("\r\n");
        copy.insert(at == std::string::npos ? copy.size() : at, text);
        break;
      }
    }
    if (copy.size() > EchoWindow::kMaxText) copy.erase(0, copy.size() - EchoWindow::kMaxText);
  });
  echo.EchoReceived("VS 01 02\r\nVR");
  echo.InsertBeforeLastLineEnd("<try 2>");
  echo.EchoMessage(std::string(12000, 'A'));  // pushes the oldest text out
  echo.EchoReceived("00\r\n");
  echo.SetOpenStatus("Port Open / 1 tries");
  EXPECT_EQ(copy, echo.CommData());
  EXPECT_EQ(status, "Port Open / 1 tries");
}

TEST(EchoWatch, AFailingWatcherDoesNotStopTheEcho) {
  ManualWallClock wall(46000.5);
  EventLog log(wall, nullptr);
  EchoWindow echo(wall, log);
  echo.SetWatcher([](EchoWindow::Change, std::string_view) { throw std::runtime_error("gone"); });
  echo.EchoMessage("X");
  EXPECT_NE(echo.CommData().find("Sent to Vaux X"), std::string::npos);
}

}  // namespace
}  // namespace corvane
