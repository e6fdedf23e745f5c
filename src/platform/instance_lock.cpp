#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvane {

namespace {

std::string LockPath(const std::string& home) {
  std::string path = home;
  if (path.empty() || path.back() != '/') path += '/';
  path.append(kInstanceFile);
  return path;
}

void ReadNumbers(int fd, InstanceInfo& info) {
  char buf[64] = {};
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return;
  char* end = nullptr;
  info.pid = static_cast<int>(std::strtol(buf, &end, 10));
  if (end && *end == '\n') info.http_port = static_cast<int>(std::strtol(end + 1, nullptr, 10));
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

bool InstanceLock::Write(int pid, int http_port) {
  if (fd_ < 0) return false;
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, "%d\n%d\n", pid, http_port);
  return ::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, buf, static_cast<size_t>(n), 0) == n;
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
