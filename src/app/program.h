// The composition root: owns every subsystem, wires them together, and runs
// the start-up and shutdown sequences in their fixed order.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "config/ini_cache.h"
#include "core/event_log.h"
#include "config/settings.h"
#include "device/vaux_link.h"
#include "device/vaux_port.h"
#include "devicetable/device_table.h"
#include "devicetable/script_event_queue.h"
#include "pages/page_services.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/serial_port.h"
#include "platform/tcp_client.h"
#include "platform/udp_socket.h"
#include "scripting/scripting_module.h"
#include "ui/echo_window.h"
#include "bridge/bridge.h"
#include "mqtt/mqtt_bridge.h"
#include "scenes/controller_requests.h"
#include "scenes/scene_store.h"
#include "xap/xap_handler.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace corvane {

class ApiModule;
class EchoPageModule;
class PageHeader;
class RemotePage;
class StatusPageModule;
class TcpListener;
class SecureTcpListener;
class TCPServer;
class WebSecurity;

struct ProgramPaths {
  std::string program_folder;   // Config/, Data/, Scripts/, HTML/ live below it
  std::string executable_path;  // program folder, "/", the executable's name
  std::string computer_name;
};

// Makes the UDP network the xAP transport uses (tests pass an in-memory one).
using NetworkFactory = std::function<std::unique_ptr<UdpNetwork>(EventLoop&)>;

class Program final : public XapCallback {
 public:
  Program(ProgramPaths paths, Clock& clock, const WallClock& wall, std::ostream* err,
          NetworkFactory network = nullptr);
  ~Program() override;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The start-up sequence. Returns 0, or the process exit code when start-up
  // had to end the program.
  int Startup();
  // Marks the program as closing and ends the event loop; the shutdown
  // sequence runs when the loop has returned.
  void RequestExit();
  // The shutdown sequence; every step runs even when an earlier one fails.
  void Shutdown();
  // SIGHUP: reads the settings again (after the desktop setup form or an
  // editor changed Corvane.ini). The controller port is closed and opened
  // again only when UPBCommPort changed; the web server follows HTTPPort.
  void ReloadSettings();

  // Drains the xAP receive queue into the message handler; a second call
  // while one runs (a handler waiting on the loop) returns at once.
  void onMessage() override;
  // Replaces the inbound handler; nullptr restores the program's own
  // (the bridge's Readmessage).
  void SetMessageHandler(XapMessageHandler* handler);
  // The script host, once there is one; until then (and after nullptr)
  // script events are dropped without a report.
  void SetScriptEventQueue(ScriptEventQueue* host) { script_events_.Install(host); }
  // The script host's side of the status page (reading the main script
  // again); until one is installed the page's requests do nothing.
  void SetScriptControl(ScriptControl* host) { script_control_.Install(host); }

  EventLoop& loop() { return loop_; }
  const WallClock& wall() const { return wall_; }
  EventLog& log() { return log_; }
  IniCache& ini() { return ini_; }
  SettingsStore& settings() { return settings_; }
  DeviceTable& devices() { return devices_; }
  EchoWindow& echo() { return echo_; }
  VauxPort& port() { return port_; }
  VauxLink& vaux() { return vaux_; }
  // Inbound handling and BSC reporting: BSCCmd, BSCQuery, Sunrise/Sunset.
  XapBridge& bridge() { return bridge_; }
  // The MQTT side (off unless section [MQTT] names a broker).
  MqttBridge& mqtt() { return mqtt_; }
  ScriptEventQueue& script_events() { return script_events_; }
  const ProgramPaths& paths() const { return paths_; }
  const std::string& base_uid() const { return base_uid_; }
  const std::string& interface_address() const { return interface_address_; }
  const std::string& broadcast_address() const { return broadcast_address_; }
  const PeriodicSchedule& periodic_schedule() const { return periodic_; }
  XapTransport& xap() { return xap_; }
  // The send routine of every module (SendXap).
  XapSender& xap_sender() { return outbox_; }
  // The HTTP listener, loaded by InitXap (null before).
  TCPServer* web_server() { return web_server_.get(); }
  // The status page, made with the listener (null before).
  StatusPageModule* status_page() { return status_page_.get(); }
  // The live echo page, made with the listener (null before).
  EchoPageModule* echo_page() { return echo_page_.get(); }
  // The token that opens the live echo stream for desktop front ends.
  void SetEchoToken(std::string token);
  // The JSON API and its scenes (the API is made with the listener).
  ApiModule* api() { return api_.get(); }
  SceneStore& scenes() { return scenes_; }

