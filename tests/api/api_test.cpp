// The JSON API's reading of request bodies and the scene store: what a
// PATCH body queues (or why it is refused), and scenes saved, validated,
// read back from Scenes.ini by a new store, and recalled in zone order.
// Then the routes on the fake transport: answers, refusals and the login.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "api/api_json.h"
#include "api/api_module.h"
#include "config/ini_cache.h"
#include "devicetable/levels.h"
#include "scenes/controller_requests.h"
#include "scenes/scene_store.h"
#include "support/controller_rig.h"
#include "web/web_fixture.h"

namespace corvane {
namespace {

using nlohmann::ordered_json;

// The API over the device table and the controller link on in-memory
// transports (its port never opened: the link is down), behind the listener,
// with a login check that answers `who_`.
class ApiTest : public testing::WebFixture, public RequestAuthorizer {
 protected:
  ApiTest() {
    server_.AddPage(std::string(ApiModule::kPrefix), &api_);
    rig_.table.ReadLastChange();
  }
  Authorization Authorize(const Request&) override { return who_; }
  // The answer to a request below /api/v1.
  std::string Call(const std::string& method, const std::string& path,
                   const std::string& body = "", const std::string& headers = kJsonType) {
    return Get(method + " /api/v1" + path + " HTTP/1.1\r\nHost: 127.0.0.1:8018\r\n" + headers +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  }
  static constexpr const char* kJsonType = "Content-Type: application/json\r\n";

  testing::ControllerRig rig_{loop_, wall_, log_, dir_.File("Config")};
  ControllerRequests requests_{rig_.link, rig_.port};
  SceneStore scenes_{rig_.ini, rig_.table, requests_, log_};
  ApiModule api_{loop_, server_, rig_.table, requests_, scenes_, log_};
  Authorization who_;
  DeviceTable& table() { return rig_.table; }
};


TEST_F(ApiTest, PatchBodiesBecomeRequestsOrNamedRefusals) {
  struct Case {
    const char* body;
    std::vector<std::pair<int, std::string>> positions;  // kind, request position
    const char* error;                                   // start of the refusal
  };
  const Case cases[] = {
      {R"({"volume": -20})", {{kVolumeKind, "15"}}, ""},
      {R"({"volume": "-20 dB"})", {{kVolumeKind, "15"}}, ""},
      {R"({"volume": "up", "status": "toggle"})", {{kStatusKind, "0"}, {kVolumeKind, "0"}}, ""},
      {R"({"source": "Input2", "bass": 3})", {{kSourceKind, "2"}, {kBassKind, "6"}}, ""},
      {R"({"source": 3, "turnon_volume": 6})", {{kSourceKind, "3"}, {kTurnOnVolumeKind, "2"}}, ""},
      {R"({})", {}, "body:"},
      {R"({"volume": -20, "loudness": 1})", {}, "loudness: unknown attribute"},
      {R"({"volume": -200})", {}, "volume: expected up, down or a level"},
      {R"({"volume": true})", {}, "volume: expected a string or a number"},
      {R"({"status": "off"})", {}, "status: expected on, mute or toggle"},
      {R"({"source": "Radio"})", {}, "source: not an input name"},
  };
  for (const Case& c : cases) {
    const ZoneRequests r = ParseZonePatch(table(), 2, ordered_json::parse(c.body));
    EXPECT_EQ(r.positions, c.positions) << c.body;
    EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << c.body << " -> " << r.error;
  }
}

TEST_F(ApiTest, ScenesAreValidatedStoredAndRecalledInZoneOrder) {
  struct Case {
    const char* body;
    const char* error;
  };
  const Case refused[] = {
      {R"({"zones": {"7": {"volume": -20}}})", "zones.7: no such zone"},
      {R"({"zones": {"1": {"volume": "down"}}})", "zones.1.volume: a scene holds values"},
      {R"({"zones": {"1": {"treble": 40}}})", "zones.1.treble: expected"},
      {R"({"zones": {"1": {"colour": "red"}}})", "zones.1.colour: unknown attribute"},
      {R"({"zones": {}})", "zones: expected"},
  };
  for (const Case& c : refused) {
    SceneBody parsed = ParseSceneZones("Bad", ordered_json::parse(c.body));
    if (parsed.error.empty()) parsed.error = scenes_.Validate(parsed.scene);
    EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << c.body << " -> " << parsed.error;
  }
  EXPECT_FALSE(SceneStore::ValidName("a/b"));
  EXPECT_FALSE(SceneStore::ValidName(" lead"));
  EXPECT_TRUE(SceneStore::ValidName("Movie night-2.0"));

  const SceneBody quiet = ParseSceneZones(
      "Quiet", ordered_json::parse(R"({"zones": {"3": {"volume": -30, "status": "off"},
                                                  "1": {"source": "Input2", "status": "mute"}}})"));
  ASSERT_EQ(scenes_.Validate(quiet.scene), "");
  ASSERT_TRUE(scenes_.Save(quiet.scene));
  ASSERT_TRUE(scenes_.Save(scenes_.Capture("Evening")));

