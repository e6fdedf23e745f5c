// The corvane program with the controller simulator and a mosquitto broker,
// all on loopback, watched by a test client: commands carried to the
// controller and read back, bad payloads, the clean shutdown, the last will
// and TLS. Discovery and the broker's comings and goings: MqttProgramTest.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <thread>
#include <tuple>

#include "device_integration/sim_harness.h"
#include "mqtt/mqtt_rig.h"

namespace corvane::testing {
namespace {

using namespace std::chrono_literals;

class MqttE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (MosquittoPath().empty()) GTEST_SKIP() << "mosquitto is not installed";
    ASSERT_TRUE(broker_.Start(dir_));
    ASSERT_TRUE(sim_.Start(dir_, {"--tcp", "0"}));
    WriteSettings(dir_, sim_.address, "127.0.0.1");
    const std::string ini = dir_.File("Config/Corvane.ini");
    // A host name: looked up beside the loop, then connected to by address.
    WriteFile(ini, ReadFile(ini) + "[MQTT]\r\nHost=localhost\r\nPort=" +
                       std::to_string(broker_.port()) + "\r\nBaseTopic=home/amp\r\n");
    ASSERT_TRUE(client_.Connect(broker_.port()));
    ASSERT_TRUE(StartCorvane(corvane_, dir_.path()));
    ASSERT_TRUE(client_.WaitFor("home/amp/status", "online")) << corvane_.Stderr();
    ASSERT_TRUE(Eventually([&] { return client_.Latest().size() == 85; }))
        << client_.Latest().size();
  }

  // The commands the simulator received that start with `prefix`.
  size_t SimCommands(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& c : sim_.Commands()) n += c.rfind(prefix, 0) == 0;
    return n;
  }

  TempDir dir_;
  Broker broker_;
  Sim sim_;
  Subprocess corvane_;
  TestClient client_;
};

TEST_F(MqttE2eTest, CommandsComeBackAsStateAndAKilledProgramLeavesItsWill) {
  // {attribute, payload, state}: volume -20 dB is level code 50 (hex 32);
  // Up moves UpDownIncrement (3) positions: bass -3 dB -> +6 dB.
  const std::tuple<std::string, std::string, std::string> steps[] = {
      {"volume", "-20", "-20"},        {"source", "input5", "Input5"}, {"source", "3", "Input3"},
      {"status", "mute", "mute"},      {"status", "toggle", "on"},     {"bass", "up", "6"},
      {"turnon_volume", "-30", "-30"},
  };
  for (const auto& [attribute, payload, state] : steps) {
    ASSERT_TRUE(client_.Publish("home/amp/zone2/" + attribute + "/set", payload));
    EXPECT_TRUE(client_.WaitFor("home/amp/zone2/" + attribute, state)) << payload;
  }
  EXPECT_EQ(SimCommands("VP21020232"), 1u);
  EXPECT_GE(SimCommands("VPFE520200"), 1u);  // each command is read back
  // A program that dies without a word: the broker sends its last will.
  ::kill(corvane_.pid(), SIGKILL);
  EXPECT_TRUE(client_.WaitFor("home/amp/status", "offline"));
}

