// WScript.Shell: running programs (Run, Exec), the environment and the
// current folder. Commands run through /bin/sh.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/text.h"
#include "vbscript/objects.h"
#include "vbscript/ops.h"

extern char** environ;

namespace corvane::vbs {

namespace {

// Starts `cmd` through the shell; the given fds become the child's standard
// streams (-1 leaves them as they are).
pid_t Spawn(const std::string& cmd, int in_fd, int out_fd, int err_fd, bool detach) {
  pid_t pid = fork();
  if (pid < 0) Throw(kErrCantCreate);
  if (pid == 0) {
    if (detach) {
      setsid();
      if (fork() != 0) _exit(0);
    }
    if (in_fd >= 0) dup2(in_fd, 0);
    if (out_fd >= 0) dup2(out_fd, 1);
    if (err_fd >= 0) dup2(err_fd, 2);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

// A read or write end of a child's standard stream.
const MemberTable kPipeMembers({"Read", "ReadAll", "ReadLine", "Skip", "SkipLine", "Write",
                                "WriteLine", "Close", "AtEndOfStream", "AtEndOfLine"});

class PipeStream : public BuiltinObject {
 public:
  PipeStream(Vm* vm, int fd, bool write)
      : BuiltinObject(vm, kPipeMembers), fd_(fd), write_(write) {}
  ~PipeStream() override { Close(); }
  std::string TypeName() const override { return "TextStream"; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 protected:
  Value Call(int id, InvokeKind, CallArgs& a) override {
    switch (id) {
      case 1: {
        int32_t n = a.size() > 0 ? ToLong(a[0]) : 1;
        Fill(static_cast<size_t>(std::max(n, 0)));
        size_t take = std::min(buf_.size(), static_cast<size_t>(std::max(n, 0)));
        std::string s = buf_.substr(0, take);
        buf_.erase(0, take);
        return Value::Str(s);
      }
      case 2: {
        Fill(SIZE_MAX);
        std::string s;
        s.swap(buf_);
        return Value::Str(s);
      }
      case 3:
      case 5: {
        while (buf_.find('\n') == std::string::npos && FillSome()) {
        }
        if (buf_.empty()) Throw(kErrPastEnd);
        size_t nl = buf_.find('\n');
        std::string line = buf_.substr(0, nl);
        buf_.erase(0, nl == std::string::npos ? buf_.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return id == 3 ? Value::Str(line) : Value();
      }
      case 4: {
        int32_t n = a.size() > 0 ? ToLong(a[0]) : 0;
        Fill(static_cast<size_t>(std::max(n, 0)));
        buf_.erase(0, std::min(buf_.size(), static_cast<size_t>(std::max(n, 0))));
        return Value();
      }
      case 6:
      case 7: {
        if (!write_ || fd_ < 0) Throw(kErrBadFileMode);
        std::string s = a.size() > 0 ? ToText(a[0]) : "";
        if (id == 7) s += "\n";
        size_t off = 0;
        while (off < s.size()) {
          ssize_t w = write(fd_, s.data() + off, s.size() - off);
          if (w <= 0) {
            if (w < 0 && errno == EINTR) continue;
            Throw(57);
          }
          off += static_cast<size_t>(w);
        }
        return Value();
      }
      case 8:
        Close();
        return Value();
      case 9:
        if (write_) Throw(kErrBadFileMode);
        return Value::Bool(buf_.empty() && !FillSome());
      case 10:
        if (buf_.empty() && !FillSome()) return Value::Bool(true);
        return Value::Bool(buf_[0] == '\n' || buf_[0] == '\r');
      default:
        Throw(kErrNoMember);
    }
  }

 private:
  bool FillSome() {
    if (write_ || fd_ < 0) return false;
    char tmp[4096];
    while (true) {
      ssize_t r = read(fd_, tmp, sizeof tmp);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        Close();
        return false;
      }
      buf_.append(tmp, static_cast<size_t>(r));
      CheckStringSize(buf_.size());
      return true;
    }
  }
  void Fill(size_t want) {
    while (buf_.size() < want && FillSome()) {
    }
  }

  int fd_;
  bool write_;
  std::string buf_;
};

const MemberTable kExecMembers({"Status", "ExitCode", "ProcessID", "StdOut", "StdErr", "StdIn",
                                "Terminate"});

class ExecObject : public BuiltinObject {
 public:
  ExecObject(Vm* vm, const std::string& cmd) : BuiltinObject(vm, kExecMembers) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0) Throw(kErrCantCreate);
    if (pipe(out) != 0) {
      close(in[0]);
      close(in[1]);
      Throw(kErrCantCreate);
    }
    if (pipe(err) != 0) {
      close(in[0]);
      close(in[1]);
      close(out[0]);
      close(out[1]);
      Throw(kErrCantCreate);
    }
    for (int fd : {in[1], out[0], err[0]}) fcntl(fd, F_SETFD, FD_CLOEXEC);
    pid_ = Spawn(cmd, in[0], out[1], err[1], false);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_ = Value::Obj(new PipeStream(vm, in[1], true));
    stdout_ = Value::Obj(new PipeStream(vm, out[0], false));
    stderr_ = Value::Obj(new PipeStream(vm, err[0], false));
  }
  ~ExecObject() override {
    if (pid_ > 0 && !done_) waitpid(pid_, nullptr, WNOHANG);
  }
  std::string TypeName() const override { return "WshExec"; }
  void ClearReferences() override {
    stdin_ = Value();
    stdout_ = Value();
    stderr_ = Value();
  }

 protected:
  Value Call(int id, InvokeKind, CallArgs&) override {
    switch (id) {
      case 1:
        Poll();
        return Value::Long(done_ ? 1 : 0);
      case 2:
        Poll();
        return Value::Long(exit_code_);
      case 3:
        return Value::Long(pid_);
      case 4:
        return stdout_;
      case 5:
        return stderr_;
      case 6:
        return stdin_;
      case 7:
        if (!done_) kill(pid_, SIGTERM);
        return Value();
      default:
        Throw(kErrNoMember);
    }
  }

 private:
  void Poll() {
    if (done_) return;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      done_ = true;
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
  }

  pid_t pid_ = -1;
  bool done_ = false;
  int32_t exit_code_ = 0;
  Value stdin_, stdout_, stderr_;
};

const MemberTable kEnvMembers({"Item", "Count", "Length", "Remove"}, 1);

class Environment : public BuiltinObject {
 public:
  explicit Environment(Vm* vm) : BuiltinObject(vm, kEnvMembers) {}
  std::string TypeName() const override { return "IWshEnvironment"; }
  std::unique_ptr<Enumerator> NewEnum() override {
    std::vector<Value> items;
    for (char** e = environ; e && *e; ++e) items.push_back(Value::Str(*e));
    return EnumerateValues(std::move(items));
  }

 protected:
  Value Call(int id, InvokeKind kind, CallArgs& a) override {
    switch (id) {
      case 1: {
        if (a.size() < 1) Throw(kErrArgNotOptional);
        std::string name = ToText(a[0]);
        if (kind == InvokeKind::kLet) {
          setenv(name.c_str(), ToText(a[a.size() - 1]).c_str(), 1);
          return Value();
        }
        const char* v = getenv(name.c_str());
        return Value::Str(v ? v : "");
      }
      case 2:
      case 3: {
        int32_t n = 0;
        for (char** e = environ; e && *e; ++e) ++n;
        return Value::Long(n);
      }
      case 4:
        if (a.size() < 1) Throw(kErrArgNotOptional);
        unsetenv(ToText(a[0]).c_str());
        return Value();
      default:
        Throw(kErrNoMember);
    }
  }
};

std::string ExpandEnv(const std::string& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    size_t p = s.find('%', i);
    if (p == std::string::npos) break;
    size_t q = s.find('%', p + 1);
    if (q == std::string::npos) break;
    out.append(s, i, p - i);
    std::string name = s.substr(p + 1, q - p - 1);
    const char* v = name.empty() ? nullptr : getenv(name.c_str());
    if (v) {
      out += v;
      i = q + 1;
    } else {
      out.append(s, p, q - p);
      i = q;
    }
  }
  out.append(s, i, std::string::npos);
  return out;
}

const MemberTable kShellMembers({"Run", "Exec", "Environment", "ExpandEnvironmentStrings",
                                 "CurrentDirectory", "Popup", "LogEvent", "RegRead", "RegWrite",
                                 "RegDelete", "AppActivate", "SendKeys", "SpecialFolders"});

class Shell : public BuiltinObject {
 public:
  explicit Shell(Vm* vm) : BuiltinObject(vm, kShellMembers) {}
  std::string TypeName() const override { return "IWshShell3"; }

