// xap-send: sends one xAP message built from its arguments to a loopback
// address, and optionally prints the xAP messages that arrive on a port for
// a while. For trying Corvane by hand, for scripts and for tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/folders.h"
#include "core/text.h"
#include "xap/xap_message.h"

namespace {

using corvane::CompareXapAddress;
using corvane::XapMessage;

void PrintUsage(std::ostream& out) {
  out << "Usage: xap-send [options] [SECTION [NAME=VALUE]...]...\n"
         "\n"
         "Sends one xAP message to a loopback address and, with --listen, prints the\n"
         "xAP messages that arrive for a while. Each argument without '=' opens a\n"
         "section; each NAME=VALUE adds an item to the section opened last.\n"
         "\n"
         "  --class CLASS          the message class (needed to send)\n"
         "  --target ADDRESS       the target address (default: no target line)\n"
         "  --source ADDRESS       the source address (default: zyn.xapsend.HOST)\n"
         "  --uid UID              the UID (default: FF.00DD:00)\n"
         "  --raw                  send standard input unchanged instead\n"
         "  --to ADDRESS           where to send: a 127.x.x.x address\n"
         "                         (default 127.255.255.255, the loopback broadcast)\n"
         "  --port N               the port to send to (default 3639)\n"
         "  --listen SECONDS       print the messages that arrive for this long\n"
         "                         (the listening socket opens before the message is sent)\n"
         "  --listen-port N        the port to listen on (default 3639, shared with a\n"
         "                         hub that binds it shareable: broadcasts reach both).\n"
         "                         When a hub holds 3639 for itself, or with --hub, it\n"
         "                         listens on a port of its own on 127.0.0.1 and\n"
         "                         announces it to the hub by heartbeat, as any client\n"
         "                         behind a hub does\n"
         "  --hub                  listen behind the hub (own port, heartbeats)\n"
         "  --listen-address ADDR  the address to listen on (default 0.0.0.0)\n"
         "  --filter-class CLASS   print only this class (parts '*' and '>' match any)\n"
         "  --filter-source ADDR   print only messages from this source (likewise)\n"
         "  --count N              stop listening after N messages were printed; the\n"
         "                         exit code is 1 when fewer arrived\n"
         "  --heartbeats           print heartbeats too\n"
         "  --help                 print this help\n"
         "\n"
         "Example: command every zone record of Corvane on this computer to level 40\n"
         "and watch the events it sends:\n"
         "  xap-send --class xAPBSC.cmd --target 'zyn.Vaux.*:>' \\\n"
         "      output.state.1 'ID=*' Level=40 --listen 5 --filter-class xapbsc.event\n";
}

[[noreturn]] void Fail(const std::string& text, int code = 2) {
  std::cerr << "xap-send: " << text << "\n";
  std::exit(code);
}

constexpr int kHeartbeatSeconds = 60;

std::optional<in_addr> Ipv4(const std::string& text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return std::nullopt;
  return a;
}

uint16_t PortArg(const std::string& v, bool zero_ok = false) {
  const double p = corvane::IsNumeric(v) ? corvane::LeadingNumber(v) : -1;
  if (p < (zero_ok ? 0 : 1) || p > 65535 || p != static_cast<int>(p)) Fail("bad port '" + v + "'");
  return static_cast<uint16_t>(p);
}

double NumberArg(const std::string& name, const std::string& v) {
  const double n = corvane::IsNumeric(v) ? corvane::LeadingNumber(v) : -1;
  if (n < 0 || n > 86400) Fail("bad value for " + name + ": '" + v + "'");
  return n;
}

struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> items;
};

