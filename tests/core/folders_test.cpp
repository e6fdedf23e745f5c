#include "core/folders.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/event_log.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using testing::FileExists;

// Every folder but the last component is made, again without complaint; a
// file in the way is reported.
TEST(FoldersTest, CreatesEveryFolderButTheLastComponentOrReports) {
  testing::TempDir dir;
  CreateFolders(dir.File("a/b/f.txt"));
  CreateFolders(dir.File("a/b/f.txt"));
  EXPECT_TRUE(FileExists(dir.File("a/b")));
  EXPECT_FALSE(FileExists(dir.File("a/b/f.txt")));
  testing::WriteFile(dir.File("a/b/f.txt"), "x");
  ManualWallClock wall(46000);
  std::ostringstream err;
  EventLog log(wall, &err);
  CreateFolders(dir.File("a/b/f.txt/sub/x"), &log);
  EXPECT_NE(err.str().find(" CreateFolders  Line 0 "), std::string::npos);
  EXPECT_EQ(JoinPath("/a/", "/b"), "/a/b");
}

}  // namespace
}  // namespace corvane
