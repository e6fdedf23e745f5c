// The parsed form of one HTTP request, filled from the raw text that arrived
// on a connection (one character per byte). The listener creates one per
// queued request; the pages and scripts read it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {

class EventLog;

struct KeyValuePair {
  std::string KEY;
  std::string Value;
};

// Pairs keyed by text ignoring letter case, kept in insertion order; a key
// that is already present cannot be added again (the first item wins).
class PairCollection {
 public:
  // False when the key is already present.
  bool Add(KeyValuePair pair);
  const KeyValuePair* Find(std::string_view key) const;
  bool Contains(std::string_view key) const { return Find(key) != nullptr; }
  size_t Count() const { return items_.size(); }
  const KeyValuePair& operator[](size_t i) const { return items_.at(i); }
  std::vector<KeyValuePair>::const_iterator begin() const { return items_.begin(); }
  std::vector<KeyValuePair>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<KeyValuePair> items_;
  std::unordered_map<std::string, size_t> index_;  // lower-cased key -> item
};

class Request {
 public:
  // Parse failures are reported to `log` when given.
  explicit Request(EventLog* log = nullptr) : log_(log) {}

  const std::string& page() const { return page_; }
  const std::string& Payload() const { return payload_; }
  // The body as sent (not decoded), for the JSON API.
  const std::string& Body() const { return body_; }
  const std::string& header() const { return header_; }
  const std::string& Query() const { return query_; }
  // The request method; "POSTx" for a POST whose body came with its headers.
  const std::string& Method() const { return method_; }
  const PairCollection& QueryStringCol() const { return query_pairs_; }
  const PairCollection& FormCol() const { return form_pairs_; }
  // The client's address as the connection's socket reports it (the peer),
  // set by the listener; never taken from a header.
  void remoteip(std::string ip) { remoteip_ = std::move(ip); }
  const std::string& PeerAddress() const { return remoteip_; }
  // Whether the request came over an encrypted connection (set by the
  // listener).
  void SetSecure(bool secure) { secure_ = secure; }
  bool Secure() const { return secure_; }

  // "http_user_agent": the User-Agent header; "remote_addr": the Host header
  // up to its first ":"; any other name: the header of that name. Names
  // ignore letter case; a missing header gives "".
  std::string ServerVariables(std::string_view name) const;
  std::string QueryString(std::string_view key) const;
  std::string Form(std::string_view key) const;

  // Fills the request from one received text.
  void ParsePage(std::string_view data);
  // Adds the pairs of a body that arrived after the headers to the form.
  void AddPostData(std::string_view text);

  // The part of `data` after its first empty line; "" when it has none.
  static std::string GetContent(std::string_view data);
  // URL decoding: "+" is a space, "%xx" the character with that code (codes
  // below 32 become a space; a "%" produced by decoding is not decoded again).
  static std::string Decode(std::string_view text);

 private:
  // name=value pairs joined by "&", split as sent, then each name and value
  // decoded.
  static void ParsePairs(std::string_view raw, PairCollection& collection);
  void ParseHeaderLines();

  EventLog* log_;
  PairCollection query_pairs_;
  PairCollection form_pairs_;
  PairCollection headers_;
  std::string query_;
  std::string page_;
  std::string payload_;
  std::string body_;
  std::string header_;
  std::string method_;
  std::string remoteip_;
  bool secure_ = false;
};

// Where a request's header block ends in raw request text: the position just
// after its first empty line ("\r\n\r\n", or "\n\n" from clients that end
// lines with LF alone); nothing while the block is incomplete.
std::optional<size_t> HeaderBlockEnd(std::string_view raw);
// The Content-Length a raw request announces, read as the header lines are
// read by ParsePage; nothing when absent or not a plain number.
std::optional<size_t> AnnouncedContentLength(std::string_view raw);

}  // namespace corvane
