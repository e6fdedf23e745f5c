// The shipped web folder: copied where files are missing, never over the
// user's own files.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "core/event_log.h"
#include "pages/web_folder.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace corvane::testing {
namespace {

TEST(WebFolder, FillsWhatIsMissingAndKeepsTheUsersFiles) {
  TempDir dir;
  ManualWallClock wall(46000);
  std::ostringstream err;
  EventLog log(wall, &err);
  const std::string html = dir.File("HTML");
  std::filesystem::create_directories(html + "/help/corvane");
  WriteFile(html + "/stylenobody.css", "mine");
  WriteFile(html + "/help/corvane/corvane.htm", "my help");

  const auto& shipped = ShippedWebFiles();
  ASSERT_GE(shipped.size(), 5u);
  EXPECT_EQ(InstallWebFolder(html, log), static_cast<int>(shipped.size()) - 2);
  EXPECT_EQ(ReadFile(html + "/stylenobody.css"), "mine");
  EXPECT_EQ(ReadFile(html + "/help/corvane/corvane.htm"), "my help");
  EXPECT_FALSE(FileExists(html + "/StyleNoBody.css"));
  // Pictures went into the folders that were there, whatever their case.
  EXPECT_TRUE(FileExists(html + "/help/corvane/Corvane_files/logo.gif"));
  EXPECT_FALSE(std::filesystem::exists(html + "/Help"));
  const std::string logo = ReadFile(html + "/img/logo.gif");
  EXPECT_EQ(logo.substr(0, 6), "GIF89a");
  for (const auto& file : shipped) {
    if (file.name == "img/logo.gif") {
      EXPECT_EQ(logo, file.data);
    }
  }
  EXPECT_EQ(InstallWebFolder(html, log), 0);
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace corvane::testing
