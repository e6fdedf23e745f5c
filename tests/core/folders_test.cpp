#include "core/folders.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/event_log.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using testing::FileExists;

TEST(FoldersTest, CreatesEveryFolderButTheLastComponent) {
  testing::TempDir dir;
  CreateFolders(dir.File("a/b/f.txt"));
  EXPECT_TRUE(FileExists(dir.File("a/b")));
  EXPECT_FALSE(FileExists(dir.File("a/b/f.txt")));
  CreateFolders(dir.File("a/b/f.txt"));  // again: nothing to do
  CreateFolders(dir.File("Config/x"));
  EXPECT_TRUE(FileExists(dir.File("Config")));
  EXPECT_FALSE(FileExists(dir.File("Config/x")));
}

TEST(FoldersTest, ReportsAFileInTheWay) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("plain"), "x");
  ManualWallClock wall(46000);
  std::ostringstream err;
  EventLog log(wall, &err);
  CreateFolders(dir.File("plain/sub/x"), &log);
  EXPECT_NE(err.str().find(" CreateFolders  Line 0 "), std::string::npos);
  EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
}

}  // namespace
}  // namespace corvane
