// A controller link on virtual time: the real VauxPort and VauxLink over
// fake transports, with the simulator's protocol core as the controller.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

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
    // The simulated controller answers every command sent over TCP.
    tcp_.on_send = [this](const std::string& cmd) {
      for (const auto& line : sim_.Feed(cmd)) tcp_.Arrive(line);
    };
  }

  void Open() { ASSERT_TRUE(port_.OpenCommPort("4001")); }
  void BuildRecords() { table_.ReadLastChange(); }
  int16_t Value(int uid_index) { return table_.Record(uid_index)->Value; }
  bool Logged(const std::string& text) const { return err_.str().find(text) != std::string::npos; }
  std::vector<std::string> TakeSent() {
    auto sent = std::move(tcp_.sent);
    tcp_.sent.clear();
    return sent;
  }

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
};

}  // namespace corvane
