// libmosquitto without its own thread. The library is told nothing about the
// loop; after every call into it the socket watch is brought up to date
// (which descriptor, and write interest while output waits). Callbacks only
// note the new state and defer the owner's handlers. A broker named by host
// name is looked up with getaddrinfo_a (the C library's resolver works
// beside the loop, which looks at the answer every 20 ms) and then connected
// to by address, so a slow name server never stalls the loop.
#include "mqtt/mqtt_client.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>

#include "core/event_log.h"

namespace corvane {

namespace {

constexpr int64_t kLookupPollMs = 20;

bool IsAddress(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
         ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The first address of a look-up's answer as text; empty when none.
std::string FirstAddress(const addrinfo* list) {
  for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
    char text[NI_MAXHOST];
    if (::getnameinfo(ai->ai_addr, ai->ai_addrlen, text, sizeof text, nullptr, 0,
                      NI_NUMERICHOST) == 0) {
      return text;
    }
  }
  return {};
}

void InitLibraryOnce() {
  static const int rc = mosquitto_lib_init();
  (void)rc;
}

}  // namespace

MqttClient::MqttClient(EventLoop& loop, EventLog& log)
    : loop_(loop),
      log_(log),
      housekeeping_(loop, [this] { Housekeeping(); }),
      reconnect_(loop, [this] {
        reconnect_.Stop();
        Connect();
      }),
      lookup_timer_(loop, [this] { LookupTimer_Timer(); }) {
  InitLibraryOnce();
  lookup_timer_.SetInterval(kLookupPollMs);
}

// One host-name look-up under way: the resolver writes into it until it is
// done or cancelled.
struct MqttClient::Lookup {
  std::string host;
  addrinfo hints{};
  gaicb request{};
  ~Lookup() {
    if (request.ar_result) ::freeaddrinfo(request.ar_result);
  }
};

MqttClient::~MqttClient() {
  Stop();
  *alive_ = false;
  if (mosq_) mosquitto_destroy(mosq_);
}

void MqttClient::Report(const std::string& what) {
  log_.LogEvent("Corvane", "MQTT " + what);
}

bool MqttClient::Start(Options options) {
  Stop();
  options_ = std::move(options);
  if (!CreateHandle()) return false;
  attempted_ = false;
  started_ = true;
  backoff_ms_ = 0;
  failure_reported_ = false;
  housekeeping_.SetInterval(1000);
  housekeeping_.Start();
  Connect();
  return true;
}

// A new library handle for every connection attempt: what the last
// connection left queued inside the library must not reach the next one
// (the owner republishes the latest values itself).
bool MqttClient::CreateHandle() {
  if (watch_) loop_.Unwatch(watch_);
  watch_ = 0;
  watched_fd_ = -1;
  if (mosq_) mosquitto_destroy(mosq_);
  mosq_ = mosquitto_new(options_.client_id.empty() ? nullptr : options_.client_id.c_str(), true,
                        this);
  if (!mosq_) {
    Report("Start: the client could not be created");
    return false;
  }
  mosquitto_connect_callback_set(mosq_, &MqttClient::OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &MqttClient::OnDisconnect);
  mosquitto_message_callback_set(mosq_, &MqttClient::OnMessage);
  mosquitto_publish_callback_set(mosq_, &MqttClient::OnPublish);
  // Each state message is small and wanted at once: no Nagle delay.
  int rc = mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  if (rc == MOSQ_ERR_SUCCESS && !options_.user.empty()) {
    rc = mosquitto_username_pw_set(mosq_, options_.user.c_str(),
                                   options_.password.empty() ? nullptr : options_.password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && options_.tls) {
    const bool own_ca = !options_.ca_file.empty();
    rc = mosquitto_tls_set(mosq_, own_ca ? options_.ca_file.c_str() : nullptr,
                           own_ca ? nullptr : "/etc/ssl/certs", nullptr, nullptr, nullptr);
  }
  if (rc == MOSQ_ERR_SUCCESS && !options_.will_topic.empty()) {
    rc = mosquitto_will_set(mosq_, options_.will_topic.c_str(),
                            static_cast<int>(options_.will_payload.size()),
                            options_.will_payload.data(), 1, true);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    Report(std::string("Start: ") + mosquitto_strerror(rc));
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    return false;
  }
  return true;
}

void MqttClient::Stop(const std::string& final_topic, const std::string& final_payload) {
  const bool was_started = started_;
  started_ = false;  // the disconnect below schedules no retry
  housekeeping_.Stop();
  reconnect_.Stop();
  DropLookup();
  if (mosq_ && connected_) {
    int final_mid = -1;
    if (!final_topic.empty()) {
      mosquitto_publish(mosq_, &final_mid, final_topic.c_str(),
                        static_cast<int>(final_payload.size()), final_payload.data(), 1, true);
    }
    // The broker reads a connection in order, so its acknowledgement of the
    // final message means it has read everything before it (a burst of
    // removals is larger than a fresh socket's send buffer). Only then is the
    // socket closed: closing it with the acknowledgement still unread makes
    // the kernel reset the connection, and the broker drops what it had not
    // read yet. At most kStopFlushMs.
    FlushUntil([&] { return final_mid < 0 || last_acked_mid_ == final_mid; });
    mosquitto_disconnect(mosq_);
    FlushUntil([this] { return !mosquitto_want_write(mosq_); });
  }
  if (was_started && connected_) Report("disconnected from " + options_.host);
  connected_ = false;
  connecting_ = false;
  UpdateWatch();
}

// Writes and reads the connection, without the event loop, until `done`, the
// socket closes or kStopFlushMs pass.
void MqttClient::FlushUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopFlushMs);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    const int fd = mosquitto_socket(mosq_);
    const bool write = mosquitto_want_write(mosq_);
    if (fd < 0) break;
    pollfd ready{fd, static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0};
    if (::poll(&ready, 1, 50) < 0) break;
    if ((ready.revents & POLLOUT) && mosquitto_loop_write(mosq_, 1) != MOSQ_ERR_SUCCESS) break;
    if ((ready.revents & (POLLIN | POLLHUP | POLLERR)) &&
        mosquitto_loop_read(mosq_, 1) != MOSQ_ERR_SUCCESS) {
      break;
    }
  }
}

