// The status and control page: the list of the controller's items with their
// values and change times, a drop-down per item that commands the controller
// (through the BSC command handler, as an xAP command would), the editable
// names, tags and flags, the display switches, and the setup and filter
// sections. A post is acted on first; the page is then rebuilt and returned.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/fast_string.h"
#include "devicetable/records.h"
#include "pages/item_table.h"
#include "pages/page_header.h"
#include "pages/web_security.h"
#include "web/page_handler.h"

namespace corvane {

class DeviceTable;
class EventLog;
class IniCache;
class PageBridge;
class ScriptControl;
class SettingsStore;
class WallClock;
class WebSecurity;

// What the page works with; every reference must outlive the page.
struct PageContext {
  IniCache& ini;
  SettingsStore& settings;
  EventLog& log;
  const WallClock& wall;
  DeviceTable& devices;
  PageBridge& bridge;
  ScriptControl& scripts;
  WebSecurity& security;
  std::string program_folder;
  std::string version;  // major.minor.revision
};

class StatusPageModule final : public StatusPageHandler {
 public:
  // The display switches the last page was built with: a save only stores
  // the sections that page showed.
  struct AsShown {
    int16_t ShowStatus = 0;
    bool ShowSetup = false;
    bool ShowReceiveMessages = false;
    bool ShowMacroMap = false;
    bool ShowInputLinks = false;
    bool ShowOnlyUsed = false;  // which rows the item table listed
  };

  // The controller's inputs, named by InputNameList.
  static constexpr int kInputCount = 8;

  explicit StatusPageModule(PageContext context);

  std::string StatusPage(Request& request, Response& response) override;

  // Acts on a post and builds the page ("" when no page is wanted).
  std::string Status_ASP();
  // Acts on the posted form; false means no page is to be built.
  bool ClientRequest();
  // Builds the page into the page buffer.
  void FormatScreen();

  // The pieces.
  std::string Controls(std::string_view name, int kind) const;
  static std::string LinkPulldown(std::string_view name, std::string_view selected,
                                  const std::vector<std::string>& options);
  // The option elements of a drop-down list.
  static std::string PulldownOptions(std::string_view selected,
                                     const std::vector<std::string>& options);
  ZoneRecord GetVauxObject(int uid) const;
  std::string GetEnumIndex(int uid, std::string_view label) const;
  std::string FormatCell(std::string_view text, std::string_view align, std::string_view colspan,
                         std::string_view cls) const;
  // The Changed column: "", "Today 8:05:09 AM", "Yesterday ...", or the date.
  std::string ChangeTime(double when) const;
  // The values a control offers for a kind (input names for kind 0).
  std::vector<std::string> ControlOptions(int kind) const;

  // The sections.
  void AddFilter(FastString& buffer);
  void SaveFilterSettigs();
  void AddSetup(FastString& buffer);
  void SaveSetup();
  void AddScriptButton(FastString& buffer);
  // The setup section's MQTT group (section [MQTT] of Corvane.ini) and its
  // save, which then calls the hook so that the MQTT side reconnects.
  void AddMqttSetup(FastString& buffer);
  void SaveMqttSetup();
  void SetMqttSettingsChanged(std::function<void()> hook) { mqtt_changed_ = std::move(hook); }
  // A save changed UPBCommPort or SerialIP: the controller link reopens.
  void SetControllerPortChanged(std::function<void()> hook) { port_changed_ = std::move(hook); }
  // One line on the next page (a refused setup value).
  void Notice(std::string line) { notices_.push_back(std::move(line)); }

  const AsShown& as_shown() const { return as_shown_; }
  // FormatCell writes inline colours instead of style classes.
  void SetInlineColours(bool on) { inline_colours_ = on; }
  PageHeader& header() { return header_; }

 private:
  // The table the page lists: every zone record, sorted, maybe filtered.
  void BuildItemTable(int16_t show_status, bool only_used);
  // The steps of FormatScreen, in page order.
  void AddPageHead(FastString& out);
  void AddDisplaySwitches(FastString& out);
  void AddItemTable(FastString& out);
  void AddItemRow(FastString& out, const ItemRow& row, const std::string& cls, bool config);
  void AddHiddenFrame(FastString& out);
  void SaveDisplaySettings();
  void SaveItems();
  void SaveVaux(std::string_view key, std::string_view value);
  std::string Form(std::string_view key) const;
  bool FormHas(std::string_view key) const;
  void Report(std::string_view routine, std::string_view what) const;

  PageContext ctx_;
  PageHeader header_;
  Request* request_ = nullptr;
  Response* response_ = nullptr;
  FastString buffer_;
  ItemTable items_;
  AsShown as_shown_;
  bool inline_colours_ = false;
  std::string sort_key_ = "DCSort";
  std::string sort_direction_;
  double today_ = 0;
  double yesterday_ = 0;
  // The option elements of each kind's control, made once a page.
  mutable std::map<int, std::string> options_html_;
  size_t last_page_size_ = 0;
  std::function<void()> mqtt_changed_;
  std::function<void()> port_changed_;
  std::vector<std::string> notices_;
  // The request is a POST (only a post acts on its form).
  bool post_ = false;
};

}  // namespace corvane
