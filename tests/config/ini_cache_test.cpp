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
  // Gives the file a modification time clearly later than any before.
  void Touch(const std::string& file, std::string_view content) {
    WriteFile(dir_.File(file), content);
    struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) + (++bump_) * 10, 0}};
    ::utimensat(AT_FDCWD, dir_.File(file).c_str(), times, 0);
  }
  TempDir dir_;
  ManualWallClock wall_{46000};
  std::ostringstream err_;
  EventLog log_;
  IniCache cache_;
  int bump_ = 0;
};

TEST_F(IniCacheTest, MissingFileIsCreatedEmptyAndReadsDefaults) {
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "HTTPPort", "8018", "Corvane.ini"), "8018");
  EXPECT_TRUE(FileExists(dir_.File("Corvane.ini")));
  EXPECT_EQ(ReadFile(dir_.File("Corvane.ini")), "");
  // No file named: settings.ini.
  cache_.SaveIniSetting("Script", "Count", "3");
  cache_.FlushIniCache();
  EXPECT_EQ(ReadFile(dir_.File("settings.ini")), "[SCRIPT]\r\nCount=3\r\n");
}

TEST_F(IniCacheTest, NamesIgnoreCaseAndShareOneSlot) {
  Touch("Corvane.ini", "[Vaux]\r\nUID=FF.0022:05\r\n");
  EXPECT_EQ(cache_.GetIniSetting("VAUX", "uid", "", "Corvane.ini"), "FF.0022:05");
  int slot = cache_.FindIniFile("CORVANE.INI", false);
  EXPECT_EQ(slot, cache_.FindIniFile("corvane.ini", false));
  EXPECT_EQ(slot, 1);  // slot 0 is the placeholder
  EXPECT_FALSE(FileExists(dir_.File("CORVANE.INI")));
}

TEST_F(IniCacheTest, ChangesReachTheDiskOnlyAtFlush) {
  Touch("Corvane.ini", "[Vaux]\r\nBackground=Black\r\n");
  cache_.SaveIniSetting("Vaux", "Background", "Navy", "Corvane.ini");
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "Background", "", "Corvane.ini"), "Navy");
  EXPECT_EQ(ReadFile(dir_.File("Corvane.ini")), "[Vaux]\r\nBackground=Black\r\n");
  cache_.FlushIniCache();
  EXPECT_EQ(ReadFile(dir_.File("Corvane.ini")), "[VAUX]\r\nBackground=Navy\r\n");
  EXPECT_EQ(ReadFile(dir_.File("Corvane.ini_bck")), "[Vaux]\r\nBackground=Black\r\n");
  // After the flush the next read reloads the identical file.
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "Background", "", "Corvane.ini"), "Navy");
}

TEST_F(IniCacheTest, FileEditedOnDiskIsReloadedAndUnsavedChangesAreLost) {
  Touch("Corvane.ini", "[Vaux]\r\nA=1\r\n");
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "A", "", "Corvane.ini"), "1");
  cache_.SaveIniSetting("Vaux", "B", "unsaved", "Corvane.ini");
  Touch("Corvane.ini", "[Vaux]\r\nA=2\r\n");
  // A write keeps the current contents even when the disk is newer...
  cache_.SaveIniSetting("Vaux", "C", "3", "Corvane.ini");
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "A", "", "Corvane.ini"), "1");
  // ...because the write took the new time stamp; an edit after it is read.
  Touch("Corvane.ini", "[Vaux]\r\nA=4\r\n");
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "A", "", "Corvane.ini"), "4");
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "B", "gone", "Corvane.ini"), "gone");
}

TEST_F(IniCacheTest, SectionsAsTextAndClearing) {
  Touch("Corvane.ini", "[Received]\r\nA=1\r\nB=2\r\n[Vaux]\r\nX=1\r\n");
  EXPECT_EQ(cache_.GetINISection("Received", "Corvane.ini"), std::string("A=1\0B=2", 7));
  EXPECT_EQ(cache_.GetINISection("Nothing", "Corvane.ini"), "");
  cache_.ClearINISection("Received", "Corvane.ini");
  EXPECT_EQ(cache_.GetINISection("Received", "Corvane.ini"), "");
  cache_.FlushIniCache();  // clearing alone does not mark the file changed
  EXPECT_EQ(ReadFile(dir_.File("Corvane.ini")), "[Received]\r\nA=1\r\nB=2\r\n[Vaux]\r\nX=1\r\n");
  cache_.SaveIniSetting("Vaux", "Y", "2", "Corvane.ini");
  cache_.FlushIniCache();
  EXPECT_EQ(ReadFile(dir_.File("Corvane.ini")), "[VAUX]\r\nX=1\r\nY=2\r\n");
}

TEST_F(IniCacheTest, VanishedFileKeepsWhatWasLoaded) {
  Touch("Corvane.ini", "[Vaux]\r\nUID=FF.0022:07\r\n");
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "UID", "", "Corvane.ini"), "FF.0022:07");
  ASSERT_EQ(::unlink(dir_.File("Corvane.ini").c_str()), 0);
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "UID", "", "Corvane.ini"), "FF.0022:07");
  cache_.FlushIniCache();
  EXPECT_EQ(ReadFile(dir_.File("Corvane.ini")), "[VAUX]\r\nUID=FF.0022:07\r\n");
}

TEST_F(IniCacheTest, UnreadableFileKeepsWhatWasLoaded) {
  Touch("Corvane.ini", "[Vaux]\r\nUID=FF.0022:07\r\n");
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "UID", "", "Corvane.ini"), "FF.0022:07");
  // Replaced by a folder: it exists, newer, but cannot be read as a file.
  ASSERT_EQ(::unlink(dir_.File("Corvane.ini").c_str()), 0);
  ASSERT_EQ(::mkdir(dir_.File("Corvane.ini").c_str(), 0755), 0);
  struct timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 1000, 0}};
  ::utimensat(AT_FDCWD, dir_.File("Corvane.ini").c_str(), later, 0);
  EXPECT_EQ(cache_.GetIniSetting("Vaux", "UID", "", "Corvane.ini"), "FF.0022:07");
  EXPECT_NE(err_.str().find("IniTool Load"), std::string::npos);
}

TEST_F(IniCacheTest, PathsAreRefused) {
  EXPECT_EQ(cache_.GetIniSetting("A", "b", "dflt", "../escape.ini"), "dflt");
  cache_.SaveIniSetting("A", "b", "x", "../escape.ini");
  cache_.FlushIniCache();
  EXPECT_FALSE(FileExists(dir_.File("../escape.ini")));
}

}  // namespace
}  // namespace corvane
