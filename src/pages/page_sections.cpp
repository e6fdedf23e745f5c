// The optional sections of the status page: "xAP Messages of Interest" (the
// filter table), the setup fields, and the script and query buttons, with
// the saves of the first two.
#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"
#include "devicetable/device_table.h"
#include "pages/page_services.h"
#include "pages/setup_checks.h"
#include "pages/status_page.h"

namespace corvane {

namespace {

constexpr std::string_view kFilterSection = "Received";
constexpr std::string_view kOpenNotice =
    "Web security is off and these pages are open to the whole network: anyone who reaches "
    "this port can change the settings. Set usesecurity (BASIC) or HTTPBindAddress=127.0.0.1.";

// The listener takes only loopback connections.
bool LoopbackOnly(std::string_view bind_address) {
  const std::string_view a = TrimWhite(bind_address);
  return a.rfind("127.", 0) == 0 || a == "::1" || EqualsIgnoreCase(a, "localhost");
}

std::string TextInput(std::string_view size, std::string_view name, std::string_view value) {
  return "<input type='text' size='" + std::string(size) + "' value='" + HtmlEscape(value) +
         "' name='" + std::string(name) + "'>";
}

}  // namespace

void StatusPageModule::AddFilter(FastString& out) {
  Guard(ctx_.log, "AddFilter", [&] {
    const Settings& s = ctx_.settings.values();
    const bool config = s.show_status == 2;
    out.Add("<br><p><Table width='600' border='5' frame='box'><tr>");
    out.Add(FormatCell("xAP Messages of Interest", "", config ? "5" : "2", "TABLEHEADER"));
    out.Add("</tr><tr>");
    out.Add(FormatCell("Status", "", "", "TABLEHEADER"));
    out.Add(FormatCell("Tag", "", "", "TABLEHEADER"));
    if (config) {
      out.Add(FormatCell("Ev", "", "", "TABLEHEADER"));
      out.Add(FormatCell("Source Including Subaddress", "", "", "TABLEHEADER"));
      out.Add(FormatCell("Class", "", "", "TABLEHEADER"));
    }
    out.Add("</tr><tr>");

    auto& devices = ctx_.devices.DeviceDictionary();
    int i = 0;
    for (const auto& [key, value] : ctx_.devices.FilterDictionary()) {
      ++i;
      const std::string n = std::to_string(i);
      const std::string cls = i % 2 ? "TABLEROWODD" : "TABLEROWEVEN";
      const size_t semi = value.find(';');
      const std::string tag = value.substr(0, semi);
      const std::string event = semi == std::string::npos ? "" : value.substr(semi + 1);
      const size_t tilde = key.find('~');
      const std::string source = key.substr(0, tilde);
      const std::string cls_name = tilde == std::string::npos ? "" : key.substr(tilde + 1);
      const DeviceRecord* record = devices.Find(tag);

      out.Add(FormatCell(record && *record ? ChangeTime((*record)->LastChange) : "", "center", "",
                         cls));
      if (config) {
        out.Add(FormatCell(TextInput("15", "FilterTag" + n, tag), "", "", "tablecellmisc"));
        out.Add(FormatCell("<input type='checkbox'" + std::string(event.empty() ? "" : " checked") +
                               " value='1' name='FilterEvent" + n + "'>",
                           "", "", cls));
        out.Add(FormatCell(TextInput("80", "Source" + n, source), "right", "", cls));
        out.Add(FormatCell(TextInput("20", "Class" + n, cls_name), "", "", cls));
      } else {
        out.Add(FormatCell(HtmlEscape(tag), "", "", "tablecellmisc"));
      }
      out.Add("</tr><tr>");
      if (s.show_receive_detail && record && *record) {
        for (const auto& [name, text] : (*record)->MessageList) {
          out.Add(FormatCell(HtmlEscape(name), "right", "3", cls));
          out.Add(FormatCell(HtmlEscape(text), "left", config ? "2" : "", cls));
          out.Add("</tr><tr>");
        }
      }
    }
    if (config) {
      const std::string cls = "TABLEROWEVEN";
      out.Add(FormatCell("&nbsp;&nbsp;", "", "", cls));
      out.Add(FormatCell(TextInput("15", "FilterTag0", ""), "", "", "tablecellmisc"));
      out.Add(FormatCell("<input type='checkbox' value='1' name='FilterEvent0'>", "", "", cls));
      out.Add(FormatCell(TextInput("80", "Source0", ""), "right", "", cls));
      out.Add(FormatCell(TextInput("20", "Class0", ""), "", "", cls));
    }
    out.Add("</tr></table>");
  });
}

// The misspelt name is the routine name in its error reports, which log
// watchers match.
void StatusPageModule::SaveFilterSettigs() {
  Guard(ctx_.log, "SaveFilterSettigs", [&] {
    auto& filters = ctx_.devices.FilterDictionary();
    auto& devices = ctx_.devices.DeviceDictionary();
    const size_t n = filters.Count();
    ctx_.ini.ClearINISection(kFilterSection, kMainIniFile);
    filters.Clear();
    for (size_t i = 0; i <= n; ++i) {
      const std::string k = std::to_string(i);
      const std::string source = Form("Source" + k);
      const std::string cls = Form("Class" + k);
      const std::string tag = ReplaceAll(Form("FilterTag" + k), " ", "_");
      const std::string event = Form("FilterEvent" + k);
      const std::string key = source + "~" + cls;
      if (key == "~" || filters.Exists(key)) continue;
      const std::string value = tag + ";" + event;
      filters.Add(key, value);
      ctx_.ini.SaveIniSetting(kFilterSection, key, value, kMainIniFile);
      if (!tag.empty() && !devices.Exists(tag)) {
        auto device = std::make_shared<DeviceClass>();
        device->Tag = tag;
        devices.Add(tag, device);
      }
    }
  });
}

void StatusPageModule::AddSetup(FastString& out) {
  Guard(ctx_.log, "AddSetup", [&] {
    auto setting = [&](std::string_view key, std::string_view default_value) {
      return RemoveQuotes(
          ctx_.ini.GetIniSetting(kSettingsSection, key, default_value, kMainIniFile));
    };
    auto field = [&](std::string_view label, std::string_view size, std::string_view name,
                     std::string_view key, std::string_view default_value) {
      out.Add(FormatCell(
          std::string(label) + "<br>" + TextInput(size, name, setting(key, default_value)), "", "2",
          "TABLEROWODD"));
    };
    auto group = [&](std::string_view name) {
      out.Add(FormatCell(name, "", "6", "TABLEHEADER"));
      out.Add("</tr><tr>");
    };
    out.Add("<br><p><Table width='600' border='5' frame='box'><tr>");
    if (header_.SecurityMode() != "BASIC" && header_.SecurityMode() != "ENHANCED" &&
        !LoopbackOnly(ctx_.settings.values().http_bind_address)) {
      out.Add(FormatCell(std::string(kOpenNotice), "", "6", "TABLEROWEVEN"));
      out.Add("</tr><tr>");
    }
    group("HTTP / Browser");
    field("HTTP Server Port", "4", "ServerPort", "HTTPPort", "8018");
    field("Browser Background", "8", "Background", "Background", "#000000");
    field("Style Sheet", "18", "StyleSheet", "StyleSheet", "StyleNoBody.css");
    out.Add("</tr><tr>");
    group("Connectivity");
    field("Serial Comm IP Address", "16", "SerialIP", "SerialIP", "");
    field("Serial Comm Port", "3", "UPBCommPort", "UPBCommPort", "");
    field("xAP UID", "8", "UID", "UID", "FF.0022:00");
    out.Add("</tr><tr>");
    group("Script Control / Debug");
    out.Add(FormatCell(
        "Periodic Script Interval&nbsp;" +
            TextInput("6", "periodicscriptinterval", setting("PeriodicScriptInterval", "")) +
            "&nbsp;seconds",
        "", "4", "TABLEROWODD"));
    const bool debug = IniBool(setting("DebugLog", "False"));
    out.Add(FormatCell(std::string("<input type='checkbox' name='DebugLog' value='1'") +
                           (debug ? " checked " : "") + ">&nbsp;Debug",
                       "", "2", "TABLEROWODD"));
    out.Add("</tr><tr>");
    group("Up / Down Increment");
    field("Enumeration increment on Volume/Bass/Treble Up/Down", "6", "UpDownIncrement",
          "UpDownIncrement", "3");
    out.Add("</tr><tr>");
    group("Controller Polling");
    field("Zone status poll (seconds, 0 = none)", "6", "StatusPoll", "StatusPoll", "0");
    field("Request timeout (seconds)", "6", "RequestTimeout", "RequestTimeout", "60");
    out.Add("</tr><tr>");
    out.Add(FormatCell("Input Channels", "", "6", "TABLEHEADER"));
    out.Add("</tr>");
    // Every input gets its field; names missing from a short list show the
    // default name.
    const auto names = Split(ctx_.settings.values().input_name_list, ',');
    auto input = [&](int number) {
      const size_t k = static_cast<size_t>(number - 1);
      const std::string name = k < names.size() ? names[k] : "Input" + std::to_string(number);
      return FormatCell(std::to_string(number) + ":&nbsp;" +
                            TextInput("25", "InputName" + std::to_string(number - 1), name),
                        "center", "3", "TABLEROWODD");
    };
    for (int k = 1; k <= kInputCount / 2; ++k) {
      out.Add("<tr>" + input(k) + input(k + kInputCount / 2) + "</tr>");
    }
    AddMqttSetup(out);
    out.Add("</table>");
  });
}

void StatusPageModule::SaveSetup() {
  Settings& s = ctx_.settings.values();
  s.debug_log = !Form("DebugLog").empty();
  SaveVaux("DebugLog", s.debug_log ? "True" : "False");
  // Each value is checked first; a refused one keeps its old value and says
  // why on the page. The listener moves at the next SIGHUP or start.
  auto checked = [&](std::string_view key, std::string& value, const Checked& c) {
    if (!c.ok()) return Notice(c.refusal);
    value = c.value;
    SaveVaux(key, value);
  };
  const std::string old_port = s.upb_comm_port, old_ip = s.serial_ip;
  checked("HTTPPort", s.http_port, CheckHttpPort(Form("ServerPort"), s.http_port));
  checked("Background", s.background, CheckBackground(Form("Background")));
  checked("StyleSheet", s.style_sheet, CheckStyleSheet(Form("StyleSheet")));
  const Checked ip = CheckSerialIP(Form("SerialIP"));
  checked("SerialIP", s.serial_ip, ip);
  checked("UPBCommPort", s.upb_comm_port, CheckCommPort(Form("UPBCommPort"), s.serial_ip));
  if ((s.upb_comm_port != old_port || s.serial_ip != old_ip) && port_changed_) port_changed_();
  s.periodic_script_interval = Form("periodicscriptinterval");
  SaveVaux("PeriodicScriptInterval", s.periodic_script_interval);
  s.up_down_increment = Form("UpDownIncrement");
  SaveVaux("UpDownIncrement", s.up_down_increment);
  s.status_poll = Form("StatusPoll");
  SaveVaux("StatusPoll", s.status_poll);
  s.request_timeout = Form("RequestTimeout");
  SaveVaux("RequestTimeout", s.request_timeout);
  ctx_.scripts.PeriodicScriptIntervalChanged(s.periodic_script_interval);
  s.uid = NormalizeUID(Form("UID"));
  SaveVaux("UID", s.uid);

  std::vector<std::string> names;
  for (int k = 0; k < kInputCount; ++k) {
    std::string name = Form("InputName" + std::to_string(k));
    names.push_back(name.empty() ? "Input" + std::to_string(k + 1) : std::move(name));
  }
  const std::string list = Join(names, ",");
  const bool changed = list != s.input_name_list;
  s.input_name_list = list;
  SaveVaux("InputNameList", list);
  if (changed) {
    // Source items offer the new names.
    for (auto& [key, record] : ctx_.devices.LinkDictionary()) {
      if (record) record->Values = ctx_.devices.DefineValues(record->Kind);
    }
  }
  SaveMqttSetup();
}

void StatusPageModule::AddScriptButton(FastString& out) {
  Guard(ctx_.log, "AddScriptButton", [&] {
    out.Add("<Table width='600' border='5' frame='box'><tr>");
    out.Add(FormatCell("Refresh", "", "2", "TABLEHEADER"));
    out.Add("</tr><tr>");
    out.Add(FormatCell(
        "<form name='no redraw' method='post' target='hiddenframe'><input type='submit' "
        "name='script' value='Read Script Corvane.txt'><input type='hidden' name='clientinput' "
        "value='yes'>" +
            header_.TokenField() + "</form>",
        "", "", "TABLEROWODD"));
    out.Add(FormatCell(
        "<form name='redraw' method='post'><input type='submit' name='query' value='Query Vaux "
        "Aris 700'><input type='hidden' name='clientinput' value='yes'>" +
            header_.TokenField() + "</form>",
        "", "", "TABLEROWODD"));
    out.Add("</tr></table>");
  });
}

}  // namespace corvane
