// The MQTT group of the setup section: one field per key of section [MQTT]
// (the key table lives with the MQTT settings), saved as posted; an empty
// Host turns the MQTT side off. The stored password never goes into the
// page: its field is always empty, and left empty it keeps the password.
// Pointing the broker elsewhere (host, port or user) needs the password
// typed again in the same save, so that a changed host never receives the
// stored one.
#include "config/ini_cache.h"
#include "config/mqtt_settings.h"
#include "config/settings.h"
#include "core/guard.h"
#include "core/text.h"
#include "pages/status_page.h"

namespace corvane {

namespace {

constexpr std::string_view kPasswordKey = "Password";

bool MovesBroker(std::string_view key) {
  return key == "Host" || key == "Port" || key == "User";
}

}  // namespace

void StatusPageModule::AddMqttSetup(FastString& out) {
  Guard(ctx_.log, "AddMqttSetup", [&] {
    out.Add("<tr>");
    out.Add(FormatCell("MQTT / Home Assistant", "", "6", "TABLEHEADER"));
    out.Add("</tr><tr>");
    int cells = 0;
    for (const MqttKey& k : MqttKeys()) {
      const bool password = k.key == kPasswordKey;
      const std::string value =
          password ? std::string()
                   : RemoveQuotes(ctx_.ini.GetIniSetting(kMqttSection, k.key, "", kMainIniFile));
      const std::string name(k.field);
      std::string input;
      if (k.size.empty()) {
        input = "<input type='checkbox' name='" + name + "' value='1'" +
                (IniBool(value) ? " checked " : "") + ">&nbsp;" + std::string(k.label);
      } else {
        input = std::string(k.label) + "<br><input type='" + (password ? "password" : "text") +
                "' size='" + std::string(k.size) + "' value='" + HtmlEscape(value) + "' name='" +
                name + "'" +
                (password ? " placeholder='unchanged' autocomplete='new-password'" : "") + ">";
      }
      out.Add(FormatCell(input, "", "2", "TABLEROWODD"));
      if (++cells % 3 == 0) out.Add("</tr><tr>");
    }
    out.Add("</tr>");
  });
}

void StatusPageModule::SaveMqttSetup() {
  // A page built without the group carries none of its fields.
  if (!FormHas("MqttHost")) return;
  Guard(ctx_.log, "SaveMqttSetup", [&] {
    std::vector<std::pair<std::string_view, std::string>> changes;
    bool moves = false;
    for (const MqttKey& k : MqttKeys()) {
      std::string value(TrimWhite(Form(k.field)));
      if (k.size.empty()) value.assign(1, value.empty() ? '0' : '1');  // a check box
      if (k.key == kPasswordKey && value.empty()) continue;            // unchanged
      if (ctx_.ini.GetIniSetting(kMqttSection, k.key, "", kMainIniFile) == value) continue;
      moves = moves || (MovesBroker(k.key) && !(k.key == "Host" && value.empty()));
      changes.emplace_back(k.key, std::move(value));
    }
    const bool typed = !TrimWhite(Form("MqttPassword")).empty();
    const bool stored =
        !ctx_.ini.GetIniSetting(kMqttSection, kPasswordKey, "", kMainIniFile).empty();
    if (moves && stored && !typed) {
      return Notice(
          "MQTT settings not saved: type the MQTT password again to change the broker's "
          "host, port or user.");
    }
    for (const auto& [key, value] : changes) {
      ctx_.ini.SaveIniSetting(kMqttSection, key, value, kMainIniFile);
    }
    // Only a change reconnects.
    if (!changes.empty() && mqtt_changed_) mqtt_changed_();
  });
}

}  // namespace corvane
