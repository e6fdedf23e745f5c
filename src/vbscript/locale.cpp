// The locales SetLocale knows, one row each: separators, short-date order
// and the currency's symbol and place.
#include "vbscript/locale.h"

#include <iterator>

#include "core/text.h"

namespace corvane::vbs {

namespace {

constexpr const char* kNoBreakSpace = "\xC2\xA0";

using D = DateStyle;
const ScriptLocale kLocales[] = {
    {1033, "en-us", '.', ",", D{D::kMonthDayYear, '/', false, false, false}, "$", false, 2},
    {2057, "en-gb", '.', ",", D{D::kDayMonthYear, '/', true, true, false}, "\xC2\xA3", false, 2},
    {1031, "de-de", ',', ".", D{D::kDayMonthYear, '.', true, true, true}, "\xE2\x82\xAC", true, 2},
    {3079, "de-at", ',', ".", D{D::kDayMonthYear, '.', true, true, true}, "\xE2\x82\xAC", true, 2},
    {2055, "de-ch", '.', "'", D{D::kDayMonthYear, '.', true, true, true}, "CHF", false, 2},
    {1036, "fr-fr", ',', kNoBreakSpace, D{D::kDayMonthYear, '/', true, true, false}, "\xE2\x82\xAC",
     true, 2},
    {2060, "fr-be", ',', kNoBreakSpace, D{D::kDayMonthYear, '/', true, true, false}, "\xE2\x82\xAC",
     true, 2},
    {1043, "nl-nl", ',', ".", D{D::kDayMonthYear, '-', false, true, false}, "\xE2\x82\xAC", false,
     2},
    {2067, "nl-be", ',', ".", D{D::kDayMonthYear, '/', false, true, false}, "\xE2\x82\xAC", true,
     2},
    {1040, "it-it", ',', ".", D{D::kDayMonthYear, '/', true, true, false}, "\xE2\x82\xAC", true, 2},
    {3082, "es-es", ',', ".", D{D::kDayMonthYear, '/', true, true, false}, "\xE2\x82\xAC", true, 2},
    {1034, "es-es_tradnl", ',', ".", D{D::kDayMonthYear, '/', true, true, false}, "\xE2\x82\xAC",
     true, 2},
    {1053, "sv-se", ',', kNoBreakSpace, D{D::kYearMonthDay, '-', true, true, false}, "kr", true, 2},
    {1044, "nb-no", ',', kNoBreakSpace, D{D::kDayMonthYear, '.', true, true, true}, "kr", false, 2},
    {1030, "da-dk", ',', ".", D{D::kDayMonthYear, '-', true, true, false}, "kr.", true, 2},
    {1041, "ja-jp", '.', ",", D{D::kYearMonthDay, '/', true, true, false}, "\xC2\xA5", false, 0},
};

const ScriptLocale*& Current() {
  thread_local const ScriptLocale* current = &kLocales[0];
  return current;
}

}  // namespace

const ScriptLocale& CurrentLocale() {
  return *Current();
}

void SetCurrentLocale(const ScriptLocale& locale) {
  Current() = &locale;
}

const ScriptLocale* FindLocale(int32_t lcid) {
  for (const auto& l : kLocales) {
    if (l.lcid == lcid) return &l;
  }
  return nullptr;
}

const ScriptLocale* FindLocale(std::string_view tag) {
  for (const auto& l : kLocales) {
    if (EqualsIgnoreCase(l.tag, tag)) return &l;
  }
  return nullptr;
}

}  // namespace corvane::vbs
