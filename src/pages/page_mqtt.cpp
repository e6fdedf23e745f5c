// The MQTT group of the setup section: one field per key of section [MQTT]
// (the key table lives with the MQTT settings), saved as posted; an empty
// Host turns the MQTT side off.
#include "config/ini_cache.h"
#include "config/mqtt_settings.h"
#include "config/settings.h"
#include "core/text.h"
#include "pages/status_page.h"

namespace corvane {

void StatusPageModule::AddMqttSetup(FastString& out) {
  try {
    out.Add("<tr>");
    out.Add(FormatCell("MQTT / Home Assistant", "", "6", "TABLEHEADER"));
    out.Add("</tr><tr>");
    int cells = 0;
    for (const MqttKey& k : MqttKeys()) {
      const std::string value = RemoveQuotes(ctx_.ini.GetIniSetting(kMqttSection, k.key, "", kMainIniFile));
      const std::string name(k.field);
      std::string input;
      if (k.size.empty()) {
        input = "<input type='checkbox' name='" + name + "' value='1'" +
                (IniBool(value) ? " checked " : "") + ">&nbsp;" + std::string(k.label);
      } else {
        const char* type = k.key == "Password" ? "password" : "text";
        input = std::string(k.label) + "<br><input type='" + type + "' size='" +
                std::string(k.size) + "' value='" + HtmlEscape(value) + "' name='" + name + "'>";
      }
      out.Add(FormatCell(input, "", "2", "TABLEROWODD"));
      if (++cells % 3 == 0) out.Add("</tr><tr>");
    }
    out.Add("</tr>");
  } catch (const std::exception& e) {
    Report("AddMqttSetup", e.what());
  }
}

void StatusPageModule::SaveMqttSetup() {
  // A page built without the group carries none of its fields.
  if (!FormHas("MqttHost")) return;
  try {
    bool changed = false;
    for (const MqttKey& k : MqttKeys()) {
      std::string value(TrimWhite(Form(k.field)));
      if (k.size.empty()) value.assign(1, value.empty() ? '0' : '1');  // a check box
      const std::string old = ctx_.ini.GetIniSetting(kMqttSection, k.key, "", kMainIniFile);
      if (old == value) continue;
      changed = true;
      ctx_.ini.SaveIniSetting(kMqttSection, k.key, value, kMainIniFile);
    }
    // Only a change reconnects.
    if (changed && mqtt_changed_) mqtt_changed_();
  } catch (const std::exception& e) {
    Report("SaveMqttSetup", e.what());
  }
}

}  // namespace corvane