struct Options {
  std::string msg_class, target, source, uid = "FF.00DD:00";
  bool raw = false;
  std::string to = "127.255.255.255";
  uint16_t port = 3639;
  double listen_seconds = -1;
  uint16_t listen_port = 3639;
  bool listen_port_given = false;
  bool hub = false;
  std::string listen_address = "0.0.0.0";
  std::string filter_class, filter_source;
  long count = -1;
  bool heartbeats = false;
  std::vector<Section> sections;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      PrintUsage(std::cout);
      std::exit(0);
    } else if (arg == "--class") {
      o.msg_class = value();
    } else if (arg == "--target") {
      o.target = value();
    } else if (arg == "--source") {
      o.source = value();
    } else if (arg == "--uid") {
      o.uid = value();
    } else if (arg == "--raw") {
      o.raw = true;
    } else if (arg == "--to") {
      o.to = value();
    } else if (arg == "--port") {
      o.port = PortArg(value());
    } else if (arg == "--listen") {
      o.listen_seconds = NumberArg(arg, value());
    } else if (arg == "--listen-port") {
      o.listen_port = PortArg(value(), true);
      o.listen_port_given = true;
    } else if (arg == "--hub") {
      o.hub = true;
    } else if (arg == "--listen-address") {
      o.listen_address = value();
    } else if (arg == "--filter-class") {
      o.filter_class = value();
    } else if (arg == "--filter-source") {
      o.filter_source = value();
    } else if (arg == "--count") {
      o.count = static_cast<long>(NumberArg(arg, value()));
    } else if (arg == "--heartbeats") {
      o.heartbeats = true;
    } else if (arg.rfind("--", 0) == 0) {
      Fail("unknown option '" + arg + "' (see --help)");
    } else if (const size_t eq = arg.find('='); eq != std::string::npos) {
      if (o.sections.empty()) Fail("item '" + arg + "' comes before any section");
      o.sections.back().items.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
    } else {
      o.sections.push_back({arg, {}});
    }
  }
  for (const auto& text : {o.msg_class, o.target, o.source, o.uid}) {
    if (text.find('\n') != std::string::npos) Fail("a header field holds a line end");
  }
  return o;
}

// The source given, or this tool's own address on this computer.
std::string Source(const Options& o) {
  return o.source.empty() ? "zyn.xapsend." + corvane::ComputerName() : o.source;
}

std::string BuildMessage(const Options& o) {
  XapMessage m;
  m.SetMsgClass(o.msg_class);
  m.SetMsgSource(Source(o));
  m.SetMsgTarget(o.target);
  m.SetMsgUID(o.uid);
  m.AddHeader();
  for (const auto& s : o.sections) {
    m.AddSection(s.name);
    for (const auto& [name, value] : s.items) m.AddItem(s.name, name, value);
  }
  return m.ToXap();
}

bool Wanted(const Options& o, const std::string& text) {
  const bool heartbeat = corvane::StartsWithIgnoreCase(text, "xap-hbeat");
  if (heartbeat && !o.heartbeats) return false;
  if (o.filter_class.empty() && o.filter_source.empty()) return true;
  // Heartbeats are not parsed as messages; read their header lines directly.
  std::string text_class, text_source;
  if (heartbeat) {
    for (const auto& line : corvane::Split(text, '\n')) {
      if (corvane::StartsWithIgnoreCase(line, "class=")) text_class = line.substr(6);
      if (corvane::StartsWithIgnoreCase(line, "source=")) text_source = line.substr(7);
    }
  } else {
    XapMessage m;
    m.FromXap(text);
    text_class = m.MsgClass();
    text_source = m.MsgSource();
  }
  if (!o.filter_class.empty() && !CompareXapAddress(o.filter_class, text_class)) return false;
  if (!o.filter_source.empty() && !CompareXapAddress(o.filter_source, text_source)) return false;
  return true;
}

// A UDP socket with one option switched on, and the address to use with it.
int OpenSocket(int option) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail(std::string("socket: ") + std::strerror(errno), 1);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, option, &on, sizeof on);
  return fd;
}

sockaddr_in Endpoint(in_addr address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr = address;
  return sa;
}

