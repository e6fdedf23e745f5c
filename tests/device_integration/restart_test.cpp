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
  ASSERT_TRUE(corvane.Start({"corvane", "--home", home.path()}, log));
  ASSERT_TRUE(Eventually([&] {
    return corvane.Stderr().find("Corvane running") != std::string::npos;
  })) << corvane.Stderr();
  EXPECT_EQ(corvane.Stop(SIGTERM), 0) << corvane.Stderr();
}

TEST(DeviceTableRestartTest, ZoneLinesAndDevicesSurviveRestarts) {
  TempDir home;
  ::mkdir(home.File("Config").c_str(), 0755);
  WriteFile(home.File("Config/zynXap.ini"), "[Interface]\r\nBroadcastAddress=127.0.0.1\r\n");
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
  EXPECT_NE(zones.find("Vaux_Aris_700_03=2/3/2024 4:05:06 PM;5;Zone_3;True;0;den;False;;"),
            std::string::npos);
  EXPECT_NE(zones.find("Vaux_Aris_700_2A=2/3/2024 4:05:06 PM;4;Zone_42;False;6;;False;;"),
            std::string::npos);
  EXPECT_NE(Section(first, "DEVICES").find("weather=1/2/2025 3:04:05 AM;temp;hum"),
            std::string::npos)
      << first;
  EXPECT_NE(Section(first, "DEVICES").find("den="), std::string::npos);  // the tagged record
  // A device without a date never changed.
  EXPECT_NE(Section(first, "DEVICES").find("lamp=1/1/2000\r\n"), std::string::npos) << first;
  EXPECT_NE(Section(first, "DEVICE MESSAGES").find("weather.hum=40"), std::string::npos);
  EXPECT_NE(Section(first, "RECEIVED").find("x.y.z~weather.report=weather;"), std::string::npos);

  RunOnce(home, home.File("run2"));
  EXPECT_EQ(ReadFile(home.File("Config/Corvane.ini")), first);
}

}  // namespace
}  // namespace corvane::testing
