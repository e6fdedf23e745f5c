#include "core/datetime.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace corvane {

namespace {

constexpr long long kUnixEpochDays = 25569;  // 1 Jan 1970 as a date value

long long FloorDiv(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days since 1 Jan 1970 of a proleptic Gregorian date (month 1..12).
long long DaysFromUnix(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = FloorDiv(y, 400);
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromUnix(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = FloorDiv(z, 146097);
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && IsLeap(y)) return 29;
  return kDays[m - 1];
}

const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* const kMonthsShort[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};
const char* const kDaysShort[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Splits a date value into whole days and seconds of the day (0..86399).
void SplitValue(double value, long long& days, long long& secs) {
  double whole = std::trunc(value);
  double frac = std::fabs(value - whole);
  days = static_cast<long long>(whole);
  secs = std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    days += 1;
  }
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

}  // namespace

long long DaysFromCivil(long long year, long long month, long long day) {
  long long m0 = month - 1;
  year += FloorDiv(m0, 12);
  m0 -= FloorDiv(m0, 12) * 12;
  return DaysFromUnix(year, static_cast<unsigned>(m0 + 1), 1) + (day - 1) + kUnixEpochDays;
}

double ToDateValue(const CivilDateTime& t) {
  const long long days = DaysFromCivil(t.year, t.month, t.day);
  const double frac = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
  // Before day 0 the time of day still counts forward from midnight, so it is
  // stored with the sign of the day.
  return days < 0 ? static_cast<double>(days) - frac : static_cast<double>(days) + frac;
}

CivilDateTime FromDateValue(double value) {
  CivilDateTime t;
  if (!std::isfinite(value)) return t;
  long long days = 0, secs = 0;
  SplitValue(value, days, secs);
  CivilFromUnix(days - kUnixEpochDays, t.year, t.month, t.day);
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs / 60 % 60);
  t.second = static_cast<int>(secs % 60);
  return t;
}

bool IsValidDateValue(double value) {
  // 1 Jan 100 = -657434, 31 Dec 9999 23:59:59 < 2958466
  return std::isfinite(value) && value > -657435.0 && value < 2958466.0;
}

int Weekday(double value) {
  long long days = 0, secs = 0;
  SplitValue(value, days, secs);
  // Day 0 (30 Dec 1899) was a Saturday.
  long long w = (days + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

std::string FormatShortDate(double value, const DateStyle& style) {
  CivilDateTime t = FromDateValue(value);
  int first = t.month, second = t.day, third = t.year;
  if (style.order == DateStyle::kDayMonthYear) std::swap(first, second);
  if (style.order == DateStyle::kYearMonthDay) {
    first = t.year;
    second = t.month;
    third = t.day;
  }
  const char* f =
      style.pad ? (style.order == DateStyle::kYearMonthDay ? "%d%c%02d%c%02d" : "%02d%c%02d%c%d")
                : "%d%c%d%c%d";
  char buf[40];
  std::snprintf(buf, sizeof buf, f, first, style.separator, second, style.separator, third);
  return buf;
}

std::string FormatLongTime(double value, const DateStyle& style) {
  CivilDateTime t = FromDateValue(value);
  if (style.hours24) {
    char buf[32];
    std::snprintf(buf, sizeof buf, style.pad ? "%02d:%02d:%02d" : "%d:%02d:%02d", t.hour, t.minute,
                  t.second);
    return buf;
  }
  int h12 = t.hour % 12;
  if (h12 == 0) h12 = 12;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, t.minute, t.second,
                t.hour < 12 ? "AM" : "PM");
  return buf;
}

std::string FormatGeneralDate(double value, const DateStyle& style) {
  long long days = 0, secs = 0;
  SplitValue(value, days, secs);
  if (secs == 0) return FormatShortDate(value, style);
  if (days == 0) return FormatLongTime(value, style);
  std::string text = FormatShortDate(value, style);
  text += ' ';
  text += FormatLongTime(value, style);
  return text;
}

std::string FormatMediumDate(double value) {
  CivilDateTime t = FromDateValue(value);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d-%s-%02d", t.day, kMonthsShort[t.month - 1],
                ((t.year % 100) + 100) % 100);
  return buf;
}

std::string FormatShortTime(double value) {
  CivilDateTime t = FromDateValue(value);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d", t.hour, t.minute);
  return buf;
}

std::string FormatLongDate(double value) {
  CivilDateTime t = FromDateValue(value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %s %d, %d", kDays[Weekday(value) - 1], kMonths[t.month - 1],
                t.day, t.year);
  return buf;
}

std::string_view MonthName(int month, bool abbreviate) {
  if (month < 1 || month > 12) return {};
  return abbreviate ? kMonthsShort[month - 1] : kMonths[month - 1];
}

std::string_view WeekdayName(int weekday, bool abbreviate) {
  if (weekday < 1 || weekday > 7) return {};
  return abbreviate ? kDaysShort[weekday - 1] : kDays[weekday - 1];
}

namespace {

struct Token {
  enum Kind { kNumber, kWord, kSep } kind;
  std::string text;
  long long number = 0;
  int digits = 0;
};

int MonthFromWord(const std::string& w) {
  if (w.size() < 3) return 0;
  for (int i = 0; i < 12; ++i) {
    std::string full = Lower(kMonths[i]);
    if (full.compare(0, w.size(), w) == 0) return i + 1;
  }
  if (w == "sept") return 9;
  return 0;
}

bool IsWeekdayWord(const std::string& w) {
  if (w.size() < 3) return false;
  for (const char* d : kDays) {
    std::string full = Lower(d);
    if (full.compare(0, w.size(), w) == 0) return true;
  }
  return false;
}

int CurrentYear() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

// True when the tokens so far end in a time ("8:05:09"), whose fraction of a
// second a dot may bring.
bool AfterTime(const std::vector<Token>& toks) {
  const size_t n = toks.size();
  return n >= 3 && toks[n - 1].kind == Token::kNumber && toks[n - 2].kind == Token::kSep &&
         toks[n - 2].text == ":";
}

int ExpandYear(const Token& t) {
  if (t.digits <= 2) return static_cast<int>(t.number < 30 ? 2000 + t.number : 1900 + t.number);
  return static_cast<int>(t.number);
}

// Splits the text into numbers, words and separators; nullopt for a
// character no date or time holds.
std::optional<std::vector<Token>> SplitDateText(std::string_view text, const DateStyle& style) {
  std::vector<Token> toks;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c) || c == ',') {
      ++i;
    } else if (std::isdigit(c)) {
      Token t{Token::kNumber, {}, 0, 0};
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (t.digits < 9) t.number = t.number * 10 + (text[i] - '0');
        ++t.digits;
        t.text.push_back(text[i++]);
      }
      if (t.digits > 9) return std::nullopt;
      toks.push_back(t);
    } else if (std::isalpha(c)) {
      Token t{Token::kWord, {}, 0, 0};
      while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
        t.text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[i++]))));
      }
      if (t.text == "t" && !toks.empty()) continue;  // ISO "2026-12-06T08:05"
      toks.push_back(t);
    } else if (c == '/' || c == '-' || c == ':' || c == '.') {
      // A dot between date numbers only where the country writes dates so;
      // the fraction of a second after a time is read later either way.
      if (c == '.' && !style.dots_in_dates && !AfterTime(toks)) return std::nullopt;
      toks.push_back(Token{Token::kSep, std::string(1, static_cast<char>(c)), 0, 0});
      ++i;
    } else {
      return std::nullopt;
    }
  }
  return toks;
}

