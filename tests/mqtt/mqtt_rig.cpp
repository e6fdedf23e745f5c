#include "mqtt/mqtt_rig.h"

#include <mosquitto.h>
#include <cstdlib>
#include <signal.h>
#include <unistd.h>

#include "support/loopback.h"

namespace corvane::testing {

std::string MosquittoPath() {
  for (const char* path : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto", "/usr/local/sbin/mosquitto"}) {
    if (::access(path, X_OK) == 0) return path;
  }
  return {};
}

bool Broker::Start(const TempDir& dir, uint16_t port) {
  if (port != 0) port_ = port;
  return Run(dir, "");
}

bool Broker::StartTls(const TempDir& dir) {
  if (::system("command -v openssl > /dev/null") != 0) return false;
  const std::string d = dir.path();
  // The broker drops to its own user before it reads the key and
  // certificates: the folder and the files must be readable to it.
  const std::string make =
      "cd " + d + " && chmod 755 . && "
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout ca.key -out ca.crt "
      "-subj /CN=CorvaneTestCA && "
      "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1 && "
      "printf 'subjectAltName=IP:127.0.0.1\\n' > san.cnf && "
      "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 "
      "-out server.crt -extfile san.cnf && chmod 644 ca.crt server.crt server.key";
  if (::system((make + " > openssl.log 2>&1").c_str()) != 0) return false;
  ca_file_ = d + "/ca.crt";
  return Run(dir, "cafile " + ca_file_ + "\ncertfile " + d + "/server.crt\nkeyfile " + d +
                      "/server.key\n");
}

bool Broker::Run(const TempDir& dir, const std::string& config) {
  if (MosquittoPath().empty()) return false;
  if (port_ == 0) port_ = FreeTcpPort();
  const std::string conf = dir.File("mosquitto.conf");
  WriteFile(conf, "listener " + std::to_string(port_) +
                      " 127.0.0.1\nallow_anonymous true\npersistence false\n" + config);
  ++runs_;
  if (!process_.Start({MosquittoPath(), "-c", conf}, dir.File("broker" + std::to_string(runs_)))) {
    return false;
  }
  return Eventually([&] {
    const int fd = ConnectLoopbackTcp(port_);
    if (fd < 0) return false;
    ::close(fd);
    return true;
  });
}

void Broker::Stop() {
  process_.Stop(SIGTERM);
}

TestClient::TestClient() {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(nullptr, true, this);
  mosquitto_message_callback_set(mosq_, &TestClient::OnMessage);
}

TestClient::~TestClient() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, true);
  mosquitto_destroy(mosq_);
}

bool TestClient::Connect(uint16_t port, const std::string& subscription,
                         const std::string& ca_file) {
  if (!ca_file.empty() &&
      mosquitto_tls_set(mosq_, ca_file.c_str(), nullptr, nullptr, nullptr, nullptr) !=
          MOSQ_ERR_SUCCESS) {
    return false;
  }
  if (mosquitto_connect(mosq_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return false;
  if (mosquitto_subscribe(mosq_, nullptr, subscription.c_str(), 1) != MOSQ_ERR_SUCCESS) {
    return false;
  }
  return mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
}

bool TestClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
  return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 0, retain) == MOSQ_ERR_SUCCESS;
}

void TestClient::OnMessage(struct mosquitto*, void* self, const struct ::mosquitto_message* m) {
  auto* c = static_cast<TestClient*>(self);
  std::string payload(static_cast<const char*>(m->payload),
                      m->payload ? static_cast<size_t>(m->payloadlen) : 0);
  {
    std::lock_guard lock(c->mutex_);
    if (payload.empty()) {
      c->latest_.erase(m->topic);
    } else {
      c->latest_[m->topic] = payload;
    }
    c->messages_.emplace_back(m->topic, std::move(payload));
  }
  c->heard_.notify_all();
}

std::map<std::string, std::string> TestClient::Latest() const {
  std::lock_guard lock(mutex_);
  return latest_;
}

std::vector<std::pair<std::string, std::string>> TestClient::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

namespace {
bool Holds(const std::map<std::string, std::string>& latest, const std::string& topic,
           const std::string& payload) {
  auto it = latest.find(topic);
  return payload.empty() ? it == latest.end() : it != latest.end() && it->second == payload;
}
}  // namespace

bool TestClient::Has(const std::string& topic, const std::string& payload) const {
  std::lock_guard lock(mutex_);
  return Holds(latest_, topic, payload);
}

bool TestClient::WaitFor(const std::string& topic, const std::string& payload,
                         std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return heard_.wait_for(lock, timeout, [&] { return Holds(latest_, topic, payload); });
}

}  // namespace corvane::testing
