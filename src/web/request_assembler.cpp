#include "web/request_assembler.h"

#include <algorithm>

#include "web/request.h"

namespace corvane {

std::optional<RawRequest> AssembleRequest(std::string_view held,
                                          const std::vector<std::string>& packets) {
  RawRequest raw{std::string(held), {}};
  size_t next = 0;
  while (!HeaderBlockEnd(raw.head) && next < packets.size()) raw.head += packets[next++];
  if (!HeaderBlockEnd(raw.head)) return std::nullopt;
  for (; next < packets.size(); ++next) raw.body += packets[next];

  const auto length = AnnouncedContentLength(raw.head);
  if (!length) return raw;
  const size_t blank = raw.head.find("\r\n\r\n");
  if (blank == std::string::npos) {
    raw.body.resize(std::min(raw.body.size(), *length));
    return raw;
  }
  const size_t body_at = blank + 4;
  const size_t in_head = std::min(raw.head.size() - body_at, *length);
  if (in_head + raw.body.size() < *length) return std::nullopt;
  if (in_head > 2) {
    // A body that began with the headers is read whole with them.
    raw.head += raw.body;
    raw.body.clear();
  } else {
    raw.body.resize(std::min(raw.body.size(), *length - in_head));
  }
  raw.head.resize(std::min(raw.head.size(), body_at + *length));
  return raw;
}

void ParseRawRequest(const RawRequest& raw, Request& request) {
  request.ParsePage(raw.head);
  // A body that came in packets of its own: a form post ("POST"; "POSTx"
  // when it came with the headers) or a JSON API write. A GET or HEAD acts on
  // no body.
  const std::string& method = request.Method();
  if (!raw.body.empty() && method != "GET" && method != "HEAD") request.AddPostData(raw.body);
}

}  // namespace corvane
