#include "app/program.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "api/api_module.h"
#include "api/remote_page.h"
#include "config/ini_tool.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "pages/echo_page.h"
#include "pages/page_header.h"
#include "pages/status_page.h"
#include "pages/web_folder.h"
#include "pages/web_security.h"
#include "platform/posix_tcp.h"
#include "platform/tls_tcp.h"
#include "platform/instance_lock.h"
#include "platform/posix_tcp.h"
#include "platform/signals.h"
#include "web/request.h"
#include "web/response.h"
#include "web/tcp_server.h"

#ifndef CORVANE_VERSION_TEXT
#define CORVANE_VERSION_TEXT "0.0.0"
#endif

namespace corvane {

Program::Program(ProgramPaths paths, Clock& clock, const WallClock& wall, std::ostream* err,
                 NetworkFactory network)
    : paths_(std::move(paths)),
      wall_(wall),
      loop_(clock),
      log_(wall, err),
      ini_(JoinPath(paths_.program_folder, "Config"), log_),
      settings_(ini_, log_),
      network_(network ? network(loop_) : std::make_unique<PosixUdpNetwork>(loop_)),
      xap_(loop_, *network_, log_),
      outbox_(xap_, log_),
      devices_(ini_, log_, wall_, settings_.values()),
      echo_(wall_, log_),
      serial_(std::make_unique<PosixSerialPort>(loop_)),
      tcp_(std::make_unique<PosixTcpClient>(loop_)),
      port_(loop_, log_, settings_.values(), echo_, *serial_, *tcp_),
      vaux_(loop_, log_, settings_.values(), devices_, port_, echo_),
      bridge_(loop_, log_, wall_, outbox_, xap_, devices_, vaux_, script_events_,
              paths_.executable_path),
      mqtt_(loop_, log_, devices_, vaux_, paths_.computer_name, CORVANE_VERSION_TEXT) {
  log_.SetErrorLogPath(JoinPath(paths_.program_folder, "Data/Corvane.txt"));
  // Every event goes out as an xAP message; until the transport is ready the
  // send routine holds them.
  log_.SetXapSender([this](std::string_view items) {
    outbox_.SendXap("", "Homeseer.Event", "Event.Log", items);
  });
  log_.SetDebugEnabled([this] { return settings_.values().debug_log; });
  loop_.SetErrorReporter([this](std::string_view where, std::string_view what) {
    log_.LogError("Corvane", std::string(where) + " ", what);
  });
  // The controller link: lines go to the reply decoder, the echo window
  // repaints by processing pending events, and the settings loader opens
  // the port.
  port_.SetLineHandler([this](const std::string& line) { vaux_.VauxReceive(line); });
  port_.SetExitRequested([this] { return exit_requested_; });
  echo_.SetPump([this] { loop_.Pump(); });
  SettingsStore::PortHooks hooks;
  hooks.reset_receive = [this] { port_.ResetReceive(); };
  hooks.port_is_open = [this] { return port_.IsOpen(); };
  hooks.open_port = [this](const std::string& port) {
    LoadCommAndTimer();
    open_port_ = {port, settings_.values().serial_ip};
    return port_.InitCommPort(port);
  };
  settings_.SetPortHooks(std::move(hooks));
  // Value changes of used zone records are announced on xAP.
  devices_.SetObserver(&bridge_.reporter());
  // ... and published on MQTT when a broker is configured.
  devices_.AddObserver(&mqtt_);
  // Scenes are recalled from xAP and MQTT as from the JSON API.
  bridge_.inbound().SetSceneRecall([this](const std::string& name) { scenes_.Recall(name); });
  mqtt_.SetScenes(&scenes_);
}

Program::~Program() {
  script_events_.Install(nullptr);
  script_control_.Install(nullptr);
  message_handler_ = &bridge_.inbound();
  log_.SetXapSender(nullptr);
  echo_.SetWatcher(nullptr);
}

template <typename F>
void Program::Step(const char* name, F&& f) {
  Guard(log_, name, std::forward<F>(f));
}

void Program::InitXap() {
  // Folders first: the INI cache and the error log live in them.
  CreateFolders(JoinPath(paths_.program_folder, "Config/x"), &log_);
  CreateFolders(JoinPath(paths_.program_folder, "Data/x"), &log_);
  // Saves cut off by a crash or kill -9 leave their temporary files behind.
  Step("RemoveStaleSaveFiles ",
       [&] { RemoveStaleSaveFiles(JoinPath(paths_.program_folder, "Config"), &log_); });
  ini_.AppInitialize();
  Step("App_Initialize", [&] { LoadScripting(); });
  Step("TCPServer", [&] { LoadWebServer(); });
  interface_address_ = ini_.GetIniSetting("Interface", "InterfaceAddress", "Default", kXapIniFile);
  broadcast_address_ = ini_.GetIniSetting("Interface", "BroadcastAddress", "Default", kXapIniFile);
  base_uid_ = NormalizeUID(
      RemoveQuotes(ini_.GetIniSetting(kSettingsSection, "UID", "FF.0022:00", kMainIniFile)));
  instance_ = RemoveQuotes(ini_.GetIniSetting(kSettingsSection, "Instance", "", kMainIniFile));
}

void Program::LoadCommAndTimer() {
  if (comm_and_timer_loaded_) return;
  comm_and_timer_loaded_ = true;
  log_.DebugEvent("Corvane Debug", "Internal Timer Started");
}

// The HTTP listener form: it reads HTTPPort, HTTPBindAddress and the HTTPS
// settings itself.
// The shipped web files fill what HTML/ lacks; the status page plugs in.
void Program::LoadWebServer() {
  InstallWebFolder(JoinPath(paths_.program_folder, "HTML"), log_);
  http_listener_ = std::make_unique<PosixTcpListener>(loop_);
  web_server_ =
      std::make_unique<TCPServer>(loop_, *http_listener_, ini_, log_, wall_, paths_.program_folder);
  web_security_ = std::make_unique<WebSecurity>(ini_, log_, wall_, paths_.program_folder);
  status_page_ = std::make_unique<StatusPageModule>(
      PageContext{ini_, settings_, log_, wall_, devices_, page_bridge_, script_control_,
                  *web_security_, paths_.program_folder, CORVANE_VERSION_TEXT});
  https_listener_ = std::make_unique<TlsTcpListener>(loop_);
  web_server_->SetSecureListener(https_listener_.get());
  web_server_->SetStatusPage(status_page_.get());
  // The setup section's MQTT settings take effect at once.
  status_page_->SetMqttSettingsChanged([this] { StartMqtt(); });
  // ... and so does a changed controller port, once the page is answered.
  status_page_->SetControllerPortChanged(
      [this] { loop_.Defer([this] { Step("InitCommPort", [&] { ApplyControllerPort(); }); }); });
  echo_page_ =
      std::make_unique<EchoPageModule>(loop_, *web_server_, echo_, ini_, settings_, log_, wall_,
                                       page_bridge_, *web_security_, paths_.program_folder);
  web_server_->AddPage("/echo", echo_page_.get());
  echo_page_->SetStreamToken(echo_token_);
  echo_.SetWatcher([this](EchoWindow::Change change, std::string_view text) {
    echo_page_->OnEchoChange(change, text);
  });
  LoadApi();
  web_server_->Load();
}

void Program::SetEchoToken(std::string token) {
  echo_token_ = std::move(token);
  if (echo_page_) echo_page_->SetStreamToken(echo_token_);
}

void Program::LoadApi() {
  api_ = std::make_unique<ApiModule>(loop_, *web_server_, devices_, controller_requests_, scenes_,
                                     log_);
  api_->SetAuthorizer(web_security_.get());
  remote_page_ = std::make_unique<RemotePage>(*api_);
  web_server_->AddPage(std::string(ApiModule::kPrefix), api_.get());
  web_server_->AddPage("/remote", remote_page_.get());
}

namespace {

// What the status page asks of the script host.
class HostScriptControl final : public ScriptControl {
 public:
  explicit HostScriptControl(ScriptHost& host) : host_(host) {}
  void ReadScript() override { host_.ReadScript(); }
  void PeriodicScriptIntervalChanged(std::string_view seconds) override {
    host_.ArmPeriodic(seconds);
  }

