// The page header: the settings, web security and appliance detection that
// run before each status page, and the header itself (HTML head, body tag,
// include files, link row, title and logo bars, scrolling line) assembled
// from Corvane.ini [Settings], Config/includes.ini, Config/WeatherData.ini,
// files of the web folder and the menu database.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/menu_db.h"

namespace corvane {

class EventLog;
class IniCache;
class PageBridge;
class Request;
class Response;
class WallClock;

class PageHeader {
 public:
  // What FileContents gives for a missing file.
  static constexpr std::string_view kNoFile = "No File";

  PageHeader(IniCache& ini, EventLog& log, const WallClock& wall, PageBridge& bridge,
             std::string program_folder);
  ~PageHeader();

  // The request being served (also the answer for refusals).
  void Begin(Request& request, Response& response);

  // Loads section Settings of Corvane.ini (and forgets the last page's
  // database connection).
  void StartMiscFunctionsASP();
  // The user and security level: from the menu database by client address
  // (ENHANCED), from an HTTP Basic login checked against [WebUsers] (BASIC).
  void SecurityCheck();
  // True for appliance browsers (touch screens, Audrey, QNX).
  bool StartHeaderASP();
  // False when the user may not see this page; the answer ("Unauthorized
  // Access", or a login request in BASIC mode) has then been sent.
  bool Authorize();

  // The header; args[0] is the page title, a non-empty args[1] means the
  // caller wrote "<html><head>" itself, args[2] the background, args[3] the
  // style sheet. Empty elements come from includes.ini.
  std::string CustomHeader(const std::vector<std::string>& args);

  // The pieces.
  std::string MenuRow();
  std::string ssmItems();
  std::string HSLinks();
  std::string PageScroll();
  std::vector<std::string> PageScrollWeatherman();
  std::string LinkFile();
  std::string fnPageName() const;
  std::string GetServerIP() const;
  // A file of the web folder (name relative to it, found ignoring letter
  // case), or "No File".
  std::string FileContents(std::string_view name);
  void LogAuthorized();
  static double NumericHSVersion() { return 1.7; }

  const std::string& user() const { return user_; }
  int level() const { return level_; }
  bool appliance() const { return appliance_; }
  const std::string& row_style() const { return row_style_; }
  // The security mode, upper-cased.
  std::string SecurityMode() const;

  // Corvane.ini [Settings].
  struct Options {
    std::string dbpath, dbname, dbusername, dbpassword, dbserverip, rowstyle, usesecurity,
        linkfileext, dbtype, hsip, exthsip, footerlinkrule, useslideinmenu, audreyrowstyle,
        touchscreenips, usesound;
  };
  const Options& options() const { return options_; }

 private:
  // includes.ini [header.asp], with its defaults.
  struct Includes {
    std::string page_title, show_links, refresh, header, logo_yn, use_security, hide_title,
        use_menu_row, log_page_hits, links_location, use_page_scroll, logo_show_clock,
        logo_show_date, logo_show_time, logo_show_sunrise, logo_show_sunset, logo_show_weather_temp,
        logo_show_username, logo_image_link, use_alerts;
  };
  struct PagePlace {
    int64_t level_id = 0, parent_id = 0, menu_id = 0, secure_level = 0;
  };

  // includes.ini, read once a page.
  const Includes& ReadIncludes();
  std::string LinkRow(const Includes& inc);
  std::string TitleBar(const std::string& title);
  std::string LogoBar(const Includes& inc);
  std::string BodyTag(const std::string& background);
  std::string OwnLinks();
  std::string MenuItem(const std::string& text, const std::string& url, const std::string& image);
  std::string AlertLinks();
  std::string WeatherValue(std::string_view section, std::string_view key);

  // The client address: the host the browser used (REMOTE_ADDR).
  std::string ClientAddress() const;
  // The user of a valid HTTP Basic login, upper-cased; "" for none.
  std::string BasicUser() const;
  // The menu database of this page, opened at first use; null when none.
  MenuDatabase* Database();
  std::optional<PagePlace> Place();
  std::string Setting(std::string_view section, std::string_view key,
                      std::string_view default_value, std::string_view file);
  void Report(std::string_view routine, std::string_view what);

  IniCache& ini_;
  EventLog& log_;
  const WallClock& wall_;
  PageBridge& bridge_;
  std::string program_folder_;
  std::string html_folder_;
  Request* request_ = nullptr;
  Response* response_ = nullptr;

  Options options_;
  std::string user_;
  int level_ = 0;
  bool appliance_ = false;
  std::string row_style_;

  std::unique_ptr<MenuDatabase> db_;
  bool db_tried_ = false;
  std::string last_db_error_;
  std::optional<std::optional<PagePlace>> place_;
  std::optional<Includes> includes_;
  // WeatherData.ini, read at most once a page.
  struct Weather;
  std::unique_ptr<Weather> weather_;
};

}  // namespace corvane
