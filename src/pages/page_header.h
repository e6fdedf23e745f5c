// The page header: it runs before each page (settings, login, appliance
// detection, refusal of users who may not see the page) and then assembles
// the header from its pieces in their order: HTML head with title, style
// sheet and include files, body tag, link row, title and logo bars,
// scrolling line, the program's own links. The pieces live beside it:
// web_security (logins and form tokens), menu_rows (menus from the
// database), header_widgets (weather, scroll, logo), header_settings (the
// settings tables).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/header_settings.h"
#include "pages/header_widgets.h"
#include "pages/menu_rows.h"
#include "pages/web_security.h"

namespace corvane {

class EventLog;
class IniCache;
class PageBridge;
class Request;
class Response;
class WallClock;

class PageHeader {
 public:
  PageHeader(IniCache& ini, EventLog& log, const WallClock& wall, PageBridge& bridge,
             WebSecurity& security, std::string program_folder);

  // The request being served (also the answer for refusals).
  void Begin(Request& request, Response& response);

  // Reads section Settings of Corvane.ini; forgets the last page's pieces.
  void StartMiscFunctionsASP();
  // The user and level (WebSecurity::Check).
  void SecurityCheck();
  // True for appliance browsers (touch screens, Audrey, QNX).
  bool StartHeaderASP();
  // False when the user may not see this page; the answer (a login request,
  // "Unauthorized Access", 403 or 429) has then been sent.
  bool Authorize();

  // The header; args[0] is the page title, a non-empty args[1] means the
  // caller wrote "<html><head>" itself, args[2] the background, args[3] the
  // style sheet. Empty elements come from includes.ini.
  std::string CustomHeader(const std::vector<std::string>& args);

  std::string MenuRow();
  std::string HSLinks();
  // The links file of the page, when there is one.
  std::optional<std::string> LinkFile();
  std::string fnPageName() const;
  std::string GetServerIP() const;
  // A file of the web folder (name relative to it, found ignoring letter
  // case); nothing when it is missing.
  std::optional<std::string> FileContents(std::string_view name) const;
  void LogAuthorized();
  static double NumericHSVersion() { return 1.7; }

  // The anti-forgery token for this page's forms, as a hidden field, and
  // whether the request's post carries it.
  std::string TokenField() const;
  bool TokenValid() const;

  const std::string& user() const { return user_; }
  int level() const { return level_; }
  bool appliance() const { return appliance_; }
  const std::string& row_style() const { return row_style_; }
  // The security mode, upper-cased.
  std::string SecurityMode() const;
  // The client: the connection's own address.
  std::string ClientAddress() const;
  const SettingValues& options() const { return options_; }

 private:
  const SettingValues& Includes();
  MenuViewer Viewer() const;
  std::string HeadPart(const std::string& title, std::string_view sheet, const SettingValues& inc);
  std::string LinkRow(const SettingValues& inc);
  std::string BodyTag(const std::string& background);
  std::string OwnLinks();
  // An include file, its touch-screen variant first on appliance browsers.
  std::optional<std::string> Include(std::string_view name, std::string_view touch_name) const;
  std::string DefaultSetting(std::string_view key) const;

  IniCache& ini_;
  EventLog& log_;
  WebSecurity& security_;
  std::string html_folder_;
  MenuRows menus_;
  HeaderWidgets widgets_;
  Request* request_ = nullptr;
  Response* response_ = nullptr;

  SettingValues options_;
  std::optional<SettingValues> includes_;
  Authorization auth_;
  std::string user_;
  int level_ = 0;
  bool appliance_ = false;
  std::string row_style_;
};

}  // namespace corvane
