// The script locale: how numbers, money and dates are written and read for
// the country SetLocale chose. Conversions to and from text (CStr, "&", CDbl
// of a text, CDate, the Format functions) follow it; source code does not
// (a literal is always "1.5").
//
// A Vm keeps its locale and makes it current while its code runs, as it does
// with its limits; the table holds the countries scripts ask for most.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/datetime.h"

namespace corvane::vbs {

struct ScriptLocale {
  int32_t lcid;
  const char* tag;    // "en-us", as SetLocale also accepts it
  char decimal;       // "1.5" / "1,5"
  const char* group;  // thousands: ",", ".", a no-break space
  DateStyle dates;
  const char* currency;  // "$", "€"
  bool currency_after;   // "1.234,56 €" rather than "$1,234.56"
  int currency_digits;   // digits FormatCurrency shows by default
};

// The locale scripts start with: en-US, whatever the machine's own setting,
// so that a script gives the same texts on every machine.
constexpr int32_t kDefaultLcid = 1033;

// The locale whose code is running (the default when none is).
const ScriptLocale& CurrentLocale();
void SetCurrentLocale(const ScriptLocale& locale);
// A known locale by LCID or by tag (any letter case); nullptr when unknown.
const ScriptLocale* FindLocale(int32_t lcid);
const ScriptLocale* FindLocale(std::string_view tag);

}  // namespace corvane::vbs
