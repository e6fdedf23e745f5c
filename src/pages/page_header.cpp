#include "pages/page_header.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "config/ini_cache.h"
#include "config/ini_tool.h"
#include "core/datetime.h"
#include "core/event_log.h"
#include "core/fast_string.h"
#include "core/folders.h"
#include "config/settings.h"
#include "core/text.h"
#include "pages/html_text.h"
#include "pages/page_services.h"
#include "pages/sha256.h"
#include "platform/clock.h"
#include "web/request.h"
#include "web/response.h"
#include "web/web_files.h"

namespace corvane {

namespace {

constexpr std::string_view kIncludesFile = "includes.ini";
constexpr std::string_view kIncludesSection = "header.asp";
constexpr std::string_view kUsersSection = "WebUsers";
constexpr std::string_view kAlertPage = "https://www.weather.gov/alerts";
constexpr std::string_view kBarLink = "https://forums.homeseer.com/";

// The menu database's queries; values from the request are parameters.
constexpr std::string_view kUserQuery =
    "SELECT UserID, SecureLevel, SecID FROM MenuUsers WHERE SecID = ?";
// The session time is written with SQLite's own clock whatever dbtype says.
constexpr std::string_view kSessionUpdate =
    "UPDATE MenuUsers SET LastSessTime = datetime('now', 'localtime') WHERE SecID = ?";
constexpr std::string_view kTopItems =
    "SELECT MenuItem, MenuURL, ParentID, SecureLevel, MenuImage FROM Menus "
    "WHERE LevelID = 1 AND SecureLevel <= ? ORDER BY SortOrder";
constexpr std::string_view kPagePlace =
    "SELECT LevelID, ParentID, MenuID, SecureLevel FROM Menus "
    "WHERE MenuURL LIKE '%' || ? ESCAPE '\\'";
constexpr std::string_view kChildItems =
    "SELECT M.MenuItem, M.MenuURL, M.ParentID, M.SecureLevel, M.MenuImage FROM Menus M "
    "WHERE M.ParentID = ? AND M.LevelID = ? AND M.SecureLevel <= ? ORDER BY M.SortOrder";
constexpr std::string_view kMenuPrefs =
    "SELECT yoffset, xoffset, staticyoffset, slidespeed, waittime, menuIsStatic, menuwidth, "
    "barlink, bartext, barwidth, mouseovercolor, mouseoutcolor, targetwindow "
    "FROM MenuPOPPref WHERE UserID = ?";
constexpr std::string_view kMenuItems =
    "SELECT P.MenuID, P.MenuText, P.MenuURL, M.MenuItem, M.MenuURL, P.IsHeader, P.IsActive "
    "FROM MenuPOP P LEFT JOIN Menus M ON P.MenuID = M.MenuID "
    "WHERE P.IsActive = 1 AND P.UserID = (SELECT UserID FROM MenuUsers WHERE SecID = ? LIMIT 1) "
    "ORDER BY P.SortOrder, M.MenuItem";

std::string Attr(std::string_view s) {
  return HtmlEscape(s);
}

// One section of a settings file, read with a single check of the file
// (a page reads dozens of keys).
class SectionReader {
 public:
  SectionReader(IniCache& ini, std::string_view section, std::string_view file)
      : store_(ini.Store(ini.FindIniFile(file, false))), section_(section) {}
  std::string operator()(std::string_view key, std::string_view default_value = {}) const {
    return store_.Read(section_, key, default_value);
  }

