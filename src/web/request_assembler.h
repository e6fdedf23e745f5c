// Gathers one HTTP request from the packets its connection delivered: the
// header block, then the body its Content-Length announces. Pure text work
// with no sockets, so the listener and the HTTP fuzz target drive the same
// code. Packet boundaries matter to one thing only: a body that came with
// the header packet makes the method "POSTx" (what scripts see), a body in
// later packets is added with AddPostData.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class Request;

struct RawRequest {
  // The text for Request::ParsePage: the packets up to the end of the header
  // block, with the announced body when it began in them.
  std::string head;
  // The body that came in later packets, cut at the Content-Length.
  std::string body;
};

// `held` is what this connection sent before and is still waiting (joined
// into one text), `packets` what arrived since, in order. Nothing while the
// request is not whole: the header block is not ended, or a body shorter
// than announced. Bytes past the announced length are dropped.
std::optional<RawRequest> AssembleRequest(std::string_view held,
                                          const std::vector<std::string>& packets);

// Fills `request` from an assembled request.
void ParseRawRequest(const RawRequest& raw, Request& request);

}  // namespace corvane
