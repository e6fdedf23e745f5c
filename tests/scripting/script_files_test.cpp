// Script names, include expansion and the Spawn wrapper, on real files in a
// temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/text.h"
#include "scripting/script_files.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ScriptFilesTest, NamesAreRelativeToTheScriptsFolderUnlessAbsolute) {
  EXPECT_EQ(ResolveScriptPath("/h/Scripts", "a.txt"), "/h/Scripts/a.txt");
  EXPECT_EQ(ResolveScriptPath("/h/Scripts", "lib\\b.txt"), "/h/Scripts/lib/b.txt");
  EXPECT_EQ(ResolveScriptPath("/h/Scripts", "\\lib\\b.txt"), "/h/Scripts/lib/b.txt");
  EXPECT_EQ(ResolveScriptPath("/h/Scripts", "/opt/x.txt"), "/opt/x.txt");
  // A drive letter or a network name is used unchanged (and is not found here).
  EXPECT_EQ(ResolveScriptPath("/h/Scripts", "C:\\x.txt"), "C:/x.txt");
  EXPECT_EQ(ResolveScriptPath("/h/Scripts", "\\\\srv\\x.txt"), "//srv/x.txt");
}

class IncludeTest : public ::testing::Test {
 protected:
  void SetUp() override { ::mkdir(dir_.File("Scripts").c_str(), 0755); }
  void File(const std::string& name, const std::string& text) {
    WriteFile(dir_.File("Scripts/" + name), text);
  }
  // "name:text|name:text" of what Expand gives.
  std::string Expand(const std::string& name) {
    IncludeExpander ex(dir_.File("Scripts"), [](const std::string& p) {
      return ReadWholeFile(p);
    });
    std::string out;
    for (const auto& s : ex.Expand(name)) {
      if (!out.empty()) out += "|";
      out += s.name + ":" + s.text;
    }
    return out;
  }
  TempDir dir_;
};

TEST_F(IncludeTest, IncludedFilesComeFirstDepthFirstWhateverTheLetterCase) {
  File("Main.txt", "#include \"a.txt\"\nmain\n#INCLUDE \" B.TXT \"\n");
  File("A.txt", "#Include \"c.txt\"\na\n");
  File("b.txt", "b\n");
  File("c.txt", "c\n");
  // Each directive is cut out; its line break stays, so lines keep their numbers.
  EXPECT_EQ(Expand("main.TXT"), "c.txt:c\n|a.txt:\na\n|B.TXT:b\n|main.TXT:\nmain\n\n");
}

TEST_F(IncludeTest, MissingFilesCyclesAndBrokenDirectivesDoNotStopTheLoad) {
  File("main.txt", "#include \"gone.txt\"\n#include \"loop.txt\"\n#include nothing here\nm\n");
  File("loop.txt", "#include \"main.txt\"\n#include \"loop.txt\"\nl\n");
  EXPECT_EQ(Expand("main.txt"), "loop.txt:\n\nl\n|main.txt:\n\n\nm\n");
  EXPECT_EQ(Expand("gone.txt"), "");
}

TEST(WrapperTest, RunsTheProcedureWithItsParameterBesideTheScript) {
  TempDir dir;
  EXPECT_EQ(WrapWSF(dir.path(), "Lights.TXT", "Main", "on"), "Lights~.wsf");
  const auto lines = Split(ReadFile(dir.File("Lights~.wsf")), "\r\n");
  ASSERT_EQ(lines.size(), 10u);  // nine lines, each ended by CR LF
  EXPECT_EQ(lines[0], "<job id=\"Lights\">");
  EXPECT_EQ(lines[1], "<script language=\"VBScript\" src=\"Lights.txt\"/>");
  EXPECT_EQ(lines[4], "Set xap = createobject(\"Quorel.Application\")");
  EXPECT_EQ(lines[5], "Main \"on\"");
  EXPECT_EQ(lines[8], "</Job>");
  EXPECT_THROW(WrapWSF(dir.File("missing/folder"), "x.txt", "Main", ""), std::runtime_error);
}

}  // namespace
}  // namespace corvane
