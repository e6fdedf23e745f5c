#include "pages/header_settings.h"

#include "config/ini_cache.h"
#include "config/ini_tool.h"
#include "core/text.h"
#include "pages/html_text.h"

namespace corvane {

namespace {

constexpr SettingKey kOptionKeys[] = {
    {"dbpath", ""},         {"dbname", ""},         {"dbusername", ""},     {"dbpassword", ""},
    {"dbserverip", ""},     {"rowstyle", ""},       {"usesecurity", ""},    {"linkfileext", ""},
    {"dbtype", ""},         {"hsip", ""},           {"exthsip", ""},        {"footerlinkrule", ""},
    {"useslideinmenu", ""}, {"audreyrowstyle", ""}, {"touchscreenips", ""}, {"usesound", ""},
};

constexpr SettingKey kIncludeKeys[] = {
    {"strPageTitle", "n/a", true},
    {"strShowLinks", "OldStyle", true},
    {"strRefresh", "0"},
    {"strHeader", ""},
    {"strLogoYN", "Yes"},
    {"UseSecurity", "None"},
    {"HideTitle", ""},
    {"useMenuRow", "0"},
    {"logpagehits", ""},
    {"linkslocation", ""},
    {"usePageScroll", "Default"},
    {"logoShowClock", ""},
    {"logoShowDate", ""},
    {"logoShowTime", ""},
    {"logoShowSunrise", ""},
    {"logoShowSunset", ""},
    {"logoShowWeatherManTemp", ""},
    {"logoShowUsername", ""},
    {"logoImageLink", ""},
    {"useAlerts", ""},
};

}  // namespace

std::span<const SettingKey> HeaderOptionKeys() {
  return kOptionKeys;
}

std::span<const SettingKey> HeaderIncludeKeys() {
  return kIncludeKeys;
}

SettingValues SettingValues::Read(IniCache& ini, std::string_view section, std::string_view file,
                                  std::span<const SettingKey> keys) {
  SettingValues out;
  const int slot = ini.FindIniFile(file, false);
  IniTool& store = ini.Store(slot);
  constexpr std::string_view kMissing = "\x01";
  bool wrote = false;
  for (const SettingKey& k : keys) {
    std::string value = store.Read(section, k.key, kMissing);
    if (value == kMissing) {
      value = std::string(k.default_value);
      if (k.written_when_missing) {
        ini.SaveIniSetting(section, k.key, value, file);
        wrote = true;
      }
    } else if (value.empty()) {
      value = std::string(k.default_value);
    }
    out.values_[ToLower(k.key)] = std::move(value);
  }
  if (wrote) ini.FlushIniCache();
  return out;
}

const std::string& SettingValues::operator[](std::string_view key) const {
  static const std::string kEmpty;
  auto it = values_.find(ToLower(key));
  return it == values_.end() ? kEmpty : it->second;
}

std::string_view SettingValues::Trimmed(std::string_view key) const {
  return TrimWhite((*this)[key]);
}

bool SettingValues::On(std::string_view key) const {
  return SwitchOn((*this)[key]);
}

}  // namespace corvane
