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
  bool Logged(const std::string& text) const { return err_.str().find(text) != std::string::npos; }
  static unsigned Mode(const std::string& p) {
    return static_cast<unsigned>(std::filesystem::status(p).permissions());
  }
  TempDir dir_;
  ManualWallClock wall_{46000};
  std::ostringstream err_;
  EventLog log_;
  IniTool ini_;
};

TEST_F(IniToolTest, GrammarOfTheLoader) {
  using namespace std::string_literals;
  ini_.LoadText(
      "\xEF\xBB\xBF[Bom]\r\nBind=127.0.0.1\r\n"  // a byte-order mark is no part of the line
      "; a comment\r\n"
      "   [Vaux]   \r\n"
      "UID=FF.0022:00\r\n"
      "uid=second occurrence loses\r\n"
      "A = 1\r\n"
      "text=a=b\r\n"
      "Empty=\r\n"
      "no equal sign here\r\n"
      "\r\n"
      "[ Vaux ]\rUID=spaced section\n"
      "[B]\nz=\x01\xff\0bin\r\n"s);
  EXPECT_EQ(ini_.Read("Bom", "Bind", "-"), "127.0.0.1");
  EXPECT_EQ(ini_.Read("vaux", "Uid", "-"), "FF.0022:00");
  EXPECT_EQ(ini_.Read("Vaux", "A ", "-"), " 1");  // neither side is trimmed
  EXPECT_EQ(ini_.Read("Vaux", "A", "-"), "-");
  EXPECT_EQ(ini_.Read("Vaux", "text", "-"), "a=b");
  EXPECT_EQ(ini_.Read("Vaux", "Empty", "dflt"), "dflt");
  EXPECT_EQ(ini_.Read(" Vaux ", "UID", "-"), "spaced section");
  EXPECT_EQ(ini_.Read("B", "z", ""), std::string("\x01\xff\0bin", 6));
  EXPECT_EQ(ini_.Headers(), (std::vector<std::string>{"Bom", "Vaux", " Vaux ", "B"}));
  EXPECT_TRUE(Logged("[IniTool]  Equal sign not found on line no equal sign here"));
  const std::string saved = ini_.SaveText();  // no mark is written back
  EXPECT_EQ(saved.find("\xEF"), std::string::npos);
  EXPECT_NE(saved.find("[BOM]\r\nBind=127.0.0.1\r\n"), std::string::npos);

  ini_.LoadText("[L]\n" + std::string(200000, 'k') + "=v\n" + std::string(50000, 'q'));
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
  const std::string path = dir_.File("Corvane.ini");
  WriteFile(path, "[Vaux]\nzeta=1\nAlpha=2\n[devices]\nkitchen=x\n[Empty]\n; gone\n");
  ASSERT_TRUE(ini_.Load(path));
  ini_.WriteKey("Vaux", "zeta", "1");  // the value it has: no change, nothing to write
  ASSERT_TRUE(ini_.Save());
  EXPECT_EQ(ReadFile(path), "[Vaux]\nzeta=1\nAlpha=2\n[devices]\nkitchen=x\n[Empty]\n; gone\n");
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

// A file edited by hand while the program holds it: the save writes only
// the program's changes over the new version; the program wins a key both
// changed, and the log names the keys.
TEST_F(IniToolTest, SaveMergesWithAFileEditedMeanwhile) {
  const std::string path = dir_.File("Corvane.ini");
  WriteFile(path, "[Vaux]\r\nA=1\r\nB=1\r\nC=1\r\nGone=1\r\n");
  ASSERT_TRUE(ini_.Load(path));
  ini_.WriteKey("Vaux", "B", "program");
  ini_.WriteKey("Vaux", "C", "program");
  ini_.RemoveKey("Vaux", "Gone");
  ini_.WriteKey("Vaux", "New", "program");
  WriteFile(path, "[Vaux]\r\nA=hand\r\nC=hand\r\nGone=1\r\nAdded=hand\r\n[Hand]\r\nx=1\r\n");
  ASSERT_TRUE(ini_.Save());
  EXPECT_EQ(ReadFile(path),
            "[HAND]\r\nx=1\r\n"
            "[VAUX]\r\nA=hand\r\nAdded=hand\r\nB=program\r\nC=program\r\nNew=program\r\n");
  EXPECT_TRUE(Logged("writes over them only Corvane's changes: [Vaux] B, [Vaux] C, [Vaux] Gone"));
  EXPECT_TRUE(Logged("Corvane's value replaces the file's for [Vaux] B, [Vaux] C"));
  EXPECT_EQ(ini_.Read("Vaux", "Added", ""), "hand");  // memory follows the merge
}

// Mode, owner and link survive a save; the backup is never more readable
// than the file; a new file is private.
TEST_F(IniToolTest, SaveKeepsModesAndLinks) {
  for (const auto& c : std::vector<std::pair<unsigned, bool>>{  // mode, linked
           {0600, false}, {0640, false}, {0600, true}, {0644, true}}) {
    SCOPED_TRACE(std::to_string(c.first) + (c.second ? " linked" : ""));
    TempDir dir;
    const std::string path = dir.File("Corvane.ini");
    const std::string real = c.second ? dir.File("elsewhere.ini") : path;
    WriteFile(real, "[Vaux]\r\nA=1\r\n");
    ASSERT_EQ(::chmod(real.c_str(), c.first), 0);
    ASSERT_TRUE(!c.second || ::symlink("elsewhere.ini", path.c_str()) == 0);
    WriteFile(path + "_bck", "an older, wider backup");
    ASSERT_EQ(::chmod((path + "_bck").c_str(), 0666), 0);
    IniTool tool(&log_);
    ASSERT_TRUE(tool.Load(path));
    tool.WriteKey("Vaux", "B", "2");
    ASSERT_TRUE(tool.Save());
    EXPECT_EQ(Mode(real), c.first);
    EXPECT_EQ(Mode(path + "_bck"), c.first);
    EXPECT_EQ(ReadFile(real), "[VAUX]\r\nA=1\r\nB=2\r\n");
    EXPECT_EQ(std::filesystem::is_symlink(path), c.second);
    EXPECT_EQ(ReadFile(path + "_bck"), "[Vaux]\r\nA=1\r\n");
  }
  IniTool fresh(&log_);
  ASSERT_TRUE(fresh.Load(dir_.File("new.ini")));
  fresh.WriteKey("MQTT", "Password", "secret");
  ASSERT_TRUE(fresh.Save());
  EXPECT_EQ(Mode(dir_.File("new.ini")), 0600u);
}

// A missing folder, or something in the way of the temporary file: the old
// file stays whole and the failure is reported.
TEST_F(IniToolTest, FailedSaveLeavesTheOldFileAndReports) {
  const std::string good = dir_.File("Good.ini");
  WriteFile(good, "[A]\r\nx=1\r\n");
  ASSERT_EQ(::mkdir((good + ".tmp" + std::to_string(::getpid())).c_str(), 0755), 0);
  for (const std::string& path : {dir_.File("sub/Corvane.ini"), good}) {
    IniTool tool(&log_);
    ASSERT_TRUE(tool.Load(path));
    tool.WriteKey("A", "y", "2");
    EXPECT_FALSE(tool.Save()) << path;
  }
  EXPECT_TRUE(Logged("IniTool Save  Line 0 "));
  EXPECT_EQ(ReadFile(good), "[A]\r\nx=1\r\n");
}

TEST_F(IniToolTest, TemporaryFilesOfInterruptedSavesAreRemovedAtStartUp) {
  auto file = [&](const std::string& name) { return dir_.File("Config/" + name); };
  std::filesystem::create_directories(dir_.File("Config/keep.tmp1"));  // a folder, not ours
  // Another running copy of this program may be saving right now.
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string own = std::to_string(::getpid()), alive = std::to_string(other);
  const std::pair<std::string, bool> files[] = {  // name, removed
      {"Corvane.ini.tmp99999999", true}, {"settings.ini.tmp" + own, true},
      {"zynXap.ini.tmp1", true},         {"Corvane.ini", false},
      {"Corvane.ini_bck", false},        {"Corvane.ini.tmp", false},
      {"Corvane.ini.tmp12a", false},     {".tmp123", false},
      {"notes.tmp1234567890", false},    {"Corvane.ini.tmp" + alive, false}};
  for (const auto& [name, removed] : files) WriteFile(file(name), "[A]\r\nhalf");
  // Beside a linked file's target, only that file's temporaries are its own.
  ASSERT_EQ(::symlink("../store/Linked.ini", file("Linked.ini").c_str()), 0);
  std::filesystem::create_directories(dir_.File("store"));
  WriteFile(dir_.File("store/Linked.ini.tmp99999999"), "half");
  WriteFile(dir_.File("store/other.ini.tmp99999999"), "not ours");
  EXPECT_EQ(RemoveStaleSaveFiles(dir_.File("Config"), &log_), 4);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("store/Linked.ini.tmp99999999")));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("store/other.ini.tmp99999999")));
  for (const auto& [name, removed] : files) {
    EXPECT_EQ(std::filesystem::exists(file(name)), !removed) << name;
    EXPECT_EQ(Logged("Removed " + file(name) + ", left by a save"), removed) << name;
  }
  ::kill(other, SIGKILL);
  ::waitpid(other, nullptr, 0);
  // Once that copy has gone its file is stale too; a missing folder is reported.
  EXPECT_EQ(RemoveStaleSaveFiles(dir_.File("Config"), &log_), 1);
  EXPECT_EQ(RemoveStaleSaveFiles(dir_.File("None"), &log_), 0);
  EXPECT_TRUE(Logged("RemoveStaleSaveFiles " + dir_.File("None")));
}

}  // namespace
}  // namespace corvane
