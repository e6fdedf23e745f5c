// The status page behind the real listener on the fake transport and
// virtual time, with a temporary program folder, a fresh device table, and
// fakes for the bridge and the script host.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/text.h"
#include "devicetable/device_table.h"
#include "pages/page_services.h"
#include "pages/status_page.h"
#include "pages/web_security.h"
#include "web/web_fixture.h"

namespace corvane::testing {

class FakePageBridge : public PageBridge {
 public:
  struct Cmd {
    std::string target, id, state, level;
  };
  void BSCCmd(std::string_view target, std::string_view id, std::string_view state,
              std::string_view level) override {
    cmds.push_back({std::string(target), std::string(id), std::string(state), std::string(level)});
  }
  void BSCQuery(std::string_view target) override { queries.emplace_back(target); }
  std::string Sunrise() const override { return "7:01 AM"; }
  std::string Sunset() const override { return "4:55 PM"; }
  std::vector<Cmd> cmds;
  std::vector<std::string> queries;
};

class FakeScriptControl : public ScriptControl {
 public:
  void ReadScript() override { ++reads; }
  void PeriodicScriptIntervalChanged(std::string_view seconds) override {
    intervals.emplace_back(seconds);
  }
  int reads = 0;
  std::vector<std::string> intervals;
};

class PageFixture : public WebFixture {
 protected:
  PageFixture()
      : settings_(ini_, log_),
        devices_(ini_, log_, wall_, settings_.values()),
        security_(ini_, log_, wall_, dir_.path()),
        page_(PageContext{ini_, settings_, log_, wall_, devices_, bridge_, scripts_, security_,
                          dir_.path(), "1.2.3"}) {
    settings_.InitIniKeys();
    devices_.CreateDictionaries();
    devices_.ReadLastChange();
    server_.SetStatusPage(&page_);
  }

  using Fields = std::vector<std::pair<std::string, std::string>>;
  // A setting of section Vaux, in the file and in memory.
  void Set(const std::string& key, const std::string& value) {
    ini_.SaveIniSetting(kSettingsSection, key, value, kMainIniFile);
    settings_.SetIniValue(key);
  }
  std::string Ini(const std::string& section, const std::string& key,
                  const std::string& file = "Corvane.ini") {
    return ini_.GetIniSetting(section, key, "", file);
  }

  static std::string Encode(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    return out;
  }
  // "name=value&name=value" as fields (no "&" or "=" inside a value).
  static Fields Of(const std::string& text) {
    Fields out;
    for (const std::string& pair : Split(text, '&')) {
      const size_t eq = pair.find('=');
      out.emplace_back(pair.substr(0, eq), eq == std::string::npos ? "" : pair.substr(eq + 1));
    }
    return out;
  }

  // The whole answer to a GET (or, with fields, a POST) of /status. A post
  // carries the main form's hidden "clientinput" unless `fields` has one.
  std::string Answer(const Fields& fields = {}, const std::string& headers = "") {
    if (fields.empty()) {
      return Get("GET /status HTTP/1.1\r\nHost: 127.0.0.1:8018\r\n" + headers + "\r\n");
    }
    std::string body;
    bool client_input = false;
    for (const auto& [k, v] : fields) {
      body += (body.empty() ? "" : "&") + k + "=" + Encode(v);
      client_input = client_input || k == "clientinput";
    }
    if (!client_input) body += "&clientinput=yes";
    if (with_token_) body += "&FormToken=" + Token();
    return Get("POST /status HTTP/1.1\r\nHost: 127.0.0.1:8018\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body);
  }
  // The form token of pages served to 127.0.0.1 and `token_user_`.
  std::string Token() {
    Request peer;
    peer.remoteip("127.0.0.1");
    return security_.FormToken(peer, token_user_);
  }
  // The page of that answer (what follows the header block).
  std::string Page(const Fields& fields = {}, const std::string& headers = "") {
    const std::string a = Answer(fields, headers);
    const size_t end = a.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : a.substr(end + 4);
  }
  // A control post, as the drop-down of item `uid` sends it.
  std::string Choose(int uid, const std::string& value) {
    return Page({{"clientinput", "V" + std::to_string(uid)}, {"clientvalue", value}});
  }

  SettingsStore settings_;
  DeviceTable devices_;
  FakePageBridge bridge_;
  FakeScriptControl scripts_;
  WebSecurity security_;
  StatusPageModule page_;
  bool with_token_ = true;  // posts carry the form token
  std::string token_user_;
};

}  // namespace corvane::testing
