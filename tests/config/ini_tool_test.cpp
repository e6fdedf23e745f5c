#include "config/ini_tool.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "core/event_log.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class IniToolTest : public ::testing::Test {
 protected:
  IniToolTest() : log_(wall_, &err_), ini_(&log_) {}
  ManualWallClock wall_{46000};
  std::ostringstream err_;
  EventLog log_;
  IniTool ini_;
};

TEST_F(IniToolTest, GrammarOfTheLoader) {
  ini_.LoadText(
      "orphan=before any section\r\n"
      "; a comment\r\n"
      "   [Vaux]   \r\n"
      "UID=FF.0022:00\r\n"
      "uid=second occurrence loses\r\n"
      "A = 1\r\n"
      "text=a=b\r\n"
      "Empty=\r\n"
      "no equal sign here\r\n"
      "\r\n"
      "[ Vaux ]\r\n"
      "UID=spaced section\r\n");
  EXPECT_EQ(ini_.Read("", "orphan", "-"), "before any section");
  EXPECT_EQ(ini_.Read("vaux", "Uid", "-"), "FF.0022:00");
  EXPECT_EQ(ini_.Read("Vaux", "A ", "-"), " 1");  // neither side is trimmed
  EXPECT_EQ(ini_.Read("Vaux", "A", "-"), "-");
  EXPECT_EQ(ini_.Read("Vaux", "text", "-"), "a=b");
  EXPECT_EQ(ini_.Read("Vaux", "Empty", "dflt"), "dflt");
  EXPECT_EQ(ini_.Read(" Vaux ", "UID", "-"), "spaced section");
  EXPECT_EQ(ini_.Headers(), (std::vector<std::string>{"Vaux", " Vaux "}));
  EXPECT_NE(err_.str().find("[IniTool]  Equal sign not found on line no equal sign here"),
            std::string::npos);
}

TEST_F(IniToolTest, LineEndsOfEveryKindAndBinaryBytes) {
  using namespace std::string_literals;
  ini_.LoadText("[A]\rx=1\ry=2\n[B]\nz=\x01\xff\0bin\r\n"s);
  EXPECT_EQ(ini_.Read("A", "x", ""), "1");
  EXPECT_EQ(ini_.Read("A", "y", ""), "2");
  EXPECT_EQ(ini_.Read("B", "z", ""), std::string("\x01\xff\0bin", 6));
  std::string long_line = "[L]\n" + std::string(200000, 'k') + "=v\n" + std::string(50000, 'q');
  ini_.LoadText(long_line);
  EXPECT_EQ(ini_.Read("L", std::string(200000, 'k'), ""), "v");
}

TEST_F(IniToolTest, KeysMatchTheSectionNameLiterally) {
  ini_.WriteKey("Dev.1", "a", "1");
  ini_.WriteKey("Dev11", "b", "2");  // "Dev.1" as a pattern would match this
  ini_.WriteKey("dev.1", "C", "3");
  ini_.WriteKey("X(", "d", "4");  // would not even compile as a pattern
  ini_.WriteKey("Dev.1", "  ", "blank keys are left out");
  EXPECT_EQ(ini_.Keys("DEV.1"), (std::vector<std::string>{"a", "C"}));
  EXPECT_EQ(ini_.Keys("X("), (std::vector<std::string>{"d"}));
  EXPECT_EQ(ini_.Keys("none"), (std::vector<std::string>{""}));
  ini_.RemoveSection("dev.1");
  EXPECT_EQ(ini_.Keys("Dev.1"), (std::vector<std::string>{""}));
  EXPECT_EQ(ini_.Keys("Dev11"), (std::vector<std::string>{"b"}));
  EXPECT_EQ(ini_.Headers().size(), 3u);  // the section entry stays
}

