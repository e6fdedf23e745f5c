#include "scripting/process_object.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "vbscript/ops.h"

namespace corvane {

using vbs::CallArgs;
using vbs::Value;

namespace {

constexpr int kPollMs = 10;

// Processes whose objects went away before they ended; reaped later so
// none stays a zombie.
std::vector<pid_t>& Orphans() {
  static std::vector<pid_t> orphans;
  return orphans;
}

void ReapOrphans() {
  auto& list = Orphans();
  for (size_t i = 0; i < list.size();) {
    int status = 0;
    const pid_t r = ::waitpid(list[i], &status, WNOHANG);
    if (r == list[i] || (r < 0 && errno == ECHILD)) {
      list.erase(list.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
}

struct Pipe {
  int fd = -1;
  std::string buffer;
  bool eof = false;
};

class Child {
 public:
  Child(pid_t pid, int out, int err, std::function<void()> pump) : pid_(pid), pump_(std::move(pump)) {
    pipes_[0].fd = out;
    pipes_[1].fd = err;
  }
  ~Child() {
    for (auto& p : pipes_) {
      if (p.fd >= 0) ::close(p.fd);
    }
    if (!Ended()) Orphans().push_back(pid_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  bool Ended() {
    if (ended_) return true;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      ended_ = true;
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (r < 0) {
      ended_ = true;
    }
    return ended_;
  }
  int exit_code() {
    Ended();
    return exit_code_;
  }
  void Terminate() {
    if (!Ended()) ::kill(pid_, SIGTERM);
  }
  Pipe& pipe(int i) { return pipes_[i]; }

  // Reads what both pipes hold, serving the program between polls, until
  // `done` is true or both pipes reached their end.
  template <typename F>
  void WaitUntil(F done) {
    while (!done() && !(pipes_[0].eof && pipes_[1].eof)) {
      ReadAvailable(kPollMs);
      if (done()) break;
      if (pump_) pump_();
    }
  }

 private:
  void ReadAvailable(int wait_ms) {
    pollfd fds[2];
    int n = 0;
    int which[2];
    for (int i = 0; i < 2; ++i) {
      if (pipes_[i].eof) continue;
      fds[n] = pollfd{pipes_[i].fd, POLLIN, 0};
      which[n++] = i;
    }
    if (n == 0 || ::poll(fds, static_cast<nfds_t>(n), wait_ms) <= 0) return;
    for (int k = 0; k < n; ++k) {
      if (fds[k].revents == 0) continue;
      Pipe& p = pipes_[which[k]];
      char buf[4096];
      const ssize_t got = ::read(p.fd, buf, sizeof buf);
      if (got > 0) {
        p.buffer.append(buf, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        p.eof = true;
      }
    }
  }

  pid_t pid_;
  std::function<void()> pump_;
  Pipe pipes_[2];
  bool ended_ = false;
  int exit_code_ = 0;
};

Value MakeStream(const std::shared_ptr<Child>& child, int which) {
  auto s = vbs::MakeRef<vbs::HostObject>("TextStream");
  s->AddMethod("ReadAll", [child, which](CallArgs&) {
    Pipe& p = child->pipe(which);
    child->WaitUntil([&] { return p.eof; });
    std::string all = std::move(p.buffer);
    p.buffer.clear();
    return Value::Str(all);
  });
  s->AddMethod("ReadLine", [child, which](CallArgs&) {
    Pipe& p = child->pipe(which);
    child->WaitUntil([&] { return p.buffer.find('\n') != std::string::npos; });
    if (p.buffer.empty() && p.eof) vbs::Throw(vbs::kErrPastEnd);
    const size_t nl = p.buffer.find('\n');
    std::string line = p.buffer.substr(0, nl);
    p.buffer.erase(0, nl == std::string::npos ? std::string::npos : nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return Value::Str(line);
  });
  s->AddProperty("AtEndOfStream", [child, which](CallArgs&) {
    Pipe& p = child->pipe(which);
    child->WaitUntil([&] { return !p.buffer.empty(); });
    return Value::Bool(p.buffer.empty() && p.eof);
  });
  return Value::Obj(s.get());
}

}  // namespace

Value StartProcessObject(const ProcessStart& start) {
  ReapOrphans();
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    throw std::runtime_error(std::strerror(errno));
  }
  std::vector<std::string> argv_text{start.program};
  argv_text.insert(argv_text.end(), start.args.begin(), start.args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_in = ::open("/dev/null", O_RDONLY);
    if (null_in >= 0) ::dup2(null_in, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    // The program's sockets stay with the program (a child holding the web
    // port would keep it bound after the program ended).
    const long max_fd = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (max_fd > 0 ? std::min<long>(max_fd, 65536) : 1024); ++fd) ::close(fd);
    for (const auto& [k, v] : start.env) ::setenv(k.c_str(), v.c_str(), 1);
    if (!start.directory.empty() && ::chdir(start.directory.c_str()) != 0) ::_exit(127);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    throw std::runtime_error(std::strerror(errno));
  }
  auto child = std::make_shared<Child>(pid, out[0], err[0], start.pump);
  Value stdout_stream = MakeStream(child, 0);
  Value stderr_stream = MakeStream(child, 1);

  auto o = vbs::MakeRef<vbs::HostObject>("WshScriptExec");
  o->AddProperty("Status", [child](CallArgs&) { return Value::Long(child->Ended() ? 1 : 0); });
  o->AddProperty("ExitCode", [child](CallArgs&) { return Value::Long(child->exit_code()); });
  o->AddProperty("ProcessID", [child](CallArgs&) { return Value::Long(child->pid()); });
  o->AddProperty("StdOut", [stdout_stream](CallArgs&) { return stdout_stream; });
  o->AddProperty("StdErr", [stderr_stream](CallArgs&) { return stderr_stream; });
  o->AddMethod("Terminate", [child](CallArgs&) {
    child->Terminate();
    return Value();
  });
  return Value::Obj(o.get());
}

}  // namespace corvane
