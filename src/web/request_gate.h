// The one gate every request passes before routing. Two checks keep other
// web sites from driving the program through a browser in the house:
// - the Host header must name this server (its bind address, "localhost",
//   an IP literal, the computer's names, or an extra name from the setting
//   HTTPHostNames such as a reverse proxy's); a name an attacker has
//   rebound to our address gets 421 and no page;
// - a request that may change something (any method but GET and HEAD)
//   whose Origin, or without one its Referer, names another origin than the
//   one it reached (scheme of the listener, host and port of the Host
//   header) gets 403 and reaches no handler.
// A request that names no origin at all (curl, scripts, older tools) passes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class Request;

struct WebOrigin {
  std::string scheme;  // "http" or "https", lower case
  std::string host;    // lower case; an IPv6 literal keeps its brackets
  uint16_t port = 0;   // the scheme's default when not written
};

// The origin of "scheme://host[:port]" with anything after it (a Referer's
// path); nothing for "null", other schemes or a malformed text.
std::optional<WebOrigin> ParseWebOrigin(std::string_view text);

// A Host header's host (lower case, brackets kept) and its port, if written.
struct HostHeader {
  std::string host;
  std::optional<uint16_t> port;
};
std::optional<HostHeader> ParseHostHeader(std::string_view text);

// True for an IPv4 literal or a bracketed IPv6 literal.
bool IsIpLiteral(std::string_view host);

class RequestGate {
 public:
  enum class Verdict { kPass, kMisdirected, kForeignOrigin };

  // The server's own names besides "localhost" and IP literals: the bind
  // address and the computer's names; `proxy_names` (HTTPHostNames) are
  // names in front of a reverse proxy, which may end TLS for us, so an
  // https origin is accepted for them on the plain listener.
  void SetNames(std::vector<std::string> own_names, std::vector<std::string> proxy_names);

  Verdict Check(const Request& request) const;
  // Whether `host` (from a Host header) is one of the server's names.
  bool OwnHost(std::string_view host) const;

 private:
  bool SameOrigin(const WebOrigin& origin, const HostHeader& host, bool secure) const;
  bool ProxyName(std::string_view host) const;

  std::vector<std::string> own_names_;
  std::vector<std::string> proxy_names_;
};

// The computer's names for the gate: its name as the system reports it, the
// part before the first dot, and that part with ".local" (multicast DNS).
std::vector<std::string> ComputerNames(std::string_view computer_name);
// A comma list of names (HTTPHostNames), trimmed and lower-cased.
std::vector<std::string> NameList(std::string_view comma_list);

}  // namespace corvane
