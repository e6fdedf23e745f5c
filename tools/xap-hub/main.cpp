// xap-hub: a local xAP hub for Linux.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "core/text.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/signals.h"
#include "platform/udp_socket.h"
#include "xap_hub.h"

namespace {

void PrintUsage(std::ostream& out) {
  out << "Usage: xap-hub [--port N] [--bind ADDRESS] [--verbose] [--help]\n"
         "\n"
         "Relays xAP datagrams arriving on UDP port N (default 3639) to the programs on\n"
         "this computer that announce a port= line in their heartbeats.\n"
         "\n"
         "  --port N         the xAP port to listen on (default 3639)\n"
         "  --bind ADDRESS   the local address to listen on (default 0.0.0.0: every\n"
         "                   address, so that broadcasts from the network arrive)\n"
         "  --verbose, -v    print every client learned or forgotten and every relay\n"
         "  --help           print this help and exit\n";
}

}  // namespace

int main(int argc, char** argv) {
  corvane::HubOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const std::string& name) -> std::string {
      if (arg.rfind(name + "=", 0) == 0) return arg.substr(name.size() + 1);
      if (i + 1 < argc) return argv[++i];
      std::cerr << "xap-hub: " << name << " needs a value\n";
      std::exit(2);
    };
    if (arg == "--help" || arg == "-h") {
      PrintUsage(std::cout);
      return 0;
    } else if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
    } else if (arg == "--port" || arg.rfind("--port=", 0) == 0) {
      std::string v = value("--port");
      double p = corvane::IsNumeric(v) ? corvane::LeadingNumber(v) : 0;
      if (p < 1 || p > 65535 || p != static_cast<int>(p)) {
        std::cerr << "xap-hub: bad port '" << v << "'\n";
        return 2;
      }
      options.port = static_cast<uint16_t>(p);
    } else if (arg == "--bind" || arg.rfind("--bind=", 0) == 0) {
      options.bind_address = value("--bind");
    } else {
      std::cerr << "xap-hub: unknown option '" << arg << "'\n";
      PrintUsage(std::cerr);
      return 2;
    }
  }

  int sig_fd = corvane::BlockTerminationSignals();

  corvane::SteadyClock clock;
  corvane::EventLoop loop(clock);
  corvane::PosixUdpNetwork net(loop);
  corvane::XapHub hub(loop, net, std::cout, corvane::InterfaceAddresses());
  if (int err = hub.Start(options)) {
    std::cerr << "xap-hub: cannot listen on " << options.bind_address << ":" << options.port << ": "
              << corvane::ErrorText(err) << "\n";
    return 1;
  }
  corvane::WatchTerminationSignals(loop, sig_fd, [&](int signo) {
    if (options.verbose) std::cout << "xap-hub: " << strsignal(signo) << ", closing" << std::endl;
    loop.Quit();
  });
  loop.Run();
  hub.Stop();
  if (sig_fd >= 0) ::close(sig_fd);
  return 0;
}
