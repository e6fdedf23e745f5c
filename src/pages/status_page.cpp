#include "pages/status_page.h"

#include <cmath>

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "core/guard.h"
#include "core/text.h"
#include "devicetable/device_table.h"
#include "devicetable/levels.h"
#include "devicetable/status_text.h"
#include "pages/html_text.h"
#include "pages/page_services.h"
#include "platform/clock.h"
#include "web/request.h"
#include "web/response.h"

namespace corvane {

namespace {

// 1 January 2000 00:00: the time a record that never changed carries.
const double kNeverChanged = ToDateValue(CivilDateTime{2000, 1, 1, 0, 0, 0});

struct Colours {
  std::string_view cls, background, text;
};
constexpr Colours kInlineColours[] = {
    {"TABLEHEADER", "#63639C", "#FFFFFF"},
    {"TABLECOLUMN", "#31639C", "#FFFFFF"},
    {"TABLEROWODD", "#C0C0C0", "#000000"},
    {"TABLEROWEVEN", "#949494", "#000000"},
};

// The help key of a header cell: lower case without spaces, "'" and "-",
// at most 15 characters.
std::string HelpKey(std::string_view text) {
  std::string key;
  for (char c : ToLower(text)) {
    if (c == ' ' || c == '\'' || c == '-') continue;
    key.push_back(c);
  }
  return key.substr(0, 15);
}

std::string Checked(bool on, std::string_view text) {
  return on ? std::string(text) : std::string();
}

}  // namespace

StatusPageModule::StatusPageModule(PageContext context)
    : ctx_(std::move(context)),
      header_(ctx_.ini, ctx_.log, ctx_.wall, ctx_.bridge, ctx_.security, ctx_.program_folder) {}

void StatusPageModule::Report(std::string_view routine, std::string_view what) const {
  ctx_.log.LogError("Corvane", routine, what);
}

std::string StatusPageModule::Form(std::string_view key) const {
  return request_ ? request_->Form(key) : std::string();
}

bool StatusPageModule::FormHas(std::string_view key) const {
  return request_ && request_->FormCol().Contains(key);
}

std::string StatusPageModule::StatusPage(Request& request, Response& response) {
  request_ = &request;
  response_ = &response;
  notices_.clear();
  std::string page;
  const bool done = Guard(ctx_.log, "StatusPage: ", [&] {
    header_.Begin(request, response);
    header_.StartMiscFunctionsASP();
    header_.SecurityCheck();
    inline_colours_ = header_.StartHeaderASP();
    // Nothing of a post is acted on for a user who may not see the page.
    if (!header_.Authorize()) return;
    // Only a post acts on its form (a GET never changes anything), and only
    // a post that brings back the token of a page served to this client: a
    // page of another site cannot know it.
    post_ = request.Method().rfind("POST", 0) == 0;
    if (post_ && !header_.TokenValid()) {
      ctx_.log.LogEvent("Web Security", "refused a form post without this page's token from " +
                                            request.PeerAddress());
      response.SendProblem("403 Forbidden",
                           "This form is out of date or came from another site; nothing was "
                           "changed. Open /status again and repeat the change.");
      return;
    }
    page = Status_ASP();
  });
  return done ? page : buffer_.Take();
}

std::string StatusPageModule::Status_ASP() {
  bool build = true;
  if (post_ && !Form("clientinput").empty()) build = ClientRequest();
  buffer_.Reset();
  if (build) {
    sort_direction_ = RemoveQuotes(
        ctx_.ini.GetIniSetting(kSettingsSection, "StatusSortDirection", "", kMainIniFile));
    sort_key_ = RemoveQuotes(
        ctx_.ini.GetIniSetting(kSettingsSection, "StatusSortKey", "DCSort", kMainIniFile));
    today_ = std::floor(ctx_.wall.Now());
    yesterday_ = today_ - 1;
    buffer_.Reserve(last_page_size_ + last_page_size_ / 8);
    FormatScreen();
    last_page_size_ = buffer_.size();
  }
  return build ? buffer_.Take() : std::string();
}

bool StatusPageModule::ClientRequest() {
  try {
    if (Form("UpdateButton").empty()) {
      if (!Form("script").empty()) {
        // Posted into the hidden frame: no page is wanted.
        ctx_.scripts.ReadScript();
        return false;
      }
      if (!Form("query").empty()) {
        ctx_.bridge.BSCQuery(">:>");
        return true;
      }
      const std::string ci = Form("clientinput");
      if (ci == "yes" || ci.empty()) return true;
      // An item control: "V" and the item's number, the chosen value.
      if (ci.size() < 2 || (ci[0] != 'V' && ci[0] != 'v') || !IsNumeric(ci.substr(1))) {
        return true;
      }
      const auto uid = ToInt16(LeadingNumber(ci.substr(1)));
      ZoneRecord item = uid ? GetVauxObject(*uid) : nullptr;
      if (!item) return true;
      const std::string value = ToUpper(Form("clientvalue"));
      // Only what the control offers is a command: a blank or unknown value
      // would otherwise read as the first level (full volume).
      bool offered = false;
      for (const std::string& option : ControlOptions(item->Kind)) {
        if (!TrimWhite(option).empty() && EqualsIgnoreCase(option, value)) offered = true;
      }
      if (!offered) return true;
      long level;
      if (item->Kind == kSourceKind || item->Kind == kStatusKind) {
        level = static_cast<long>(LeadingNumber(GetEnumIndex(*uid, value)));
      } else if (value == "UP") {
        level = kUpPosition;
      } else if (value == "DOWN") {
        level = kDownPosition;
      } else {
        level = static_cast<long>(LeadingNumber(GetEnumIndex(*uid, value))) + kFirstLevelPosition;
      }
      ctx_.bridge.BSCCmd(">:>", ToHex(item->UIDindex), "ON", std::to_string(level));
      return true;
    }

    // "Save Changes".
    SaveDisplaySettings();
    // Only what the previous page showed, and what this post carries, is
    // stored: fields that were not on the page read as empty and would
    // otherwise wipe names, tags and settings.
    if (as_shown_.ShowSetup && FormHas("ServerPort")) SaveSetup();
    if (as_shown_.ShowStatus == 2) SaveItems();
    if (as_shown_.ShowReceiveMessages && as_shown_.ShowStatus == 2 && FormHas("Source0")) {
      SaveFilterSettigs();
    }
    // What was saved reaches the disk now, not only at shutdown.
    ctx_.devices.SaveLastChange();
    ctx_.devices.SaveDeviceDictionary();
    ctx_.ini.FlushIniCache();
    return true;
  } catch (const std::exception& e) {
    Report("Status ClientRequest ", e.what());
    return true;
  }
}

void StatusPageModule::SaveVaux(std::string_view key, std::string_view value) {
  ctx_.ini.SaveIniSetting(kSettingsSection, key, value, kMainIniFile);
}

void StatusPageModule::SaveDisplaySettings() {
  Settings& s = ctx_.settings.values();
  auto flag = [&](std::string_view key, bool& value) {
    value = !Form(key).empty();
    SaveVaux(key, value ? "True" : "False");
  };
  flag("ShowInputLinks", s.show_input_links);
  flag("ShowMacroMap", s.show_macro_map);
  flag("ShowSetup", s.show_setup);
  flag("ShowOnlyUsed", s.show_only_used);
  flag("ShowReceiveDetail", s.show_receive_detail);
  flag("ShowReceiveMessages", s.show_receive_messages);
  s.show_status = IniInt16(Form("ShowStatus"));
  SaveVaux("ShowStatus", std::to_string(s.show_status));
}

// The rows the page showed (its Only Used filter, not the one this post
// sets), so a row marked Used or renamed in the same post is saved.
void StatusPageModule::SaveItems() {
  BuildItemTable(2, as_shown_.ShowOnlyUsed);
  auto& devices = ctx_.devices.DeviceDictionary();
  for (const ItemRow& row : items_.rows()) {
    const std::string& id = row.UIDIndex;
    // A row whose fields are not in the post was not on the page.
    if (!FormHas("Tag" + id)) continue;
    ZoneRecord item = GetVauxObject(std::stoi(id));
    if (!item) continue;
    item->Used = !Form("Used" + id).empty();
    item->Tag = ReplaceAll(Form("Tag" + id), " ", "_");
    item->Name = ReplaceAll(Form("name" + id), " ", "_");
    item->EventNotification = !Form("Event" + id).empty();
    if (!item->Tag.empty() && !devices.Exists(item->Tag)) {
      auto device = std::make_shared<DeviceClass>();
      device->Tag = item->Tag;
      device->Link = item;
      devices.Add(item->Tag, device);
    }
  }
}

ZoneRecord StatusPageModule::GetVauxObject(int uid) const {
  if (uid < 0 || uid > 255) return nullptr;
  return ctx_.devices.Record(uid);
}

std::string StatusPageModule::GetEnumIndex(int uid, std::string_view label) const {
  ZoneRecord item = GetVauxObject(uid);
  if (!item) return "0";
  const std::string list(TrimSpaces(item->Values));
  for (const std::string& entry : ValueEntries(list)) {
    const size_t two = entry.find('\x02');
    const std::string_view name = std::string_view(entry).substr(0, two);
    if (EqualsIgnoreCase(name, label)) {
      return two == std::string::npos ? std::string("0") : entry.substr(two + 1);
    }
  }
  return "0";
}

std::vector<std::string> StatusPageModule::ControlOptions(int kind) const {
  switch (kind) {
    case kSourceKind: {
      // The controller has eight inputs; names beyond them name nothing.
      auto names = Split(ctx_.settings.values().input_name_list, ',');
      const size_t inputs = static_cast<size_t>(kInputCount);
      if (names.size() > inputs) names.resize(inputs);
      return names;
    }
    case kStatusKind:
      return StatusRequestList();
    default:
      if (const LevelTable* table = TableForKind(kind)) return LevelList(*table);
      return {};
  }
}

namespace {
constexpr std::string_view kPulldownHead =
    "<select class='formdropdown'  onChange='ClearSubmit(this);' name='";
constexpr std::string_view kPulldownSize = "' size='1'>";
constexpr std::string_view kPulldownEnd = "</select>";
}  // namespace

std::string StatusPageModule::Controls(std::string_view name, int kind) const {
  auto cached = options_html_.find(kind);
  if (cached == options_html_.end()) {
    const auto options = ControlOptions(kind);
    cached =
        options_html_.emplace(kind, options.empty() ? "" : PulldownOptions(" ", options)).first;
  }
  if (cached->second.empty()) return " ";
  std::string out;
  out.reserve(kPulldownHead.size() + name.size() + cached->second.size() + 32);
  out.append(kPulldownHead).append(HtmlEscape(name)).append(kPulldownSize);
  out.append(cached->second).append(kPulldownEnd);
  return out;
}

std::string StatusPageModule::LinkPulldown(std::string_view name, std::string_view selected,
                                           const std::vector<std::string>& options) {
  return std::string(kPulldownHead) + HtmlEscape(name) + std::string(kPulldownSize) +
         PulldownOptions(selected, options) + std::string(kPulldownEnd);
}

std::string StatusPageModule::PulldownOptions(std::string_view selected,
                                              const std::vector<std::string>& options) {
  FastString out;
  out.Add(TrimSpaces(selected).empty() ? "<option selected=' '></option>"
                                       : "<option value=' '></option>");
  for (const std::string& option : options) {
    const std::string o = HtmlEscape(option);
    out.Add("<option value='");
    out.Add(o);
    out.Add("'>");
    out.Add(o);
    out.Add("</option>");
  }
  return out.Take();
}

std::string StatusPageModule::FormatCell(std::string_view text, std::string_view align,
                                         std::string_view colspan, std::string_view cls) const {
  std::string out = "<td ";
  const Colours* colours = nullptr;
  if (inline_colours_) {
    for (const Colours& c : kInlineColours) {
      if (EqualsIgnoreCase(c.cls, cls)) colours = &c;
    }
  }
  if (colours) {
    out += "bgcolor='" + std::string(colours->background) + "'";
  } else {
    out += "class='" + std::string(cls) + "'";
  }
  if (!colspan.empty()) out += " colspan='" + std::string(colspan) + "'";
  if (!align.empty()) out += " align='" + std::string(align) + "'";
  if (EqualsIgnoreCase(cls, "TABLEHEADER") && (text.empty() || text[0] != '<')) {
    const std::string key = HtmlEscape(JsString(HelpKey(text)));
    out += " onmouseover=\"if(window.myPopup)myPopup.startHelp('" + key +
           "')\" onmouseout=\"if(window.myPopup)myPopup.clearHelp()\"";
  }
  out += ">";
  if (colours) {
    out += "<font face='Verdana, Arial, sans-serif' size='2' color='" + std::string(colours->text) +
           "'>";
    out.append(text);
    out += "</font>";
  } else {
    out.append(text);
  }
  return out + "</td>";
}

std::string StatusPageModule::ChangeTime(double when) const {
  if (when == 0 || when == kNeverChanged) return {};
  if (when >= today_) return "Today " + FormatLongTime(when);
  if (when >= yesterday_) return "Yesterday " + FormatLongTime(when);
  return FormatGeneralDate(when);
}

void StatusPageModule::BuildItemTable(int16_t show_status, bool only_used) {
  items_.Clear();
  for (const auto& [key, record] : ctx_.devices.LinkDictionary()) {
    if (record) items_.AddLinkInfo(*record);
  }
  if (show_status == 0) return;
  items_.Sort(TrimSpaces(sort_key_ + " " + sort_direction_));
  if (only_used) items_.FilterUsed();
}

void StatusPageModule::FormatScreen() {
  FastString& out = buffer_;
  options_html_.clear();
  const Settings& s = ctx_.settings.values();
  try {
    AddPageHead(out);
    AddDisplaySwitches(out);
    AddItemTable(out);
    // The sections (the link map writes nothing), the end of the form.
    if (s.show_receive_messages) AddFilter(out);
    if (s.show_setup) AddSetup(out);
    out.Add("</form>");
    AddScriptButton(out);
    AddHiddenFrame(out);
  } catch (const std::exception& e) {
    Report("Status FormatScreen ", e.what());
  }
  // What this page showed: the next "Save Changes" walks these fields.
  as_shown_.ShowStatus = s.show_status;
  as_shown_.ShowSetup = s.show_setup;
  as_shown_.ShowReceiveMessages = s.show_receive_messages;
  as_shown_.ShowMacroMap = s.show_macro_map;
  as_shown_.ShowInputLinks = s.show_input_links;
  as_shown_.ShowOnlyUsed = s.show_only_used;
}

// The head with the two submit helpers, the page header, the main form
// with its hidden fields and the "Save Changes" button.
void StatusPageModule::AddPageHead(FastString& out) {
  const Settings& s = ctx_.settings.values();
  out.Add("<html><head>");
  out.Add("<SCRIPT LANGUAGE=\"JavaScript\">");
  out.Add(
      "function ClearSubmit(button) {document.control.clientvalue.value = button.value; "
      "document.control.clientinput.value = button.name; document.control.submit();}\n");
  out.Add(
      "function HiddenSubmit(button) {var f = parent.hiddenframe.document.hiddenform; "
      "f.clientvalue.value = button.value; f.clientinput.value = button.name; f.submit();}\n");
  out.Add("</script>");
  const std::string title = "Vaux Aris 700 Status&nbsp;&nbsp;<small><font size='1'></b> V" +
                            ctx_.version + "</font></small>";
  out.Add(header_.CustomHeader({title, "x", s.background, s.style_sheet}));
  for (const std::string& line : notices_)
    out.Add("<div class='notice'>" + HtmlEscape(line) + "</div>");
  out.Add("<div><center><small>");
  out.Add("<form name='control' method='post'>");
  out.Add("<input type='hidden' name='clientinput' value='yes'>");
  out.Add("<input type='hidden' name='clientvalue' value='yes'>");
  out.Add(header_.TokenField());
  out.Add("<center><input type='submit' name ='UpdateButton' value='Save Changes'></center><br>");
}

void StatusPageModule::AddDisplaySwitches(FastString& out) {
  const Settings& s = ctx_.settings.values();
  out.Add("<table border='5' frame='box' width= '600'><tr>");
  out.Add(FormatCell("Browser Content Display Control", "", "5", "TABLEHEADER"));
  out.Add("</tr><tr>");
  auto check = [&](std::string_view name, bool on, std::string_view label) {
    out.Add(FormatCell("<input type='checkbox' name='" + std::string(name) + "' value='1'" +
                           Checked(on, " checked ") + ">" + std::string(label),
                       "", "", "TABLEROWEVEN"));
  };
  out.Add(
      FormatCell("<input type='submit' name='Refresh' value='Refresh'>", "", "", "TABLEROWEVEN"));
  check("ShowReceiveMessages", s.show_receive_messages, "Receive xAP Messages");
  check("ShowSetup", s.show_setup, "Setup");
  check("ShowOnlyUsed", s.show_only_used, "Only Used");
  check("ShowReceiveDetail", s.show_receive_detail, "Receive xAP Detail");
  out.Add("</tr><tr>");
  const char* radio_labels[] = {"Dont Show Status", "Show Status", "Show Status and Config"};
  for (int v = 0; v < 3; ++v) {
    out.Add(FormatCell("<input type='radio' name='ShowStatus' value='" + std::to_string(v) + "'" +
                           Checked(s.show_status == v, " checked") + ">" + radio_labels[v],
                       "", v == 0 ? "1" : "2", "TABLEROWEVEN"));
  }
  out.Add("</tr></table>");
  out.Add("<br>");
}

// The item table: its title, the column buttons, then one row per item
// with a group row before each kind when sorted by DCSort.
void StatusPageModule::AddItemTable(FastString& out) {
  const Settings& s = ctx_.settings.values();
  const bool config = s.show_status == 2;
  // The title spans 8 columns with the configuration columns, else 4 (the
  // page has always written 4 there, one short of the five columns shown).
  const std::string columns = config ? "8" : "4";
  out.Add("<table  border='5' frame='box'><tr>");
  out.Add(FormatCell("Vaux Aris 700", "", columns, "TABLEHEADER"));
  out.Add("</tr><tr>");
  auto column = [&](std::string_view name, std::string_view label) {
    out.Add(FormatCell("<input type='submit' class='TABLEHEADER' name='" + std::string(name) +
                           "' value='" + std::string(label) + "'>",
                       "", "", "TABLEHEADER"));
  };
  column("Status", "Status");
  column("Changed", "Changed");
  if (config) column("Used", "Used");
  column("Tag", "Tag");
  if (config) {
    column("Event", "Ev");
    column("ID", "ID");
  }
  column("Name", "Name");
  column("Buttons", "Control");
  out.Add("</tr><tr>");

  BuildItemTable(s.show_status, s.show_only_used);
  if (s.show_status != 0) {
    const bool groups = ToUpper(sort_key_) == "DCSORT";
    int group = -1;
    bool odd = false;
    for (const ItemRow& row : items_.rows()) {
      const int row_group = (static_cast<int>(LeadingNumber(row.UIDIndex)) - 1) / kZoneCount;
      if (groups && row_group != group) {
        out.Add(FormatCell(ComponentType(row_group), "", columns, "TABLEHEADER"));
        out.Add("</tr><tr>");
      }
      group = row_group;
      AddItemRow(out, row, odd ? "TABLEROWODD" : "TABLEROWEVEN", config);
      odd = !odd;
    }
  }
  out.Add("</tr></table>");
}

void StatusPageModule::AddItemRow(FastString& out, const ItemRow& row, const std::string& cls,
                                  bool config) {
  const std::string& id = row.UIDIndex;
  out.Add(FormatCell(HtmlEscape(row.Status), "Left", "1", cls));
  out.Add(FormatCell(ChangeTime(row.Changed), "Left", "1", cls));
  if (config) {
    out.Add(FormatCell(
        "<input type='checkbox' " + Checked(row.Used, "checked") + " name='Used" + id + "'>",
        "Left", "1", cls));
    out.Add(FormatCell("<input type='text' size='15' name='Tag" + id + "' value='" +
                           HtmlEscape(row.Tag) + "'>",
                       "Left", "1", "tablecellmisc"));
    out.Add(FormatCell(
        "<input type='checkbox' " + Checked(row.Event, "checked") + " name='Event" + id + "'>",
        "Left", "1", cls));
    out.Add(FormatCell(ToHex(static_cast<int>(LeadingNumber(id))), "Left", "1", cls));
  } else {
    out.Add(FormatCell(HtmlEscape(row.Tag), "Left", "1", "tablecellmisc"));
  }
  out.Add(FormatCell("<input type='text' size='25' name='name" + id + "' value='" +
                         HtmlEscape(row.Name) + "'>",
                     "Left", "1", cls));
  out.Add(FormatCell(Controls("V" + id, row.Kind), "Left", "1", cls));
  out.Add("</tr><tr>");
}

// The hidden frame the script button posts into, and the page's end.
void StatusPageModule::AddHiddenFrame(FastString& out) {
  out.Add(
      "<IFRAME frameborder=0 scrolling='no' name='hiddenframe' cols='0' rows='0' width='0' "
      "height='0' size='0'>");
  out.Add(
      "<form name='hiddenform' method = 'post'><input type='hidden' name='clientinput' "
      "value='x'><input type='hidden' name='clientvalue' value='y'>" +
      header_.TokenField() + "</form>");
  out.Add("</IFRAME>");
  out.Add("</small></center></div>");
  out.Add("</body></html>");
}

}  // namespace corvane
