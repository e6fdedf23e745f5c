#include "pages/page_header.h"

#include <fstream>
#include <iterator>

#include "config/ini_cache.h"
#include "config/settings.h"
#include "core/event_log.h"
#include "core/fast_string.h"
#include "core/folders.h"
#include "core/guard.h"
#include "core/text.h"
#include "pages/html_text.h"
#include "web/request.h"
#include "web/response.h"
#include "web/web_files.h"

namespace corvane {

PageHeader::PageHeader(IniCache& ini, EventLog& log, const WallClock& wall, PageBridge& bridge,
                       WebSecurity& security, std::string program_folder)
    : ini_(ini),
      log_(log),
      security_(security),
      html_folder_(JoinPath(program_folder, "HTML")),
      menus_(log, program_folder),
      widgets_(ini, wall, bridge) {}

void PageHeader::Begin(Request& request, Response& response) {
  request_ = &request;
  response_ = &response;
}

std::string PageHeader::DefaultSetting(std::string_view key) const {
  return ini_.GetIniSetting("Settings", key, "", IniCache::kDefaultFile);
}

void PageHeader::StartMiscFunctionsASP() {
  includes_.reset();
  widgets_.Begin();
  options_ = SettingValues::Read(ini_, "Settings", kMainIniFile, HeaderOptionKeys());
  menus_.Begin(options_["dbpath"]);
}

const SettingValues& PageHeader::Includes() {
  if (!includes_) {
    includes_ = SettingValues::Read(ini_, kIncludesSection, kIncludesFile, HeaderIncludeKeys());
  }
  return *includes_;
}

std::string PageHeader::SecurityMode() const {
  return ToUpper(options_.Trimmed("usesecurity"));
}

std::string PageHeader::ClientAddress() const {
  return request_ ? request_->PeerAddress() : std::string();
}

void PageHeader::SecurityCheck() {
  auth_ = {};
  if (request_) {
    const bool enhanced = SecurityMode() == "ENHANCED";
    Guard(log_, "XSecurityCheck: ", [&] {
      auth_ = security_.Check(*request_, enhanced ? menus_.Database() : nullptr);
    });
  }
  user_ = auth_.user;
  level_ = auth_.level;
}

bool PageHeader::StartHeaderASP() {
  appliance_ = false;
  const std::string address = ClientAddress();
  for (const std::string& ip : Split(options_["touchscreenips"], ',')) {
    const std::string_view t = TrimWhite(ip);
    if (!t.empty() && EqualsIgnoreCase(t, address)) appliance_ = true;
  }
  const std::string agent = request_ ? request_->ServerVariables("http_user_agent") : "";
  if (agent.find("Audrey") != std::string::npos || agent.find("QNX") != std::string::npos) {
    appliance_ = true;
  }
  row_style_ = options_[appliance_ ? "audreyrowstyle" : "rowstyle"];
  return appliance_;
}

bool PageHeader::Authorize() {
  using V = Authorization::Verdict;
  const std::string mode = SecurityMode();
  if (mode != "BASIC" && mode != "ENHANCED") return true;
  if (auth_.verdict == V::kThrottled) {
    response_->SendProblem("429 Too Many Requests", auth_.detail,
                           "Retry-After: " + std::to_string(auth_.retry_after) + "\r\n");
    return false;
  }
  if (auth_.verdict == V::kInsecure) {
    response_->SendProblem("403 Forbidden", auth_.detail);
    return false;
  }
  // The menu database may ask more of this page than the user's level.
  std::optional<PagePlace> place;
  Guard(log_, "MenuRow: ", [&] { place = menus_.Place(fnPageName()); });
  if (auth_.verdict == V::kLoginRequired || (place && place->secure_level > level_)) {
    LogAuthorized();
    return false;
  }
  return true;
}

void PageHeader::LogAuthorized() {
  const std::string page = fnPageName();
  const std::string mode = SecurityMode();
  const bool anonymous = mode == "BASIC" && user_.empty();
  if (!EqualsIgnoreCase(page, "unauthorized.asp")) {
    log_.LogEvent("Unauthorized", (anonymous ? std::string("Anonymous Guest") : user_) + " at " +
                                      ClientAddress() + " attempted to access " + page + ". ");
  }
  if (!response_) return;
  // A browser only sends a login after it has been asked for one.
  if (anonymous) {
    response_->Challenge("Corvane");
  } else {
    response_->Redirect("/unauthorized.asp");
  }
}

std::string PageHeader::TokenField() const {
  return "<input type='hidden' name='" + std::string(WebSecurity::kTokenField) + "' value='" +
         (request_ ? security_.FormToken(*request_, user_) : std::string()) + "'>";
}

bool PageHeader::TokenValid() const {
  return request_ && security_.FormTokenValid(*request_, user_);
}

std::string PageHeader::fnPageName() const {
  if (!request_) return {};
  const std::string path = ReplaceAll(request_->page(), "/", "\\");
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string PageHeader::GetServerIP() const {
  if (!request_) return "http:///";
  std::string host = HostOnly(request_->ServerVariables("Host"));
  auto after_scheme = [](const std::string& s) {
    const size_t scheme = s.find("://");
    return scheme == std::string::npos ? s : s.substr(scheme + 3);
  };
  if (host.empty()) host = HostOnly(after_scheme(request_->ServerVariables("Referer")));
  const std::string& raw = request_->header();
  for (std::string_view mark : {"\nhost:", "referer:"}) {
    const size_t at = FindIgnoreCase(raw, mark);
    if (!host.empty() || at == std::string::npos) continue;
    const std::string rest = raw.substr(at + mark.size());
    host = HostOnly(mark == "referer:" ? after_scheme(rest) : rest);
  }
  return "http://" + host + "/";
}

std::optional<std::string> PageHeader::FileContents(std::string_view name) const {
  const auto file = FindWebFile(html_folder_, name);
  if (!file) return std::nullopt;
  std::ifstream in(file->path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::optional<std::string> PageHeader::Include(std::string_view name,
                                               std::string_view touch_name) const {
  if (appliance_) {
    if (auto text = FileContents(touch_name)) return text;
  }
  return FileContents(name);
}

std::optional<std::string> PageHeader::LinkFile() {
  const std::string page = fnPageName();
  if (page.empty()) return std::nullopt;
  return Include("links/" + page + ".htm", "links/" + page + "_touchscreen.htm");
}

std::string PageHeader::CustomHeader(const std::vector<std::string>& args) {
  FastString out;
  Guard(log_, "XCustomHeader: ", [&] {
    auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string(); };
    const SettingValues& inc = Includes();
    const std::string title = arg(0).empty() ? inc["strPageTitle"] : arg(0);
    // 1-3. Head, title, style sheet, include files.
    if (arg(1).empty()) out.Add("<html><head>");
    out.Add(HeadPart(title, arg(3), inc));
    // 4. Body.
    out.Add(BodyTag(arg(2)));
    // 5. Skip link and head include.
    if (FindWebFile(html_folder_, "img/blank.gif")) {
      out.Add(
          "<a href=\"#pagecontent\" class=\"skiplink\"><img src=\"/img/blank.gif\" width=\"1\" "
          "height=\"1\" border=\"0\" alt=\"Skip to content\"></a>");
    }
    if (auto head = Include("head.htm", "head_touchscreen.htm")) out.Add(*head);
    // 6. Link row.
    out.Add(LinkRow(inc));
    // 7. Title bar and logo bar.
    if (!inc.On("HideTitle")) out.Add(HeaderWidgets::TitleBar(title));
    const std::string mode = SecurityMode();
    if (inc.On("strLogoYN")) {
      out.Add(widgets_.LogoBar(inc, user_, mode == "ENHANCED" || mode == "BASIC",
                               FileContents("javascript/clock.js")));
    }
    // 8. Scrolling line.
    if (!EqualsIgnoreCase(inc.Trimmed("usePageScroll"), "None")) {
      Guard(log_, "PageScroll: ", [&] {
        out.Add(
            widgets_.PageScroll(FileContents("javascript/page_scroll.js"), inc["usePageScroll"]));
      });
    }
    // 9. The program's own links; 10. where the page's content begins.
    out.Add(OwnLinks());
    out.Add("<a name=\"pagecontent\"></a>");
  });
  return out.Take();
}

std::string PageHeader::HeadPart(const std::string& title, std::string_view sheet,
                                 const SettingValues& inc) {
  FastString out;
  const std::string site = DefaultSetting("gWebPageTitle");
  out.Add("<title>" + (site.empty() ? "" : HtmlEscape(site) + " - ") +
          HtmlEscape(StripHTML(title)) + "</title>");
  // A style sheet is a plain file name of the web folder; anything else
  // (another host, a path) is not linked.
  const std::string_view name = IsStyleSheetName(sheet) ? sheet : "styleNoBody.css";
  out.Add("<link rel=\"stylesheet\" type=\"text/css\" href=\"/" + HtmlEscape(name) + "\">");
  out.Add("<meta HTTP-EQUIV=\"EXPIRES\" CONTENT=\"0\">");
  out.Add("<meta HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\">");
  const std::string_view own = inc.Trimmed("strRefresh");
  const std::string refresh =
      own.empty() || own == "0" ? DefaultSetting("auto_refresh") : std::string(own);
  if (IsNumeric(refresh) && LeadingNumber(refresh) > 0) {
    out.Add("<meta HTTP-EQUIV=\"refresh\" CONTENT=\"" +
            std::to_string(static_cast<long>(LeadingNumber(refresh))) + "\">");
  }
  if (auto meta = Include("meta.htm", "meta_touchscreen.htm")) out.Add(*meta);
  if (SwitchOn(options_["useslideinmenu"])) {
    Guard(log_, "ssmItems: ", [&] {
      if (auto tpl = FileContents("includes/ssmitems.txt")) out.Add(menus_.SlideIn(*tpl, Viewer()));
    });
  }
  out.Add("</head>");
  return out.Take();
}

std::string PageHeader::BodyTag(const std::string& background) {
  std::string tag = "<body";
  const std::string bg(TrimWhite(background));
  // Only a colour or a picture of the web folder.
  if (!bg.empty() && IsBackground(bg)) {
    const bool image = IsImageName(bg);
    if (appliance_) {
      tag += image ? " style=\"background-image: url('/" + HtmlEscape(bg) + "')\""
                   : " style=\"background-color: " + HtmlEscape(bg) + "\"";
    } else {
      tag +=
          image ? " background=\"/" + HtmlEscape(bg) + "\"" : " bgcolor=\"" + HtmlEscape(bg) + "\"";
    }
  }
  const std::string onload = DefaultSetting("BODY_OnLoad");
  if (!onload.empty()) tag += " onload=\"" + HtmlEscape(onload) + "\" ";
  return tag + ">";
}

MenuViewer PageHeader::Viewer() const {
  return MenuViewer{fnPageName(), ClientAddress(), user_, level_, row_style_};
}

std::string PageHeader::MenuRow() {
  std::string out;
  Guard(log_, "MenuRow: ", [&] {
    const MenuViewer viewer = Viewer();
    if (Includes().Trimmed("logpagehits") == "1") {
      log_.LogEvent("Web Log", viewer.page + " was accessed by " + viewer.address +
                                   " the user: " + viewer.user);
    }
    if (!menus_.Database()) return;
    out = menus_.Row(viewer);
    if (Includes().On("useAlerts")) out += widgets_.AlertLinks();
  });
  return out;
}

std::string PageHeader::LinkRow(const SettingValues& inc) {
  const std::string_view show = inc.Trimmed("strShowLinks");
  if (EqualsIgnoreCase(show, "None") || EqualsIgnoreCase(show, "No")) return {};
  std::string row;
  if (inc.Trimmed("useMenuRow") != "0" ||
      EqualsIgnoreCase(inc.Trimmed("linkslocation"), "database")) {
    row = MenuRow();
  } else {
    row = LinkFile().value_or(HSLinks());
  }
  if (row.empty()) return {};
  return appliance_ ? "<center>" + row + "</center>" : row;
}

std::string PageHeader::HSLinks() {
  // Pages of the home-automation host, when one is named; otherwise only
  // this program's own pages.
  const std::string host =
      HostOnly(LocalAddress(ClientAddress()) || options_["exthsip"].empty() ? options_["hsip"]
                                                                            : options_["exthsip"]);
  std::vector<std::pair<std::string, std::string>> custom;
  for (int i = 1; i <= 4; ++i) {
    const std::string desc = DefaultSetting("gCustomPageDesc" + std::to_string(i));
    const std::string file = DefaultSetting("gCustomPageFile" + std::to_string(i));
    if (!desc.empty() && !file.empty())
      custom.emplace_back(desc, file[0] == '/' ? file : "/" + file);
  }
  return HeaderWidgets::HostLinkRow(host, custom);
}

std::string PageHeader::OwnLinks() {
  auto text = FileContents("Corvane/Corvane_links.htm");
  if (!text) return {};
  // Links to the root of this server are made absolute to it.
  const std::string root = GetServerIP();
  if (root == "http:///") return *text;
  for (std::string_view attr : {"href=\"/", "href='/", "src=\"/", "src='/"}) {
    *text = ReplaceAll(*text, attr, std::string(attr.substr(0, attr.size() - 1)) + root);
  }
  return *text;
}

}  // namespace corvane