 private:
  ScriptHost& host_;
};

// The script runner Spawn starts: the vbs tool beside the program, else
// the one on PATH.
std::string VbsPath() {
  const std::string beside = JoinPath(ExecutableFolder(), "vbs");
  return ::access(beside.c_str(), X_OK) == 0 ? beside : "vbs";
}

}  // namespace

// The Application object and with it the script engines; the main script
// is loaded here, before the settings (its top-level code runs now).
void Program::LoadScripting() {
  scripting_ = std::make_unique<ScriptingModule>(ScriptingParts{
      loop_, log_, ini_, settings_.values(), outbox_, xap_, devices_, vaux_, bridge_, wall_,
      paths_.program_folder, ExecutableFolder(), VbsPath()});
  scripting_control_ = std::make_unique<HostScriptControl>(scripting_->host());
  script_events_.Install(&scripting_->host());
  script_control_.Install(scripting_control_.get());
  message_handler_ = &scripting_->subscriptions();
  scripting_->host().InitScriptControl();
}

// (Re)reads section [MQTT] and (re)connects; an empty Host leaves MQTT off.
void Program::StartMqtt() {
  Step("MQTT", [&] { mqtt_.Start(LoadMqttSettings(ini_, paths_.computer_name)); });
}

void Program::InitHW() {
  // The echo window is loaded; start-up clears its scroll flag once.
  echo_.Load();
  echo_.SetScrollFlag(false);
  // Lines that arrive before the settings are loaded wait in the buffer.
  port_.SetResponseBusy(true);
  port_.ResetReceive();
  Step("CreateDictionaries", [&] { devices_.CreateDictionaries(); });
  settings_.InitINIVariables();
  port_.SetResponseBusy(false);
  LoadCommAndTimer();
  // The controller's configuration and power-up settings, the zone records,
  // then each zone's status.
  Step("ConfigurationAck", [&] { vaux_.ConfigurationAck(); });
  Step("ReadLastChange", [&] { devices_.ReadLastChange(); });
  Step("BuildX10Dictionary", [&] { devices_.BuildX10Dictionary(); });
  Step("LinkDevicesToModules", [&] { devices_.LinkDevicesToModules(); });
  Step("ApplyHeldPowerup", [&] { vaux_.ApplyHeldPowerup(); });
  Step("GetCurrentUPBStatus", [&] { vaux_.GetCurrentUPBStatus(); });
  Step("BSCQueue", [&] { bridge_.reporter().CreateQueue(); });
  vaux_.ApplySettings();  // the status poll; requests that waited for the records run
  periodic_ = ComputePeriodicSchedule(settings_.values().periodic_script_interval);
  if (scripting_) scripting_->ApplySettings();
}

int Program::Startup() {
  outbox_.SetReady(false);
  exit_requested_ = false;
  message_busy_ = false;
  records_ready_ = false;
  log_.Note(std::string("Corvane ") + CORVANE_VERSION_TEXT + " starting in " +
            paths_.program_folder);
  try {
    InitXap();
  } catch (const std::exception& e) {
    log_.WriteErrorLog("Corvane", "InitXap", e.what());
  }

  // The xAP transport: identity, addresses, then the sockets.
  xap_.RegisterNewMessageCallback(this);
  xap_.SetXapSource(XapSourceAddress(paths_.computer_name, instance_));
  // Heartbeats carry the UID every other message carries.
  xap_.SetXapUID(base_uid_);
  xap_.SetBroadcastAddress(broadcast_address_);
  xap_.SetInterfaceAddress(interface_address_);
  outbox_.SetBaseUID(base_uid_);
  const int32_t port = xap_.Init();
  if (port <= 0) {
    log_.WriteErrorLog("Corvane", "xAP Init Error " + std::to_string(port) + " occurred");
    return 1;
  }
  try {
    xap_.SendHeartbeat(60);
  } catch (const std::exception& e) {
    log_.WriteErrorLog("Corvane", "SendHeartbeat", e.what());
  }
  outbox_.SetReady(true);
  log_.LogEvent("Corvane", "Using xAP port " + std::to_string(port));
  outbox_.SendXap("", "time.query", "time.query", PackItems({{"id", "*"}}));

  Step(" InitHW: ", [&] { InitHW(); });
  records_ready_ = true;
  onMessage();  // what arrived during start-up
  StartMqtt();
  log_.Note("Corvane running");
  return 0;
}

void Program::RequestExit() {
  exit_requested_ = true;
  loop_.Quit();
}

void Program::Shutdown() {
  if (shut_down_) return;
  shut_down_ = true;
  exit_requested_ = true;
  Step("SaveLastChange", [&] { devices_.SaveLastChange(); });
  Step("SaveDeviceDictionary", [&] { devices_.SaveDeviceDictionary(); });
  Step("FlushIniCache", [&] { ini_.FlushIniCache(); });
  Step("CommAndTimer", [&] { port_.Shutdown(); });  // closes the serial port and the socket
  echo_.Unload();
  Step("SendStoppedHeartbeat", [&] { xap_.SendStoppedHeartbeat(); });
  Step("xap Unload", [&] { xap_.Unload(); });
  Step("TCPServer", [&] {
    if (web_server_) web_server_->Unload();
  });
  Step("BSCQueue", [&] { bridge_.reporter().ReleaseQueue(); });
  Step("MQTT", [&] { mqtt_.Stop(); });
  log_.FlushRepeats();  // counts of repeated reports not written yet
  log_.Note("Corvane stopped");
}

void Program::ReloadSettings() {
  // Opening a TCP port waits while serving events, so a second SIGHUP may
  // arrive inside a reload: it is taken by one more pass, not nested.
  if (reloading_) {
    reload_again_ = true;
    return;
  }
  reloading_ = true;
  do {
    reload_again_ = false;
    ReloadSettingsOnce();
  } while (reload_again_ && !exit_requested_);
  reloading_ = false;
}

bool Program::ApplyControllerPort() {
  const Settings& s = settings_.values();
  // Without a port the adapter's address means nothing.
  const std::pair<std::string, std::string> wanted = s.upb_comm_port.empty()
                                                         ? std::pair<std::string, std::string>{}
                                                         : std::pair{s.upb_comm_port, s.serial_ip};
  if (wanted == open_port_) return false;
  Step("ClosePort", [&] { port_.ClosePort(open_port_.first); });
  open_port_ = wanted;
  if (!wanted.first.empty()) {
    LoadCommAndTimer();
    // A port opened here gets the controller's configuration and zone
    // status read again, as at start-up.
    Step("InitCommPort", [&] {
      if (port_.InitCommPort(wanted.first)) vaux_.RequestRecoveryReads();
    });
  }
  return true;
}

void Program::ReloadSettingsOnce() {
  Step("InitIniKeys", [&] { settings_.InitIniKeys(); });
  // Compared with the port actually open: a web save may have changed the
  // setting in memory already.
  const bool changed = ApplyControllerPort();
  vaux_.ApplySettings();
  Step("TCPServer", [&] {
    if (web_server_) web_server_->StartListening();
  });
  periodic_ = ComputePeriodicSchedule(settings_.values().periodic_script_interval);
  // The script time-out and the periodic timer follow the reloaded values.
  if (scripting_) Step("ScriptSettings", [&] { scripting_->ApplySettings(); });
  // Says whether the port was touched; that also keeps two reloads in a row
  // from reading as one repeated report, which the log would hold back.
  log_.LogEvent("Corvane", changed ? "Settings reloaded (controller port changed)"
                                   : "Settings reloaded (controller port unchanged)");
}

void Program::SetMessageHandler(XapMessageHandler* handler) {
  if (handler) {
    message_handler_ = handler;
  } else if (scripting_) {
    message_handler_ = &scripting_->subscriptions();
  } else {
    message_handler_ = &bridge_.inbound();
  }
}

void Program::onMessage() {
  if (message_busy_ || !records_ready_) return;
  message_busy_ = true;
  struct ClearBusy {
    bool& busy;
    ~ClearBusy() { busy = false; }
  } clear_busy{message_busy_};
  for (std::string text = xap_.GetMessage(); !text.empty(); text = xap_.GetMessage()) {
    // The handler reports its own failures; this only keeps one bad message
    // from stopping the drain.
    Step("Readmessage", [&] { message_handler_->Readmessage(text); });
  }
}

namespace {

void PrintUsage(std::ostream& out) {
  out << "Usage: corvane [--home DIR] [--hash-password] [--version] [--help]\n"
         "\n"
         "Joins a Vaux Aris 700 audio controller to an xAP home-automation network.\n"
         "\n"
         "  --home DIR   program folder holding Config/, Data/, Scripts/ and HTML/\n"
         "               (default: the folder of the corvane executable)\n"
         "  --hash-password  read a password from standard input and print the line\n"
         "               to store for it in [WebUsers] of Corvane.ini (PBKDF2)\n"
         "  --version    print the version and exit\n"
         "  --help       print this help and exit\n"
         "\n"
         "SIGINT and SIGTERM save the settings and end the program; SIGHUP reads\n"
         "the settings again. One corvane runs per home folder (HOME/corvane.pid).\n";
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return path;
  return JoinPath(buf, path);
}

}  // namespace

int RunCorvane(int argc, char** argv) {
  std::string home;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(std::cout);
      return 0;
    }
    if (arg == "--version") {
      std::cout << "corvane " << CORVANE_VERSION_TEXT << "\n";
      return 0;
    }
    if (arg == "--hash-password") {
      std::string password;
      std::getline(std::cin, password);
      if (password.empty()) {
        std::cerr << "corvane: no password on standard input\n";
        return 2;
      }
      std::cout << WebSecurity::HashPassword(password) << "\n";
      return 0;
    }
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg.rfind("--home=", 0) == 0) {
      home = arg.substr(7);
    } else {
      std::cerr << "corvane: unknown option '" << arg << "'\n";
      PrintUsage(std::cerr);
      return 2;
    }
  }

  // Signals arrive through a descriptor the event loop watches; a broken
  // connection must not end the process.
  ::signal(SIGPIPE, SIG_IGN);
  int sig_fd = BlockTerminationSignals();

  ProgramPaths paths;
  paths.program_folder = Absolute(home.empty() ? ExecutableFolder() : home);
  while (paths.program_folder.size() > 1 && paths.program_folder.back() == '/') {
    paths.program_folder.pop_back();
  }
  paths.executable_path = JoinPath(paths.program_folder, ExecutableName());
  paths.computer_name = ComputerName();

  // One daemon per home: desktop front ends find it through this file.
  CreateFolders(JoinPath(paths.program_folder, "x"), nullptr);
  InstanceLock lock;
  std::string lock_error;
  if (!lock.Acquire(paths.program_folder, &lock_error)) {
    std::cerr << "corvane: " << lock_error << "\n";
    if (sig_fd >= 0) ::close(sig_fd);
    return 1;
  }

  SteadyClock clock;
  SystemWallClock wall;
  Program program(paths, clock, wall, &std::cerr);
  // Desktop front ends reach the web server where it listens, and open the
  // live echo stream with a token only this user can read.
  std::string token_error;
  program.SetEchoToken(WriteEchoToken(paths.program_folder, &token_error));
  if (!token_error.empty()) std::cerr << "corvane: " << token_error << "\n";
  auto publish = [&] {
    const int http_port = program.web_server() ? program.web_server()->ListeningPort() : 0;
    if (!lock.Write(static_cast<int>(::getpid()), http_port,
                    program.settings().values().http_bind_address)) {
      program.log().LogError("Corvane", "InstanceLock ", "cannot write the process file");
    }
  };
  WatchTerminationSignals(program.loop(), sig_fd, [&](int signo) {
    if (signo == SIGHUP) {
      program.log().Note("Signal SIGHUP: reading the settings again");
      program.ReloadSettings();
      publish();
      return;
    }
    program.log().Note(std::string("Signal ") + strsignal(signo) + ": closing");
    program.RequestExit();
  });
  int rc = program.Startup();
  if (rc != 0) {
    if (sig_fd >= 0) ::close(sig_fd);
    return rc;
  }
  publish();
  program.loop().Run();
  program.Shutdown();
  if (sig_fd >= 0) ::close(sig_fd);
  return 0;
}

}  // namespace corvane
