#include "mqtt/mqtt_bridge.h"

#include <unistd.h>

#include <exception>

#include "core/event_log.h"
#include "core/text.h"
#include "device/vaux_link.h"
#include "devicetable/levels.h"
#include "devicetable/status_text.h"
#include "scenes/scene_store.h"

namespace corvane {

namespace {

constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";

// Topic names may not hold the wildcards; a base topic with them would
// subscribe to more than our own commands.
bool ValidBaseTopic(const std::string& topic) {
  return !topic.empty() && topic.find_first_of("+#") == std::string::npos;
}

}  // namespace

MqttBridge::MqttBridge(EventLoop& loop, EventLog& log, DeviceTable& table, VauxLink& vaux,
                       std::string computer_name, std::string version)
    : log_(log),
      table_(table),
      vaux_(vaux),
      computer_name_(std::move(computer_name)),
      client_(loop, log),
      sync_timer_(loop, [this] { Sync(); }) {
  ctx_.version = std::move(version);
  client_.SetOnConnected([this] { OnConnected(); });
  client_.SetOnMessage(
      [this](const std::string& topic, const std::string& payload) { OnMessage(topic, payload); });
}

MqttBridge::~MqttBridge() {
  Stop();
}

void MqttBridge::Start(const MqttSettings& settings) {
  try {
    // Under a new base topic or discovery prefix the old topics would name
    // entities nobody serves: they are removed from the broker first.
    const bool moved = settings.base_topic != ctx_.base_topic ||
                       settings.discovery_prefix != ctx_.discovery_prefix;
    if (running_ && moved && settings.Enabled()) {
      for (const auto& [topic, r] : retained_) client_.Publish(topic, std::string(), true);
    }
    Stop();
    if (!settings.Enabled()) return;
    if (!ValidBaseTopic(settings.base_topic)) {
      log_.LogEvent("Corvane", "MQTT: BaseTopic '" + settings.base_topic +
                                   "' may not hold + or #; MQTT stays off");
      return;
    }
    ctx_.base_topic = settings.base_topic;
    ctx_.discovery_prefix = settings.discovery_prefix;
    retained_.clear();
    MqttClient::Options options;
    options.host = settings.host;
    options.port = settings.port;
    options.user = settings.user;
    options.password = settings.password;
    options.tls = settings.tls;
    options.ca_file = settings.ca_file;
    // A new id for every start: a broker that still reads the previous
    // connection would otherwise drop it, unread, for the new one.
    static int starts = 0;
    options.client_id = "corvane-" + TopicId(computer_name_) + "-" + std::to_string(::getpid()) +
                        "-" + std::to_string(++starts);
    options.will_topic = ctx_.base_topic + "/status";
    options.will_payload = std::string(kOffline);
    running_ = true;
    Sync();
    sync_timer_.SetInterval(kSyncMs);
    sync_timer_.Start();
    if (!client_.Start(std::move(options))) Stop();
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "MqttStart", e.what());
  }
}

void MqttBridge::SetScenes(SceneStore* scenes) {
  scenes_ = scenes;
  if (scenes_) scenes_->AddListener([this] { Sync(); });
}

void MqttBridge::Stop() {
  if (!running_) return;
  running_ = false;
  sync_timer_.Stop();
  commands_.clear();
  client_.Stop(ctx_.base_topic + "/status", std::string(kOffline));
}

// --- state out -------------------------------------------------------------------

std::string MqttBridge::StateTopic(int zone, const MqttAttribute& attribute) const {
  return ctx_.base_topic + "/zone" + std::to_string(zone) + "/" + std::string(attribute.topic);
}

void MqttBridge::SetRetained(const std::string& topic, std::string payload) {
  Retained& r = retained_[topic];
  if (r.published && r.payload == payload) return;
  r.payload = std::move(payload);
  r.published = client_.Publish(topic, r.payload, true);
}

void MqttBridge::NotifyUPBState(const ZoneRecord& record) {
  if (!running_ || !record) return;
  try {
    const MqttAttribute* attribute = AttributeOfKind(record->Componentindex);
    if (!attribute) return;
    SetRetained(StateTopic(ZoneOfRecord(record->UIDindex), *attribute), StatePayload(*record));
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "MqttNotify", e.what());
  }
}

void MqttBridge::Sync() {
  if (!running_) return;
  try {
    for (int zone = 1; zone <= kZoneCount; ++zone) SyncZone(zone);
    SyncScenes();
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "MqttSync", e.what());
  }
}

