#include "pages/html_text.h"

#include <cstdio>

#include "core/text.h"

namespace corvane {

std::string JsString(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '\'' || c == '"' || c == '<' || c == '>' || c == '&' || u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool SwitchOn(std::string_view s) {
  const std::string t = ToLower(TrimWhite(s));
  if (t == "yes" || t == "true" || t == "on") return true;
  return IsNumeric(t) && LeadingNumber(t) != 0;
}

std::string StripHTML(std::string_view s) {
  std::string text = s.empty() ? std::string() : std::string(s);
  for (std::string_view nbsp : {"&nbsp;", "&nbsp"}) {
    for (size_t at = 0; (at = FindIgnoreCase(text, nbsp, at)) != std::string::npos;) {
      text.erase(at, nbsp.size());
    }
  }
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<') {
      const size_t close = text.find('>', i);
      if (close == std::string::npos) break;  // an open tag runs to the end
      i = close;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace corvane
