// The zone lines, device records and watched sources written by one run are
// what the next run loads and writes back.
#include "sim_harness.h"

namespace corvane::testing {
namespace {

std::string Section(const std::string& ini, const std::string& name) {
  size_t start = ini.find("[" + name + "]");
  if (start == std::string::npos) return {};
  size_t end = ini.find("\r\n[", start + 1);
  return ini.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// A log of its own: a run is not taken as started by the last run's log.
void RunOnce(const TempDir& home, const std::string& log) {
  Subprocess corvane;
  ASSERT_TRUE(StartCorvane(corvane, home.path(), log)) << corvane.Stderr();
  EXPECT_EQ(corvane.Stop(SIGTERM), 0) << corvane.Stderr();
}

TEST(DeviceTableRestartTest, ZoneLinesAndDevicesSurviveRestarts) {
  TempDir home;
  WriteLoopbackXapConfig(home.path(), "127.0.0.1");
  std::string vaux = "[Vaux]\r\nDebugLog=True\r\nHTTPPort=0\r\n";
  for (int n = 1; n <= 42; ++n) {
    char key[64];
    std::snprintf(key, sizeof key, "Vaux_Aris_700_%02X", n);
    vaux += std::string(key) + "=2/3/2024 4:05:06 PM;" + std::to_string(n % 5 + 2) + ";Zone_" +
            std::to_string(n) + ";" + (n % 2 ? "True" : "False") + ";" +
            std::to_string((n - 1) / 6) + ";" + (n == 3 ? "den" : "") + ";" +
            (n == 4 ? "True" : "False") + ";" + (n == 5 ? "C3" : "") + ";" + (n == 6 ? "40" : "") +
            "\r\n";
  }
  WriteFile(home.File("Config/Corvane.ini"),
            vaux +
                "[Devices]\r\nweather=1/2/2025 3:04:05 AM;temp;hum\r\nlamp=\r\n"
                "[Device Messages]\r\nweather.temp=21.5\r\nweather.hum=40\r\n"
                "[Received]\r\nx.y.z~weather.report=weather;\r\n");

  RunOnce(home, home.File("run1"));
  const std::string first = ReadFile(home.File("Config/Corvane.ini"));
  const std::string zones = Section(first, "VAUX");
  EXPECT_TRUE(Has(zones, "Vaux_Aris_700_03=2/3/2024 4:05:06 PM;5;Zone_3;True;0;den;False;;"));
  EXPECT_TRUE(Has(zones, "Vaux_Aris_700_2A=2/3/2024 4:05:06 PM;4;Zone_42;False;6;;False;;"));
  EXPECT_TRUE(Has(Section(first, "DEVICES"), "weather=1/2/2025 3:04:05 AM;temp;hum")) << first;
  EXPECT_TRUE(Has(Section(first, "DEVICES"), "den="));  // the tagged record
  // A device without a date never changed.
  EXPECT_TRUE(Has(Section(first, "DEVICES"), "lamp=1/1/2000\r\n")) << first;
  EXPECT_TRUE(Has(Section(first, "DEVICE MESSAGES"), "weather.hum=40"));
  EXPECT_TRUE(Has(Section(first, "RECEIVED"), "x.y.z~weather.report=weather;"));

  RunOnce(home, home.File("run2"));
  EXPECT_EQ(ReadFile(home.File("Config/Corvane.ini")), first);
}

}  // namespace
}  // namespace corvane::testing
