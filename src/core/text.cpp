#include "core/text.h"

#include "core/event_log.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvane {

namespace {
char Lc(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char Uc(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
}  // namespace

std::string ToLower(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = Lc(c);
  return r;
}

std::string ToUpper(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = Uc(c);
  return r;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lc(a[i]) != Lc(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

size_t FindIgnoreCase(std::string_view s, std::string_view needle, size_t from) {
  if (needle.empty()) return from <= s.size() ? from : std::string_view::npos;
  if (needle.size() > s.size()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= s.size(); ++i) {
    if (EqualsIgnoreCase(s.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

int CompareIgnoreCase(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(Lc(a[i]));
    unsigned char y = static_cast<unsigned char>(Lc(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view TrimWhite(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string> Split(std::string_view s, std::string_view sep) {
  std::vector<std::string> out;
  if (sep.empty()) {
    out.emplace_back(s);
    return out;
  }
  size_t start = 0;
  while (true) {
    size_t pos = s.find(sep, start);
    if (pos == std::string_view::npos) {
      out.emplace_back(s.substr(start));
      return out;
    }
    out.emplace_back(s.substr(start, pos - start));
    start = pos + sep.size();
  }
}

std::vector<std::string> Split(std::string_view s, char sep) {
  return Split(s, std::string_view(&sep, 1));
}

std::string Join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out.append(sep);
    out.append(parts[i]);
  }
  return out;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  size_t start = 0;
  while (true) {
    size_t pos = s.find(from, start);
    if (pos == std::string_view::npos) break;
    out.append(s.substr(start, pos - start));
    out.append(to);
    start = pos + from.size();
  }
  out.append(s.substr(start));
  return out;
}

std::string RemoveChar(std::string_view s, char c) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    if (ch != c) out.push_back(ch);
  }
  return out;
}

std::string Printable(std::string_view s, size_t max_chars) {
  std::string out(s.substr(0, max_chars));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  if (s.size() > out.size()) out += "...";
  return out;
}

std::string Quoted(std::string_view s, size_t max_chars) {
  // Built by appending: "'" + std::string(...) trips a false -Wrestrict in
  // g++ 12 at -O3.
  std::string out(1, '\'');
  out += Printable(s, max_chars);
  out += '\'';
  return out;
}

std::string HtmlEscape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

double LeadingNumber(std::string_view s) {
  // Blanks are ignored wherever they stand, as the classic parse does.
  std::string t;
  t.reserve(s.size());
  for (char c : s) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') t.push_back(c);
  }
  if (t.size() >= 2 && t[0] == '&') {
    char kind = Lc(t[1]);
    int base = kind == 'h' ? 16 : (kind == 'o' ? 8 : 0);
    if (base) {
      unsigned long long v = 0;
      size_t i = 2;
      for (; i < t.size(); ++i) {
        char c = Lc(t[i]);
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
        if (d >= base) break;
        v = v * base + d;
        if (v > 0xFFFFFFFFull) break;
      }
      // Hexadecimal and octal texts are read as signed 16- or 32-bit values.
      if (v <= 0xFFFF && i - 2 <= (base == 16 ? 4u : 6u)) return static_cast<int16_t>(v);
      return static_cast<int32_t>(static_cast<uint32_t>(v));
    }
  }
  size_t i = 0;
  std::string num;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) num.push_back(t[i++]);
  size_t digits = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
    num.push_back(t[i++]);
    ++digits;
  }
  if (i < t.size() && t[i] == '.') {
    num.push_back(t[i++]);
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
      num.push_back(t[i++]);
      ++digits;
    }
  }
  if (digits == 0) return 0;
  if (i < t.size() && (Lc(t[i]) == 'e' || Lc(t[i]) == 'd')) {
    size_t j = i + 1;
    std::string exp = "e";
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) exp.push_back(t[j++]);
    size_t exp_digits = 0;
    while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j]))) {
      exp.push_back(t[j++]);
      ++exp_digits;
    }
    if (exp_digits) num += exp;
  }
  double v = std::strtod(num.c_str(), nullptr);
  if (!std::isfinite(v)) return 0;
  return v;
}

bool IsNumeric(std::string_view s) {
  s = TrimWhite(s);
  if (s.empty()) return false;
  if (s.size() >= 3 && s[0] == '&' && (Lc(s[1]) == 'h' || Lc(s[1]) == 'o')) {
    bool hex = Lc(s[1]) == 'h';
    for (size_t i = 2; i < s.size(); ++i) {
      char c = Lc(s[i]);
      bool ok = hex ? std::isxdigit(static_cast<unsigned char>(c)) : (c >= '0' && c <= '7');
      if (!ok) return false;
    }
    return true;
  }
  size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (Lc(s[i]) == 'e' || Lc(s[i]) == 'd')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++exp_digits;
    if (!exp_digits) return false;
  }
  return i == s.size();
}

double RoundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  double r = std::nearbyint(v);  // default rounding mode is to nearest, ties to even
  return r;
}

std::optional<int16_t> ToInt16(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  double r = RoundHalfEven(v);
  if (r < -32768.0 || r > 32767.0) return std::nullopt;
  return static_cast<int16_t>(r);
}

std::optional<int32_t> ToInt32(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  double r = RoundHalfEven(v);
  if (r < -2147483648.0 || r > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(r);
}

std::string NumberText(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  if (v == 0) return "0";
  if (std::fabs(v) < 1e15 && v == std::trunc(v)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
  }
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  // %G already drops trailing zeros from the mantissa.
  return TrimExponent(buf);
}

std::string TrimExponent(std::string g_text) {
  size_t e = g_text.find('E');
  if (e == std::string::npos) return g_text;
  std::string mant = g_text.substr(0, e);
  std::string exp = g_text.substr(e + 1);
  char sign = exp[0];
  std::string digits = exp.substr(1);
  while (digits.size() > 2 && digits[0] == '0') digits.erase(0, 1);
  return mant + "E" + sign + digits;
}

std::string ToHex(long value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  if (value < 0 || value > 255) return "00";
  return {kDigits[value >> 4], kDigits[value & 15]};
}

int HexValue(std::string_view s) {
  if (s.empty() || s.size() > 4) return -1;
  int v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return -1;
    }
    v = v * 16 + d;
  }
  return v;
}

int FromHex(std::string_view s, EventLog* log) {
  if (s.empty() || s.size() > 4) return -1;
  const std::string padded = std::string(4 - s.size(), '0') + ToUpper(s);
  int32_t v = 0;
  for (char c : padded) {
    const int code = static_cast<unsigned char>(c);
    const int d = (c >= '0' && c <= '9') ? code - '0' : code - 'A' + 10;
    v = v * 16 + d;
    if (v < INT16_MIN || v > INT16_MAX) {
      if (log) log->LogError("Corvane", "FromHex", "Overflow");
      return -1;
    }
  }
  return v;
}

namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0.
size_t Utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + n > text.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return n;
}

}  // namespace

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    const size_t n = u >= 0x80 ? Utf8Length(text, i) : 0;
    if (n > 0) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u >= 0x7f) {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
    ++i;
  }
  out += '"';
  return out;
}

}  // namespace corvane