 private:
  IniTool& store_;
  std::string_view section_;
};

int64_t Number(const std::string& s) {
  return static_cast<int64_t>(LeadingNumber(s));
}

// A LIKE pattern's own characters taken literally.
std::string LikeLiteral(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '%' || c == '_' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// A host name or address with an optional port: only the characters such a
// text may hold, so it can go into links as it is.
std::string HostOnly(std::string_view s) {
  std::string out;
  for (char c : TrimWhite(s)) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' ||
        c == '[' || c == ']') {
      out.push_back(c);
    } else {
      break;
    }
  }
  return out;
}

// An address the browser used from this machine or the local network.
bool LocalAddress(std::string_view host) {
  const std::string h = ToLower(host);
  if (h.find('.') == std::string::npos || h == "localhost") return true;
  if (h.rfind("127.", 0) == 0 || h.rfind("10.", 0) == 0 || h.rfind("192.168.", 0) == 0) return true;
  if (h.rfind("172.", 0) == 0) {
    const int second = static_cast<int>(LeadingNumber(h.substr(4)));
    return second >= 16 && second <= 31;
  }
  return false;
}

bool IsImageName(std::string_view s) {
  const std::string l = ToLower(s);
  for (std::string_view ext : {".gif", ".jpg", ".jpeg", ".png", ".bmp"}) {
    if (l.size() >= ext.size() && l.compare(l.size() - ext.size(), ext.size(), ext) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

struct PageHeader::Weather {
  IniTool ini;
  bool loaded = false;
};

PageHeader::PageHeader(IniCache& ini, EventLog& log, const WallClock& wall, PageBridge& bridge,
                       std::string program_folder)
    : ini_(ini),
      log_(log),
      wall_(wall),
      bridge_(bridge),
      program_folder_(std::move(program_folder)),
      html_folder_(JoinPath(program_folder_, "HTML")) {}

PageHeader::~PageHeader() = default;

void PageHeader::Begin(Request& request, Response& response) {
  request_ = &request;
  response_ = &response;
}

void PageHeader::Report(std::string_view routine, std::string_view what) {
  log_.LogError("Corvane", routine, what);
}

std::string PageHeader::Setting(std::string_view section, std::string_view key,
                                std::string_view default_value, std::string_view file) {
  return ini_.GetIniSetting(section, key, default_value, file);
}

void PageHeader::StartMiscFunctionsASP() {
  db_.reset();
  db_tried_ = false;
  place_.reset();
  includes_.reset();
  weather_.reset();
  try {
    auto get = [&](std::string_view key) { return Setting("Settings", key, "", kMainIniFile); };
    Options o;
    o.dbpath = get("dbpath");
    o.dbname = get("dbname");
    o.dbusername = get("dbusername");
    o.dbpassword = get("dbpassword");
    o.dbserverip = get("dbserverip");
    o.rowstyle = get("rowstyle");
    o.usesecurity = get("usesecurity");
    o.linkfileext = get("linkfileext");
    o.dbtype = get("dbtype");
    o.hsip = get("hsip");
    o.exthsip = get("exthsip");
    o.footerlinkrule = get("footerlinkrule");
    o.useslideinmenu = get("useslideinmenu");
    o.audreyrowstyle = get("audreyrowstyle");
    o.touchscreenips = get("touchscreenips");
    o.usesound = get("usesound");
    options_ = std::move(o);
  } catch (const std::exception& e) {
    Report("XStartMiscFunctionsASP: ", e.what());
  }
}

std::string PageHeader::SecurityMode() const {
  return ToUpper(TrimWhite(options_.usesecurity));
}

std::string PageHeader::ClientAddress() const {
  return request_ ? request_->ServerVariables("REMOTE_ADDR") : std::string();
}

MenuDatabase* PageHeader::Database() {
  if (db_tried_) return db_.get();
  db_tried_ = true;
  const std::string path = MenuDatabase::PathOf(options_.dbpath, program_folder_);
  if (path.empty()) return nullptr;
  std::string error;
  db_ = MenuDatabase::Open(path, &error);
  // A database that stays missing is reported once, not on every page.
  if (!db_ && error != last_db_error_) Report("MenuRow: ", error);
  last_db_error_ = db_ ? std::string() : error;
  return db_.get();
}

void PageHeader::SecurityCheck() {
  user_.clear();
  level_ = 0;
  try {
    const std::string mode = SecurityMode();
    if (mode == "ENHANCED") {
      user_ = "None";
      if (MenuDatabase* db = Database()) {
        const std::string address = ClientAddress();
        const auto rows = db->Query(kUserQuery, {address});
        if (!rows.empty()) {
          user_ = rows[0][0];
          level_ = static_cast<int>(Number(rows[0][1]));
        }
        if (rows.size() == 1) db->Query(kSessionUpdate, {address});
      }
    } else if (mode == "BASIC") {
      user_ = BasicUser();
      if (!user_.empty()) level_ = 10;
    }
  } catch (const std::exception& e) {
    Report("XSecurityCheck: ", e.what());
  }
}

std::string PageHeader::BasicUser() const {
  if (!request_) return {};
  const std::string header = request_->ServerVariables("Authorization");
  std::string_view h = TrimWhite(header);
  if (!StartsWithIgnoreCase(h, "Basic ")) return {};
  const auto decoded = Base64Decode(TrimWhite(h.substr(6)));
  if (!decoded) return {};
  const size_t colon = decoded->find(':');
  if (colon == 0 || colon == std::string::npos) return {};
  const std::string name = decoded->substr(0, colon);
  const std::string password = decoded->substr(colon + 1);
  const std::string stored =
      ini_.GetIniSetting(kUsersSection, name, "", kMainIniFile);  // salt:hexdigest
  const size_t split = stored.find(':');
  if (split == std::string::npos) return {};
  const std::string salt = stored.substr(0, split);
  const std::string digest = ToLower(TrimWhite(std::string_view(stored).substr(split + 1)));
  if (!ConstantTimeEquals(Sha256Hex(salt + password), digest)) return {};
  return ToUpper(name);
}

bool PageHeader::StartHeaderASP() {
  appliance_ = false;
  row_style_ = options_.rowstyle;
  try {
    const std::string address = ClientAddress();
    for (const std::string& ip : Split(options_.touchscreenips, ',')) {
      const std::string_view t = TrimWhite(ip);
      if (!t.empty() && EqualsIgnoreCase(t, address)) appliance_ = true;
    }
    const std::string agent = request_ ? request_->ServerVariables("http_user_agent") : "";
    if (agent.find("Audrey") != std::string::npos || agent.find("QNX") != std::string::npos) {
      appliance_ = true;
    }
    if (appliance_) row_style_ = options_.audreyrowstyle;
  } catch (const std::exception& e) {
    Report("xStartHeaderASP ", e.what());
  }
  return appliance_;
}

std::optional<PageHeader::PagePlace> PageHeader::Place() {
  if (place_) return *place_;
  place_.emplace();
  try {
    if (MenuDatabase* db = Database()) {
      const auto rows = db->Query(kPagePlace, {LikeLiteral(fnPageName())});
      if (!rows.empty()) {
        PagePlace p;
        p.level_id = Number(rows[0][0]);
        p.parent_id = Number(rows[0][1]);
        p.menu_id = Number(rows[0][2]);
        p.secure_level = Number(rows[0][3]);
        place_->emplace(p);
      }
    }
  } catch (const std::exception& e) {
    Report("MenuRow: ", e.what());
  }
  return *place_;
}

bool PageHeader::Authorize() {
  const std::string mode = SecurityMode();
  if (mode != "BASIC" && mode != "ENHANCED") return true;
  if (mode == "BASIC" && user_.empty()) {
    LogAuthorized();
    return false;
  }
  // The menu database may ask more of this page than the user's level.
  const auto place = Place();
  if (place && place->secure_level > level_) {
    LogAuthorized();
    return false;
  }
  return true;
}

void PageHeader::LogAuthorized() {
  try {
    const std::string page = fnPageName();
    const std::string mode = SecurityMode();
    if (!EqualsIgnoreCase(page, "unauthorized.asp")) {
      const std::string who = mode == "BASIC" && user_.empty() ? "Anonymous Guest" : user_;
      log_.LogEvent("Unauthorized",
                    who + " at " + ClientAddress() + " attempted to access " + page + ". ");
    }
    if (!response_) return;
    // A browser only sends a login after it has been asked for one.
    if (mode == "BASIC" && user_.empty()) {
      response_->Challenge("Corvane");
    } else {
      response_->Redirect("/unauthorized.asp");
    }
  } catch (const std::exception& e) {
    Report("LogAuthorized: ", e.what());
  }
}

std::string PageHeader::fnPageName() const {
  if (!request_) return {};
  const std::string path = ReplaceAll(request_->page(), "/", "\\");
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PageHeader::GetServerIP() const {
  std::string host;
  if (request_) {
    host = HostOnly(request_->ServerVariables("Host"));
    if (host.empty()) {
      std::string referer = request_->ServerVariables("Referer");
      const size_t scheme = referer.find("://");
      if (scheme != std::string::npos) host = HostOnly(referer.substr(scheme + 3));
    }
    if (host.empty()) {
      const std::string& raw = request_->header();
      for (std::string_view mark : {"\nhost:", "referer:"}) {
        size_t at = FindIgnoreCase(raw, mark);
        if (at == std::string::npos) continue;
        std::string rest = raw.substr(at + mark.size());
        const size_t scheme = rest.find("://");
        if (mark == "referer:" && scheme != std::string::npos) rest = rest.substr(scheme + 3);
        host = HostOnly(rest);
        if (!host.empty()) break;
      }
    }
  }
  return "http://" + host + "/";
}

std::string PageHeader::FileContents(std::string_view name) {
  try {
    const auto file = FindWebFile(html_folder_, name);
    if (!file) return std::string(kNoFile);
    std::ifstream in(file->path, std::ios::binary);
    if (!in) return std::string(kNoFile);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  } catch (const std::exception& e) {
    Report("FileContents: ", e.what());
    return std::string(kNoFile);
  }
}

std::string PageHeader::LinkFile() {
  try {
    const std::string page = fnPageName();
    if (page.empty()) return std::string(kNoFile);
    if (appliance_) {
      std::string text = FileContents("links/" + page + "_touchscreen.htm");
      if (text != kNoFile) return text;
    }
    return FileContents("links/" + page + ".htm");
  } catch (const std::exception& e) {
    Report("LinkFile: ", e.what());
    return std::string(kNoFile);
  }
}

const PageHeader::Includes& PageHeader::ReadIncludes() {
  if (includes_) return *includes_;
  Includes& inc = includes_.emplace();
  // The two keys a new includes.ini is given, so the user finds them there.
  bool wrote = false;
  const SectionReader get(ini_, kIncludesSection, kIncludesFile);
  auto keep = [&](std::string_view key, std::string_view default_value) {
    constexpr std::string_view kMissing = "\x01";
    std::string v = get(key, kMissing);
    if (v == kMissing) {
      ini_.SaveIniSetting(kIncludesSection, key, default_value, kIncludesFile);
      wrote = true;
      return std::string(default_value);
    }
    return v;
  };
  inc.page_title = keep("strPageTitle", "n/a");
  inc.show_links = keep("strShowLinks", "OldStyle");
  if (wrote) ini_.FlushIniCache();
  inc.refresh = get("strRefresh", "0");
  inc.header = get("strHeader");
  inc.logo_yn = get("strLogoYN", "Yes");
  inc.use_security = get("UseSecurity", "None");
  inc.hide_title = get("HideTitle");
  inc.use_menu_row = get("useMenuRow", "0");
  inc.log_page_hits = get("logpagehits");
  inc.links_location = get("linkslocation");
  inc.use_page_scroll = get("usePageScroll", "Default");
  inc.logo_show_clock = get("logoShowClock");
  inc.logo_show_date = get("logoShowDate");
  inc.logo_show_time = get("logoShowTime");
  inc.logo_show_sunrise = get("logoShowSunrise");
  inc.logo_show_sunset = get("logoShowSunset");
  inc.logo_show_weather_temp = get("logoShowWeatherManTemp");
  inc.logo_show_username = get("logoShowUsername");
  inc.logo_image_link = get("logoImageLink");
  inc.use_alerts = get("useAlerts");
  return inc;
}

std::string PageHeader::CustomHeader(const std::vector<std::string>& args) {
  FastString out;
  try {
    auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string(); };
    const Includes& inc = ReadIncludes();
    const std::string title = arg(0).empty() ? inc.page_title : arg(0);

    // 1. Head and title.
    if (arg(1).empty()) out.Add("<html><head>");
    const std::string site = Setting("Settings", "gWebPageTitle", "", IniCache::kDefaultFile);
    out.Add("<title>");
    if (!site.empty()) out.Add(HtmlEscape(site) + " - ");
    out.Add(HtmlEscape(StripHTML(title)));
    out.Add("</title>");

    // 2. Style sheet and cache control.
    std::string sheet = arg(3).empty() ? std::string("styleNoBody.css") : arg(3);
    while (!sheet.empty() && sheet[0] == '/') sheet.erase(0, 1);
    out.Add("<link rel=\"stylesheet\" type=\"text/css\" href=\"/" + Attr(sheet) + "\">");
    out.Add("<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\">");
    out.Add("<meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">");
    std::string refresh = TrimWhite(inc.refresh).empty() || TrimWhite(inc.refresh) == "0"
                              ? Setting("Settings", "auto_refresh", "", IniCache::kDefaultFile)
                              : inc.refresh;
    if (IsNumeric(refresh) && LeadingNumber(refresh) > 0) {
      out.Add("<meta HTTP-EQUIV=\"refresh\" CONTENT=\"" +
              std::to_string(static_cast<long>(LeadingNumber(refresh))) + "\">");
    }

    // 3. Meta include, slide-in menu.
    std::string meta = appliance_ ? FileContents("meta_touchscreen.htm") : std::string(kNoFile);
    if (meta == kNoFile) meta = FileContents("meta.htm");
    if (meta != kNoFile) out.Add(meta);
    if (SwitchOn(options_.useslideinmenu)) out.Add(ssmItems());
    out.Add("</head>");

    // 4. Body.
    out.Add(BodyTag(arg(2)));

    // 5. Skip link and head include.
    if (FindWebFile(html_folder_, "img/blank.gif")) {
      out.Add(
          "<a href=\"#pagecontent\" class=\"skiplink\"><img src=\"/img/blank.gif\" width=\"1\" "
          "height=\"1\" border=\"0\" alt=\"Skip to content\"></a>");
    }
    std::string head = appliance_ ? FileContents("head_touchscreen.htm") : std::string(kNoFile);
    if (head == kNoFile) head = FileContents("head.htm");
    if (head != kNoFile) out.Add(head);

    // 6. Link row.
    out.Add(LinkRow(inc));

    // 7. Title bar and logo bar.
    if (!SwitchOn(inc.hide_title)) out.Add(TitleBar(title));
    if (SwitchOn(inc.logo_yn)) out.Add(LogoBar(inc));

    // 8. Scrolling line.
    if (!EqualsIgnoreCase(TrimWhite(inc.use_page_scroll), "None")) out.Add(PageScroll());

    // 9. The program's own links.
    out.Add(OwnLinks());

    // 10. Where the page's content begins.
    out.Add("<a name=\"pagecontent\"></a>");
  } catch (const std::exception& e) {
    Report("XCustomHeader: ", e.what());
  }
  return out.Take();
}

std::string PageHeader::BodyTag(const std::string& background) {
  std::string tag = "<body";
  const std::string bg(TrimWhite(background));
  if (!bg.empty()) {
    const bool image = IsImageName(bg);
    if (appliance_) {
      tag += image ? " style=\"background-image: url('" + Attr(JsString(bg)) + "')\""
                   : " style=\"background-color: " + Attr(bg) + "\"";
    } else {
      tag += image ? " background=\"" + Attr(bg) + "\"" : " bgcolor=\"" + Attr(bg) + "\"";
    }
  }
  const std::string onload = Setting("Settings", "BODY_OnLoad", "", IniCache::kDefaultFile);
  if (!onload.empty()) tag += " onload=\"" + Attr(onload) + "\" ";
  return tag + ">";
}

std::string PageHeader::LinkRow(const Includes& inc) {
  const std::string show(TrimWhite(inc.show_links));
  if (EqualsIgnoreCase(show, "None") || EqualsIgnoreCase(show, "No")) return {};
  const std::string location(TrimWhite(inc.links_location));
  std::string row;
  if (TrimWhite(inc.use_menu_row) != "0" || EqualsIgnoreCase(location, "database")) {
    row = MenuRow();
  } else {
    row = LinkFile();
    if (row == kNoFile) row = HSLinks();
  }
  if (row.empty()) return {};
  return appliance_ ? "<center>" + row + "</center>" : row;
}

std::string PageHeader::HSLinks() {
  FastString out;
  try {
    // Pages of the home-automation host, when one is named; otherwise only
    // this program's own pages.
    const std::string client = ClientAddress();
    std::string host =
        LocalAddress(client) || options_.exthsip.empty() ? options_.hsip : options_.exthsip;
    host = HostOnly(host);
    struct Link {
      std::string text, url;
    };
    std::vector<Link> links;
    auto on_host = [&](std::string text, std::string path) {
      if (!host.empty()) links.push_back({std::move(text), "http://" + host + path});
    };
    on_host("Home", "/");
    links.push_back({"Status", "/status"});
    links.push_back({"IO Window", "/echo"});
    links.push_back({"Remote", "/remote"});
    on_host("Events", "/events");
    on_host("Log", "/log");
    on_host("Control Device", "/control");
    on_host("Poll Device", "/poll");
    on_host("TV/Video Game", "/tv");
    on_host("Setup", "/setup");
    if (!host.empty()) {
      for (int i = 1; i <= 4; ++i) {
        const std::string n = std::to_string(i);
        const std::string desc =
            Setting("Settings", "gCustomPageDesc" + n, "", IniCache::kDefaultFile);
        const std::string file =
            Setting("Settings", "gCustomPageFile" + n, "", IniCache::kDefaultFile);
        if (desc.empty() || file.empty()) continue;
        on_host(desc, file[0] == '/' ? file : "/" + file);
      }
    }
    on_host("Messages", "/messages");
    on_host("Voice", "/voice");
    links.push_back({"Help", "/help"});
    on_host("Log Out", "/logout");

    out.Add("<table class=\"linkrow\" border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr>");
    for (const Link& l : links) {
      out.Add("<td class=\"linkrow\"><a class=\"linkrow\" href=\"" + Attr(l.url) + "\">" +
              Attr(l.text) + "</a></td>");
    }
    out.Add("</tr></table>");
  } catch (const std::exception& e) {
    Report("HSLinks: ", e.what());
  }
  return out.Take();
}

std::string PageHeader::MenuItem(const std::string& text, const std::string& url,
                                 const std::string& image) {
  const std::string style = ToUpper(TrimWhite(row_style_));
  if (style == "LINK") {
    return "<td class=\"linkrow\"><a href=\"" + Attr(url) + "\">" + Attr(text) + "</a></td>";
  }
  if (style == "IMAGE") {
    return "<td class=\"linkrow\"><a href=\"" + Attr(url) + "\"><img src=\"" + Attr(image) +
           "\" alt=\"" + Attr(text) + "\" height=\"30\" border=\"0\"></a></td>";
  }
  return "<td><input type=\"button\" class=\"linkrowbutton\" value=\"" + Attr(text) +
         "\"onClick=\"window.parent.location.href='" + Attr(JsString(url)) + "'\"></td>";
}

std::string PageHeader::MenuRow() {
  FastString out;
  try {
    const Includes& inc = ReadIncludes();
    const std::string page = fnPageName();
    const std::string address = ClientAddress();
    if (TrimWhite(inc.log_page_hits) == "1") {
      log_.LogEvent("Web Log", page + " was accessed by " + address + " the user: " + user_);
    }
    MenuDatabase* db = Database();
    if (!db) return {};
    const auto top = db->Query(kTopItems, {int64_t{level_}});
    out.Add("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr>");
    for (const auto& r : top) out.Add(MenuItem(r[0], r[1], r[4]));
    out.Add("</tr></table>");

    // The current page's section: the items below a top-level page, or the
    // page's siblings below its parent.
    const auto place = Place();
    if (place && place->secure_level > level_) {
      LogAuthorized();
      return out.Take();
    }
    if (place) {
      const int64_t parent = place->level_id <= 1 ? place->menu_id : place->parent_id;
      const int64_t level_id = place->level_id <= 1 ? 2 : place->level_id;
      const auto children = db->Query(kChildItems, {parent, level_id, int64_t{level_}});
      if (!children.empty()) {
        out.Add("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr>");
        for (const auto& r : children) out.Add(MenuItem(r[0], r[1], r[4]));
        out.Add("</tr></table>");
      }
    }
    if (SwitchOn(inc.use_alerts)) out.Add(AlertLinks());
  } catch (const std::exception& e) {
    Report("MenuRow: ", e.what());
  }
  return out.Take();
}

std::string PageHeader::AlertLinks() {
  FastString out;
  const std::string ids = WeatherValue("WeatherCom_CurrentData", "AlertIDs");
  for (const std::string& id : Split(ids, ',')) {
    const std::string_view t = TrimWhite(id);
    if (t.empty()) continue;
    out.Add("<a class=\"weatheralert\" href=\"" + std::string(kAlertPage) + "\">Weather Alert " +
            Attr(t) + "</a> ");
  }
  return out.Take();
}

std::string PageHeader::ssmItems() {
  try {
    std::string tpl = FileContents("includes/ssmitems.txt");
    if (tpl == kNoFile) return {};
    struct Pref {
      const char* name;
      std::string value;
      bool text;
    };
    std::vector<Pref> prefs = {
        {"YOffset", "100", false},
        {"XOffset", "0", false},
        {"staticYOffset", "30", false},
        {"slideSpeed", "0", false},
        {"waitTime", "1500", false},
        {"menuIsStatic", "yes", true},
        {"menuWidth", "150", false},
        {"barLink", std::string(kBarLink), true},
        {"barText", "HomeSeer Forums", true},
        {"barWidth", "20", false},
        {"linkOverBGColor", "#FFFF99", true},
        {"linkBGColor", "white", true},
        {"linkTarget", "_top", true},
        {"menuCols", "2", false},
    };
    FastString items;
    if (MenuDatabase* db = Database()) {
      const auto rows = db->Query(kMenuPrefs, {user_});
      if (!rows.empty()) {
        // Columns in query order map onto the first 13 preferences.
        for (size_t i = 0; i < 13 && i < rows[0].size(); ++i) {
          const std::string& v = rows[0][i];
          if (v.empty() || (!prefs[i].text && !IsNumeric(v))) continue;
          prefs[i].value = v;
        }
      }
      const auto menu = db->Query(kMenuItems, {ClientAddress()});
      int n = 0;
      for (const auto& r : menu) {
        const std::string text = !r[1].empty() ? r[1] : r[3];
        const std::string url = SwitchOn(r[5]) ? std::string() : (!r[2].empty() ? r[2] : r[4]);
        items.Add("ssmItems[" + std::to_string(n++) + "]=[\"" + JsString(text) + "\",\"" +
                  JsString(url) + "\",\"\"]\n");
      }
    }
    FastString p;
    for (const Pref& pref : prefs) {
      p.Add(
          std::string(pref.name) + "=" +
          (pref.text ? "\"" + JsString(pref.value) + "\"" : NumberText(LeadingNumber(pref.value))) +
          ";\n");
    }
    tpl = ReplaceAll(tpl, "(******REPLACE_SSMPREFS******)", p.Value());
    return ReplaceAll(tpl, "(******REPLACE_SSMITEMS******)", items.Value());
  } catch (const std::exception& e) {
    Report("ssmItems: ", e.what());
    return {};
  }
}

std::string PageHeader::WeatherValue(std::string_view section, std::string_view key) {
  if (!weather_) {
    weather_ = std::make_unique<Weather>();
    // Read only: this program never writes the weather file.
    if (auto file = FindFileIgnoringCase(JoinPath(ini_.config_folder(), "WeatherData.ini"))) {
      weather_->loaded = weather_->ini.Load(file->path);
    }
  }
  return weather_->loaded ? weather_->ini.Read(section, key, "") : std::string();
}

std::vector<std::string> PageHeader::PageScrollWeatherman() {
  std::vector<std::string> lines;
  try {
    auto w = [&](std::string_view section, std::string_view key) {
      return Attr(WeatherValue(section, key));
    };
    const std::string city = w("WeatherCom_CurrentData", "Report_City");
    if (city.empty() && w("WeatherCom_CurrentData", "Temp").empty()) return lines;
    lines.push_back(city + " " + w("WeatherCom_CurrentData", "Condition") +
                    " Temp: " + w("WeatherCom_CurrentData", "Temp") +
                    "&deg;F High: " + w("AccuWeather_HighLowData", "High_Temp") +
                    "&deg;F Low: " + w("AccuWeather_HighLowData", "Low_Temp") + "&deg;F");
    lines.push_back("Forecast for " + city + ": " + w("WeatherCom_ExtForecast", "ExtForecast0"));
    lines.push_back(w("WeatherCom_ExtForecast", "ExtForecast1"));
    if (!TrimWhite(WeatherValue("WeatherCom_CurrentData", "AlertIDs")).empty()) {
      lines.push_back("<font color=\"red\">There are Weather Alerts for " + city +
                      "</font> <a href=\"" + std::string(kAlertPage) + "\">View Alerts</a>");
    }
  } catch (const std::exception& e) {
    Report("PageScrollWeatherman: ", e.what());
  }
  return lines;
}

std::string PageHeader::PageScroll() {
  try {
    const Includes& inc = ReadIncludes();
    std::string tpl = FileContents("javascript/page_scroll.js");
    if (tpl == kNoFile) return {};
    const std::string mode(TrimWhite(inc.use_page_scroll));
    std::vector<std::string> lines;
    if (EqualsIgnoreCase(mode, "Default") || mode.empty()) {
      lines = PageScrollWeatherman();
    } else {
      lines.push_back(Attr(mode));
    }
    if (lines.empty()) return {};
    FastString js;
    for (size_t i = 0; i < lines.size(); ++i) {
      js.Add("wcontent[" + std::to_string(i) + "]='<font class=\"pagescrolltext\">" +
             JsString(lines[i]) + "</font>';\n");
    }
    return "<script type=\"text/javascript\">" +
           ReplaceAll(tpl, "(******REPLACE_PAGESCROLL******)", js.Value()) + "</script>";
  } catch (const std::exception& e) {
    Report("PageScroll: ", e.what());
    return {};
  }
}

std::string PageHeader::TitleBar(const std::string& title) {
  return "<table class=\"titlebar\" border=\"0\" cellpadding=\"2\" cellspacing=\"0\" "
         "width=\"100%\"><tr><td class=\"pagetitle\">" +
         title + "</td></tr></table>";
}

std::string PageHeader::LogoBar(const Includes& inc) {
  FastString out;
  out.Add(
      "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\" "
      "summary=\"Logo Bar\"><tr class=\"logobar\">");
  const double now = wall_.Now();
  if (SwitchOn(inc.logo_show_clock)) {
    out.Add(
        "<td class=\"logobar\"><img src=\"/img/clock.gif\" width=\"16\" height=\"16\" "
        "alt=\"\"></td>");
  }
  if (SwitchOn(inc.logo_show_date)) {
    out.Add("<td class=\"logobar\">" + FormatLongDate(now) + "</td>");
  }
  if (SwitchOn(inc.logo_show_time)) {
    out.Add("<td class=\"logobar\"><span id=\"clock\">" + FormatLongTime(now) + "</span>");
    const std::string clock = FileContents("javascript/clock.js");
    if (clock != kNoFile) out.Add("<script type=\"text/javascript\">" + clock + "</script>");
    out.Add("</td>");
  }
  if (SwitchOn(inc.logo_show_sunrise)) {
    out.Add(
        "<td class=\"logobar\"><img src=\"/img/sunrise.gif\" width=\"16\" height=\"16\" "
        "alt=\"Sunrise\"> " +
        Attr(bridge_.Sunrise()) + "</td>");
  }
  if (SwitchOn(inc.logo_show_sunset)) {
    out.Add(
        "<td class=\"logobar\"><img src=\"/img/sunset.gif\" width=\"16\" height=\"16\" "
        "alt=\"Sunset\"> " +
        Attr(bridge_.Sunset()) + "</td>");
  }
  if (SwitchOn(inc.logo_show_weather_temp)) {
    const std::string temp = WeatherValue("WeatherCom_CurrentData", "Temp");
    if (!temp.empty()) {
      out.Add(
          "<td class=\"logobar\"><img src=\"/img/temp.gif\" width=\"16\" height=\"16\" "
          "alt=\"Outside\"> " +
          Attr(temp) + "&deg;F</td>");
    }
  }
  const std::string mode = SecurityMode();
  if (SwitchOn(inc.logo_show_username) && (mode == "ENHANCED" || mode == "BASIC")) {
    out.Add("<td class=\"logobar\">User: " + Attr(user_) + "</td>");
  }
  const std::string link =
      TrimWhite(inc.logo_image_link).empty() ? std::string("/status") : inc.logo_image_link;
  out.Add("<td class=\"logobar\" align=\"right\"><a href=\"" + Attr(link) +
          "\"><img src=\"/img/logo.gif\" width=\"133\" height=\"25\" border=\"0\" "
          "alt=\"Corvane\"></a></td>");
  out.Add("</tr></table>");
  return out.Take();
}

std::string PageHeader::OwnLinks() {
  std::string text = FileContents("Corvane/Corvane_links.htm");
  if (text == kNoFile) return {};
  // Links to the root of this server are made absolute to it.
  const std::string root = GetServerIP();
  if (root == "http:///") return text;
  for (std::string_view attr : {"href=\"/", "href='/", "src=\"/", "src='/"}) {
    const std::string to = std::string(attr.substr(0, attr.size() - 1)) + root;
    text = ReplaceAll(text, attr, to);
  }
  return text;
}

}  // namespace corvane