  // A new store over a new cache reads both back from Scenes.ini.
  IniCache ini(dir_.File("Config"), log_);
  ini.AppInitialize();
  SceneStore again(ini, table(), requests_, log_);
  ASSERT_EQ(again.All().size(), 2u);
  EXPECT_EQ(again.Find("quiet")->zones, quiet.scene.zones);
  EXPECT_EQ(again.Find("EVENING")->name, "Evening");
  EXPECT_EQ(SceneJson(*again.Find("Quiet")).dump(),
            R"({"name":"Quiet","zones":{"1":{"source":"Input2","status":"mute"},)"
            R"("3":{"status":"off","volume":-30}}})");

  // Zone 1's source and status, then zone 3's volume; "off" is not sendable.
  EXPECT_EQ(again.Recall("Quiet"), 3);
  EXPECT_EQ(rig_.link.QueuedControls(), 3u);
  EXPECT_EQ(table().ZoneRecordOf(kVolumeKind, 3)->LastCommand, "20");
  EXPECT_EQ(again.Recall("nothing"), std::nullopt);

  EXPECT_TRUE(again.Remove("Quiet"));
  EXPECT_FALSE(again.Remove("Quiet"));
  EXPECT_EQ(again.All().size(), 1u);
}

// Refusals are problem+json and reach nothing; the one PATCH let through
// waits for the controller, and the answer says so.
TEST_F(ApiTest, AnswersRefusalsAndTheLogin) {
  using V = Authorization::Verdict;
  const std::string json = kJsonType;
  const std::string volume = R"({"volume": -20})";
  const struct {
    std::string method, path, body, headers;
    Authorization who;
    std::string status, has;
  } kCases[] = {
      {"PATCH", "/zones/2", R"({"volum": -20})", json, {}, "400", "volum"},
      {"PATCH", "/zones/2", "{not json", json, {}, "400", "body"},
      {"PATCH", "/zones/2", std::string(70000, ' '), json, {}, "413", "body"},
      {"PATCH", "/zones/7", volume, json, {}, "404", "zone"},
      {"PATCH", "/zones/2", "volume=-20", "Content-Type: application/x-www-form-urlencoded\r\n",
       {}, "415", "Content-Type"},
      {"PATCH", "/zones/2", volume, json + "Origin: http://elsewhere.example\r\n", {}, "403",
       "Origin"},
      {"DELETE", "/zones/2", "", "", {}, "405", "Allow: GET, PATCH\r\n"},
      {"GET", "/scenes/nothing", "", "", {}, "404", "nothing"},
      {"POST", "/scenes/nothing/recall", "", "", {}, "404", "nothing"},
      {"DELETE", "/scenes/nothing", "", "", {}, "404", "nothing"},
      {"PUT", "/scenes/bad", R"({"zones": {"1": {"volume": "up"}}})", json, {}, "400",
       "zones.1.volume"},
      {"PUT", "/scenes/a!b", "{}", json, {}, "400", "name:"},
      {"GET", "/nothing", "", "", {}, "404", "path"},
      {"PATCH", "/zones/2", volume, json, {V::kLoginRequired, "", 0, 0, ""}, "401",
       "WWW-Authenticate: Basic realm=\"Corvane\"\r\n"},
      {"GET", "/zones", "", "", {V::kAllowed, "None", 0, 0, ""}, "401", "no login here"},
      {"GET", "/zones", "", "", {V::kThrottled, "", 0, 3, "wait"}, "429", "Retry-After: 3\r\n"},
      {"GET", "/zones", "", "", {V::kInsecure, "", 0, 0, "use HTTPS"}, "403", "use HTTPS"},
      {"PUT", "/scenes/Quiet", R"({"zones": {"2": {"volume": -40}}})", json, {}, "201",
       R"({"name":"Quiet","zones":{"2":{"volume":-40}}})"},
      {"PUT", "/scenes/Quiet", R"({"capture": true})", json, {}, "200", R"("zones":{"1":)"},
      {"DELETE", "/scenes/Quiet", "", "", {}, "204", ""},
      {"GET", "/zones/3", "", "", {}, "200", R"({"zone":3,)"},
      {"PATCH", "/zones/2", volume, json, {}, "202", R"({"zone":2,)"},
  };
  api_.SetAuthorizer(this);
  for (const auto& c : kCases) {
    who_ = c.who;
    const std::string answer = Call(c.method, c.path, c.body, c.headers);
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + c.status) << c.method << " " << c.path;
    EXPECT_EQ(answer.find("Content-Type: application/problem+json\r\n") != std::string::npos,
              c.status[0] >= '4')
        << answer;
    EXPECT_NE(answer.find(c.has), std::string::npos) << answer;
  }
  EXPECT_TRUE(scenes_.All().empty());
  EXPECT_EQ(rig_.link.QueuedControls(), 1u);
}

}  // namespace
}  // namespace corvane