TEST_F(IniToolTest, SaveWritesSortedUpperCaseSectionsWithBackup) {
  TempDir dir;
  const std::string path = dir.File("Corvane.ini");
  WriteFile(path, "[Vaux]\nzeta=1\nAlpha=2\n[devices]\nkitchen=x\n[Empty]\n; gone\n");
  ASSERT_TRUE(ini_.Load(path));
  ini_.WriteKey("Received", "a.b.c~x.y", "tag;event");
  ASSERT_TRUE(ini_.Save());
  EXPECT_EQ(ReadFile(path),
            "[DEVICES]\r\nkitchen=x\r\n"
            "[RECEIVED]\r\na.b.c~x.y=tag;event\r\n"
            "[VAUX]\r\nAlpha=2\r\nzeta=1\r\n");
  EXPECT_EQ(ReadFile(path + "_bck"),
            "[Vaux]\nzeta=1\nAlpha=2\n[devices]\nkitchen=x\n[Empty]\n; gone\n");

  // Names longer than any column width are saved too; line ends inside a
  // value cannot forge lines of their own.
  ini_.WriteKey(std::string(150, 's'), std::string(300, 'k'), "long");
  ini_.WriteKey("Vaux", "Name", "evil\r\n[VAUX]\r\nUID=forged");
  ASSERT_TRUE(ini_.Save());
  IniTool again;
  ASSERT_TRUE(again.Load(path));
  EXPECT_EQ(again.Read(std::string(150, 's'), std::string(300, 'k'), ""), "long");
  EXPECT_EQ(again.Read("Vaux", "Name", ""), "evil  [VAUX]  UID=forged");
  EXPECT_EQ(again.Read("Vaux", "UID", "none"), "none");
  EXPECT_EQ(again.Read("devices", "kitchen", ""), "x");
}

TEST_F(IniToolTest, FailedSaveLeavesTheOldFileAndReports) {
  TempDir dir;
  const std::string path = dir.File("sub/Corvane.ini");  // the folder does not exist
  ASSERT_TRUE(ini_.Load(path));
  ini_.WriteKey("Vaux", "a", "1");
  EXPECT_FALSE(ini_.Save());
  EXPECT_NE(err_.str().find("IniTool Save  Line 0 "), std::string::npos);

  // A save that cannot replace the file keeps the old one whole.
  const std::string good = dir.File("Good.ini");
  WriteFile(good, "[A]\r\nx=1\r\n");
  IniTool tool(&log_);
  ASSERT_TRUE(tool.Load(good));
  tool.WriteKey("A", "y", "2");
  // Something in the way of the temporary file makes the write fail.
  ASSERT_EQ(::mkdir((good + ".tmp" + std::to_string(::getpid())).c_str(), 0755), 0);
  EXPECT_FALSE(tool.Save());
  EXPECT_EQ(ReadFile(good), "[A]\r\nx=1\r\n");
}

TEST_F(IniToolTest, TemporaryFilesOfInterruptedSavesAreRemovedAtStartUp) {
  TempDir dir;
  auto file = [&](const std::string& name) { return dir.File("Config/" + name); };
  std::filesystem::create_directories(dir.File("Config/keep.tmp1"));  // a folder, not ours
  // Another running copy of this program may be saving right now.
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string own = std::to_string(::getpid());
  const std::vector<std::string> stale = {"Corvane.ini.tmp99999999", "settings.ini.tmp" + own,
                                          "zynXap.ini.tmp1"};
  const std::vector<std::string> kept = {"Corvane.ini",
                                         "Corvane.ini_bck",
                                         "Corvane.ini.tmp",
                                         "Corvane.ini.tmp12a",
                                         ".tmp123",
                                         "notes.tmp1234567890",
                                         "Corvane.ini.tmp" + std::to_string(other)};
  for (const auto& name : stale) WriteFile(file(name), "[A]\r\nhalf");
  for (const auto& name : kept) WriteFile(file(name), "x");
  EXPECT_EQ(RemoveStaleSaveFiles(dir.File("Config"), &log_), 3);
  for (const auto& name : stale) {
    EXPECT_FALSE(std::filesystem::exists(file(name))) << name;
    EXPECT_NE(err_.str().find("Removed " + file(name) + ", left by a save that did not finish"),
              std::string::npos);
  }
  for (const auto& name : kept) EXPECT_TRUE(std::filesystem::exists(file(name))) << name;
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  // Once that copy has gone its file is stale too; a missing folder is reported.
  EXPECT_EQ(RemoveStaleSaveFiles(dir.File("Config"), &log_), 1);
  EXPECT_EQ(RemoveStaleSaveFiles(dir.File("None"), &log_), 0);
  EXPECT_NE(err_.str().find("RemoveStaleSaveFiles " + dir.File("None")), std::string::npos);
}

}  // namespace
}  // namespace corvane
