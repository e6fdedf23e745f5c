// Web security: who is asking and whether a request may change anything.
// One WebSecurity serves the whole run and every page (and the JSON API
// through RequestAuthorizer):
// - the security mode of `usesecurity` in Corvane.ini [Settings]: BASIC
//   checks HTTP Basic logins against [WebUsers]; ENHANCED finds the user by
//   the connection's own address in the menu database; anything else lets
//   everyone in;
// - stored logins: "pbkdf2-sha256$<iterations>$<salt hex>$<key hex>" for new
//   and changed passwords; older "salt:sha256 hex" lines still log in and are
//   rewritten in the new form at their next successful login;
// - LoginThrottle: after 5 failed logins from one address each further
//   attempt waits, 1 s doubling up to 60 s;
// - form tokens: an HMAC, under a secret made at start-up, of the client's
//   address and user; every form of the pages carries one and every post
//   must bring it back, so a page of another site cannot post for a user.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "web/authorizer.h"

namespace corvane {

class EventLog;
class IniCache;
class MenuDatabase;
class Request;
class WallClock;

// Failed logins per client address.
class LoginThrottle {
 public:
  static constexpr int kFreeFailures = 5;
  static constexpr int kFirstWaitS = 1;
  static constexpr int kMaxWaitS = 60;
  // An address that has been quiet this long starts afresh.
  static constexpr double kForgetS = 15 * 60;

  explicit LoginThrottle(EventLog& log) : log_(log) {}
  // Seconds the address must still wait (0: it may try now).
  int RetryAfter(const std::string& address, double now_s) const;
  // A wrong login; starts a wait (and logs it) once the free ones are used.
  void Failed(const std::string& address, double now_s);
  void Succeeded(const std::string& address) { clients_.erase(address); }

 private:
  struct Client {
    int failures = 0;
    double free_at = 0;
    double last = 0;
  };
  EventLog& log_;
  std::map<std::string, Client> clients_;
};

class WebSecurity final : public RequestAuthorizer {
 public:
  enum class Mode { kNone, kBasic, kEnhanced };
  static constexpr std::string_view kUsersSection = "WebUsers";
  // The form field that carries the token.
  static constexpr std::string_view kTokenField = "FormToken";
  static constexpr int kIterations = 200000;

  WebSecurity(IniCache& ini, EventLog& log, const WallClock& wall, std::string program_folder);
  ~WebSecurity() override;

  Mode CurrentMode() const;
  // RequestAuthorizer: opens the menu database itself in ENHANCED mode.
  Authorization Authorize(const Request& request) override;
  // The same with the page's database (null: none).
  Authorization Check(const Request& request, MenuDatabase* db);

  // The token for forms served to this client and user, and whether a post
  // brought it back.
  std::string FormToken(const Request& request, std::string_view user) const;
  bool FormTokenValid(const Request& request, std::string_view user) const;

  // A stored login line for a new or changed password.
  static std::string HashPassword(std::string_view password, int iterations = kIterations);
  enum class Match { kNo, kYes, kYesOutdated };
  static Match CheckPassword(std::string_view stored, std::string_view password);

  // HTTPS is set up (HTTPSPort, TLSCertificate and TLSKey in [Vaux]).
  bool HttpsConfigured() const;
  // A loopback peer: 127.0.0.0/8, ::1, or IPv4 loopback mapped into IPv6.
  static bool IsLoopback(std::string_view address);
  LoginThrottle& throttle() { return throttle_; }

 private:
  Authorization Basic(const Request& request);
  Authorization Enhanced(const Request& request, MenuDatabase* db);
  // The password matches the stored line; remembers logins it stretched.
  bool PasswordMatches(const std::string& name, const std::string& password);
  double NowSeconds() const;

  IniCache& ini_;
  EventLog& log_;
  const WallClock& wall_;
  std::string program_folder_;
  std::string secret_;
  LoginThrottle throttle_;
  // Logins already checked this run (a keyed digest of name, password and
  // stored line -> when it expires), so that PBKDF2 runs once per login,
  // not once per page.
  std::map<std::string, double> checked_;
};

}  // namespace corvane
