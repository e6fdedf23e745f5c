#include "platform/signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/event_loop.h"

namespace corvane {

int BlockTerminationSignals() {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGHUP);
  ::sigprocmask(SIG_BLOCK, &mask, nullptr);
  return ::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
}

void WatchTerminationSignals(EventLoop& loop, int fd, std::function<void(int signo)> on_signal) {
  if (fd < 0) return;
  loop.Watch(fd, EventLoop::kReadable, [fd, on_signal = std::move(on_signal)](unsigned) {
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      on_signal(static_cast<int>(info.ssi_signo));
    }
  });
}

}  // namespace corvane
