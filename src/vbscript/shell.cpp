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
class PipeStream : public BuiltinObject<PipeStream> {
 public:
  PipeStream(Vm* vm, int fd, bool write) : BuiltinObject(vm, kMembers), fd_(fd), write_(write) {}
  ~PipeStream() override { CloseFd(); }
  std::string TypeName() const override { return "TextStream"; }

 private:
  static const MemberTable<PipeStream> kMembers;

  // --- Members.
  Value Read(InvokeKind, CallArgs& a) {
    int32_t n = a.size() > 0 ? ToLong(a[0]) : 1;
    Fill(static_cast<size_t>(std::max(n, 0)));
    size_t take = std::min(buf_.size(), static_cast<size_t>(std::max(n, 0)));
    std::string s = buf_.substr(0, take);
    buf_.erase(0, take);
    return Value::Str(s);
  }
  Value ReadAll(InvokeKind, CallArgs&) {
    Fill(SIZE_MAX);
    std::string s;
    s.swap(buf_);
    return Value::Str(s);
  }
  Value ReadLine(InvokeKind, CallArgs&) { return Value::Str(TakeLine()); }
  Value Skip(InvokeKind, CallArgs& a) {
    int32_t n = a.size() > 0 ? ToLong(a[0]) : 0;
    Fill(static_cast<size_t>(std::max(n, 0)));
    buf_.erase(0, std::min(buf_.size(), static_cast<size_t>(std::max(n, 0))));
    return Value();
  }
  Value SkipLine(InvokeKind, CallArgs&) {
    TakeLine();
    return Value();
  }
  Value Write(InvokeKind, CallArgs& a) { return Put(a, ""); }
  Value WriteLine(InvokeKind, CallArgs& a) { return Put(a, "\n"); }
  Value Close(InvokeKind, CallArgs&) {
    CloseFd();
    return Value();
  }
  Value AtEndOfStream(InvokeKind, CallArgs&) {
    if (write_) Throw(kErrBadFileMode);
    return Value::Bool(buf_.empty() && !FillSome());
  }
  Value AtEndOfLine(InvokeKind, CallArgs&) {
    if (buf_.empty() && !FillSome()) return Value::Bool(true);
    return Value::Bool(buf_[0] == '\n' || buf_[0] == '\r');
  }

