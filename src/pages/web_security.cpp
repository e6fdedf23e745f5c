#include "pages/web_security.h"

#include <algorithm>
#include <cmath>

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/event_log.h"
#include "core/text.h"
#include "pages/crypto.h"
#include "pages/menu_db.h"
#include "platform/clock.h"
#include "web/request.h"

namespace corvane {

namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
// A checked login is remembered this long.
constexpr double kCheckedForS = 600;
constexpr size_t kMaxChecked = 256;
constexpr size_t kMaxClients = 4096;

// The menu database's user look-up; the address is bound as a parameter.
constexpr std::string_view kUserQuery =
    "SELECT UserID, SecureLevel, SecID FROM MenuUsers WHERE SecID = ?";
// The session time is written with SQLite's own clock whatever dbtype says.
constexpr std::string_view kSessionUpdate =
    "UPDATE MenuUsers SET LastSessTime = datetime('now', 'localtime') WHERE SecID = ?";

}  // namespace

// --- LoginThrottle ------------------------------------------------------------

int LoginThrottle::RetryAfter(const std::string& address, double now_s) const {
  auto it = clients_.find(address);
  if (it == clients_.end()) return 0;
  const double left = it->second.free_at - now_s;
  return left > 0 ? static_cast<int>(std::ceil(left)) : 0;
}

void LoginThrottle::Failed(const std::string& address, double now_s) {
  if (clients_.size() >= kMaxClients) {
    std::erase_if(clients_, [&](const auto& c) { return now_s - c.second.last > kForgetS; });
  }
  Client& c = clients_[address];
  if (c.failures > 0 && now_s - c.last > kForgetS) c = Client{};
  c.last = now_s;
  if (++c.failures < kFreeFailures) return;
  const int doublings = std::min(c.failures - kFreeFailures, 6);
  const int wait = std::min(kMaxWaitS, kFirstWaitS << doublings);
  c.free_at = now_s + wait;
  log_.LogEvent("Web Login", std::to_string(c.failures) + " failed logins from " + address +
                                 "; its next attempt must wait " + std::to_string(wait) + " s");
}

// --- WebSecurity --------------------------------------------------------------

WebSecurity::WebSecurity(IniCache& ini, EventLog& log, const WallClock& wall,
                         std::string program_folder)
    : ini_(ini),
      log_(log),
      wall_(wall),
      program_folder_(std::move(program_folder)),
      secret_(RandomBytes(32)),
      throttle_(log) {}

WebSecurity::~WebSecurity() = default;

double WebSecurity::NowSeconds() const {
  return wall_.Now() * 86400.0;
}

WebSecurity::Mode WebSecurity::CurrentMode() const {
  const std::string mode =
      ToUpper(TrimWhite(ini_.GetIniSetting("Settings", "usesecurity", "", kMainIniFile)));
  if (mode == "BASIC") return Mode::kBasic;
  if (mode == "ENHANCED") return Mode::kEnhanced;
  return Mode::kNone;
}

bool WebSecurity::HttpsConfigured() const {
  auto get = [&](std::string_view key) {
    return RemoveQuotes(TrimWhite(ini_.GetIniSetting(kSettingsSection, key, "", kMainIniFile)));
  };
  const double port = LeadingNumber(get("HTTPSPort"));
  return port >= 1 && port <= 65535 && !get("TLSCertificate").empty() && !get("TLSKey").empty();
}

