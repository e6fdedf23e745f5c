// One daemon per home folder. The running daemon holds an exclusive lock on
// HOME/corvane.pid and keeps its process id and web server port in it;
// a desktop front end reads the file to attach to that daemon, and a second
// daemon for the same home refuses to start. The lock dies with the process,
// so a file left behind by a crash never blocks a new start.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

inline constexpr std::string_view kInstanceFile = "corvane.pid";

struct InstanceInfo {
  bool running = false;  // a process holds the lock
  int pid = 0;
  int http_port = 0;     // 0 while the web server is not listening
};

// What the lock file of `home` says; not running when there is none.
InstanceInfo ProbeInstance(const std::string& home);

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock of `home`. False with a message when the file cannot be
  // made or another process holds it.
  bool Acquire(const std::string& home, std::string* error);
  // Rewrites the file: "pid\nhttp_port\n". False when it could not.
  bool Write(int pid, int http_port);
  // Empties the file and drops the lock (the file stays, so that a starting
  // daemon never locks a file that is being removed).
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace corvane
