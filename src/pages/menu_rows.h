// The menus of the page header that come from the menu database (an SQLite
// file named by `dbpath`): the link row (top-level items, then the current
// page's section), the slide-in menu, and the page's own place with the
// level it asks of its users. Each item is shown only to users whose level
// reaches it. The database is opened at a page's first use and a database
// that stays missing is reported once, not on every page.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pages/menu_db.h"

namespace corvane {

class EventLog;

// Who looks at which page, as the menus need it.
struct MenuViewer {
  std::string page;     // fnPageName
  std::string address;  // the client's own address
  std::string user;
  int level = 0;
  std::string row_style;  // LINK, IMAGE or buttons
};

struct PagePlace {
  int64_t level_id = 0, parent_id = 0, menu_id = 0, secure_level = 0;
};

class MenuRows {
 public:
  MenuRows(EventLog& log, std::string program_folder);
  ~MenuRows();

  // A new page: the database of `dbpath` is opened again at first use.
  void Begin(std::string_view dbpath);
  // Null when there is none.
  MenuDatabase* Database();
  // The page's row of table Menus, when it has one.
  std::optional<PagePlace> Place(std::string_view page);

  // The link row; empty without a database.
  std::string Row(const MenuViewer& viewer);
  // The slide-in menu: `tpl` with the user's preferences and items in
  // place of its two markers.
  std::string SlideIn(std::string tpl, const MenuViewer& viewer);
  // One item of a link row in the row style.
  static std::string Item(const std::string& text, const std::string& url, const std::string& image,
                          std::string_view row_style);

 private:
  EventLog& log_;
  std::string program_folder_;
  std::string dbpath_;
  std::unique_ptr<MenuDatabase> db_;
  bool db_tried_ = false;
  std::string last_db_error_;
  bool place_read_ = false;
  std::optional<PagePlace> place_;
};

}  // namespace corvane
