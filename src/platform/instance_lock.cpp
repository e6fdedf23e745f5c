#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvane {

namespace {

std::string HomeFile(const std::string& home, std::string_view name) {
  std::string path = home;
  if (path.empty() || path.back() != '/') path += '/';
  path.append(name);
  return path;
}

std::string LockPath(const std::string& home) {
  return HomeFile(home, kInstanceFile);
}

void ReadNumbers(int fd, InstanceInfo& info) {
  char buf[512] = {};
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return;
  char* end = nullptr;
  info.pid = static_cast<int>(std::strtol(buf, &end, 10));
  if (!end || *end != '\n') return;
  info.http_port = static_cast<int>(std::strtol(end + 1, &end, 10));
  if (!end || *end != '\n') return;
  const char* address = end + 1;
  info.http_address.assign(address, std::strcspn(address, "\n"));
}

}  // namespace

InstanceInfo ProbeInstance(const std::string& home) {
  InstanceInfo info;
  const int fd = ::open(LockPath(home).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return info;
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    info.running = errno == EWOULDBLOCK;
  } else {
    ::flock(fd, LOCK_UN);
  }
  if (info.running) ReadNumbers(fd, info);
  ::close(fd);
  return info;
}

InstanceLock::~InstanceLock() {
  Release();
}

bool InstanceLock::Acquire(const std::string& home, std::string* error) {
  Release();
  const std::string path = LockPath(home);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    InstanceInfo other;
    ReadNumbers(fd, other);
    if (error) {
      *error = "another corvane";
      if (other.pid > 0) *error += " (process " + std::to_string(other.pid) + ")";
      *error += " already runs for " + home;
    }
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool InstanceLock::Write(int pid, int http_port, std::string_view http_address) {
  if (fd_ < 0) return false;
  std::string text = std::to_string(pid) + "\n" + std::to_string(http_port) + "\n";
  for (char c : http_address) {
    if (c != '\n' && c != '\r') text.push_back(c);
  }
  text += "\n";
  return ::ftruncate(fd_, 0) == 0 &&
         ::pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

std::string WriteEchoToken(const std::string& home, std::string* error) {
  unsigned char random[32];
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    if (error) *error = std::string("no random bytes: ") + std::strerror(errno);
    return {};
  }
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : random) {
    token.push_back(kHex[b >> 4]);
    token.push_back(kHex[b & 15]);
  }
  // A new file each time, private from its creation on.
  const std::string path = HomeFile(home, kEchoTokenFile);
  ::unlink(path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const std::string line = token + "\n";
  const bool ok = fd >= 0 && ::write(fd, line.data(), line.size()) ==
                                 static_cast<ssize_t>(line.size());
  if (fd >= 0) ::close(fd);
  if (!ok) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    return {};
  }
  return token;
}

std::string ReadEchoToken(const std::string& home) {
  const int fd = ::open(HomeFile(home, kEchoTokenFile).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char buf[128] = {};
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return {};
  return std::string(buf, std::strcspn(buf, "\r\n"));
}

void InstanceLock::Release() {
  if (fd_ < 0) return;
  if (::ftruncate(fd_, 0) != 0) {
    // An old pid in an unlocked file reads as "not running" all the same.
  }
  ::close(fd_);
  fd_ = -1;
}

}  // namespace corvane
