// Feeds outside bytes to the request assembler and parser, as the listener
// does. Each byte 0xFE ends one packet: the packets go through
// AssembleRequest, the whole request through ParsePage and AddPostData, and
// the gate judges it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "web/request.h"
#include "web/request_assembler.h"
#include "web/request_gate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> packets;
  for (size_t start = 0; start <= input.size();) {
    const size_t end = std::min(input.find('\xfe', start), input.size());
    packets.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  const auto raw = corvane::AssembleRequest("", packets);
  if (!raw) return 0;
  // Nothing beyond the announced length reaches the parser.
  if (const auto length = corvane::AnnouncedContentLength(raw->head)) {
    if (raw->body.size() > *length) __builtin_trap();
  }

  corvane::Request request;
  corvane::ParseRawRequest(*raw, request);
  (void)request.ServerVariables("REMOTE_ADDR");
  (void)request.ServerVariables("http_user_agent");
  (void)request.Form("clientinput");
  (void)request.QueryString("x");
  (void)corvane::Request::GetContent(raw->head);
  corvane::RequestGate gate;
  gate.SetNames({"box"}, {"proxy.example"});
  (void)gate.Check(request);
  // Keys compare ignoring case: every stored key is found again.
  for (const auto& pair : request.FormCol()) {
    if (request.FormCol().Find(pair.KEY) == nullptr) __builtin_trap();
  }
  return 0;
}
