#include "pages/html_text.h"

#include <algorithm>
#include <cctype>
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

bool IsPlainFileName(std::string_view s) {
  if (s.empty() || s.size() > 100 || s[0] == '.') return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '.' || c == '_' ||
           c == '-';
  });
}

bool IsStyleSheetName(std::string_view s) {
  return IsPlainFileName(s);
}

bool IsImageName(std::string_view s) {
  const std::string l = ToLower(s);
  for (std::string_view ext : {".gif", ".jpg", ".jpeg", ".png", ".bmp"}) {
    if (l.size() > ext.size() && l.compare(l.size() - ext.size(), ext.size(), ext) == 0) {
      return true;
    }
  }
  return false;
}

bool IsBackground(std::string_view s) {
  auto all = [&](std::string_view t, int (*test)(int)) {
    return std::all_of(t.begin(), t.end(),
                       [&](char c) { return test(static_cast<unsigned char>(c)) != 0; });
  };
  if (!s.empty() && s[0] == '#')
    return (s.size() == 4 || s.size() == 7) && all(s.substr(1), isxdigit);
  if (!s.empty() && s.size() <= 20 && all(s, isalpha)) return true;
  return IsImageName(s) && IsPlainFileName(s);
}

std::string HostOnly(std::string_view s) {
  std::string out;
  for (char c : TrimWhite(s)) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != ':' &&
        c != '[' && c != ']') {
      break;
    }
    out.push_back(c);
  }
  return out;
}

bool LocalAddress(std::string_view host) {
  const std::string h = ToLower(host);
  if (h.find(':') != std::string::npos && h.rfind("::ffff:", 0) != 0) {
    return h == "::1" || h.rfind("fe80:", 0) == 0 || h.rfind("fc", 0) == 0 || h.rfind("fd", 0) == 0;
  }
  if (h.find('.') == std::string::npos || h == "localhost") return true;
  for (std::string_view p : {"127.", "10.", "192.168.", "::ffff:127.", "::ffff:10."}) {
    if (h.rfind(p, 0) == 0) return true;
  }
  if (h.rfind("172.", 0) != 0) return false;
  const int second = static_cast<int>(LeadingNumber(h.substr(4)));
  return second >= 16 && second <= 31;
}

}  // namespace corvane
