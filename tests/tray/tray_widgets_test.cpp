// corvane-tray's windows against the real daemon (bin/corvane) and
// controller simulator (bin/vaux-sim) on loopback, under Qt's offscreen
// platform: the setup form shows the INI values, closing it writes them and
// the running daemon takes them up (a new web port, the controller port
// opened); the echo window follows the daemon's live stream and holds still
// while Freeze is ticked. Pictures of both windows go to $CORVANE_ARTIFACTS.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <filesystem>
#include <regex>

#include "../device_integration/sim_harness.h"
#include "daemon_control.h"
#include "echo_stream.h"
#include "echo_window_qt.h"
#include "setup_dialog.h"
#include "support/loopback.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "ui/tray_icon.h"

// fontconfig (under Qt's fonts) keeps allocations it never frees; the leak
// checker of sanitizer builds is told to pass over them.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace corvane {
namespace {

using testing::ReadFile;
using testing::WriteFile;

// Qt's offscreen platform unless the caller chose one (QT_QPA_PLATFORM=xcb
// with a DISPLAY shows the windows on an X server).
QApplication& App() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "tray_widgets_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

bool WaitUntil(const std::function<bool()>& done, int ms = 15000) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (done()) return true;
    QThread::msleep(10);
  }
  return done();
}

void Picture(QWidget& w, const char* name) {
  const QString dir = qEnvironmentVariable(
      "CORVANE_ARTIFACTS", QString::fromStdString(testing::BinDir() + "/../tray-artifacts"));
  QDir().mkpath(dir);
  w.grab().save(QDir(dir).filePath(name));
}

// The daemon and the simulator for one home folder.
class TrayWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnterPrivateNetwork();
    App();
    testing::WriteLoopbackXapConfig(home_.path());
    port_ = testing::FreeTcpPort();
    WriteFile(home_.File("Config/Corvane.ini"),
              "[Vaux]\r\nHTTPBindAddress=127.0.0.1\r\nHTTPPort=" + std::to_string(port_) +
                  "\r\nBackground=Navy\r\nShowStatus=1\r\n");
    ASSERT_TRUE(sim_.Start(home_, {"--tcp", "0"}));
    sim_port_ = sim_.address;
    control_ =
        std::make_unique<DaemonControl>(QString::fromStdString(home_.path()),
                                        QString::fromStdString(testing::BinDir() + "/corvane"));
    QString error;
    ASSERT_TRUE(control_->StartOrAttach(&error)) << error.toStdString();
    ASSERT_TRUE(control_->started_here());
  }
  // The daemon is detached from this process: whatever happened, it must
  // not outlive the test's home folder.
  void TearDown() override {
    if (control_) control_->StopIfStarted();
    const InstanceInfo left = ProbeInstance(home_.path());
    if (left.running && left.pid > 0) ::kill(left.pid, SIGKILL);
    // A daemon caught between its start and its lock file (a loaded
    // machine) is found by the home on its command line.
    KillDaemonsOf(home_.path());
  }
  static void KillDaemonsOf(const std::string& home) {
    const std::string wanted = std::string("--home") + '\0' + home + '\0';
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename().string();
      if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
      if (ReadFile("/proc/" + pid + "/cmdline").find(wanted) != std::string::npos) {
        ::kill(std::stoi(pid), SIGKILL);
      }
    }
  }
  std::string DaemonLog() { return ReadFile(home_.File("Data/corvane.log")); }

  testing::TempDir home_;
  testing::Sim sim_;
  uint16_t port_ = 0;
  std::string sim_port_;
  std::unique_ptr<DaemonControl> control_;
};

