// The real corvane against the real vaux-sim, over TCP and over a
// pseudo-terminal, on loopback.
#include <gmock/gmock.h>

#include "device/sim_values.h"
#include "sim_harness.h"

namespace corvane::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

void StartupTakesTheControllersState(const std::vector<std::string>& sim_args, bool tcp) {
  TempDir dir;
  Sim sim;
  ASSERT_TRUE(sim.Start(dir, sim_args)) << sim.process.Stderr();
  WriteSettings(dir, sim.address, tcp ? "127.0.0.1" : "");
  Subprocess corvane;
  ASSERT_TRUE(StartCorvane(corvane, dir)) << corvane.Stderr();
  EXPECT_EQ(sim.Commands(), kStartupReads);
  EXPECT_THAT(corvane.Stderr(), HasSubstr("Vaux Aris 700 Comm Port " + sim.address + " Opened"));
  EXPECT_THAT(corvane.Stderr(), HasSubstr("Vaux Zone Status Response: VX00062C090406=> Zone 6"));
  EXPECT_EQ(corvane.Stop(SIGTERM), 0);
  const std::string ini = ReadFile(dir.File("Config/Corvane.ini"));
  const sim::VauxSimulator start;
  for (int n = 1; n <= 42; ++n)
    EXPECT_EQ(SavedValue(ini, n), SimRecordValue(start.Zone(ZoneOfRecord(n)), (n - 1) / 6)) << n;
}

TEST(VauxSimIntegrationTest, StartupOverTcp) {
  StartupTakesTheControllersState({"--tcp", "0"}, true);
}

TEST(VauxSimIntegrationTest, StartupOverPseudoTerminalWithSplitReplies) {
  // The simulator answers requests with VI80 first and sends VX on a line
  // of its own: the program still waits for and joins the data.
  StartupTakesTheControllersState({"--pty", "--ack", "--split-vx"}, false);
}

TEST(VauxSimIntegrationTest, DroppedTcpLinkIsOpenedAgain) {
  TempDir dir;
  Sim sim;
  ASSERT_TRUE(sim.Start(dir, {"--tcp", "0", "--fault", "drop", "--drop-after", "3"}));
  WriteSettings(dir, sim.address, "127.0.0.1");
  Subprocess corvane;
  ASSERT_TRUE(StartCorvane(corvane, dir)) << corvane.Stderr();
  const std::string out = sim.process.Stdout();
  EXPECT_THAT(out, HasSubstr("dropping the connection"));
  const size_t second = out.find("connected", out.find("disconnected") + 12);
  ASSERT_NE(second, std::string::npos) << out;
  EXPECT_THAT(out.substr(second), HasSubstr("<- VPFE520600"));  // the poll ran on the new link
  // Seen as the peer's close, or as a reset when a command went out first.
  EXPECT_THAT(corvane.Stderr(), ::testing::AnyOf(HasSubstr("Vaux IP Connection Closed 8"),
                                                 HasSubstr("Vaux Winsock1_Error at State 9")));
  EXPECT_EQ(corvane.Stop(SIGTERM), 0);
  // Two connections in all: the closing program does not open a third.
  const std::string all = sim.process.Stdout();
  size_t connects = 0;
  for (size_t at = 0; (at = all.find("\nconnected\n", at)) != std::string::npos; ++at) ++connects;
  EXPECT_EQ(connects, 2u) << all;
}

TEST(VauxSimIntegrationTest, SilentControllerAtStartupIsReadOnceItAnswers) {
  TempDir dir;
  Sim sim;
  ASSERT_TRUE(sim.Start(dir, {"--tcp", "0", "--silent-for", "12"}));
  WriteSettings(dir, sim.address, "127.0.0.1");
  Subprocess corvane;
  // Three commands go unanswered; the controller is then known not to
  // answer and the rest of the start-up requests wait for it.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(StartCorvane(corvane, dir, std::chrono::seconds(45))) << corvane.Stderr();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  // The first three start-up reads, then at most probes (configuration
  // request A), however slow the machine made the start.
  const auto sent = sim.Commands();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 3),
            std::vector<std::string>(kStartupReads.begin(), kStartupReads.begin() + 3));
  for (size_t i = 3; i < sent.size(); ++i) EXPECT_EQ(sent[i], kStartupReads[1]) << i;
  EXPECT_NE(corvane.Stderr().find("not answering (3 commands in a row got no reply)"),
            std::string::npos);
  // Once it answers (a probe gets through), every start-up read is made.
  ASSERT_TRUE(Eventually(
      [&] {
        const auto seen = sim.Commands();
        return seen.size() >= kStartupReads.size() &&
               std::equal(kStartupReads.begin(), kStartupReads.end(),
                          seen.end() - static_cast<long>(kStartupReads.size()));
      },
      std::chrono::seconds(25)))
      << sim.process.Stdout();
  // The last read's reply is decoded a moment after the simulator saw it.
  EXPECT_TRUE(Eventually(
      [&] {
        return corvane.Stderr().find("Zone Status Response: VX00062C090406=> Zone 6") !=
               std::string::npos;
      },
      std::chrono::seconds(10)))
      << corvane.Stderr();
  EXPECT_EQ(corvane.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace corvane::testing
