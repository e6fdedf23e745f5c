#include "daemon_control.h"

#include <signal.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>

namespace corvane {

DaemonControl::DaemonControl(QString home, QString daemon_program, QObject* parent)
    : QObject(parent), home_(std::move(home)), program_(std::move(daemon_program)) {
  watch_.setInterval(kWatchMs);
  connect(&watch_, &QTimer::timeout, this, &DaemonControl::Poll);
}

QString DaemonControl::LogPath() const {
  return QDir(home_).filePath("Data/corvane.log");
}

// Waits (still serving events) until the daemon is or is no longer running
// with its web port known.
bool DaemonControl::WaitFor(bool running, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!deadline.hasExpired()) {
    info_ = ProbeInstance(home_.toStdString());
    if (running ? info_.running && info_.http_port > 0 : !info_.running) return true;
    if (running && started_pid_ != 0 && ::kill(started_pid_, 0) != 0 && !info_.running) {
      return false;  // the daemon we started ended at once
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(50);
  }
  return false;
}

bool DaemonControl::StartOrAttach(QString* error) {
  info_ = ProbeInstance(home_.toStdString());
  if (!info_.running) {
    QDir().mkpath(QDir(home_).filePath("Data"));
    QProcess process;
    process.setProgram(program_);
    process.setArguments({"--home", home_});
    process.setStandardOutputFile(LogPath(), QIODevice::Append);
    process.setStandardErrorFile(LogPath(), QIODevice::Append);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
      if (error) *error = QString("Cannot start %1: %2").arg(program_, process.errorString());
      return false;
    }
    started_pid_ = static_cast<int>(pid);
    // A second front end may have started one at the same moment: whichever
    // daemon holds the lock is the one to use.
    if (!WaitFor(true, kStartTimeoutMs)) {
      if (error) {
        *error = QString("Corvane did not start for %1; see %2").arg(home_, LogPath());
      }
      watch_.start();
      return false;
    }
  }
  watch_.start();
  emit Up();
  return true;
}

void DaemonControl::StopIfStarted() {
  info_ = ProbeInstance(home_.toStdString());
  if (!started_here()) return;
  watch_.stop();
  ::kill(info_.pid, SIGTERM);
  WaitFor(false, kStopTimeoutMs);
  started_pid_ = 0;
}

bool DaemonControl::Reload() {
  info_ = ProbeInstance(home_.toStdString());
  return info_.running && info_.pid > 0 && ::kill(info_.pid, SIGHUP) == 0;
}

void DaemonControl::Poll() {
  const InstanceInfo now = ProbeInstance(home_.toStdString());
  const bool was_running = info_.running;
  const int old_port = info_.http_port;
  const std::string old_address = info_.http_address;
  info_ = now;
  if (was_running && !now.running) emit Gone();
  const bool moved = now.http_port != old_port || now.http_address != old_address;
  if (now.running && now.http_port > 0 && (!was_running || moved)) emit Up();
}

}  // namespace corvane
