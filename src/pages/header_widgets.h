// The page header's widgets: the weather (Config/WeatherData.ini, read at
// most once a page and never written), the scrolling line, the logo bar
// (clock, date, time, sunrise, sunset, outside temperature, user, logo), the
// title bar, the weather-alert links and the host's link row.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

class IniCache;
class PageBridge;
class SettingValues;
class WallClock;

class HeaderWidgets {
 public:
  HeaderWidgets(IniCache& ini, const WallClock& wall, PageBridge& bridge);
  ~HeaderWidgets();

  // A new page: the weather file is read again at its first use.
  void Begin();
  std::string WeatherValue(std::string_view section, std::string_view key);
  // The weather lines of the scrolling line (HTML; values escaped).
  std::vector<std::string> PageScrollWeatherman();
  // The scrolling line: `tpl` (javascript/page_scroll.js) with the lines of
  // `mode` ("Default" or empty: the weather; else the text itself).
  std::string PageScroll(const std::optional<std::string>& tpl, std::string_view mode);
  // `inc` is includes.ini; `clock_js` the clock script when there is one.
  std::string LogoBar(const SettingValues& inc, std::string_view user, bool show_user,
                      const std::optional<std::string>& clock_js);
  std::string AlertLinks();
  static std::string TitleBar(const std::string& title);
  // The link row of a home-automation host: its pages when `host` is named
  // (with its custom pages: text, path), this program's own pages always.
  static std::string HostLinkRow(std::string_view host,
                                 const std::vector<std::pair<std::string, std::string>>& custom);

 private:
  struct Weather;
  IniCache& ini_;
  const WallClock& wall_;
  PageBridge& bridge_;
  std::unique_ptr<Weather> weather_;
};

}  // namespace corvane
