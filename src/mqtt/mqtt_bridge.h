// The MQTT side beside xAP: every used zone record's value, retained, on
// <base>/zone<N>/<attribute>; commands from <base>/zone<N>/<attribute>/set
// carried out through the controller link exactly as xAP BSC commands are
// (same request positions, same read-back and retries, same change events);
// Home Assistant discovery for each zone; <base>/status online, with offline
// as the broker's last will.
//
// Main data: `retained_`, the latest payload of every topic this side owns
// (about a hundred: state and discovery of 42 records, the status, and one
// discovery topic per saved scene; <base>/scene/set recalls a scene).
// While the broker is away changes only update it; after each (re)connect it
// is published whole, so the broker gets the latest value per topic and
// nothing waits in a queue.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <utility>

#include "config/mqtt_settings.h"
#include "devicetable/device_table.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_topics.h"
#include "platform/event_loop.h"

namespace corvane {

class EventLog;
class SceneStore;
class VauxLink;

class MqttBridge final : public ZoneChangeObserver {
 public:
  // Commands arriving while one waits for the controller queue up to this
  // many; beyond it the oldest is dropped with a report.
  static constexpr size_t kCommandQueueLimit = 64;
  // How often names, used flags and input names are compared with what
  // discovery last said (the status page changes them without an event).
  static constexpr int64_t kSyncMs = 1000;

  MqttBridge(EventLoop& loop, EventLog& log, DeviceTable& table, VauxLink& vaux,
             std::string computer_name, std::string version);
  ~MqttBridge() override;

  // Saved scenes: recalled by <base>/scene/set, announced to Home Assistant
  // as scene entities (none without a store).
  void SetScenes(SceneStore* scenes);

  // Connects to the configured broker; an empty host leaves the side off.
  // Called again (new settings), it leaves the old broker first.
  void Start(const MqttSettings& settings);
  // Says offline and leaves the broker.
  void Stop();
  bool Running() const { return running_; }

  // A used record's value changed: its state topic at once.
  void NotifyUPBState(const ZoneRecord& record) override;
  // Brings every state and discovery topic up to date with the records.
  void Sync();

  MqttClient& client() { return client_; }
  const std::string& base_topic() const { return ctx_.base_topic; }
  size_t PendingCommands() const { return commands_.size(); }

 private:
  struct Retained {
    std::string payload;
    bool published = false;  // on the current connection
  };

  void OnConnected();
  void OnMessage(const std::string& topic, const std::string& payload);
  void DrainCommands();
  void Command(const std::string& topic, const std::string& payload);
  void SetRetained(const std::string& topic, std::string payload);
  void SyncZone(int zone);
  void SyncScenes();
  std::string StateTopic(int zone, const MqttAttribute& attribute) const;

  EventLog& log_;
  DeviceTable& table_;
  VauxLink& vaux_;
  std::string computer_name_;
  DiscoveryContext ctx_;
  MqttClient client_;
  Timer sync_timer_;
  bool running_ = false;
  SceneStore* scenes_ = nullptr;
  std::map<std::string, Retained> retained_;
  std::deque<std::pair<std::string, std::string>> commands_;
  bool draining_ = false;
};

}  // namespace corvane
