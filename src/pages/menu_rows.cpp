#include "pages/menu_rows.h"

#include <vector>

#include "core/event_log.h"
#include "core/fast_string.h"
#include "core/text.h"
#include "pages/html_text.h"

namespace corvane {

namespace {

constexpr std::string_view kBarLink = "https://forums.homeseer.com/";

// The menu database's queries; values from the request are parameters.
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

// The slide-in menu's preferences: the 13 columns of MenuPOPPref in query
// order, then the ones the table does not hold.
struct Pref {
  const char* name;
  std::string value;
  bool text;
};
std::vector<Pref> DefaultPrefs() {
  return {
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
}

}  // namespace

MenuRows::MenuRows(EventLog& log, std::string program_folder)
    : log_(log), program_folder_(std::move(program_folder)) {}

MenuRows::~MenuRows() = default;

void MenuRows::Begin(std::string_view dbpath) {
  dbpath_ = std::string(dbpath);
  db_.reset();
  db_tried_ = false;
  place_read_ = false;
  place_.reset();
}

MenuDatabase* MenuRows::Database() {
  if (db_tried_) return db_.get();
  db_tried_ = true;
  const std::string path = MenuDatabase::PathOf(dbpath_, program_folder_);
  if (path.empty()) return nullptr;
  std::string error;
  db_ = MenuDatabase::Open(path, &error);
  if (!db_ && error != last_db_error_) log_.LogError("Corvane", "MenuRow: ", error);
  last_db_error_ = db_ ? std::string() : error;
  return db_.get();
}

std::optional<PagePlace> MenuRows::Place(std::string_view page) {
  if (place_read_) return place_;
  place_read_ = true;
  MenuDatabase* db = Database();
  if (!db) return place_;
  const auto rows = db->Query(kPagePlace, {LikeLiteral(page)});
  if (!rows.empty()) {
    place_ =
        PagePlace{Number(rows[0][0]), Number(rows[0][1]), Number(rows[0][2]), Number(rows[0][3])};
  }
  return place_;
}

std::string MenuRows::Item(const std::string& text, const std::string& url,
                           const std::string& image, std::string_view row_style) {
  const std::string style = ToUpper(TrimWhite(row_style));
  if (style == "LINK") {
    return "<td class=\"linkrow\"><a href=\"" + HtmlEscape(url) + "\">" + HtmlEscape(text) +
           "</a></td>";
  }
  if (style == "IMAGE") {
    return "<td class=\"linkrow\"><a href=\"" + HtmlEscape(url) + "\"><img src=\"" +
           HtmlEscape(image) + "\" alt=\"" + HtmlEscape(text) +
           "\" height=\"30\" border=\"0\"></a></td>";
  }
  return "<td><input type=\"button\" class=\"linkrowbutton\" value=\"" + HtmlEscape(text) +
         "\"onClick=\"window.parent.location.href='" + HtmlEscape(JsString(url)) + "'\"></td>";
}

std::string MenuRows::Row(const MenuViewer& viewer) {
  MenuDatabase* db = Database();
  if (!db) return {};
  FastString out;
  auto table = [&](const std::vector<MenuDatabase::Row>& rows) {
    out.Add("<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr>");
    for (const auto& r : rows) out.Add(Item(r[0], r[1], r[4], viewer.row_style));
    out.Add("</tr></table>");
  };
  table(db->Query(kTopItems, {int64_t{viewer.level}}));
  // The current page's section: the items below a top-level page, or the
  // page's siblings below its parent; none for a page above the user.
  const auto place = Place(viewer.page);
  if (!place || place->secure_level > viewer.level) return out.Take();
  const bool top = place->level_id <= 1;
  const auto children =
      db->Query(kChildItems, {top ? place->menu_id : place->parent_id,
                              top ? int64_t{2} : place->level_id, int64_t{viewer.level}});
  if (!children.empty()) table(children);
  return out.Take();
}

std::string MenuRows::SlideIn(std::string tpl, const MenuViewer& viewer) {
  std::vector<Pref> prefs = DefaultPrefs();
  FastString items;
  if (MenuDatabase* db = Database()) {
    const auto rows = db->Query(kMenuPrefs, {viewer.user});
    for (size_t i = 0; !rows.empty() && i < 13 && i < rows[0].size(); ++i) {
      const std::string& v = rows[0][i];
      if (!v.empty() && (prefs[i].text || IsNumeric(v))) prefs[i].value = v;
    }
    int n = 0;
    for (const auto& r : db->Query(kMenuItems, {viewer.address})) {
      const std::string text = !r[1].empty() ? r[1] : r[3];
      const std::string url = SwitchOn(r[5]) ? std::string() : (!r[2].empty() ? r[2] : r[4]);
      items.Add("ssmItems[" + std::to_string(n++) + "]=[\"" + JsString(text) + "\",\"" +
                JsString(url) + "\",\"\"]\n");
    }
  }
  FastString p;
  for (const Pref& pref : prefs) {
    p.Add(pref.name);
    p.Add("=");
    const std::string quote = pref.text ? "\"" : "";
    p.Add(quote);
    p.Add(pref.text ? JsString(pref.value) : NumberText(LeadingNumber(pref.value)));
    p.Add(quote);
    p.Add(";\n");
  }
  tpl = ReplaceAll(tpl, "(******REPLACE_SSMPREFS******)", p.Value());
  return ReplaceAll(tpl, "(******REPLACE_SSMITEMS******)", items.Value());
}

}  // namespace corvane
