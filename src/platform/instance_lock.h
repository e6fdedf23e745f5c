// One daemon per home folder. The running daemon holds an exclusive lock on
// HOME/corvane.pid and keeps its process id and the address and port its web
// server listens on in it; a desktop front end reads the file to attach to
// that daemon, and a second daemon for the same home refuses to start. The
// lock dies with the process, so a file left behind by a crash never blocks
// a new start.
//
// The echo token: at start the daemon writes a fresh random token to
// HOME/corvane.token, readable by its user only. A front end of the same user
// sends it with its request for the live echo stream (header
// X-Corvane-Token), which the daemon then serves whatever web security asks
// of browsers; the token opens nothing else, and no password is stored.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

inline constexpr std::string_view kInstanceFile = "corvane.pid";
inline constexpr std::string_view kEchoTokenFile = "corvane.token";
inline constexpr std::string_view kEchoTokenHeader = "X-Corvane-Token";

struct InstanceInfo {
  bool running = false;  // a process holds the lock
  int pid = 0;
  int http_port = 0;     // 0 while the web server is not listening
  std::string http_address;  // the address it listens on; empty: every address
};

// Writes a new random token to HOME/corvane.token (mode 0600) and returns
// it; empty with a message when it could not.
std::string WriteEchoToken(const std::string& home, std::string* error);
// The token of the daemon of `home`; empty when there is none.
std::string ReadEchoToken(const std::string& home);

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
  // Rewrites the file: "pid\nhttp_port\nhttp_address\n". False when it
  // could not. Front ends that read two lines still find pid and port.
  bool Write(int pid, int http_port, std::string_view http_address = {});
  // Empties the file and drops the lock (the file stays, so that a starting
  // daemon never locks a file that is being removed).
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace corvane