void MqttClient::Connect() {
  if (!started_) return;
  if (IsAddress(options_.host)) {
    ConnectTo(options_.host);
    return;
  }
  DropLookup();
  lookup_ = std::make_unique<Lookup>();
  lookup_->host = options_.host;
  lookup_->hints.ai_socktype = SOCK_STREAM;
  lookup_->request.ar_name = lookup_->host.c_str();
  lookup_->request.ar_request = &lookup_->hints;
  gaicb* list[] = {&lookup_->request};
  sigevent none{};
  none.sigev_notify = SIGEV_NONE;
  connecting_ = true;
  connect_started_ms_ = loop_.NowMs();
  if (::getaddrinfo_a(GAI_NOWAIT, list, 1, &none) != 0) {
    lookup_.reset();
    Lost(MOSQ_ERR_EAI, "look up");
    return;
  }
  lookup_timer_.Start();
}

void MqttClient::LookupTimer_Timer() {
  if (!lookup_) {
    lookup_timer_.Stop();
    return;
  }
  const int rc = ::gai_error(&lookup_->request);
  if (rc == EAI_INPROGRESS) {
    if (loop_.NowMs() - connect_started_ms_ > options_.connect_timeout_ms) {
      DropLookup();
      Lost(MOSQ_ERR_EAI, "look up");
    }
    return;
  }
  lookup_timer_.Stop();
  const std::string address = rc == 0 ? FirstAddress(lookup_->request.ar_result) : "";
  lookup_.reset();
  if (address.empty()) {
    Lost(MOSQ_ERR_EAI, "look up");
    return;
  }
  // TLS checks the broker's certificate against the name libmosquitto was
  // given, so a TLS broker still gets its name: libmosquitto looks it up
  // once more, which right after this answered look-up is normally quick.
  ConnectTo(options_.tls ? options_.host : address);
}

// A look-up still under way is cancelled; one the resolver cannot let go of
// is left to it (a few bytes) rather than freed under its feet.
void MqttClient::DropLookup() {
  lookup_timer_.Stop();
  if (!lookup_) return;
  if (::gai_error(&lookup_->request) == EAI_INPROGRESS &&
      ::gai_cancel(&lookup_->request) != EAI_CANCELED) {
    (void)lookup_.release();
    return;
  }
  lookup_.reset();
}

void MqttClient::ConnectTo(const std::string& address) {
  if (attempted_ && !CreateHandle()) {
    Lost(MOSQ_ERR_NOMEM, "connect to");
    return;
  }
  attempted_ = true;
  connected_ = false;
  connecting_ = true;
  connect_started_ms_ = loop_.NowMs();
  const int rc = mosquitto_connect_async(mosq_, address.c_str(), options_.port,
                                         options_.keepalive_s);
  if (rc != MOSQ_ERR_SUCCESS) {
    Lost(rc, "connect");
    return;
  }
  UpdateWatch();
}

void MqttClient::Lost(int rc, const char* where) {
  DropLookup();
  const bool was_connected = connected_;
  connected_ = false;
  connecting_ = false;
  if (was_connected || !failure_reported_) {
    Report(std::string(where) + " " + options_.host + ":" + std::to_string(options_.port) + ": " +
           (rc == MOSQ_ERR_ERRNO ? std::string("connection failed") : mosquitto_strerror(rc)) +
           "; trying again");
    failure_reported_ = true;
  }
  UpdateWatch();
  ScheduleReconnect();
}

void MqttClient::ScheduleReconnect() {
  if (!started_ || reconnect_.Enabled()) return;
  backoff_ms_ = backoff_ms_ == 0 ? options_.backoff_first_ms
                                 : std::min(backoff_ms_ * 2, options_.backoff_max_ms);
  reconnect_.SetInterval(backoff_ms_);
  reconnect_.Start();
}

