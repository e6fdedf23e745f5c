#include "pages/header_widgets.h"

#include "config/ini_cache.h"
#include "config/ini_tool.h"
#include "core/datetime.h"
#include "core/fast_string.h"
#include "core/folders.h"
#include "core/text.h"
#include "pages/header_settings.h"
#include "pages/html_text.h"
#include "pages/page_services.h"
#include "platform/clock.h"
#include "web/web_files.h"

namespace corvane {

namespace {

constexpr std::string_view kAlertPage = "https://www.weather.gov/alerts";
constexpr std::string_view kCurrent = "WeatherCom_CurrentData";

std::string Icon(std::string_view picture, std::string_view alt) {
  return "<img src=\"/img/" + std::string(picture) + "\" width=\"16\" height=\"16\" alt=\"" +
         std::string(alt) + "\">";
}

// The host's link row; "" marks where the custom pages go, `own` links are
// this program's pages.
struct HostLink {
  std::string_view text, path;
  bool own = false;
};
constexpr HostLink kHostLinks[] = {
    {"Home", "/"},
    {"Status", "/status", true},
    {"IO Window", "/echo", true},
    {"Remote", "/remote", true},
    {"Events", "/events"},
    {"Log", "/log"},
    {"Control Device", "/control"},
    {"Poll Device", "/poll"},
    {"TV/Video Game", "/tv"},
    {"Setup", "/setup"},
    {"", ""},
    {"Messages", "/messages"},
    {"Voice", "/voice"},
    {"Help", "/help", true},
    {"Log Out", "/logout"},
};

}  // namespace

struct HeaderWidgets::Weather {
  IniTool ini;
  bool loaded = false;
};

HeaderWidgets::HeaderWidgets(IniCache& ini, const WallClock& wall, PageBridge& bridge)
    : ini_(ini), wall_(wall), bridge_(bridge) {}

HeaderWidgets::~HeaderWidgets() = default;

void HeaderWidgets::Begin() {
  weather_.reset();
}

std::string HeaderWidgets::WeatherValue(std::string_view section, std::string_view key) {
  if (!weather_) {
    weather_ = std::make_unique<Weather>();
    if (auto file = FindFileIgnoringCase(JoinPath(ini_.config_folder(), "WeatherData.ini"))) {
      weather_->loaded = weather_->ini.Load(file->path);
    }
  }
  return weather_->loaded ? weather_->ini.Read(section, key, "") : std::string();
}

std::vector<std::string> HeaderWidgets::PageScrollWeatherman() {
  std::vector<std::string> lines;
  auto w = [&](std::string_view section, std::string_view key) {
    return HtmlEscape(WeatherValue(section, key));
  };
  const std::string city = w(kCurrent, "Report_City");
  if (city.empty() && w(kCurrent, "Temp").empty()) return lines;
  lines.push_back(city + " " + w(kCurrent, "Condition") + " Temp: " + w(kCurrent, "Temp") +
                  "&deg;F High: " + w("AccuWeather_HighLowData", "High_Temp") +
                  "&deg;F Low: " + w("AccuWeather_HighLowData", "Low_Temp") + "&deg;F");
  lines.push_back("Forecast for " + city + ": " + w("WeatherCom_ExtForecast", "ExtForecast0"));
  lines.push_back(w("WeatherCom_ExtForecast", "ExtForecast1"));
  if (!TrimWhite(WeatherValue(kCurrent, "AlertIDs")).empty()) {
    lines.push_back("<font color=\"red\">There are Weather Alerts for " + city +
                    "</font> <a href=\"" + std::string(kAlertPage) + "\">View Alerts</a>");
  }
  return lines;
}

std::string HeaderWidgets::PageScroll(const std::optional<std::string>& tpl,
                                      std::string_view mode) {
  if (!tpl) return {};
  const std::string_view m = TrimWhite(mode);
  std::vector<std::string> lines;
  if (EqualsIgnoreCase(m, "Default") || m.empty()) {
    lines = PageScrollWeatherman();
  } else {
    lines.push_back(HtmlEscape(m));
  }
  if (lines.empty()) return {};
  FastString js;
  for (size_t i = 0; i < lines.size(); ++i) {
    js.Add("wcontent[" + std::to_string(i) + "]='<font class=\"pagescrolltext\">" +
           JsString(lines[i]) + "</font>';\n");
  }
  return "<script type=\"text/javascript\">" +
         ReplaceAll(*tpl, "(******REPLACE_PAGESCROLL******)", js.Value()) + "</script>";
}

std::string HeaderWidgets::AlertLinks() {
  FastString out;
  for (const std::string& id : Split(WeatherValue(kCurrent, "AlertIDs"), ',')) {
    const std::string_view t = TrimWhite(id);
    if (t.empty()) continue;
    out.Add("<a class=\"weatheralert\" href=\"" + std::string(kAlertPage) + "\">Weather Alert " +
            HtmlEscape(t) + "</a> ");
  }
  return out.Take();
}

std::string HeaderWidgets::TitleBar(const std::string& title) {
  return "<table class=\"titlebar\" border=\"0\" cellpadding=\"2\" cellspacing=\"0\" "
         "width=\"100%\"><tr><td class=\"pagetitle\">" +
         title + "</td></tr></table>";
}

std::string HeaderWidgets::HostLinkRow(
    std::string_view host, const std::vector<std::pair<std::string, std::string>>& custom) {
  FastString out;
  auto link = [&](std::string_view text, const std::string& url) {
    out.Add("<td class=\"linkrow\"><a class=\"linkrow\" href=\"" + HtmlEscape(url) + "\">" +
            HtmlEscape(text) + "</a></td>");
  };
  const std::string root = host.empty() ? std::string() : "http://" + std::string(host);
  out.Add("<table class=\"linkrow\" border=\"0\" cellpadding=\"0\" cellspacing=\"0\"><tr>");
  for (const HostLink& l : kHostLinks) {
    if (l.own) {
      link(l.text, std::string(l.path));
    } else if (!host.empty() && !l.text.empty()) {
      link(l.text, root + std::string(l.path));
    } else if (!host.empty()) {
      for (const auto& [text, path] : custom) link(text, root + path);
    }
  }
  out.Add("</tr></table>");
  return out.Take();
}

std::string HeaderWidgets::LogoBar(const SettingValues& inc, std::string_view user, bool show_user,
                                   const std::optional<std::string>& clock_js) {
  FastString out;
  out.Add(
      "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\" "
      "summary=\"Logo Bar\"><tr class=\"logobar\">");
  auto cell = [&](const std::string& html) { out.Add("<td class=\"logobar\">" + html + "</td>"); };
  const double now = wall_.Now();
  if (inc.On("logoShowClock")) cell(Icon("clock.gif", ""));
  if (inc.On("logoShowDate")) cell(FormatLongDate(now));
  if (inc.On("logoShowTime")) {
    std::string clock = "<span id=\"clock\">" + FormatLongTime(now) + "</span>";
    if (clock_js) clock += "<script type=\"text/javascript\">" + *clock_js + "</script>";
    cell(clock);
  }
  if (inc.On("logoShowSunrise"))
    cell(Icon("sunrise.gif", "Sunrise") + " " + HtmlEscape(bridge_.Sunrise()));
  if (inc.On("logoShowSunset"))
    cell(Icon("sunset.gif", "Sunset") + " " + HtmlEscape(bridge_.Sunset()));
  if (inc.On("logoShowWeatherManTemp")) {
    const std::string temp = WeatherValue(kCurrent, "Temp");
    if (!temp.empty()) cell(Icon("temp.gif", "Outside") + " " + HtmlEscape(temp) + "&deg;F");
  }
  if (show_user && inc.On("logoShowUsername")) cell("User: " + HtmlEscape(user));
  const std::string_view link = inc.Trimmed("logoImageLink");
  out.Add("<td class=\"logobar\" align=\"right\"><a href=\"" +
          HtmlEscape(link.empty() ? std::string_view("/status") : link) +
          "\"><img src=\"/img/logo.gif\" width=\"133\" height=\"25\" border=\"0\" "
          "alt=\"Corvane\"></a></td>");
  out.Add("</tr></table>");
  return out.Take();
}

}  // namespace corvane
