#include "pages/setup_checks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <optional>

#include "core/text.h"
#include "pages/html_text.h"

namespace corvane {

namespace {

Checked Refuse(std::string line) {
  return Checked{{}, std::move(line)};
}

// A whole number in [low, high], or nothing.
std::optional<long> WholeNumber(std::string_view text, long low, long high) {
  const std::string_view t = TrimWhite(text);
  if (t.empty() || t.size() > 6) return std::nullopt;
  for (char c : t) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  const long v = std::stol(std::string(t));
  if (v < low || v > high) return std::nullopt;
  return v;
}

bool HostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (const std::string& label : Split(host, '.')) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
      return false;
    }
    for (char c : label) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') return false;
    }
  }
  return true;
}

bool DevicePath(const std::string& path) {
  if (path.rfind("/dev/", 0) != 0 || path.find("/..") != std::string::npos) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const std::string name = path.substr(path.rfind('/') + 1);
  return name.rfind("tty", 0) == 0 || path.rfind("/dev/serial/by-id/", 0) == 0 ||
         path.rfind("/dev/serial/by-path/", 0) == 0;
}

}  // namespace

bool TcpPortFree(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return free;
}

Checked CheckHttpPort(std::string_view text, std::string_view current) {
  const std::string t(TrimWhite(text));
  const auto port = WholeNumber(t, 1, 65535);
  if (!port) return Refuse("HTTP Server Port not saved: \"" + t + "\" is not a port (1-65535).");
  const std::string value = std::to_string(*port);
  if (value == TrimWhite(current)) return Checked{value, {}};
  if (*port < 1024) {
    return Refuse("HTTP Server Port not saved: ports below 1024 are reserved for the system.");
  }
  if (!TcpPortFree(static_cast<int>(*port))) {
    return Refuse("HTTP Server Port not saved: port " + value + " is in use.");
  }
  return Checked{value, {}};
}

Checked CheckSerialIP(std::string_view text) {
  const std::string t(TrimWhite(text));
  in6_addr v6{};
  if (t.empty() || HostName(t) || ::inet_pton(AF_INET6, t.c_str(), &v6) == 1) {
    return Checked{t, {}};
  }
  return Refuse("Serial Comm IP Address not saved: \"" + t + "\" is not a host name or address.");
}

Checked CheckCommPort(std::string_view text, std::string_view serial_ip) {
  const std::string t(TrimWhite(text));
  if (t.empty()) return Checked{t, {}};
  const bool tcp = !TrimWhite(serial_ip).empty();
  if (t[0] == '/') {
    if (!tcp && DevicePath(t)) return Checked{t, {}};
    return Refuse("Serial Comm Port not saved: " + t +
                  " is not a serial device (a /dev/tty* character device or one of "
                  "/dev/serial/by-id or by-path).");
  }
  const double number = std::round(LeadingNumber(t));
  const long high = tcp ? 65535 : 256;
  if (!std::isdigit(static_cast<unsigned char>(t[0])) || number < 1 || number > high) {
    return Refuse("Serial Comm Port not saved: \"" + t + "\" is not " +
                  (tcp ? "a TCP port (1-65535)." : "a serial port number (1-256) or device path."));
  }
  return Checked{NumberText(number), {}};
}

Checked CheckStyleSheet(std::string_view text) {
  const std::string t(TrimWhite(text));
  if (IsStyleSheetName(t)) return Checked{t, {}};
  return Refuse("Style Sheet not saved: it must be the name of a file in the HTML folder.");
}

Checked CheckBackground(std::string_view text) {
  const std::string t(TrimWhite(text));
  if (t.empty() || IsBackground(t)) return Checked{t, {}};
  return Refuse(
      "Browser Background not saved: it must be a colour or a picture in the HTML folder.");
}

}  // namespace corvane
