#include "config/ini_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <sstream>

#include "core/event_log.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using testing::FileExists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class IniCacheTest : public ::testing::Test {
 protected:
  IniCacheTest() : log_(wall_, &err_), cache_(dir_.path(), log_) {}
  // Writes the file as an editor would, with a time stamp of its own.
  void Touch(const std::string& file, std::string_view content) {
    WriteFile(dir_.File(file), content);
    struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) + (++bump_) * 10, 0}};
    ::utimensat(AT_FDCWD, dir_.File(file).c_str(), times, 0);
  }
  std::string Get(std::string_view key) {
    return cache_.GetIniSetting("Vaux", key, "-", "Corvane.ini");
  }
  void Set(std::string_view key, std::string_view value) {
    cache_.SaveIniSetting("Vaux", key, value, "Corvane.ini");
  }
  std::string Disk() { return ReadFile(dir_.File("Corvane.ini")); }
  TempDir dir_;
  ManualWallClock wall_{46000};
  std::ostringstream err_;
  EventLog log_;
  IniCache cache_;
  int bump_ = 0;
};

TEST_F(IniCacheTest, MissingFileIsCreatedPrivateAndReadsDefaults) {
  EXPECT_EQ(Get("HTTPPort"), "-");
  struct stat st {};
  ASSERT_EQ(::stat(dir_.File("Corvane.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Disk(), "");
  // No file named: settings.ini.
  cache_.SaveIniSetting("Script", "Count", "3");
  cache_.FlushIniCache();
  EXPECT_EQ(ReadFile(dir_.File("settings.ini")), "[SCRIPT]\r\nCount=3\r\n");
  // Names ignore letter case and share one slot; slot 0 is the placeholder.
  EXPECT_EQ(cache_.FindIniFile("CORVANE.INI", false), 1);
  EXPECT_EQ(cache_.FindIniFile("corvane.ini", false), 1);
  EXPECT_FALSE(FileExists(dir_.File("CORVANE.INI")));
  // A path is refused: defaults, nothing written.
  EXPECT_EQ(cache_.GetIniSetting("A", "b", "dflt", "../escape.ini"), "dflt");
  cache_.SaveIniSetting("A", "b", "x", "../escape.ini");
  cache_.FlushIniCache();
  EXPECT_FALSE(FileExists(dir_.File("../escape.ini")));
}

// An edit on disk is read at the next lookup and the program's unsaved
// changes stay over it; the flush keeps both.
TEST_F(IniCacheTest, FileEditedOnDiskIsReadAndUnsavedChangesAreKept) {
  Touch("Corvane.ini", "[Vaux]\r\nA=1\r\nB=1\r\n");
  EXPECT_EQ(Get("A"), "1");
  Set("B", "unsaved");
  EXPECT_EQ(Disk(), "[Vaux]\r\nA=1\r\nB=1\r\n");  // only a flush writes
  Touch("Corvane.ini", "[Vaux]\r\nA=2\r\nB=hand\r\n");
  Set("C", "3");  // a write does not read the file ...
  EXPECT_EQ(Get("A"), "2");  // ... the next read does
  EXPECT_EQ(Get("B"), "unsaved");
  EXPECT_NE(err_.str().find("Corvane's value replaces the file's for [Vaux] B"), std::string::npos);
  cache_.FlushIniCache();
  EXPECT_EQ(Disk(), "[VAUX]\r\nA=2\r\nB=unsaved\r\nC=3\r\n");
  // Written while the program runs, read by the flush that follows.
  Touch("Corvane.ini", "[VAUX]\r\nA=2\r\nB=unsaved\r\nC=3\r\nHand=1\r\n");
  Set("D", "4");
  cache_.FlushIniCache();
  EXPECT_EQ(Disk(), "[VAUX]\r\nA=2\r\nB=unsaved\r\nC=3\r\nD=4\r\nHand=1\r\n");
}

TEST_F(IniCacheTest, SectionsAsTextAndClearing) {
  Touch("Corvane.ini", "[Received]\r\nA=1\r\nB=2\r\n[Vaux]\r\nX=1\r\n");
  EXPECT_EQ(cache_.GetINISection("Received", "Corvane.ini"), std::string("A=1\0B=2", 7));
  EXPECT_EQ(cache_.GetINISection("Nothing", "Corvane.ini"), "");
  cache_.ClearINISection("Received", "Corvane.ini");
  EXPECT_EQ(cache_.GetINISection("Received", "Corvane.ini"), "");
  cache_.FlushIniCache();  // clearing alone does not mark the file changed
  EXPECT_EQ(Disk(), "[Received]\r\nA=1\r\nB=2\r\n[Vaux]\r\nX=1\r\n");
  Set("Y", "2");
  cache_.FlushIniCache();
  EXPECT_EQ(Disk(), "[VAUX]\r\nX=1\r\nY=2\r\n");
}

// A file that vanishes, or turns into something unreadable, while its
// contents are held keeps them; a vanished one is written back.
TEST_F(IniCacheTest, MishapsOnDiskKeepWhatWasLoaded) {
  for (const bool folder : {false, true}) {
    Touch("Corvane.ini", "[Vaux]\r\nUID=FF.0022:07\r\n");
    EXPECT_EQ(Get("UID"), "FF.0022:07");
    ASSERT_EQ(::unlink(dir_.File("Corvane.ini").c_str()), 0);
    if (folder) {
      ASSERT_EQ(::mkdir(dir_.File("Corvane.ini").c_str(), 0755), 0);
      EXPECT_EQ(Get("UID"), "FF.0022:07");
      EXPECT_NE(err_.str().find("IniTool Load"), std::string::npos);
      continue;
    }
    EXPECT_EQ(Get("UID"), "FF.0022:07");
    cache_.FlushIniCache();
    EXPECT_EQ(Disk(), "[VAUX]\r\nUID=FF.0022:07\r\n");
  }
}

}  // namespace
}  // namespace corvane
