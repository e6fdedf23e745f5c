// The program's MQTT side in this process, against a mosquitto broker and
// the controller simulator on loopback: discovery follows the status page's
// names, used flags and input names; a broker that goes away or is not
// there yet blocks nothing and gets the latest values when it comes back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "app/program.h"
#include "device_integration/sim_harness.h"
#include "devicetable/levels.h"
#include "mqtt/mqtt_rig.h"
#include "support/fake_udp.h"
#include "support/loopback.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::Broker;
using testing::TestClient;

class MqttProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testing::MosquittoPath().empty()) GTEST_SKIP() << "mosquitto is not installed";
    ASSERT_TRUE(sim_.Start(dir_, {"--tcp", "0"}));
  }

  void StartProgram(uint16_t broker_port) {
    const std::string home = dir_.File("home");
    ::mkdir(home.c_str(), 0755);
    ::mkdir((home + "/Config").c_str(), 0755);
    testing::WriteFile(
        home + "/Config/Corvane.ini",
        "[Vaux]\r\nUPBCommPort=" + sim_.address +
            "\r\nSerialIP=127.0.0.1\r\nHTTPPort=0\r\n[MQTT]\r\nHost=localhost\r\nPort=" +
            std::to_string(broker_port) + "\r\nBaseTopic=corvane/test\r\n");
    program_ = std::make_unique<Program>(
        ProgramPaths{home, home + "/corvane", "testhost"}, clock_, wall_, &err_,
        [](EventLoop& loop) { return std::make_unique<FakeUdpNetwork>(loop); });
    ASSERT_EQ(program_->Startup(), 0) << err_.str();
  }

  void TearDown() override {
    if (program_) program_->Shutdown();
  }

  // The broker, the program and a client listening to everything.
  void StartAll(TestClient& client) {
    ASSERT_TRUE(broker_.Start(dir_));
    StartProgram(broker_.port());
    ASSERT_TRUE(client.Connect(broker_.port()));
  }

  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    EventLoop& loop = program_->loop();
    return loop.PumpUntil(done, loop.NowMs() + timeout.count());
  }

  nlohmann::json Config(const TestClient& client, const std::string& topic) {
    const auto latest = client.Latest();
    auto it = latest.find(topic);
    return it == latest.end() ? nlohmann::json() : nlohmann::json::parse(it->second);
  }
  // How many topics the client holds that contain `part`.
  static size_t Topics(const TestClient& client, const std::string& part) {
    size_t n = 0;
    for (const auto& [topic, payload] : client.Latest()) n += topic.find(part) != std::string::npos;
    return n;
  }

  testing::TempDir dir_;
  testing::Sim sim_;
  Broker broker_;
  SteadyClock clock_;
  SystemWallClock wall_;
  std::ostringstream err_;
  std::unique_ptr<Program> program_;
};

constexpr const char* kZone1Volume = "homeassistant/number/corvane_test/zone1_volume/config";
constexpr const char* kZone1Source = "homeassistant/select/corvane_test/zone1_source/config";

TEST_F(MqttProgramTest, DiscoveryFollowsNamesUsedFlagsAndInputNames) {
  TestClient client;
  StartAll(client);
  ASSERT_TRUE(PumpUntil([&] { return client.Latest().count(kZone1Volume) == 1; }));
  EXPECT_EQ(Config(client, kZone1Volume)["device"]["name"], "Vaux Aris 700 zone 1");

  // Renaming the zone on the status page renames its device.
  program_->devices().ZoneRecordOf(kStatusKind, 1)->Name = "Kitchen_Status";
  EXPECT_TRUE(PumpUntil([&] { return Config(client, kZone1Volume)["device"]["name"] == "Kitchen"; }));

  // A zone marked unused loses its entities and its state topics.
  for (int kind = 0; kind < kAttributeCount; ++kind) {
    program_->devices().ZoneRecordOf(kind, 6)->Used = false;
  }
  EXPECT_TRUE(PumpUntil([&] { return Topics(client, "zone6") == 0; })) << Topics(client, "zone6");
  EXPECT_TRUE(client.Has("corvane/test/zone5/status", "on") || client.Has("corvane/test/zone5/status", "off") ||
              client.Has("corvane/test/zone5/status", "mute"));

  // New input names (the setup section's save) become the select's options.
  program_->settings().values().input_name_list = "Tuner,CD,Input3,Input4,Input5,Input6,Input7,Input8";
  for (auto& [key, record] : program_->devices().LinkDictionary()) {
    record->Values = program_->devices().DefineValues(record->Kind);
  }
  EXPECT_TRUE(PumpUntil([&] { return Config(client, kZone1Source)["options"][0] == "Tuner"; }));
  EXPECT_TRUE(client.WaitFor("corvane/test/zone1/source", "Tuner", 2s));  // the sim starts zone 1 on input 1
}

