// vaux-sim: a Vaux Aris 700 controller simulator for tests, demos and users
// without the hardware. Serves the controller protocol over TCP on 127.0.0.1
// or over a pseudo-terminal, and can misbehave on purpose.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/signals.h"
#include "simulator.h"

namespace {

using corvane::EventLoop;
using corvane::sim::SimOptions;
using corvane::sim::VauxSimulator;

void Usage(FILE* out) {
  std::fputs(
      "Usage: vaux-sim (--tcp PORT | --pty) [options]\n"
      "\n"
      "Simulates a Vaux Aris 700 audio controller (6 zones, 8 inputs).\n"
      "\n"
      "  --tcp PORT        serve TCP on 127.0.0.1:PORT (0 picks a free port)\n"
      "  --pty             serve a pseudo-terminal and print its path\n"
      "  --fault KIND      misbehave: silent, slow, garbage, drop, wrong-zone, close\n"
      "                    (close: accept every TCP connection and close it at once)\n"
      "                    (may be given more than once)\n"
      "  --slow-ms N       reply delay of the slow fault (default 1500)\n"
      "  --silent-for S    answer nothing for the first S seconds, then answer\n"
      "  --link PATH       with --pty: make PATH a symbolic link to the pty (as\n"
      "                    udev's by-id links are); removed on exit\n"
      "  --drop-after N    the drop fault closes the TCP connection once, after\n"
      "                    the reply to the Nth command (default 3)\n"
      "  --ack             answer requests with VI80 before their VS/VX line\n"
      "  --split-vx        send VX on a line of its own before its data\n"
      "  --events          send a VV event line after each performed control\n"
      "  --quiet           print only the address or pty path\n"
      "  --help            print this help\n"
      "\n"
      "Prints '<- COMMAND' for every command and '-> REPLY' for every reply line.\n",
      out);
}

std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r' || c == '\n') continue;
    if (c < 32 || c > 126) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "<%02X>", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

class Server {
 public:
  Server(EventLoop& loop, const SimOptions& options, bool quiet)
      : loop_(loop), sim_(options), quiet_(quiet), delay_timer_(loop, [this] { Flush(); }) {}

  int slow_ms = 1500;
  bool slow = false;
  int64_t silent_until_ms = 0;  // answer nothing before this time
  bool drop = false;
  int drop_after = 3;
  bool close_all = false;

