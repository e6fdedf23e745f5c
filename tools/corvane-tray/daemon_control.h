// The daemon of one home folder, seen from the desktop: attach to the one
// that runs (its lock file says so), or start it; notice when it goes away;
// ask it to read its settings again (SIGHUP); stop it when this front end
// started it.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include "platform/instance_lock.h"

namespace corvane {

class DaemonControl : public QObject {
  Q_OBJECT

 public:
  // How often the lock file is looked at, and how long a start may take.
  static constexpr int kWatchMs = 500;
  static constexpr int kStartTimeoutMs = 30000;
  static constexpr int kStopTimeoutMs = 20000;

  DaemonControl(QString home, QString daemon_program, QObject* parent = nullptr);

  // Attaches to a running daemon or starts one. False with a message when
  // no daemon could be started.
  bool StartOrAttach(QString* error);
  // Stops the daemon when this front end started it (SIGTERM, then waits).
  void StopIfStarted();
  // Asks the daemon to read its settings again; false when none runs.
  bool Reload();

  bool running() const { return info_.running; }
  bool started_here() const { return started_pid_ != 0 && info_.pid == started_pid_; }
  int pid() const { return info_.pid; }
  int http_port() const { return info_.http_port; }
  // The address its web server listens on, as recorded; empty: every address.
  const std::string& http_address() const { return info_.http_address; }
  // The daemon's echo token (empty when there is none).
  std::string EchoToken() const { return ReadEchoToken(home_.toStdString()); }
  const QString& home() const { return home_; }
  QString LogPath() const;

 signals:
  void Up();    // a daemon runs (again), or its web address or port changed
  void Gone();  // the daemon went away

 private:
  void Poll();
  bool WaitFor(bool running, int timeout_ms);

  QString home_;
  QString program_;
  InstanceInfo info_;
  int started_pid_ = 0;
  QTimer watch_;
};

}  // namespace corvane