bool WebSecurity::IsLoopback(std::string_view address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

Authorization WebSecurity::Authorize(const Request& request) {
  if (CurrentMode() != Mode::kEnhanced) return Check(request, nullptr);
  std::string error;
  const std::string path = MenuDatabase::PathOf(
      ini_.GetIniSetting("Settings", "dbpath", "", kMainIniFile), program_folder_);
  auto db = path.empty() ? nullptr : MenuDatabase::Open(path, &error);
  return Check(request, db.get());
}

Authorization WebSecurity::Check(const Request& request, MenuDatabase* db) {
  switch (CurrentMode()) {
    case Mode::kBasic:
      return Basic(request);
    case Mode::kEnhanced:
      return Enhanced(request, db);
    case Mode::kNone:
      break;
  }
  return {};
}

Authorization WebSecurity::Enhanced(const Request& request, MenuDatabase* db) {
  Authorization a;
  a.user = "None";
  if (!db) return a;
  const std::string& address = request.PeerAddress();
  const auto rows = db->Query(kUserQuery, {address});
  if (!rows.empty()) {
    a.user = rows[0][0];
    a.level = static_cast<int>(LeadingNumber(rows[0][1]));
  }
  if (rows.size() == 1) db->Query(kSessionUpdate, {address});
  return a;
}

Authorization WebSecurity::Basic(const Request& request) {
  Authorization a;
  a.verdict = Authorization::Verdict::kLoginRequired;
  const std::string& address = request.PeerAddress();
  // With HTTPS set up a password never crosses the network in clear text:
  // not even asked for.
  if (HttpsConfigured() && !request.Secure() && !IsLoopback(address)) {
    a.verdict = Authorization::Verdict::kInsecure;
    a.detail = "Log in over HTTPS (port " +
               std::string(
                   TrimWhite(ini_.GetIniSetting(kSettingsSection, "HTTPSPort", "", kMainIniFile))) +
               "); logins over plain HTTP are accepted only from this computer.";
    return a;
  }
  const std::string header = request.ServerVariables("Authorization");
  const std::string_view h = TrimWhite(header);
  if (!StartsWithIgnoreCase(h, "Basic ")) return a;
  if (const int wait = throttle_.RetryAfter(address, NowSeconds())) {
    a.verdict = Authorization::Verdict::kThrottled;
    a.retry_after = wait;
    a.detail =
        "Too many failed logins from " + address + "; try again in " + std::to_string(wait) + " s.";
    return a;
  }
  const auto decoded = Base64Decode(TrimWhite(h.substr(6)));
  const size_t colon = decoded ? decoded->find(':') : std::string::npos;
  if (colon == 0 || colon == std::string::npos ||
      !PasswordMatches(decoded->substr(0, colon), decoded->substr(colon + 1))) {
    throttle_.Failed(address, NowSeconds());
    return a;
  }
  throttle_.Succeeded(address);
  a.verdict = Authorization::Verdict::kAllowed;
  a.user = ToUpper(decoded->substr(0, colon));
  a.level = 10;
  return a;
}

bool WebSecurity::PasswordMatches(const std::string& name, const std::string& password) {
  auto stored = [&] {
    return std::string(TrimWhite(ini_.GetIniSetting(kUsersSection, name, "", kMainIniFile)));
  };
  std::string line = stored();
  if (line.empty()) return false;
  const double now = NowSeconds();
  auto key = [&] { return HmacSha256Hex(secret_, name + '\0' + password + '\0' + line); };
  auto seen = checked_.find(key());
  if (seen != checked_.end() && seen->second > now) return true;
  const Match match = CheckPassword(line, password);
  if (match == Match::kNo) return false;
  if (match == Match::kYesOutdated) {
    ini_.SaveIniSetting(kUsersSection, name, HashPassword(password), kMainIniFile);
    ini_.FlushIniCache();
    log_.LogEvent("Web Login",
                  "the password of " + name + " is now stored as " + std::string(kScheme));
    line = stored();
  }
  if (checked_.size() >= kMaxChecked) checked_.clear();
  checked_[key()] = now + kCheckedForS;
  return true;
}

std::string WebSecurity::HashPassword(std::string_view password, int iterations) {
  const std::string salt = HexOf(RandomBytes(16));
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + salt + "$" +
         Pbkdf2Sha256Hex(password, salt, iterations);
}

WebSecurity::Match WebSecurity::CheckPassword(std::string_view stored, std::string_view password) {
  const auto parts = Split(stored, '$');
  if (parts.size() == 4 && parts[0] == kScheme) {
    const double iterations = IsNumeric(parts[1]) ? LeadingNumber(parts[1]) : 0;
    if (iterations < 1 || iterations > 10'000'000) return Match::kNo;
    const int count = static_cast<int>(iterations);
    if (!ConstantTimeEquals(Pbkdf2Sha256Hex(password, parts[2], count), ToLower(parts[3]))) {
      return Match::kNo;
    }
    return count < kIterations ? Match::kYesOutdated : Match::kYes;
  }
  // The older form: salt, ":", SHA-256 of salt and password.
  const size_t split = stored.find(':');
  if (split == std::string_view::npos) return Match::kNo;
  const std::string digest = ToLower(TrimWhite(stored.substr(split + 1)));
  const std::string salted = std::string(stored.substr(0, split)) + std::string(password);
  return ConstantTimeEquals(Sha256Hex(salted), digest) ? Match::kYesOutdated : Match::kNo;
}

std::string WebSecurity::FormToken(const Request& request, std::string_view user) const {
  return HmacSha256Hex(secret_, "form\n" + request.PeerAddress() + "\n" + ToUpper(user));
}

bool WebSecurity::FormTokenValid(const Request& request, std::string_view user) const {
  return ConstantTimeEquals(request.Form(kTokenField), FormToken(request, user));
}

}  // namespace corvane