  bool ListenTcp(int port) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 4) != 0) {
      std::fprintf(stderr, "vaux-sim: cannot listen on 127.0.0.1:%d: %s\n", port,
                   std::strerror(errno));
      return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("vaux-sim listening on 127.0.0.1:%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    loop_.Watch(listen_fd_, EventLoop::kReadable, [this](unsigned) { Accept(); });
    return true;
  }

  const std::string& PtyName() const { return pty_name_; }

  bool OpenPty() {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
      std::fprintf(stderr, "vaux-sim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
      return false;
    }
    const char* name = ::ptsname(master);
    pty_name_ = name ? name : "";
    // Holding the other side open keeps the line up (and raw) while no
    // program has it open.
    slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave_fd_ >= 0 && ::tcgetattr(slave_fd_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(slave_fd_, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    std::printf("vaux-sim pty %s\n", name);
    std::fflush(stdout);
    conn_fd_ = master;
    conn_watch_ = loop_.Watch(master, EventLoop::kReadable, [this](unsigned) { Read(); });
    return true;
  }

 private:
  void Say(const char* prefix, const std::string& text) {
    if (quiet_) return;
    std::printf("%s%s\n", prefix, text.c_str());
    std::fflush(stdout);
  }

  void Accept() {
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (close_all) {
      ::close(fd);
      Say("", "accepted and closed");
      return;
    }
    CloseConnection();  // one controller port: a new connection replaces the old one
    conn_fd_ = fd;
    conn_commands_ = 0;
    Say("", "connected");
    conn_watch_ = loop_.Watch(fd, EventLoop::kReadable, [this](unsigned) { Read(); });
  }

  void CloseConnection() {
    if (conn_fd_ < 0 || listen_fd_ < 0) return;
    loop_.Unwatch(conn_watch_);
    ::close(conn_fd_);
    conn_fd_ = -1;
    queue_.clear();
    Say("", "disconnected");
  }

  void Read() {
    char buf[4096];
    ssize_t n = ::read(conn_fd_, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)) {
      CloseConnection();
      return;
    }
    if (n <= 0) return;
    const size_t seen = sim_.Commands().size();
    auto replies = sim_.Feed(std::string_view(buf, static_cast<size_t>(n)));
    for (size_t i = seen; i < sim_.Commands().size(); ++i)
      Say("<- ", Printable(sim_.Commands()[i]));
    conn_commands_ += static_cast<int>(sim_.Commands().size() - seen);
    if (loop_.NowMs() < silent_until_ms) {
      Say("", "silent: no reply");
      return;
    }
    const int64_t due = loop_.NowMs() + (slow ? slow_ms : 0);
    for (auto& r : replies) queue_.push_back({due, std::move(r)});
    if (drop && !dropped_ && conn_commands_ >= drop_after && listen_fd_ >= 0) {
      dropped_ = true;
      drop_pending_ = true;
    }
    Flush();
  }

  void Flush() {
    while (!queue_.empty() && queue_.front().due <= loop_.NowMs()) {
      const std::string text = std::move(queue_.front().text);
      queue_.pop_front();
      Say("-> ", Printable(text));
      if (conn_fd_ >= 0) {
        ssize_t ignored = ::write(conn_fd_, text.data(), text.size());
        (void)ignored;
      }
    }
    if (queue_.empty() && drop_pending_) {
      drop_pending_ = false;
      Say("", "dropping the connection");
      CloseConnection();
    }
    if (queue_.empty()) {
      delay_timer_.Stop();
    } else {
      delay_timer_.SetInterval(std::max<int64_t>(1, queue_.front().due - loop_.NowMs()));
      delay_timer_.Start();
    }
  }

  struct Pending {
    int64_t due;
    std::string text;
  };

  EventLoop& loop_;
  VauxSimulator sim_;
  bool quiet_;
  corvane::Timer delay_timer_;
  std::deque<Pending> queue_;
  std::string pty_name_;
  int listen_fd_ = -1;
  int conn_fd_ = -1;
  int slave_fd_ = -1;
  uint64_t conn_watch_ = 0;
  int conn_commands_ = 0;
  bool dropped_ = false;
  bool drop_pending_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  int tcp_port = -1;
  bool pty = false, quiet = false, slow = false, drop = false, close_all = false;
  int slow_ms = 1500, drop_after = 3;
  double silent_for = 0;
  std::string link;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vaux-sim: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    } else if (a == "--tcp") {
      tcp_port = std::atoi(value().c_str());
    } else if (a == "--pty") {
      pty = true;
    } else if (a == "--fault") {
      std::string f = value();
      if (f == "silent")
        options.silent = true;
      else if (f == "slow")
        slow = true;
      else if (f == "garbage")
        options.garbage = true;
      else if (f == "drop")
        drop = true;
      else if (f == "wrong-zone")
        options.wrong_zone = true;
      else if (f == "close")
        close_all = true;
      else {
        std::fprintf(stderr, "vaux-sim: unknown fault '%s'\n", f.c_str());
        return 2;
      }
    } else if (a == "--slow-ms") {
      slow_ms = std::atoi(value().c_str());
    } else if (a == "--silent-for") {
      silent_for = std::atof(value().c_str());
    } else if (a == "--link") {
      link = value();
    } else if (a == "--drop-after") {
      drop_after = std::atoi(value().c_str());
    } else if (a == "--ack") {
      options.ack_requests = true;
    } else if (a == "--split-vx") {
      options.split_vx = true;
    } else if (a == "--events") {
      options.events = true;
    } else if (a == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "vaux-sim: unknown option '%s'\n", a.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if ((tcp_port < 0) == !pty || tcp_port > 65535) {
    Usage(stderr);
    return 2;
  }

  ::signal(SIGPIPE, SIG_IGN);
  const int sig_fd = corvane::BlockTerminationSignals();

  corvane::SteadyClock clock;
  EventLoop loop(clock);
  Server server(loop, options, quiet);
  server.slow = slow;
  server.slow_ms = slow_ms;
  server.drop = drop;
  server.drop_after = drop_after;
  server.close_all = close_all;
  server.silent_until_ms = loop.NowMs() + static_cast<int64_t>(silent_for * 1000);
  if (pty ? !server.OpenPty() : !server.ListenTcp(tcp_port)) return 1;
  if (pty && !link.empty()) {
    // Replaced atomically: a program watching the path never sees it half made.
    const std::string tmp = link + ".new";
    ::unlink(tmp.c_str());
    if (::symlink(server.PtyName().c_str(), tmp.c_str()) != 0 ||
        ::rename(tmp.c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "vaux-sim: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
      return 1;
    }
  }
  corvane::WatchTerminationSignals(loop, sig_fd, [&](int) { loop.Quit(); });
  loop.Run();
  if (pty && !link.empty()) ::unlink(link.c_str());
  return 0;
}
