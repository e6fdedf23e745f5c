#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace corvane::testing {

std::string BinDir() {
  const char* dir = std::getenv("CORVANE_BIN_DIR");
  return dir ? dir : "bin";
}

Subprocess::~Subprocess() {
  if (pid_ > 0 && Running()) Stop(SIGKILL, std::chrono::seconds(5));
}

bool Subprocess::Start(std::vector<std::string> argv, const std::string& log_prefix) {
  if (argv.empty()) return false;
  if (argv[0].find('/') == std::string::npos) argv[0] = BinDir() + "/" + argv[0];
  out_path_ = log_prefix.empty() ? "/dev/null" : log_prefix + ".out";
  err_path_ = log_prefix.empty() ? "/dev/null" : log_prefix + ".err";
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) ::dup2(out, 1);
    if (err >= 0) ::dup2(err, 2);
    // The child starts with the default signal dispositions and mask.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  pid_ = pid;
  status_ = -1;
  return true;
}

bool Subprocess::Running() {
  if (pid_ <= 0 || status_ != -1) return false;
  int status = 0;
  pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return r == 0;
}

int Subprocess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  Eventually([&] { return !Running(); }, timeout);
  return status_;
}

int Subprocess::Stop(int sig, std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return -1;
  if (Running()) ::kill(pid_, sig);
  return Wait(timeout);
}

bool StartCorvane(Subprocess& corvane, const std::string& home, std::string log_prefix,
                  std::chrono::milliseconds timeout) {
  if (log_prefix.empty()) log_prefix = home + "/corvane";
  if (!corvane.Start({"corvane", "--home", home}, log_prefix)) return false;
  return Eventually([&] { return corvane.Printed("Corvane running"); }, timeout);
}

}  // namespace corvane::testing