// A zone's records as state and discovery topics; an unused record's topics
// are emptied, which removes its entity (and, with the last one, the device).
void MqttBridge::SyncZone(int zone) {
  const ZoneRecord status = table_.ZoneRecordOf(kStatusKind, zone);
  const std::string device =
      ZoneDeviceName(ZoneName(status ? status->Name : std::string(), zone), zone);
  for (const MqttAttribute& attribute : MqttAttributes()) {
    const ZoneRecord record = table_.ZoneRecordOf(attribute.kind, zone);
    const bool used = record && record->Used;
    SetRetained(StateTopic(zone, attribute), used ? StatePayload(*record) : std::string());
    // The select offers the input names ("None", position 0, stays a
    // command only).
    std::vector<std::string> options;
    if (used && attribute.kind == kSourceKind) {
      for (const std::string& entry : ValueEntries(record->Values)) {
        options.push_back(entry.substr(0, entry.find('\x02')));
      }
      if (!options.empty()) options.erase(options.begin());
    }
    SetRetained(DiscoveryTopic(ctx_, zone, attribute),
                used ? DiscoveryPayload(ctx_, zone, attribute, device, options) : std::string());
  }
}

// A scene entity per saved scene; the topics of removed scenes are emptied,
// which removes their entities.
void MqttBridge::SyncScenes() {
  if (!scenes_) return;
  const std::string prefix = ctx_.discovery_prefix + "/scene/" + TopicId(ctx_.base_topic) + "/";
  std::map<std::string, std::string> wanted;
  for (const Scene& scene : scenes_->All()) {
    wanted[SceneDiscoveryTopic(ctx_, scene.name)] = SceneDiscoveryPayload(ctx_, scene.name);
  }
  for (const auto& [topic, r] : retained_) {
    if (topic.rfind(prefix, 0) == 0 && !wanted.count(topic)) wanted[topic] = std::string();
  }
  for (auto& [topic, payload] : wanted) SetRetained(topic, std::move(payload));
}

void MqttBridge::OnConnected() {
  if (!running_) return;
  try {
    // The broker may have lost what it kept: everything again.
    for (auto& [topic, r] : retained_) r.published = false;
    client_.Publish(ctx_.base_topic + "/status", std::string(kOnline), true);
    client_.Subscribe(ctx_.base_topic + "/+/+/set", 1);
    client_.Subscribe(ctx_.base_topic + "/scene/set", 1);
    for (auto& [topic, r] : retained_) r.published = client_.Publish(topic, r.payload, true);
    Sync();
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "MqttConnected", e.what());
  }
}

// --- commands in ---------------------------------------------------------------

void MqttBridge::OnMessage(const std::string& topic, const std::string& payload) {
  if (!running_) return;
  if (commands_.size() >= kCommandQueueLimit) {
    log_.LogEvent("Corvane", "MQTT command " + commands_.front().first + " dropped: " +
                                 std::to_string(kCommandQueueLimit) + " commands waiting");
    commands_.pop_front();
  }
  commands_.emplace_back(topic, payload);
  DrainCommands();
}

// One command at a time: each may wait for the controller while the loop
// serves other events, and commands that arrive meanwhile wait their turn.
void MqttBridge::DrainCommands() {
  if (draining_) return;
  draining_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{draining_};
  while (running_ && !commands_.empty()) {
    auto [topic, payload] = std::move(commands_.front());
    commands_.pop_front();
    Command(topic, payload);
  }
}

void MqttBridge::Command(const std::string& topic, const std::string& payload) {
  try {
    if (topic == ctx_.base_topic + "/scene/set") {
      if (!scenes_ || !scenes_->Recall(TrimWhite(payload))) {
        log_.LogEvent("Corvane", "MQTT scene " + Quoted(payload) + ": no such scene");
      }
      return;
    }
    // <base>/zone<N>/<attribute>/set
    const std::string prefix = ctx_.base_topic + "/zone";
    const auto parts = Split(std::string_view(topic).substr(std::min(prefix.size(), topic.size())), '/');
    const bool ours = topic.rfind(prefix, 0) == 0 && parts.size() == 3 && parts[2] == "set";
    const MqttAttribute* attribute = ours ? AttributeOfTopic(parts[1]) : nullptr;
    const int zone = ours && parts[0].size() == 1 ? parts[0][0] - '0' : 0;
    const ZoneRecord record =
        attribute && zone >= 1 && zone <= kZoneCount ? table_.ZoneRecordOf(attribute->kind, zone)
                                                     : nullptr;
    if (!record) {
      log_.LogEvent("Corvane", "MQTT command " + topic + ": no such zone attribute");
      return;
    }
    const MqttCommand command = ParseCommand(*record, payload);
    if (!command.error.empty()) {
      log_.LogEvent("Corvane", "MQTT command " + topic + " " + Quoted(payload, 40) +
                                   " ignored: " + command.error);
      return;
    }
    // What an xAP BSC command block does with its level.
    record->LastCommand = command.position;
    vaux_.QueueControl(record, command.position);
  } catch (const std::exception& e) {
    log_.LogError("Corvane", "MqttCommand", e.what());
  }
}

}  // namespace corvane