 protected:
  Value Call(int id, InvokeKind kind, CallArgs& a) override {
    switch (id) {
      case 1: {
        if (a.size() < 1) Throw(kErrArgNotOptional);
        std::string cmd = ExpandEnv(ToText(a[0]));
        bool wait = a.Has(2) && ToBool(a[2]);
        pid_t pid = Spawn(cmd, -1, -1, -1, !wait);
        int code = WaitExit(pid);
        return Value::Long(wait ? code : 0);
      }
      case 2:
        if (a.size() < 1) Throw(kErrArgNotOptional);
        return Value::Obj(new ExecObject(vm_, ExpandEnv(ToText(a[0]))));
      case 3:
        return Value::Obj(new Environment(vm_));
      case 4:
        if (a.size() < 1) Throw(kErrArgNotOptional);
        return Value::Str(ExpandEnv(ToText(a[0])));
      case 5: {
        if (kind == InvokeKind::kLet) {
          if (chdir(ToText(a[a.size() - 1]).c_str()) != 0) Throw(kErrPathNotFound);
          return Value();
        }
        char buf[PATH_MAX];
        return Value::Str(getcwd(buf, sizeof buf) ? buf : "");
      }
      case 6:
        if (a.size() < 1) Throw(kErrArgNotOptional);
        vm_->Log("Popup", ToText(a[0]));
        return Value::Integer(-1);
      case 7:
        if (a.size() < 2) Throw(kErrArgNotOptional);
        vm_->Log("LogEvent", ToText(a[1]));
        return Value::Bool(true);
      case 8:
      case 9:
      case 10:
        Throw(kErrPermission);
      case 11:
        return Value::Bool(false);
      case 12:
        return Value();
      case 13: {
        const char* home = getenv("HOME");
        return Value::Str(home ? home : "/");
      }
      default:
        Throw(kErrNoMember);
    }
  }
};

}  // namespace

Value NewShell(Vm& vm) {
  return Value::Obj(new Shell(&vm));
}

}  // namespace corvane::vbs