TEST_F(TrayWindows, SetupFormLoadsSavesAndTheDaemonTakesItUp) {
  const uint16_t new_port = testing::FreeTcpPort();
  {
    SetupDialog form(QString::fromStdString(home_.path()), [&] { return control_->Reload(); });
    EXPECT_EQ(form.windowTitle(), "UPB Setup");
    // Box 3 is missing from the file: the form default.
    for (const auto& [box, text] :
         std::vector<std::pair<int, std::string>>{{0, ""},
                                                  {2, std::to_string(port_)},
                                                  {3, "false"},
                                                  {4, "Navy"},
                                                  {6, "FF.0022:00"},
                                                  {11, "1"}}) {
      EXPECT_EQ(form.Box(box)->text().toStdString(), text) << box;
    }
    QStringList captions;
    for (QLabel* l : form.findChildren<QLabel*>()) captions << l->text();
    for (const char* caption : {"Vaux Comm Port", "Periodic Script Interval ", "seconds",
                                "Up/Down Increment", "showreceivemessages"}) {
      EXPECT_TRUE(captions.contains(caption)) << caption;  // the last: the key beside box 12
    }
    form.show();
    form.Box(0)->setText(QString::fromStdString(sim_port_));
    form.Box(1)->setText("127.0.0.1");
    form.Box(2)->setText(QString::number(new_port));
    Picture(form, "setup-form.png");
    form.close();
    EXPECT_TRUE(form.saved());
    EXPECT_TRUE(form.daemon_told());
  }
  std::string ini = ReadFile(home_.File("Config/Corvane.ini"));
  for (char& c : ini) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(ini.find("upbcommport=" + sim_port_), std::string::npos) << ini;
  EXPECT_NE(ini.find("httpport=" + std::to_string(new_port)), std::string::npos) << ini;
  // The daemon reads them: the web server moves, the controller port opens.
  EXPECT_TRUE(WaitUntil([&] { return control_->http_port() == new_port; }));
  EXPECT_TRUE(WaitUntil([&] {
    return DaemonLog().find("Comm Port " + sim_port_ + " Opened") != std::string::npos;
  })) << DaemonLog();
  // A second close with box 0 unchanged does not reopen the port.
  const size_t opened = DaemonLog().find("Opened");
  {
    SetupDialog again(QString::fromStdString(home_.path()), [&] { return control_->Reload(); });
    EXPECT_EQ(again.Box(0)->text().toStdString(), sim_port_);
    again.Box(4)->setText("Black");
  }
  EXPECT_TRUE(WaitUntil([&] {
    return std::regex_search(DaemonLog(), std::regex("Settings reloaded[^]*Settings reloaded"));
  }));
  EXPECT_EQ(DaemonLog().find("Opened", opened + 1), std::string::npos);
}

// BASIC web security, bound to 127.0.0.2: the lock file and the echo token lead there.
TEST_F(TrayWindows, EchoWindowFollowsTheStreamAndFreezeHoldsTheView) {
  // A daemon that starts with the controller, so that its start-up traffic
  // is in the echo text.
  control_->StopIfStarted();
  WriteFile(home_.File("Config/Corvane.ini"),
            "[Settings]\r\nUseSecurity=BASIC\r\n[Vaux]\r\nHTTPBindAddress=127.0.0.2\r\nHTTPPort=" +
                std::to_string(port_) + "\r\nUPBCommPort=" + sim_port_ +
                "\r\nSerialIP=127.0.0.1\r\n");
  QString error;
  ASSERT_TRUE(control_->StartOrAttach(&error)) << error.toStdString();
  EXPECT_EQ(control_->http_address(), "127.0.0.2");
  EXPECT_EQ(std::filesystem::status(home_.File("corvane.token")).permissions(),  // 0600
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EchoWindowQt window;
  EchoStream stream;
  QObject::connect(&stream, &EchoStream::Reset, &window, &EchoWindowQt::Reset);
  QObject::connect(&stream, &EchoStream::Changed, &window, &EchoWindowQt::Apply);
  stream.SetTarget(QString::fromStdString(TrayConnectHost(control_->http_address())),
                   control_->http_port(), [&] { return control_->EchoToken(); });
  window.show();
  EXPECT_EQ(window.windowTitle(), "Vaux Data Monitor Window");
  ASSERT_TRUE(WaitUntil([&] {
    return window.CommData()->toPlainText().contains("Sent to Vaux VP FE 52 06 00");
  })) << window.mirror().text()
      << "\n"
      << DaemonLog();
  EXPECT_TRUE(WaitUntil([&] { return window.aOpenStatus()->text().startsWith("Port Open / "); }))
      << window.aOpenStatus()->text().toStdString();
  Picture(window, "echo-window.png");

  window.Freeze()->setChecked(true);
  const QString shown = window.CommData()->toPlainText();
  stream.Dispatch("append", "\"\\r\\nSent to Vaux frozen test\"");
  EXPECT_NE(window.mirror().text().find("frozen test"), std::string::npos);
  EXPECT_EQ(window.CommData()->toPlainText(), shown);
  window.Freeze()->setChecked(false);
  EXPECT_TRUE(window.CommData()->toPlainText().endsWith("Sent to Vaux frozen test"));

  // The daemon gone: the window says so.
  control_->StopIfStarted();
  window.SetLinkLost(true);
  EXPECT_EQ(window.aOpenStatus()->text(), "Corvane is not running");
}

}  // namespace
}  // namespace corvane
