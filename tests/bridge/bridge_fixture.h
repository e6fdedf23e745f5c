// The bridge on virtual time: the real inbound handler and BSC reporting
// with the real controller link over a fake TCP client (the simulator's
// protocol core answers), and the real xAP transport over the in-memory UDP
// network, so every message is checked as the datagram that leaves.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "bridge/xap_text.h"
#include "device/link_fixture.h"
#include "devicetable/script_event_queue.h"
#include "support/fake_udp.h"
#include "xap/xap_message.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace corvane {

// Notes the time each message is handed to the send routine.
class TimedSender final : public XapSender {
 public:
  TimedSender(EventLoop& loop, XapSender& next) : loop_(loop), next_(next) {}
  void Send(const xapQueuedMessage& m) override {
    times.push_back(loop_.NowMs());
    classes.push_back(m.MsgClass);
    subs.push_back(m.MsgSubAddress);
    next_.Send(m);
  }
  std::vector<int64_t> times;
  std::vector<std::string> classes;
  std::vector<std::string> subs;

 private:
  EventLoop& loop_;
  XapSender& next_;
};

class RecordingScripts final : public ScriptEventQueue {
 public:
  void QueueScriptEvent(DeviceRecord record) override { events.push_back(std::move(record)); }
  std::vector<DeviceRecord> events;
};

class BridgeTest : public LinkTest {
 protected:
  BridgeTest() {
    xap_.SetXapSource("zyn.Vaux.HOST");
    xap_.SetXapUID("FF.0022:00");
    xap_.SetBroadcastAddress("127.0.0.1");
    table_.SetObserver(&bridge_.reporter());
  }

  void SetUp() override {
    ASSERT_GT(xap_.Init(), 0);
    outbox_.SetReady(true);
    Open();
    BuildRecords();
    bridge_.reporter().CreateQueue();
    // As at start-up: the records take the controller's state.
    link_.GetCurrentUPBStatus();
    Sent();
    TakeSent();
  }

  ZoneRecord Record(int n) { return table_.Record(n); }
  // Only these records are used.
  void UseOnly(const std::set<int>& used) {
    for (auto& [key, r] : table_.LinkDictionary()) r->Used = used.count(r->UIDindex) != 0;
  }

  // A received message: header lines, then sections ("name" followed by
  // "item=value" lines).
  static std::string Message(const std::string& cls, const std::string& target,
                             const std::vector<std::vector<std::string>>& sections,
                             const std::string& source = "x.y.z") {
    return testing::XapText(cls, source, target, sections);
  }
  // Commands queue their requests for the controller; the loop carries them
  // out once the handler has returned.
  void Handle(const std::string& text) {
    bridge_.inbound().Readmessage(text);
    loop_.Pump();
  }
  void BSCCmd(const std::string& target, const std::string& id, const std::string& state,
              const std::string& level) {
    bridge_.BSCCmd(target, id, state, level);
    loop_.Pump();
  }

  // The xAP messages sent since the last call, events of the log left out.
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    const auto& all = net_.sent();
    for (; seen_ < all.size(); ++seen_) {
      const std::string& d = all[seen_].data;
      if (d.find("\nclass=Homeseer.Event\n") == std::string::npos) out.push_back(d);
    }
    return out;
  }

  FakeUdpNetwork net_{loop_};
  XapTransport xap_{loop_, net_, log_};
  XapOutbox outbox_{xap_, log_};
  TimedSender sender_{loop_, outbox_};
  RecordingScripts scripts_;
  XapBridge bridge_{
      loop_, log_, wall_, sender_, xap_, table_, link_, scripts_, "/opt/corvane/corvane"};
  size_t seen_ = 0;
};

}  // namespace corvane