bool IsSep(const std::vector<Token>& toks, size_t i, const char* sep) {
  return i < toks.size() && toks[i].kind == Token::kSep && toks[i].text == sep;
}

bool IsAmPm(const std::string& w) {
  return w == "am" || w == "pm" || w == "a" || w == "p";
}

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
};

// Reads the time that starts at toks[i] (numbers joined by ":", an optional
// fraction of a second, an optional AM/PM) and moves i past it; false for
// an hour, minute or second out of range.
bool ReadTime(const std::vector<Token>& toks, size_t& i, TimeOfDay& time) {
  long long parts[3] = {toks[i].number, 0, 0};
  int n = 1;
  size_t j = i + 1;
  while (n < 3 && IsSep(toks, j, ":") && j + 1 < toks.size() &&
         toks[j + 1].kind == Token::kNumber) {
    parts[n++] = toks[j + 1].number;
    j += 2;
  }
  // Fractions of a second are read and dropped.
  if (n == 3 && IsSep(toks, j, ".") && j + 1 < toks.size() && toks[j + 1].kind == Token::kNumber) {
    j += 2;
  }
  int ampm = 0;
  if (j < toks.size() && toks[j].kind == Token::kWord && IsAmPm(toks[j].text)) {
    ampm = toks[j].text[0] == 'a' ? 1 : 2;
    ++j;
  }
  if (parts[1] > 59 || parts[2] > 59) return false;
  if (ampm) {
    if (parts[0] < 0 || parts[0] > 12) return false;
    parts[0] %= 12;
    if (ampm == 2) parts[0] += 12;
  } else if (parts[0] > 23) {
    return false;
  }
  time = {static_cast<int>(parts[0]), static_cast<int>(parts[1]), static_cast<int>(parts[2])};
  i = j;
  return true;
}

