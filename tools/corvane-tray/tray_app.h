// The desktop front end of one home folder: the notification icon with its
// menu (Browser, GUI, IO Window, Help, Exit), the echo window and the setup
// form, over the daemon it starts or attaches to. The icon's logic (which
// mouse messages count, the add/modify/delete sequence, blinking) is the
// toolkit-free TrayIcon and TrayBlinker; this class turns Qt's events into
// their calls and carries out what they return.
#pragma once

#include <QElapsedTimer>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

#include "daemon_control.h"
#include "echo_stream.h"
#include "echo_window_qt.h"
#include "setup_dialog.h"
#include "ui/tray_icon.h"

namespace corvane {

class TrayApp : public QObject, public TrayIconCallbackTarget {
  Q_OBJECT

 public:
  struct Options {
    QString home;
    QString daemon_program;
    bool dialogs = true;  // false: messages go to stderr only
  };

  explicit TrayApp(Options options, QObject* parent = nullptr);
  ~TrayApp() override;

  // Starts or attaches to the daemon and shows the icon. False with the
  // message already shown when the front end cannot work.
  bool Start();

  void TrayIconCallback(int32_t msg) override;
  void Choose(TrayAction action);

  QMenu* menu() { return menu_.get(); }
  EchoWindowQt* echo_window() { return echo_window_.get(); }
  DaemonControl& daemon() { return daemon_; }

  // Qt's report of the icon as a mouse message of the icon.
  static int32_t MessageOf(QSystemTrayIcon::ActivationReason reason);

 private:
  void BuildMenu();
  void ShowPicture(std::optional<TrayPicture> picture);
  void OnDaemonUp();
  void OnDaemonGone();
  void OnTraffic();
  void OpenPage(const char* path);
  void OpenSetupForm();
  void OpenEchoWindow();
  void Exit();
  void Tell(const QString& text, bool error);

  Options options_;
  DaemonControl daemon_;
  EchoStream stream_;
  TrayIcon icon_model_;
  TrayBlinker blinker_;
  QSystemTrayIcon tray_;
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<EchoWindowQt> echo_window_;
  QPointer<SetupDialog> setup_;
  QTimer blink_timer_;
  QElapsedTimer clock_;
};

}  // namespace corvane