// A broker that is not there yet is found when it comes, with one report
// for the failed tries. While it is away the loop keeps serving everything
// else, changes are kept as the latest value per topic, and the broker gets
// them when it is back (without persistence it has lost everything it kept).
TEST_F(MqttProgramTest, BrokerAwayBlocksNothingAndGetsTheLatestValuesBack) {
  const uint16_t port = testing::FreeTcpPort();
  StartProgram(port);  // nothing listens there yet
  EXPECT_FALSE(program_->mqtt().client().Connected());
  PumpUntil([] { return false; }, 1500ms);
  ASSERT_TRUE(broker_.Start(dir_, port));
  ASSERT_TRUE(PumpUntil([&] { return program_->mqtt().client().Connected(); }, 20s)) << err_.str();
  EXPECT_EQ(testing::Occurrences(err_.str(), "trying again"), 1u) << err_.str();
  broker_.Stop();

  int64_t last = program_->loop().NowMs(), widest = 0;
  Timer beat(program_->loop(), [&] {
    const int64_t now = program_->loop().NowMs();
    widest = std::max(widest, now - last);
    last = now;
  });
  beat.SetInterval(20);
  beat.Start();
  const ZoneRecord volume = program_->devices().ZoneRecordOf(kVolumeKind, 3);
  program_->devices().ChangeEvent(volume, 10);  // -10 dB
  PumpUntil([] { return false; }, 1500ms);      // reconnect attempts meanwhile
  program_->devices().ChangeEvent(volume, 13);  // -16 dB: only this one counts
  PumpUntil([] { return false; }, 500ms);
  EXPECT_LT(widest, 1000) << "the loop stalled while the broker was away";
  EXPECT_FALSE(program_->mqtt().client().Connected());

  ASSERT_TRUE(broker_.Start(dir_, port));
  ASSERT_TRUE(PumpUntil([&] { return program_->mqtt().client().connects() == 2; }, 20s));
  TestClient client;
  ASSERT_TRUE(client.Connect(port));
  // Status, states and discovery.
  EXPECT_TRUE(PumpUntil([&] { return client.Latest().size() == 1u + 42 + 42; }));
  EXPECT_TRUE(client.Has("corvane/test/zone3/volume", "-16"));
  EXPECT_TRUE(client.Has("corvane/test/status", "online"));
  for (const auto& [topic, payload] : client.Messages()) {
    if (topic == "corvane/test/zone3/volume") {
      EXPECT_EQ(payload, "-16") << "a stale value was replayed";
    }
  }
}

// New settings from the setup section: the old base topic's entities are
// removed, the new ones published.
TEST_F(MqttProgramTest, ANewBaseTopicLeavesNoOrphans) {
  TestClient client;
  StartAll(client);
  ASSERT_TRUE(PumpUntil([&] { return client.Latest().size() == 85; }));
  MqttSettings moved;
  moved.host = "localhost";
  moved.port = broker_.port();
  moved.base_topic = "house/amp";
  program_->mqtt().Start(moved);
  EXPECT_TRUE(PumpUntil([&] { return Topics(client, "house/amp/") == 43; }))
      << Topics(client, "house/amp/");
  // The old connection's removals reach the broker on their own socket, so
  // they may be relayed after the new connection's topics.
  EXPECT_TRUE(PumpUntil([&] { return Topics(client, "corvane/test/") == 1u; }))  // only its status
      << Topics(client, "corvane/test/") << broker_.Log();
  EXPECT_TRUE(client.Has("corvane/test/status", "offline"));
  EXPECT_TRUE(PumpUntil([&] { return Topics(client, "homeassistant/") == 42u; }))
      << Topics(client, "homeassistant/");
  EXPECT_EQ(Topics(client, "homeassistant/number/house_amp/"), 30u);
}

// A saved scene is a Home Assistant scene entity until it is deleted, and
// its name on <base>/scene/set recalls it through the controller.
TEST_F(MqttProgramTest, ScenesAreEntitiesAndRecalledFromSceneSet) {
  TestClient client;
  StartAll(client);
  ASSERT_TRUE(program_->scenes().Save(Scene{"Quiet", {{2, {{"volume", "-40"}}}}}));
  constexpr const char* kTopic = "homeassistant/scene/corvane_test/scene_quiet/config";
  ASSERT_TRUE(PumpUntil([&] { return client.Latest().count(kTopic) == 1; }));
  const nlohmann::json config = Config(client, kTopic);
  EXPECT_EQ(config["command_topic"], "corvane/test/scene/set");
  EXPECT_EQ(config["payload_on"], "Quiet");

  ASSERT_TRUE(client.Publish("corvane/test/scene/set", "Quiet"));
  EXPECT_TRUE(PumpUntil([&] { return client.Latest()["corvane/test/zone2/volume"] == "-40"; }));
  EXPECT_TRUE(program_->scenes().Remove("quiet"));
  EXPECT_TRUE(PumpUntil([&] { return client.Latest().count(kTopic) == 0; }));
}

}  // namespace
}  // namespace corvane
