// Feeds outside bytes to the request parser. A byte 0xFE, when present,
// splits the input into the first packet (ParsePage) and a body that came
// later (AddPostData).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "web/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\xfe');
  std::string_view first = input.substr(0, split);
  std::string_view later =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  corvane::Request request;
  request.ParsePage(first);
  request.AddPostData(later);
  (void)request.ServerVariables("REMOTE_ADDR");
  (void)request.ServerVariables("http_user_agent");
  (void)request.Form("clientinput");
  (void)request.QueryString("x");
  (void)corvane::Request::GetContent(first);
  (void)corvane::HeaderBlockEnd(input);
  (void)corvane::AnnouncedContentLength(input);
  // Keys compare ignoring case: every stored key is found again.
  for (const auto& pair : request.FormCol()) {
    if (request.FormCol().Find(pair.KEY) == nullptr) __builtin_trap();
  }
  return 0;
}