  // --- Reading and writing.
  void CloseFd() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool FillSome() {
    if (write_ || fd_ < 0) return false;
    char tmp[4096];
    while (true) {
      ssize_t r = read(fd_, tmp, sizeof tmp);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        CloseFd();
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
  // The next line without its line end; error 62 at the end of the stream.
  std::string TakeLine() {
    while (buf_.find('\n') == std::string::npos && FillSome()) {
    }
    if (buf_.empty()) Throw(kErrPastEnd);
    size_t nl = buf_.find('\n');
    std::string line = buf_.substr(0, nl);
    buf_.erase(0, nl == std::string::npos ? buf_.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  // Writes the first argument (if any) and `end`.
  Value Put(CallArgs& a, const char* end) {
    if (!write_ || fd_ < 0) Throw(kErrBadFileMode);
    std::string s = a.size() > 0 ? ToText(a[0]) : "";
    s += end;
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

  int fd_;
  bool write_;
  std::string buf_;
};

const MemberTable<PipeStream> PipeStream::kMembers({
    {"Read", &PipeStream::Read},
    {"ReadAll", &PipeStream::ReadAll},
    {"ReadLine", &PipeStream::ReadLine},
    {"Skip", &PipeStream::Skip},
    {"SkipLine", &PipeStream::SkipLine},
    {"Write", &PipeStream::Write},
    {"WriteLine", &PipeStream::WriteLine},
    {"Close", &PipeStream::Close},
    {"AtEndOfStream", &PipeStream::AtEndOfStream},
    {"AtEndOfLine", &PipeStream::AtEndOfLine},
});

// What Shell.Exec gives: the running program and its three streams.
class ExecObject : public BuiltinObject<ExecObject> {
 public:
  ExecObject(Vm* vm, const std::string& cmd) : BuiltinObject(vm, kMembers) {
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

 private:
  static const MemberTable<ExecObject> kMembers;

  // --- Members.
  Value Status(InvokeKind, CallArgs&) {
    Poll();
    return Value::Long(done_ ? 1 : 0);
  }
  Value ExitCode(InvokeKind, CallArgs&) {
    Poll();
    return Value::Long(exit_code_);
  }
  Value ProcessID(InvokeKind, CallArgs&) { return Value::Long(pid_); }
  Value StdOut(InvokeKind, CallArgs&) { return stdout_; }
  Value StdErr(InvokeKind, CallArgs&) { return stderr_; }
  Value StdIn(InvokeKind, CallArgs&) { return stdin_; }
  Value Terminate(InvokeKind, CallArgs&) {
    if (!done_) kill(pid_, SIGTERM);
    return Value();
  }

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

const MemberTable<ExecObject> ExecObject::kMembers({
    {"Status", &ExecObject::Status},
    {"ExitCode", &ExecObject::ExitCode},
    {"ProcessID", &ExecObject::ProcessID},
    {"StdOut", &ExecObject::StdOut},
    {"StdErr", &ExecObject::StdErr},
    {"StdIn", &ExecObject::StdIn},
    {"Terminate", &ExecObject::Terminate},
});

// Shell.Environment: this process's environment variables.
class WshEnvironment : public BuiltinObject<WshEnvironment> {
 public:
  explicit WshEnvironment(Vm* vm) : BuiltinObject(vm, kMembers) {}
  std::string TypeName() const override { return "IWshEnvironment"; }
  std::unique_ptr<Enumerator> NewEnum() override {
    std::vector<Value> items;
    for (char** e = environ; e && *e; ++e) items.push_back(Value::Str(*e));
    return EnumerateValues(std::move(items));
  }

 private:
  static const MemberTable<WshEnvironment> kMembers;

  // Item(name) [= value]
  Value Item(InvokeKind kind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    std::string name = ToText(a[0]);
    if (kind == InvokeKind::kLet) {
      setenv(name.c_str(), ToText(a[a.size() - 1]).c_str(), 1);
      return Value();
    }
    const char* v = getenv(name.c_str());
    return Value::Str(v ? v : "");
  }
  Value Count(InvokeKind, CallArgs&) {  // also Length
    int32_t n = 0;
    for (char** e = environ; e && *e; ++e) ++n;
    return Value::Long(n);
  }
  Value Remove(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    unsetenv(ToText(a[0]).c_str());
    return Value();
  }
};

const MemberTable<WshEnvironment> WshEnvironment::kMembers(
    {
        {"Item", &WshEnvironment::Item},
        {"Count", &WshEnvironment::Count},
        {"Length", &WshEnvironment::Count},
        {"Remove", &WshEnvironment::Remove},
    },
    "Item");

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

class Shell : public BuiltinObject<Shell> {
 public:
  explicit Shell(Vm* vm) : BuiltinObject(vm, kMembers) {}
  std::string TypeName() const override { return "IWshShell3"; }

 private:
  static const MemberTable<Shell> kMembers;

  // Run command [, window [, wait]]: the exit code when waiting, else 0 (the
  // program runs on, detached).
  Value Run(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    std::string cmd = ExpandEnv(ToText(a[0]));
    bool wait = a.Has(2) && ToBool(a[2]);
    pid_t pid = Spawn(cmd, -1, -1, -1, !wait);
    int code = WaitExit(pid);
    return Value::Long(wait ? code : 0);
  }
  Value Exec(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    return Value::Obj(new ExecObject(vm_, ExpandEnv(ToText(a[0]))));
  }
  Value Environment(InvokeKind, CallArgs&) { return Value::Obj(new WshEnvironment(vm_)); }
  Value ExpandEnvironmentStrings(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    return Value::Str(ExpandEnv(ToText(a[0])));
  }
  Value CurrentDirectory(InvokeKind kind, CallArgs& a) {
    if (kind == InvokeKind::kLet) {
      if (chdir(ToText(a[a.size() - 1]).c_str()) != 0) Throw(kErrPathNotFound);
      return Value();
    }
    char buf[PATH_MAX];
    return Value::Str(getcwd(buf, sizeof buf) ? buf : "");
  }
  // There is no one to see a dialog: the text goes to the host's log.
  Value Popup(InvokeKind, CallArgs& a) {
    if (a.size() < 1) Throw(kErrArgNotOptional);
    vm_->Log("Popup", ToText(a[0]));
    return Value::Integer(-1);
  }
  Value LogEvent(InvokeKind, CallArgs& a) {
    if (a.size() < 2) Throw(kErrArgNotOptional);
    vm_->Log("LogEvent", ToText(a[1]));
    return Value::Bool(true);
  }
  // There is no registry.
  Value Registry(InvokeKind, CallArgs&) { Throw(kErrPermission); }
  Value AppActivate(InvokeKind, CallArgs&) { return Value::Bool(false); }
  Value SendKeys(InvokeKind, CallArgs&) { return Value(); }
  Value SpecialFolders(InvokeKind, CallArgs&) {
    const char* home = getenv("HOME");
    return Value::Str(home ? home : "/");
  }
};

const MemberTable<Shell> Shell::kMembers({
    {"Run", &Shell::Run},
    {"Exec", &Shell::Exec},
    {"Environment", &Shell::Environment},
    {"ExpandEnvironmentStrings", &Shell::ExpandEnvironmentStrings},
    {"CurrentDirectory", &Shell::CurrentDirectory},
    {"Popup", &Shell::Popup},
    {"LogEvent", &Shell::LogEvent},
    {"RegRead", &Shell::Registry},
    {"RegWrite", &Shell::Registry},
    {"RegDelete", &Shell::Registry},
    {"AppActivate", &Shell::AppActivate},
    {"SendKeys", &Shell::SendKeys},
    {"SpecialFolders", &Shell::SpecialFolders},
});

}  // namespace

Value NewShell(Vm& vm) {
  return Value::Obj(new Shell(&vm));
}

}  // namespace corvane::vbs