  // Logins and form tokens, for every part that answers HTTP (null before
  // the listener is made).
  WebSecurity* web_security() { return web_security_.get(); }

  // The script host, its subscriptions and the Application object (made by
  // InitXap; null before).
  ScriptingModule* scripting() { return scripting_.get(); }

  // Process-wide flags.
  bool xap_ready() const { return outbox_.Ready(); }
  bool exit_requested() const { return exit_requested_; }

 private:
  void InitXap();
  void InitHW();
  void LoadCommAndTimer();
  void LoadWebServer();
  void LoadApi();
  void LoadScripting();
  void StartMqtt();
  void ReloadSettingsOnce();
  // Reopens the controller link when UPBCommPort or SerialIP differ from
  // the port last opened; true when it did.
  bool ApplyControllerPort();
  template <typename F>
  void Step(const char* name, F&& f);

  ProgramPaths paths_;
  const WallClock& wall_;
  EventLoop loop_;
  EventLog log_;
  IniCache ini_;
  SettingsStore settings_;
  std::unique_ptr<UdpNetwork> network_;
  XapTransport xap_;
  XapOutbox outbox_;
  // The controller side.
  DeviceTable devices_;
  EchoWindow echo_;
  std::unique_ptr<SerialPort> serial_;  // MSComm1
  std::unique_ptr<TcpClient> tcp_;      // Winsock1
  VauxPort port_;
  VauxLink vaux_;
  bool comm_and_timer_loaded_ = false;
  // The bridge between the two.
  ScriptEventSink script_events_;
  XapBridge bridge_;
  XapMessageHandler* message_handler_ = &bridge_.inbound();
  MqttBridge mqtt_;
  // Saved scenes and the JSON API's road to the controller.
  ControllerRequests controller_requests_{vaux_, port_};
  SceneStore scenes_{ini_, devices_, controller_requests_, log_};

  std::string base_uid_ = "FF.0022:00";
  std::string instance_;  // the Instance setting: appended to the source address
  std::string interface_address_ = "Default";
  std::string broadcast_address_ = "Default";
  PeriodicSchedule periodic_;
  std::unique_ptr<TcpListener> http_listener_;
  std::unique_ptr<SecureTcpListener> https_listener_;  // HTTPSPort
  std::unique_ptr<TCPServer> web_server_;
  // The web pages.
  ScriptControlSink script_control_;
  XapPageBridge page_bridge_{bridge_};
  std::unique_ptr<WebSecurity> web_security_;  // logins and form tokens of every page
  std::unique_ptr<StatusPageModule> status_page_;
  std::unique_ptr<EchoPageModule> echo_page_;
  std::string echo_token_;
  std::unique_ptr<ApiModule> api_;
  std::unique_ptr<RemotePage> remote_page_;

  // The controller port (UPBCommPort, SerialIP) as last opened: a reload or
  // a web save reopens the link when the settings differ from it.
  std::pair<std::string, std::string> open_port_;

  bool exit_requested_ = false;
  bool message_busy_ = false;
  // Messages wait in the receive queue until the zone records exist, so that
  // commands arriving during start-up are carried out, not lost.
  bool records_ready_ = false;
  bool shut_down_ = false;

  // Last, so it goes first: it refers to most of the above.
  std::unique_ptr<ScriptingModule> scripting_;
  std::unique_ptr<ScriptControl> scripting_control_;
  bool reloading_ = false;
  bool reload_again_ = false;
};

// The entry point: corvane [--home DIR] [--version] [--help].
int RunCorvane(int argc, char** argv);

}  // namespace corvane
