#include "web/request.h"

#include "core/event_log.h"
#include "core/text.h"

namespace corvane {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Calls fn(name, value) for every header line of a header block that splits
// at ": " into exactly two parts. The first line (the protocol) is skipped.
template <typename F>
void ForEachHeaderLine(std::string_view block, F fn) {
  size_t start = block.find("\r\n");
  while (start != std::string_view::npos) {
    start += 2;
    size_t end = block.find("\r\n", start);
    std::string_view line =
        block.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    size_t sep = line.find(": ");
    if (sep != std::string_view::npos && line.find(": ", sep + 2) == std::string_view::npos) {
      fn(line.substr(0, sep), line.substr(sep + 2));
    }
    start = end;
  }
}

// The position of the protocol word "HTTP" of a request line whose method
// ends at `space`. The last " HTTP" of the first line is taken, so that a
// target that itself holds "http" (a link in the query) is kept whole; a
// line without one falls back to the first "HTTP" after the method.
size_t FindProtocol(std::string_view data, size_t space) {
  size_t line_end = data.find('\n');
  if (line_end == std::string_view::npos) line_end = data.size();
  size_t found = std::string_view::npos;
  for (size_t k = FindIgnoreCase(data, "HTTP", space + 1);
       k != std::string_view::npos && k < line_end; k = FindIgnoreCase(data, "HTTP", k + 1)) {
    if (data[k - 1] == ' ') found = k;
  }
  if (found != std::string_view::npos) return found;
  return FindIgnoreCase(data, "HTTP", space);
}

}  // namespace

bool PairCollection::Add(KeyValuePair pair) {
  auto [it, inserted] = index_.try_emplace(ToLower(pair.KEY), items_.size());
  if (!inserted) return false;
  items_.push_back(std::move(pair));
  return true;
}

const KeyValuePair* PairCollection::Find(std::string_view key) const {
  auto it = index_.find(ToLower(key));
  return it == index_.end() ? nullptr : &items_[it->second];
}

std::string Request::ServerVariables(std::string_view name) const {
  const std::string lname = ToLower(name);
  if (lname == "http_user_agent") {
    const auto* p = headers_.Find("User-Agent");
    return p ? p->Value : std::string();
  }
  if (lname == "remote_addr") {
    const auto* p = headers_.Find("Host");
    if (!p) return {};
    return p->Value.substr(0, p->Value.find(':'));
  }
  const auto* p = headers_.Find(name);
  return p ? p->Value : std::string();
}

std::string Request::QueryString(std::string_view key) const {
  const auto* p = query_pairs_.Find(key);
  return p ? p->Value : std::string();
}

std::string Request::Form(std::string_view key) const {
  const auto* p = form_pairs_.Find(key);
  return p ? p->Value : std::string();
}

std::string Request::GetContent(std::string_view data) {
  size_t e = data.find("\r\n\r\n");
  if (e == std::string_view::npos) return {};
  return std::string(data.substr(e + 4));
}

std::string Request::Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else {
      // A digit missing at the end counts 0, a character that is not a
      // hexadecimal digit -1.
      auto digit = [&](size_t at) { return at < text.size() ? HexDigit(text[at]) : 0; };
      int value = 16 * digit(i + 1) + digit(i + 2);
      if (value < 32) value = 32;
      out.push_back(static_cast<char>(static_cast<unsigned char>(value)));
      i += 2;  // the two digits, or what is left of them
    }
  }
  return out;
}

void Request::ParsePairs(std::string_view raw, PairCollection& collection) {
  if (raw.empty()) return;
  // The text is split at its own separators before anything is decoded, so
  // an encoded "&" or "=" (%26, %3D) stays inside its name or value.
  size_t start = 0;
  while (start <= raw.size()) {
    size_t amp = raw.find('&', start);
    std::string_view piece =
        raw.substr(start, amp == std::string_view::npos ? raw.size() - start : amp - start);
    // A piece without "=" has no value and is skipped; parts after a
    // second "=" are dropped.
    size_t eq = piece.find('=');
    if (eq != std::string_view::npos) {
      std::string_view value = piece.substr(eq + 1);
      value = value.substr(0, value.find('='));
      collection.Add(KeyValuePair{Decode(piece.substr(0, eq)), Decode(value)});
    }
    if (amp == std::string_view::npos) break;
    start = amp + 1;
  }
}

void Request::AddPostData(std::string_view text) {
  body_.append(text);
  ParsePairs(text, form_pairs_);
}

void Request::ParsePage(std::string_view data) {
  const size_t space = data.find(' ');
  if (space == std::string_view::npos) return;
  method_ = std::string(data.substr(0, space));
  const size_t http = FindProtocol(data, space);
  if (http == std::string_view::npos) return;
  if (http < space + 2) {
    // No room for a target between the method and the protocol.
    if (log_) {
      std::string what = "ParsePage i=" + std::to_string(space + 1) +
                         ",j=" + std::to_string(http + 1) + ",len=" + std::to_string(data.size()) +
                         ", Data=" + Printable(data, 256);
      log_->LogError("Corvane", what, "Invalid procedure call or argument");
    }
    return;
  }
  const std::string_view target = data.substr(space + 1, http - space - 2);
  // The query starts at the first "?" as sent; Query keeps its text as sent,
  // since it goes back into addresses (a redirect's Location).
  const size_t q = target.find('?');
  page_ = Decode(target.substr(0, q));
  if (q != std::string_view::npos) {
    query_ = std::string(target.substr(q));
    ParsePairs(target.substr(q + 1), query_pairs_);
  } else {
    query_.clear();
  }

  payload_.clear();
  const size_t e = data.find("\r\n\r\n", http);
  if (e != std::string_view::npos) {
    header_ = std::string(data.substr(http, e - http));
    const size_t body_at = e + 4;
    body_ = std::string(data.substr(body_at));
    if (data.size() - body_at > 2) {
      if (method_ == "POST") method_ = "POSTx";
      const std::string body = ReplaceAll(data.substr(body_at), "\r\n", "");
      payload_ = Decode(body);
      ParsePairs(body, form_pairs_);
    }
  } else {
    header_ = std::string(data.substr(http));
  }
  ParseHeaderLines();
}

void Request::ParseHeaderLines() {
  ForEachHeaderLine(header_, [this](std::string_view name, std::string_view value) {
    headers_.Add(KeyValuePair{std::string(name), std::string(value)});
  });
}

std::optional<size_t> HeaderBlockEnd(std::string_view raw) {
  size_t crlf = raw.find("\r\n\r\n");
  size_t lf = raw.find("\n\n");
  if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::nullopt;
  if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf)) {
    return crlf + 4;
  }
  return lf + 2;
}

std::optional<size_t> AnnouncedContentLength(std::string_view raw) {
  const auto end = HeaderBlockEnd(raw);
  std::string_view block = raw.substr(0, end ? *end : raw.size());
  std::optional<size_t> length;
  bool seen = false;
  ForEachHeaderLine(block, [&](std::string_view name, std::string_view value) {
    if (seen || !EqualsIgnoreCase(name, "Content-Length")) return;
    seen = true;
    value = TrimWhite(value);
    if (value.empty() || value.size() > 12) return;
    size_t n = 0;
    for (char c : value) {
      if (c < '0' || c > '9') return;
      n = n * 10 + static_cast<size_t>(c - '0');
    }
    length = n;
  });
  return length;
}

}  // namespace corvane
