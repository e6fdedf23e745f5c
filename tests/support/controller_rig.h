// The program's controller side without hardware, for fuzz targets and
// benchmarks: the device table and the controller link over in-memory
// serial and TCP transports, on the caller's loop, clock and log. Header
// only, so targets outside the test build can use it.
#pragma once

#include <ostream>
#include <string>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "config/settings.h"
#include "device/vaux_link.h"
#include "device/vaux_port.h"
#include "devicetable/device_table.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "support/fake_transports.h"
#include "ui/echo_window.h"

namespace corvane::testing {

struct ControllerRig {
  // `ini_folder` may not exist: nothing is then read or written.
  ControllerRig(EventLoop& loop, const WallClock& wall, EventLog& log,
                const std::string& ini_folder)
      : ini(ini_folder, log),
        table(ini, log, wall, settings),
        echo(wall, log),
        serial(loop),
        tcp(loop),
        port(loop, log, settings, echo, serial, tcp),
        link(loop, log, settings, table, port, echo) {
    settings.upb_comm_port = "4001";
    settings.serial_ip = "127.0.0.1";
    port.SetLineHandler([this](const std::string& line) { link.VauxReceive(line); });
  }

  IniCache ini;
  Settings settings;
  DeviceTable table;
  EchoWindow echo;
  FakeSerialPort serial;
  FakeTcpClient tcp;
  VauxPort port;
  VauxLink link;
};

// A controller rig with a virtual clock, a loop and a log that writes
// nowhere of its own: what the fuzz targets need around it.
struct QuietControllerRig {
  explicit QuietControllerRig(const std::string& ini_folder)
      : controller(loop, wall, log, ini_folder) {}

  ManualClock clock;
  ManualWallClock wall{46000.5, &clock};
  EventLoop loop{clock};
  std::ostream quiet{nullptr};
  EventLog log{wall, &quiet};
  ControllerRig controller;
};

}  // namespace corvane::testing
