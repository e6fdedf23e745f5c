// The checks the setup section's values pass before they are saved. Each
// gives the value to store, or the one line that says why it was refused
// (the old value is then kept).
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// A value to store, or why not.
struct Checked {
  std::string value;
  std::string refusal;  // empty: accepted
  bool ok() const { return refusal.empty(); }
};

// HTTPPort: 1024-65535, and free unless it is `current` (the port in use).
Checked CheckHttpPort(std::string_view text, std::string_view current);
// SerialIP: empty, a host name or an address.
Checked CheckSerialIP(std::string_view text);
// UPBCommPort: empty (no controller); with a SerialIP a TCP port
// 1-65535; else a serial port number 1-256 or a path below /dev that is a
// character device named tty* or found in /dev/serial/by-id or by-path.
// Texts such as "4 (adapter)" are reduced to their number.
Checked CheckCommPort(std::string_view text, std::string_view serial_ip);
// StyleSheet and Background (see IsStyleSheetName, IsBackground).
Checked CheckStyleSheet(std::string_view text);
Checked CheckBackground(std::string_view text);
// Whether a TCP port can be listened on now (all addresses).
bool TcpPortFree(int port);

}  // namespace corvane
