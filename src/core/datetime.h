// Date values and their texts. A date value is a double: whole days since
// 30 Dec 1899 and the time of day as the fraction (negative values count back
// from that day, with the fraction still adding time). The texts follow the
// en-US conventions the program writes: general date "12/6/2026 8:05:09 AM",
// medium date "06-Dec-26".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct CivilDateTime {
  int year = 1899;
  int month = 12;  // 1..12
  int day = 30;    // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
};

// Days from 30 Dec 1899 to the given day of the proleptic Gregorian calendar.
// Month and day may lie outside their ranges; they roll over as in DateSerial.
long long DaysFromCivil(long long year, long long month, long long day);

// The date value of a calendar day and time of day.
double ToDateValue(const CivilDateTime& t);
// The calendar day and time of day of a date value, rounded to the second.
CivilDateTime FromDateValue(double value);

// Returns false for values outside 1 Jan 100 .. 31 Dec 9999.
bool IsValidDateValue(double value);

// Day of the week, 1 = Sunday .. 7 = Saturday.
int Weekday(double value);

// How a country writes and reads short dates and times. The default is the
// en-US style the program's own files use.
struct DateStyle {
  enum Order { kMonthDayYear, kDayMonthYear, kYearMonthDay };
  Order order = kMonthDayYear;
  char separator = '/';
  bool pad = false;           // "06/03/2026" rather than "6/3/2026"
  bool hours24 = false;       // "20:05:09" rather than "8:05:09 PM"
  bool dots_in_dates = true;  // "15.03.2026" reads as a date
};

// "M/D/YYYY h:mm:ss AM"; a value with no time part gives the date alone and a
// value with no date part (day 0) gives the time alone.
std::string FormatGeneralDate(double value, const DateStyle& style = {});
// "M/D/YYYY".
std::string FormatShortDate(double value, const DateStyle& style = {});
// "h:mm:ss AM".
std::string FormatLongTime(double value, const DateStyle& style = {});
// "dd-MMM-yy", for example "06-Dec-26".
std::string FormatMediumDate(double value);
// "HH:mm", 24-hour.
std::string FormatShortTime(double value);
// "Sunday, December 6, 2026".
std::string FormatLongDate(double value);

// English month names, 1..12, full and three-letter.
std::string_view MonthName(int month, bool abbreviate);
// English day names, 1 = Sunday .. 7.
std::string_view WeekdayName(int weekday, bool abbreviate);

// Reads a date, a time, or a date and a time: what the Format functions above
// write, dates without a time ("12/6/2026", "2026-12-06", "6 Dec 2026",
// "December 6, 2026", "06-Dec-26"), and 12- or 24-hour times ("8:05 PM",
// "20:05:09"). A time alone gives a value on day 0. Returns nothing for text
// that is not a date.
std::optional<double> ParseDateTime(std::string_view text, const DateStyle& style = {});

}  // namespace corvane
