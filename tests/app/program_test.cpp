#include "app/program.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "core/folders.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::FileExists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ProgramTest, StartupMakesTheFoldersAndReadsTheSettings) {
  TempDir home;
  CreateFolders(home.File("Config/x"));
  WriteFile(home.File("Config/Corvane.ini"),
            "[Vaux]\r\nUID=AB123400\r\nPeriodicScriptInterval=90\r\nHTTPPort=0\r\n");
  WriteFile(home.File("Config/zynXap.ini"), "[Interface]\r\nBroadcastAddress=127.255.255.255\r\n");
  // Left by a save that was killed half-way.
  WriteFile(home.File("Config/Corvane.ini.tmp99999999"), "[VAUX]\r\nUID=");
  ManualClock clock;
  ManualWallClock wall(46000, &clock);
  std::ostringstream err;
  Program program({home.path(), home.File("corvane"), "host"}, clock, wall, &err);
  ASSERT_EQ(program.Startup(), 0);
  EXPECT_TRUE(FileExists(home.File("Data/Corvane.txt")));  // made with the Application object
  EXPECT_FALSE(FileExists(home.File("Config/Corvane.ini.tmp99999999")));
  EXPECT_NE(err.str().find("Corvane.ini.tmp99999999, left by a save that did not finish"),
            std::string::npos);
  EXPECT_EQ(program.base_uid(), "AB.1234:00");
  EXPECT_EQ(program.broadcast_address(), "127.255.255.255");
  EXPECT_EQ(program.interface_address(), "Default");
  EXPECT_EQ(program.settings().values().uid, "AB.1234:00");
  EXPECT_TRUE(program.periodic_schedule().enabled);
  EXPECT_EQ(program.periodic_schedule().interval_ms, 30000);

  // Changes reach the disk at shutdown, sorted and with CR LF.
  program.ini().SaveIniSetting("Vaux", "Background", "Navy", "Corvane.ini");
  program.Shutdown();
  // The zone table's 42 lines are saved with them.
  const std::string ini = ReadFile(home.File("Config/Corvane.ini"));
  EXPECT_EQ(ini.substr(0, 78),
            "[VAUX]\r\nBackground=Navy\r\nHTTPPort=0\r\n"
            "PeriodicScriptInterval=90\r\nUID=AB123400\r\n");
  EXPECT_NE(ini.find("Vaux_Aris_700_2A="), std::string::npos);
}

// One daemon per home, found through HOME/corvane.pid; SIGHUP reads the
// settings again and the web server follows a changed port; SIGINT ends the
// program as SIGTERM does (the other process tests stop it with SIGTERM).
TEST(ProgramProcessTest, OneDaemonPerHomeSighupReloadsAndSigintEnds) {
  testing::EnterPrivateNetwork();
  TempDir home;
  testing::WriteLoopbackXapConfig(home.File("home"));
  const uint16_t first = testing::FreeTcpPort();
  const uint16_t second = testing::FreeTcpPort();
  auto settings = [&](uint16_t port) {
    WriteFile(home.File("home/Config/Corvane.ini"),
              "[Vaux]\r\nHTTPBindAddress=127.0.0.1\r\nHTTPPort=" + std::to_string(port) +
                  "\r\nDebugLog=False\r\n");
  };
  settings(first);
  testing::Subprocess corvane;
  ASSERT_TRUE(corvane.Start({"corvane", "--home", home.File("home")}, home.File("log")));
  const std::string pid_file = home.File("home/corvane.pid");
  // The pid, the web port and the address it listens on.
  const std::string published =
      std::to_string(corvane.pid()) + "\n" + std::to_string(first) + "\n127.0.0.1\n";
  ASSERT_TRUE(testing::Eventually([&] { return ReadFile(pid_file) == published; }));
  EXPECT_TRUE(FileExists(home.File("home/Data")));

  testing::Subprocess other;
  ASSERT_TRUE(other.Start({"corvane", "--home", home.File("home")}, home.File("other")));
  EXPECT_EQ(other.Wait(5s), 1);
  EXPECT_NE(other.Stderr().find("already runs for"), std::string::npos);
  EXPECT_EQ(ReadFile(pid_file), published);  // the second one left the file alone

  settings(second);
  ASSERT_EQ(::kill(corvane.pid(), SIGHUP), 0);
  EXPECT_TRUE(testing::Eventually([&] {
    return ReadFile(pid_file) ==
           std::to_string(corvane.pid()) + "\n" + std::to_string(second) + "\n127.0.0.1\n";
  }));
  EXPECT_TRUE(corvane.Running());
  const int fd = testing::ConnectLoopbackTcp(second);
  EXPECT_GE(fd, 0);
  if (fd >= 0) ::close(fd);
  EXPECT_NE(corvane.Stderr().find("Settings reloaded"), std::string::npos);
  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(corvane.Stop(SIGINT, 5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 1s);
  EXPECT_NE(corvane.Stderr().find("Corvane stopped"), std::string::npos);
  EXPECT_EQ(ReadFile(pid_file), "");  // released: a new daemon may start
}

TEST(ProgramCommandLineTest, VersionHelpAndBadOptions) {
  testing::TempDir dir;
  testing::Subprocess p;
  ASSERT_TRUE(p.Start({"corvane", "--version"}, dir.File("v")));
  EXPECT_EQ(p.Wait(5s), 0);
  EXPECT_EQ(p.Stdout().rfind("corvane ", 0), 0u);
  ASSERT_TRUE(p.Start({"corvane", "--help"}, dir.File("h")));
  EXPECT_EQ(p.Wait(5s), 0);
  EXPECT_NE(p.Stdout().find("--home DIR"), std::string::npos);
  ASSERT_TRUE(p.Start({"corvane", "--frobnicate"}, dir.File("b")));
  EXPECT_EQ(p.Wait(5s), 2);
  EXPECT_NE(p.Stderr().find("unknown option"), std::string::npos);
}

}  // namespace
}  // namespace corvane