int Bind(in_addr address, uint16_t port, int option) {
  const int fd = OpenSocket(option);
  const sockaddr_in sa = Endpoint(address, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// Where the listener ended up: its socket, and the port a hub must be told
// of (0 when it shares the xAP port and needs no hub).
struct Listener {
  int fd = -1;
  uint16_t hub_port = 0;
};

Listener OpenListener(const Options& o) {
  const auto address = Ipv4(o.listen_address);
  if (!address) Fail("bad listen address '" + o.listen_address + "'");
  if (!o.hub) {
    const int fd = Bind(*address, o.listen_port, SO_REUSEADDR);
    if (fd >= 0) return {fd, 0};
    // A hub that holds the xAP port for itself relays only to the ports it
    // learned from heartbeats: listen behind it like any other client.
    if (errno != EADDRINUSE || o.listen_port_given) {
      Fail("cannot listen on " + o.listen_address + ":" + std::to_string(o.listen_port) + ": " +
               std::strerror(errno),
           1);
    }
    std::cerr << "xap-send: UDP " << o.listen_port
              << " is held by a hub; listening behind it on a port of its own\n";
  }
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  const int fd = Bind(loopback, 0, SO_REUSEADDR);
  if (fd < 0) Fail(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno), 1);
  return {fd, LocalPort(fd)};
}

void Send(const Options& o, const std::string& datagram) {
  const auto address = Ipv4(o.to);
  // Only this machine: a loopback address (127.0.0.0/8).
  if (!address || (ntohl(address->s_addr) >> 24) != 127) {
    Fail("'" + o.to + "' is not a loopback address (127.x.x.x)");
  }
  const int fd = OpenSocket(SO_BROADCAST);
  const sockaddr_in sa = Endpoint(*address, o.port);
  const ssize_t n = ::sendto(fd, datagram.data(), datagram.size(), 0,
                             reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  const int err = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(datagram.size())) {
    Fail("cannot send to " + o.to + ":" + std::to_string(o.port) + ": " + std::strerror(err), 1);
  }
}

// The heartbeat that tells the hub where to relay: "alive" while listening,
// "stopped" at the end.
std::string Heartbeat(const Options& o, uint16_t port, const char* state) {
  const std::string source = Source(o);
  return "xap-hbeat\n{\nv=13\nhop=1\nuid=" + o.uid + "\nclass=xap-hbeat." + state +
         "\nsource=" + source + "\ninterval=" + std::to_string(kHeartbeatSeconds) +
         "\nport=" + std::to_string(port) + "\n}\n";
}

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

// Prints what arrives until the time is up, N messages were printed or a
// signal came. Returns the number printed.
long Listen(const Options& o, const Listener& listener, const std::string& sent) {
  using Clock = std::chrono::steady_clock;
  const int fd = listener.fd;
  const auto end =
      Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(o.listen_seconds * 1000));
  auto next_heartbeat = Clock::now() + std::chrono::seconds(kHeartbeatSeconds);
  bool own_skipped = false;
  long printed = 0;
  std::vector<char> buf(65536);
  while (!g_stop && (o.count < 0 || printed < o.count)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) break;
    if (listener.hub_port && Clock::now() >= next_heartbeat) {
      Send(o, Heartbeat(o, listener.hub_port, "alive"));
      next_heartbeat += std::chrono::seconds(kHeartbeatSeconds);
    }
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (r <= 0) continue;
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    if (n < 0) continue;
    const std::string text(buf.data(), static_cast<size_t>(n));
    // The message this run sent comes back once when sent to a broadcast
    // address this socket hears.
    if (!own_skipped && !sent.empty() && text == sent) {
      own_skipped = true;
      continue;
    }
    if (!Wanted(o, text)) continue;
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    ++printed;
  }
  return printed;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  std::string datagram;
  if (o.raw) {
    datagram.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (datagram.empty()) Fail("nothing on standard input to send");
    if (datagram.size() > 65507) Fail("the message is longer than a UDP datagram");
  } else if (!o.msg_class.empty()) {
    if (o.sections.empty()) Fail("a message needs at least one section");
    datagram = BuildMessage(o);
  } else if (!o.sections.empty()) {
    Fail("--class is needed to send a message");
  }
  if (datagram.empty() && o.listen_seconds < 0) {
    PrintUsage(std::cerr);
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);

  const Listener listener = o.listen_seconds >= 0 ? OpenListener(o) : Listener{};
  if (listener.hub_port) {
    Send(o, Heartbeat(o, listener.hub_port, "alive"));
    // The hub learns the port from the heartbeat before the answers come.
    ::usleep(100'000);
  }
  if (!datagram.empty()) Send(o, datagram);
  if (listener.fd < 0) return 0;
  const long printed = Listen(o, listener, datagram);
  if (listener.hub_port) Send(o, Heartbeat(o, listener.hub_port, "stopped"));
  ::close(listener.fd);
  return (o.count >= 0 && printed < o.count) ? 1 : 0;
}
