// An MQTT connection driven by the program's event loop: libmosquitto's
// socket is watched for reading (and for writing while it has output
// waiting), its keep-alive housekeeping runs on a one-second timer, and a
// lost or refused connection is tried again after a back-off that doubles up
// to a limit. Nothing here blocks and there is no thread of its own; what the
// library reports inside its calls is handed on as deferred calls, so the
// owner's handlers never run inside libmosquitto.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/event_loop.h"

struct mosquitto;
struct mosquitto_message;

namespace corvane {

class EventLog;

class MqttClient {
 public:
  // Stop waits at most this long for the broker to take what is unsent.
  static constexpr int kStopFlushMs = 1000;

  struct Options {
    std::string host;
    int port = 1883;
    std::string user;
    std::string password;
    bool tls = false;
    std::string ca_file;  // TLS: the CA certificates; empty: the system's
    std::string client_id;
    std::string will_topic;  // published retained by the broker if we vanish
    std::string will_payload;
    int keepalive_s = 30;
    int64_t backoff_first_ms = 1000;
    int64_t backoff_max_ms = 30000;
    int64_t connect_timeout_ms = 10000;  // no CONNACK by then: try again
  };

  MqttClient(EventLoop& loop, EventLog& log);
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Called (deferred) after each accepted connection.
  void SetOnConnected(std::function<void()> handler) { on_connected_ = std::move(handler); }
  // Called (deferred) for each message of a subscribed topic.
  void SetOnMessage(std::function<void(const std::string&, const std::string&)> handler) {
    on_message_ = std::move(handler);
  }

  // Starts connecting (at once; retries on its own). False, after a report,
  // when the library refuses the options.
  bool Start(Options options);
  // Publishes `final_topic`/`final_payload` (retained) when connected, then
  // leaves cleanly so that the broker does not send the last will.
  void Stop(const std::string& final_topic = {}, const std::string& final_payload = {});

  bool Connected() const { return connected_; }
  // Publishes QoS 0; false when not connected (nothing is kept for later).
  bool Publish(const std::string& topic, const std::string& payload, bool retain);
  bool Subscribe(const std::string& pattern, int qos);

  uint64_t connects() const { return connects_; }
  uint64_t published() const { return published_; }

 private:
  static void OnConnect(struct mosquitto*, void* self, int rc);
  static void OnDisconnect(struct mosquitto*, void* self, int rc);
  static void OnMessage(struct mosquitto*, void* self, const struct ::mosquitto_message* message);
  static void OnPublish(struct mosquitto*, void* self, int mid);
  void FlushUntil(const std::function<bool()>& done);

  struct Lookup;
  bool CreateHandle();
  void Connect();
  void ConnectTo(const std::string& address);
  void LookupTimer_Timer();
  void DropLookup();
  void Lost(int rc, const char* where);
  void ScheduleReconnect();
  void UpdateWatch();
  void OnSocket(unsigned revents);
  void Housekeeping();
  void Report(const std::string& what);

  EventLoop& loop_;
  EventLog& log_;
  Options options_;
  struct mosquitto* mosq_ = nullptr;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::function<void()> on_connected_;
  std::function<void(const std::string&, const std::string&)> on_message_;

  bool started_ = false;
  bool connecting_ = false;
  bool connected_ = false;
  int last_acked_mid_ = -1;  // the last QoS 1 message the broker acknowledged
  bool attempted_ = false;  // the handle has been used for a connection
  bool failure_reported_ = false;
  int64_t connect_started_ms_ = 0;
  int64_t backoff_ms_ = 0;
  int watched_fd_ = -1;
  EventLoop::WatchId watch_ = 0;
  unsigned watch_events_ = 0;
  Timer housekeeping_;
  Timer reconnect_;
  std::unique_ptr<Lookup> lookup_;
  Timer lookup_timer_;
  uint64_t connects_ = 0;
  uint64_t published_ = 0;
};

}  // namespace corvane
