// A controller link on virtual time: the real VauxPort and VauxLink over
// fake transports, with the simulator's protocol core as the controller.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <sstream>
#include <utility>

#include "core/datetime.h"
#include "core/event_log.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "simulator.h"
#include "support/controller_rig.h"
#include "support/temp_dir.h"

namespace corvane {

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    log_.SetDebugEnabled([this] { return settings_.debug_log; });
    port_.SetExitRequested([this] { return exiting_; });
    echo_.SetPump([this] { loop_.Pump(); });
    settings_.debug_log = true;
    // The simulated controller answers every command sent over TCP, after
    // latency_ms_ when that is set.
    tcp_.on_send = [this](const std::string& cmd) {
      for (auto& line : sim_.Feed(cmd)) {
        if (latency_ms_ == 0) {
          tcp_.Arrive(line);
        } else {
          late_.push_back({clock_.NowMs() + latency_ms_, std::move(line)});
        }
      }
      ArmLate();
    };
  }

  void ArmLate() {
    if (late_.empty() || late_timer_.Enabled()) return;
    late_timer_.SetInterval(std::max<int64_t>(1, late_.front().first - clock_.NowMs()));
    late_timer_.Start();
  }
  void DeliverLate() {
    late_timer_.Stop();
    while (!late_.empty() && late_.front().first <= clock_.NowMs()) {
      tcp_.Arrive(std::move(late_.front().second));
      late_.pop_front();
    }
    ArmLate();
  }

  void Open() { ASSERT_TRUE(port_.OpenCommPort("4001")); }
  void BuildRecords() { table_.ReadLastChange(); }
  int16_t Value(int uid_index) { return table_.Record(uid_index)->Value; }
  bool Logged(const std::string& text) const { return err_.str().find(text) != std::string::npos; }
  // How often a text was reported.
  size_t Reported(const std::string& text) const { return testing::Occurrences(err_.str(), text); }
  // The controller commands sent since the last call.
  std::vector<std::string> TakeSent() { return std::exchange(tcp_.sent, {}); }

  ManualClock clock_{1000};
  ManualWallClock wall_{ToDateValue({2026, 6, 12, 8, 5, 9}), &clock_};
  EventLoop loop_{clock_};
  std::ostringstream err_;
  EventLog log_{wall_, &err_};
  testing::TempDir dir_;
  testing::ControllerRig rig_{loop_, wall_, log_, dir_.path()};
  IniCache& ini_ = rig_.ini;
  Settings& settings_ = rig_.settings;
  DeviceTable& table_ = rig_.table;
  EchoWindow& echo_ = rig_.echo;
  FakeSerialPort& serial_ = rig_.serial;
  FakeTcpClient& tcp_ = rig_.tcp;
  VauxPort& port_ = rig_.port;
  VauxLink& link_ = rig_.link;
  sim::VauxSimulator sim_;
  bool exiting_ = false;
  int64_t latency_ms_ = 0;
  std::deque<std::pair<int64_t, std::string>> late_;
  Timer late_timer_{loop_, [this] { DeliverLate(); }};
};

}  // namespace corvane