// Bad payloads each get a log line and change nothing; a clean shutdown
// then says offline.
TEST_F(MqttE2eTest, BadPayloadsChangeNothingAndAShutdownSaysOffline) {
  const auto before = client_.Latest();
  const size_t sent = sim_.Commands().size();
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"home/amp/zone1/volume/set", "loud"},   {"home/amp/zone1/volume/set", "99"},
      {"home/amp/zone1/source/set", "Radio"},  {"home/amp/zone1/status/set", "off"},
      {"home/amp/zone1/bass/set", ""},         {"home/amp/zone7/volume/set", "-20"},
      {"home/amp/zone1/loudness/set", "1"},    {"home/amp/zone1/treble/set", "-9; rm"},
  };
  for (const auto& [topic, payload] : bad) ASSERT_TRUE(client_.Publish(topic, payload));
  // A good command behind them shows they were all handled.
  ASSERT_TRUE(client_.Publish("home/amp/zone4/volume/set", "0"));
  ASSERT_TRUE(client_.WaitFor("home/amp/zone4/volume", "0"));
  const std::string log = corvane_.Stderr();
  for (const auto& [topic, payload] : bad) {
    EXPECT_TRUE(Has(log, "MQTT command " + topic)) << payload << "\n" << log;
  }
  // Only the good command reached the controller (its command and read-back).
  const std::vector<std::string> commands = sim_.Commands();
  ASSERT_GE(commands.size(), sent);
  for (size_t i = sent; i < commands.size(); ++i) {
    const std::string& c = commands[i];
    EXPECT_TRUE(c.rfind("VP2104", 0) == 0 || c.rfind("VPFE5204", 0) == 0) << c;
  }
  // The commands themselves are heard too (the client listens to "#").
  auto without_commands = [](std::map<std::string, std::string> topics) {
    std::erase_if(topics, [](const auto& t) {
      return t.first.ends_with("/set") || t.first == "home/amp/zone4/volume";
    });
    return topics;
  };
  EXPECT_EQ(without_commands(client_.Latest()), without_commands(before));
  EXPECT_EQ(corvane_.Stop(SIGTERM), 0);
  EXPECT_TRUE(client_.WaitFor("home/amp/status", "offline"));
  EXPECT_TRUE(Has(corvane_.Stderr(), "MQTT disconnected")) << corvane_.Stderr();
}

// TLS with the broker's CA in CAFile: state and commands as without; a CA
// that did not sign the broker's certificate gets no connection and one
// report, however often it is tried.
TEST(MqttTlsTest, ABrokerWithItsOwnCa) {
  if (MosquittoPath().empty()) GTEST_SKIP() << "mosquitto is not installed";
  TempDir dir, other_ca;
  Broker broker, stranger;
  if (!broker.StartTls(dir)) GTEST_SKIP() << "no openssl to make certificates";
  ASSERT_TRUE(stranger.StartTls(other_ca));  // only its CA is used
  Sim sim, other_sim;  // one controller each
  ASSERT_TRUE(sim.Start(dir, {"--tcp", "0"}));
  ASSERT_TRUE(other_sim.Start(other_ca, {"--tcp", "0"}));
  auto run = [&](const std::string& name, const std::string& ca, const Sim& s, Subprocess& p) {
    const std::string home = dir.File(name);
    WriteLoopbackXapConfig(home, "127.0.0.1");
    WriteFile(home + "/Config/Corvane.ini",
              "[Vaux]\r\nUPBCommPort=" + s.address +
                  "\r\nSerialIP=127.0.0.1\r\nHTTPPort=0\r\n[MQTT]\r\nHost=127.0.0.1\r\nPort=" +
                  std::to_string(broker.port()) + "\r\nTLS=1\r\nCAFile=" + ca +
                  "\r\nBaseTopic=" + name + "\r\n");
    return p.Start({"corvane", "--home", home}, home);
  };
  TestClient client;
  ASSERT_TRUE(client.Connect(broker.port(), "#", broker.ca_file()));
  Subprocess good, bad;
  ASSERT_TRUE(run("good", broker.ca_file(), sim, good));
  ASSERT_TRUE(run("bad", stranger.ca_file(), other_sim, bad));
  EXPECT_TRUE(client.WaitFor("good/status", "online", 20s)) << good.Stderr();
  EXPECT_TRUE(client.WaitFor("good/zone1/source", "Input1"));
  ASSERT_TRUE(client.Publish("good/zone1/volume/set", "-40"));
  EXPECT_TRUE(client.WaitFor("good/zone1/volume", "-40"));

  std::this_thread::sleep_for(3500ms);  // tries at 0, 1 and 3 s
  EXPECT_FALSE(client.Has("bad/status", "online") || client.Has("bad/status", "offline"));
  EXPECT_EQ(Occurrences(bad.Stderr(), "MQTT"), 1u) << bad.Stderr();
  EXPECT_EQ(good.Stop(SIGTERM), 0);
  EXPECT_EQ(bad.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace corvane::testing
