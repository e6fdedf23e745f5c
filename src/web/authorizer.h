// The login check that every part answering HTTP shares (the pages, the JSON
// API): who is asking, and whether the request may be served. The pages
// implement it (pages/web_security.h); this interface lets layers beside the
// pages ask without depending on them.
#pragma once

#include <string>

namespace corvane {

class Request;

struct Authorization {
  enum class Verdict {
    kAllowed,        // serve it: `user` and `level` say who asks
    kLoginRequired,  // answer 401 with a Basic challenge
    kThrottled,      // too many failed logins from this address: 429
    kInsecure,       // a login over plain HTTP while HTTPS is set up: 403
  };
  Verdict verdict = Verdict::kAllowed;
  std::string user;     // "" without a login ("None" for an unknown ENHANCED client)
  int level = 0;        // 10 for a Basic login, the menu database's level otherwise
  int retry_after = 0;  // seconds, for kThrottled
  std::string detail;   // one line for the answer's body
};

class RequestAuthorizer {
 public:
  virtual ~RequestAuthorizer() = default;
  virtual Authorization Authorize(const Request& request) = 0;
};

}  // namespace corvane
