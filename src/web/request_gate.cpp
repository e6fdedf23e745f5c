#include "web/request_gate.h"

#include <arpa/inet.h>

#include <algorithm>

#include "core/text.h"
#include "web/request.h"

namespace corvane {

namespace {

uint16_t DefaultPort(std::string_view scheme) {
  return scheme == "https" ? 443 : 80;
}

// A port text of 1 to 5 digits, 1..65535.
std::optional<uint16_t> PortNumber(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  uint32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  if (n == 0 || n > 65535) return std::nullopt;
  return static_cast<uint16_t>(n);
}

std::string WithoutTrailingDot(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return ToLower(name);
}

bool Listed(const std::vector<std::string>& names, std::string_view host) {
  return std::find(names.begin(), names.end(), WithoutTrailingDot(host)) != names.end();
}

}  // namespace

std::optional<HostHeader> ParseHostHeader(std::string_view text) {
  text = TrimWhite(text);
  if (text.empty()) return std::nullopt;
  HostHeader out;
  size_t host_end = text.size();
  if (text.front() == '[') {
    host_end = text.find(']');
    if (host_end == std::string_view::npos) return std::nullopt;
    ++host_end;
  } else {
    host_end = std::min(text.find(':'), text.size());
  }
  out.host = ToLower(text.substr(0, host_end));
  if (out.host.empty() || out.host.find_first_of("/@ \t") != std::string::npos) {
    return std::nullopt;
  }
  if (host_end < text.size()) {
    if (text[host_end] != ':') return std::nullopt;
    out.port = PortNumber(text.substr(host_end + 1));
    if (!out.port) return std::nullopt;
  }
  return out;
}

std::optional<WebOrigin> ParseWebOrigin(std::string_view text) {
  text = TrimWhite(text);
  const size_t sep = text.find("://");
  if (sep == std::string_view::npos) return std::nullopt;
  WebOrigin out;
  out.scheme = ToLower(text.substr(0, sep));
  if (out.scheme != "http" && out.scheme != "https") return std::nullopt;
  std::string_view authority = text.substr(sep + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  // A user name before "@" is not part of the origin.
  if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  const auto host = ParseHostHeader(authority);
  if (!host) return std::nullopt;
  out.host = host->host;
  out.port = host->port.value_or(DefaultPort(out.scheme));
  return out;
}

bool IsIpLiteral(std::string_view host) {
  unsigned char buf[16];
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const std::string inner(host.substr(1, host.size() - 2));
    return ::inet_pton(AF_INET6, inner.c_str(), buf) == 1;
  }
  const std::string text(host);
  return ::inet_pton(AF_INET, text.c_str(), buf) == 1;
}

void RequestGate::SetNames(std::vector<std::string> own_names,
                           std::vector<std::string> proxy_names) {
  for (auto* list : {&own_names, &proxy_names}) {
    for (auto& name : *list) name = WithoutTrailingDot(name);
  }
  own_names_ = std::move(own_names);
  proxy_names_ = std::move(proxy_names);
}

bool RequestGate::ProxyName(std::string_view host) const {
  return Listed(proxy_names_, host);
}

bool RequestGate::OwnHost(std::string_view host) const {
  return WithoutTrailingDot(host) == "localhost" || IsIpLiteral(host) || Listed(own_names_, host) ||
         ProxyName(host);
}

bool RequestGate::SameOrigin(const WebOrigin& origin, const HostHeader& host, bool secure) const {
  if (origin.host != WithoutTrailingDot(host.host)) return false;
  const std::string_view reached = secure ? "https" : "http";
  // Behind a proxy the browser's scheme is the proxy's, not our listener's.
  if (origin.scheme != reached && !ProxyName(host.host)) return false;
  return origin.port == host.port.value_or(DefaultPort(origin.scheme));
}

RequestGate::Verdict RequestGate::Check(const Request& request) const {
  const std::string host_text = request.ServerVariables("Host");
  const auto host = ParseHostHeader(host_text);
  // No Host header is no rebinding (browsers always send one); a Host that
  // is not ours, or not a host at all, is refused.
  if (!host_text.empty() && (!host || !OwnHost(host->host))) return Verdict::kMisdirected;

  const std::string& method = request.Method();
  if (method == "GET" || method == "HEAD") return Verdict::kPass;
  std::string claimed = request.ServerVariables("Origin");
  if (claimed.empty()) claimed = request.ServerVariables("Referer");
  if (claimed.empty()) return Verdict::kPass;
  const auto origin = ParseWebOrigin(claimed);
  if (!origin || !host || !SameOrigin(*origin, *host, request.Secure())) {
    return Verdict::kForeignOrigin;
  }
  return Verdict::kPass;
}

std::vector<std::string> ComputerNames(std::string_view computer_name) {
  std::vector<std::string> names;
  const std::string full = ToLower(computer_name);
  if (full.empty()) return names;
  names.push_back(full);
  const std::string shortname = full.substr(0, full.find('.'));
  if (shortname != full) names.push_back(shortname);
  names.push_back(shortname + ".local");
  return names;
}

std::vector<std::string> NameList(std::string_view comma_list) {
  std::vector<std::string> names;
  for (const auto& part : Split(comma_list, ',')) {
    const std::string name = ToLower(TrimWhite(part));
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

}  // namespace corvane
