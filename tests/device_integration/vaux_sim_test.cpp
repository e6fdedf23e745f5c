// The real corvane against the real vaux-sim, over a pseudo-terminal and
// over TCP, on loopback.
#include <gmock/gmock.h>

#include "device/sim_values.h"
#include "sim_harness.h"

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;

// The simulator answers requests with VI80 first and sends VX on a line of
// its own: the program still waits for and joins the data, and the records
// take the controller's state. (The same over TCP, and what the link asks:
// LinkTest.)
TEST(VauxSimIntegrationTest, StartupOverPseudoTerminalWithSplitReplies) {
  TempDir dir;
  Sim sim;
  ASSERT_TRUE(sim.Start(dir, {"--pty", "--ack", "--split-vx"})) << sim.process.Stderr();
  WriteSettings(dir, sim.address, "");
  Subprocess corvane;
  ASSERT_TRUE(StartCorvane(corvane, dir.path())) << corvane.Stderr();
  EXPECT_EQ(sim.Commands(), kStartupReads);
  EXPECT_THAT(corvane.Stderr(), HasSubstr("Vaux Aris 700 Comm Port " + sim.address + " Opened"));
  EXPECT_THAT(corvane.Stderr(), HasSubstr("Vaux Zone Status Response: VX00062C090406=> Zone 6"));
  EXPECT_EQ(corvane.Stop(SIGTERM), 0);
  const std::string ini = ReadFile(dir.File("Config/Corvane.ini"));
  const sim::VauxSimulator start;
  for (int n = 1; n <= 42; ++n)
    EXPECT_EQ(SavedValue(ini, n), SimRecordValue(start.Zone(ZoneOfRecord(n)), (n - 1) / 6)) << n;
}

TEST(VauxSimIntegrationTest, DroppedTcpLinkIsOpenedAgain) {
  TempDir dir;
  Sim sim;
  ASSERT_TRUE(sim.Start(dir, {"--tcp", "0", "--fault", "drop", "--drop-after", "3"}));
  WriteSettings(dir, sim.address, "127.0.0.1");
  Subprocess corvane;
  ASSERT_TRUE(StartCorvane(corvane, dir.path())) << corvane.Stderr();
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
  EXPECT_EQ(Occurrences(sim.process.Stdout(), "\nconnected\n"), 2u) << sim.process.Stdout();
}

}  // namespace
}  // namespace corvane::testing