void MqttClient::UpdateWatch() {
  const int fd = mosq_ && (connecting_ || connected_) ? mosquitto_socket(mosq_) : -1;
  unsigned events = EventLoop::kReadable;
  if (fd >= 0 && mosquitto_want_write(mosq_)) events |= EventLoop::kWritable;
  if (fd != watched_fd_) {
    if (watch_) loop_.Unwatch(watch_);
    watch_ = 0;
    watched_fd_ = fd;
    if (fd >= 0) watch_ = loop_.Watch(fd, events, [this](unsigned revents) { OnSocket(revents); });
    watch_events_ = events;
  } else if (watch_ && events != watch_events_) {
    loop_.SetEvents(watch_, events);
    watch_events_ = events;
  }
}

void MqttClient::OnSocket(unsigned revents) {
  if (revents & (EventLoop::kReadable | EventLoop::kHangup | EventLoop::kError)) {
    const int rc = mosquitto_loop_read(mosq_, 1);
    if (rc != MOSQ_ERR_SUCCESS && started_) Lost(rc, "read from");
  }
  if ((connecting_ || connected_) && (revents & EventLoop::kWritable)) {
    const int rc = mosquitto_loop_write(mosq_, 1);
    if (rc != MOSQ_ERR_SUCCESS && started_) Lost(rc, "write to");
  }
  UpdateWatch();
}

void MqttClient::Housekeeping() {
  if (!mosq_ || !(connecting_ || connected_)) return;
  mosquitto_loop_misc(mosq_);  // keep-alive ping; a silent broker ends the connection
  if (connecting_ && loop_.NowMs() - connect_started_ms_ > options_.connect_timeout_ms) {
    Lost(MOSQ_ERR_TIMEOUT, "connect to");
  }
  UpdateWatch();
}

bool MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain) {
  if (!connected_) return false;
  const int rc = mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), 0, retain);
  if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
    Lost(rc, "publish to");
    return false;
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    Report("publish " + topic + ": " + mosquitto_strerror(rc));
    return false;
  }
  ++published_;
  UpdateWatch();
  return true;
}

bool MqttClient::Subscribe(const std::string& pattern, int qos) {
  if (!connected_) return false;
  const int rc = mosquitto_subscribe(mosq_, nullptr, pattern.c_str(), qos);
  if (rc != MOSQ_ERR_SUCCESS) {
    Report("subscribe " + pattern + ": " + mosquitto_strerror(rc));
    return false;
  }
  UpdateWatch();
  return true;
}

// --- library callbacks (inside libmosquitto: note, defer, return) -----------------

void MqttClient::OnConnect(struct mosquitto*, void* self, int rc) {
  auto* c = static_cast<MqttClient*>(self);
  c->connecting_ = false;
  if (rc != 0) {
    c->Report("connection to " + c->options_.host + " refused: " + mosquitto_connack_string(rc));
    c->failure_reported_ = true;
    c->ScheduleReconnect();
    return;
  }
  c->connected_ = true;
  ++c->connects_;
  c->backoff_ms_ = 0;
  c->failure_reported_ = false;
  c->Report("connected to " + c->options_.host + ":" + std::to_string(c->options_.port));
  std::weak_ptr<bool> alive = c->alive_;
  c->loop_.Defer([c, alive] {
    if (alive.lock() && *alive.lock() && c->connected_ && c->on_connected_) c->on_connected_();
  });
}

void MqttClient::OnDisconnect(struct mosquitto*, void* self, int rc) {
  auto* c = static_cast<MqttClient*>(self);
  if (!c->started_) return;
  if (c->connected_ || c->connecting_) {
    const bool was_connected = c->connected_;
    c->connected_ = false;
    c->connecting_ = false;
    if (was_connected) {
      c->Report("connection to " + c->options_.host + " lost (" + mosquitto_strerror(rc) +
                "); trying again");
      c->failure_reported_ = true;
    }
  }
  c->ScheduleReconnect();
}

void MqttClient::OnPublish(struct mosquitto*, void* self, int mid) {
  static_cast<MqttClient*>(self)->last_acked_mid_ = mid;
}

void MqttClient::OnMessage(struct mosquitto*, void* self, const struct mosquitto_message* message) {
  auto* c = static_cast<MqttClient*>(self);
  if (!message || !message->topic) return;
  std::string topic = message->topic;
  std::string payload(static_cast<const char*>(message->payload),
                      message->payload ? static_cast<size_t>(message->payloadlen) : 0);
  std::weak_ptr<bool> alive = c->alive_;
  c->loop_.Defer([c, alive, topic = std::move(topic), payload = std::move(payload)] {
    auto token = alive.lock();
    if (token && *token && c->on_message_) c->on_message_(topic, payload);
  });
}

}  // namespace corvane
