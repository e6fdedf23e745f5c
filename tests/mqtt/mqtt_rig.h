// What the MQTT tests share: a mosquitto broker of their own on 127.0.0.1 and
// a free port, and a test client (libmosquitto on its own thread) that keeps
// every message it hears.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

struct mosquitto;
struct mosquitto_message;

namespace corvane::testing {

// The broker, started by the test; Stop and Start again keep the port.
class Broker {
 public:
  // False when mosquitto is not installed or did not come up.
  bool Start(const TempDir& dir, uint16_t port = 0);
  // The same with TLS only, with a certificate for 127.0.0.1 signed by a CA
  // made for the test (its certificate: ca_file()). False without openssl.
  bool StartTls(const TempDir& dir);
  const std::string& ca_file() const { return ca_file_; }
  void Stop();
  uint16_t port() const { return port_; }
  // What the broker wrote (its log), for failure messages.
  std::string Log() const { return process_.Stdout() + process_.Stderr(); }

 private:
  bool Run(const TempDir& dir, const std::string& config);

  Subprocess process_;
  uint16_t port_ = 0;
  std::string ca_file_;
  int runs_ = 0;
};

class TestClient {
 public:
  TestClient();
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // `ca_file`: connect with TLS, trusting that CA.
  bool Connect(uint16_t port, const std::string& subscription = "#",
               const std::string& ca_file = {});
  // QoS 0, as Home Assistant sends its commands.
  bool Publish(const std::string& topic, const std::string& payload, bool retain = false);

  // The last payload heard on each topic (retained or live); an empty
  // payload removes the topic.
  std::map<std::string, std::string> Latest() const;
  std::vector<std::pair<std::string, std::string>> Messages() const;
  bool Has(const std::string& topic, const std::string& payload) const;
  // Waits until `topic` last carried `payload` (woken by each message).
  bool WaitFor(const std::string& topic, const std::string& payload,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  static void OnMessage(struct mosquitto*, void* self, const struct ::mosquitto_message* m);

  struct mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  mutable std::condition_variable heard_;
  std::map<std::string, std::string> latest_;
  std::vector<std::pair<std::string, std::string>> messages_;
};

// The path of the mosquitto broker, or empty when it is not installed.
std::string MosquittoPath();

}  // namespace corvane::testing
