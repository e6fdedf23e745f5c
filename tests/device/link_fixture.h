// A controller link on virtual time: the real VauxPort and VauxLink over
// fake transports, with the simulator's protocol core as the controller.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "config/ini_cache.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "config/settings.h"
#include "device/vaux_link.h"
#include "device/vaux_port.h"
#include "devicetable/device_table.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "support/fake_transports.h"
#include "simulator.h"
#include "support/temp_dir.h"
#include "ui/echo_window.h"

namespace corvane {

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    log_.SetDebugEnabled([this] { return settings_.debug_log; });
    port_.SetLineHandler([this](const std::string& line) { link_.VauxReceive(line); });
    port_.SetExitRequested([this] { return exiting_; });
    echo_.SetPump([this] { loop_.Pump(); });
    settings_.upb_comm_port = "4001";
    settings_.serial_ip = "127.0.0.1";
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
  IniCache ini_{dir_.path(), log_};
  Settings settings_;
  DeviceTable table_{ini_, log_, wall_, settings_};
  EchoWindow echo_{wall_, log_};
  FakeSerialPort serial_{loop_};
  FakeTcpClient tcp_{loop_};
  VauxPort port_{loop_, log_, settings_, echo_, serial_, tcp_};
  VauxLink link_{loop_, log_, settings_, table_, port_, echo_};
  sim::VauxSimulator sim_;
  bool exiting_ = false;
};

}  // namespace corvane