struct CivilDate {
  int year = 0, month = 0, day = 0;
};

// The date from its numbers and an optional month name (0 when none).
std::optional<CivilDate> ReadDate(const std::vector<Token>& nums, int month_word,
                                  const DateStyle& style) {
  CivilDate d;
  auto num = [&](size_t k) { return static_cast<int>(nums[k].number); };
  if (month_word) {
    d.month = month_word;
    if (nums.size() == 2) {
      // "6 Dec 2026", "Dec 6, 2026", "06-Dec-26", "2026 Dec 6"
      bool year_first = nums[0].digits >= 3;
      d.year = ExpandYear(nums[year_first ? 0 : 1]);
      d.day = num(year_first ? 1 : 0);
    } else if (nums.size() == 1) {
      d.day = num(0);
      d.year = CurrentYear();
    } else {
      return std::nullopt;
    }
  } else if (nums.size() == 3 && nums[0].digits >= 3) {  // 2026-12-06
    d = {ExpandYear(nums[0]), num(1), num(2)};
  } else if (nums.size() == 2 && nums[0].digits >= 3) {  // 2026/12: first day of the month
    d = {ExpandYear(nums[0]), num(1), 1};
  } else if (nums.size() == 3 || nums.size() == 2) {
    // 12/6/2026 and 12/6 (this year), month first; 6/12/2026 where the day
    // comes first; a month over 12 is taken as the day.
    d.month = num(0);
    d.day = num(1);
    if (style.order == DateStyle::kDayMonthYear) std::swap(d.month, d.day);
    d.year = nums.size() == 3 ? ExpandYear(nums[2]) : CurrentYear();
    if (d.month > 12 && d.day <= 12) std::swap(d.month, d.day);
  } else {
    return std::nullopt;
  }
  if (d.year < 100 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > DaysInMonth(d.year, d.month)) {
    return std::nullopt;
  }
  return d;
}

}  // namespace

std::optional<double> ParseDateTime(std::string_view text, const DateStyle& style) {
  auto toks = SplitDateText(text, style);
  if (!toks || toks->empty()) return std::nullopt;

  // The time: numbers joined by ":" (and an optional AM/PM), or a number
  // followed by AM/PM. What is not the time is the date: its numbers and at
  // most one month name; weekday names are allowed and ignored.
  bool have_time = false;
  TimeOfDay time;
  std::vector<Token> nums;
  int month_word = 0;
  for (size_t i = 0; i < toks->size();) {
    const Token& t = (*toks)[i];
    bool colon_follows =
        IsSep(*toks, i + 1, ":") && i + 2 < toks->size() && (*toks)[i + 2].kind == Token::kNumber;
    bool ampm_follows =
        i + 1 < toks->size() && (*toks)[i + 1].kind == Token::kWord && IsAmPm((*toks)[i + 1].text);
    if (t.kind == Token::kNumber && !have_time && (colon_follows || ampm_follows)) {
      if (!ReadTime(*toks, i, time)) return std::nullopt;
      have_time = true;
      continue;
    }
    if (t.kind == Token::kNumber) {
      nums.push_back(t);
    } else if (t.kind == Token::kWord) {
      int m = MonthFromWord(t.text);
      if (m && !month_word) {
        month_word = m;
      } else if (!IsWeekdayWord(t.text)) {
        return std::nullopt;
      }
    }
    ++i;
  }
  if (nums.empty() && !month_word) {
    if (!have_time) return std::nullopt;
    return ToDateValue(CivilDateTime{1899, 12, 30, time.hour, time.minute, time.second});
  }
  auto d = ReadDate(nums, month_word, style);
  if (!d) return std::nullopt;
  return ToDateValue(CivilDateTime{d->year, d->month, d->day, time.hour, time.minute, time.second});
}

}  // namespace corvane
