#include "core/datetime.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return ToDateValue(CivilDateTime{y, mo, d, h, mi, s});
}

TEST(DateTimeTest, DateValuesCountDaysFromTheBase) {
  EXPECT_EQ(At(1899, 12, 30), 0);
  EXPECT_EQ(At(1900, 1, 1), 2);
  EXPECT_EQ(At(2000, 1, 1), 36526);
  EXPECT_DOUBLE_EQ(At(1899, 12, 29, 6), -1.25);  // before the base the time still adds
  CivilDateTime t = FromDateValue(-1.25);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.hour, 6);
  CivilDateTime leap = FromDateValue(At(2024, 2, 29, 23, 59, 59));
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_EQ(leap.second, 59);
  EXPECT_EQ(Weekday(At(2026, 12, 6)), 1);                            // a Sunday
  EXPECT_EQ(DaysFromCivil(2026, 13, 1), DaysFromCivil(2027, 1, 1));  // months roll over
}

TEST(DateTimeTest, TextsFollowTheUsConventions) {
  EXPECT_EQ(FormatGeneralDate(At(2026, 12, 6, 8, 5, 9)), "12/6/2026 8:05:09 AM");
  EXPECT_EQ(FormatGeneralDate(At(2026, 12, 6, 12, 0, 1)), "12/6/2026 12:00:01 PM");
  EXPECT_EQ(FormatGeneralDate(At(2026, 12, 6, 0, 30, 0)), "12/6/2026 12:30:00 AM");
  EXPECT_EQ(FormatGeneralDate(At(2026, 12, 6)), "12/6/2026");
  EXPECT_EQ(FormatGeneralDate(At(1899, 12, 30, 13, 2, 3)), "1:02:03 PM");
  EXPECT_EQ(FormatMediumDate(At(2026, 12, 6, 23)), "06-Dec-26");
  EXPECT_EQ(FormatMediumDate(At(2000, 1, 1)), "01-Jan-00");
  EXPECT_EQ(FormatLongDate(At(2026, 12, 6)), "Sunday, December 6, 2026");
}

TEST(DateTimeTest, ParsingReadsWhatTheProgramWritesAndMore) {
  const double v = At(2026, 12, 6, 20, 5, 9);
  EXPECT_EQ(ParseDateTime(FormatGeneralDate(v)), v);
  EXPECT_EQ(ParseDateTime("1/2/2007 10:00:00"), At(2007, 1, 2, 10));
  EXPECT_EQ(ParseDateTime("12/6/2026"), At(2026, 12, 6));
  EXPECT_EQ(ParseDateTime("2026-12-06 20:05:09"), v);
  EXPECT_EQ(ParseDateTime("06-Dec-26"), At(2026, 12, 6));
  EXPECT_EQ(ParseDateTime("December 6, 2026 8:05:09 PM"), v);
  EXPECT_EQ(ParseDateTime("Sunday, December 6, 2026"), At(2026, 12, 6));
  EXPECT_EQ(ParseDateTime("20:05"), At(1899, 12, 30, 20, 5));
  EXPECT_EQ(ParseDateTime("12:00 AM"), 0);
  EXPECT_EQ(ParseDateTime("1/1/30"), At(1930, 1, 1));
  EXPECT_EQ(ParseDateTime("1/1/29"), At(2029, 1, 1));
  EXPECT_EQ(ParseDateTime("13/12/2020"), At(2020, 12, 13));  // day and month swap
  for (const char* bad : {"", "hello", "2/30/2026", "25:00", "1/2/3/4", "12:61", "13/13/2020",
                          "99999999999/1/1", "1/1/2026 8:00 XM"}) {
    EXPECT_FALSE(ParseDateTime(bad).has_value()) << bad;
  }
}

// Other countries' short dates: the order, separator and clock they use, both
// written and read back.
TEST(DateTimeTest, DateStylesWriteAndReadOtherCountries) {
  const DateStyle german{DateStyle::kDayMonthYear, '.', true, true, true};
  const DateStyle us_no_dots{DateStyle::kMonthDayYear, '/', false, false, false};
  const DateStyle japanese{DateStyle::kYearMonthDay, '/', true, true, false};
  const double v = At(2026, 3, 5, 20, 5, 9);
  EXPECT_EQ(FormatGeneralDate(v, german), "05.03.2026 20:05:09");
  EXPECT_EQ(FormatShortDate(v, japanese), "2026/03/05");
  EXPECT_EQ(ParseDateTime("05.03.2026 20:05:09", german), v);
  EXPECT_EQ(ParseDateTime("5/3/2026", german), At(2026, 3, 5));
  EXPECT_EQ(ParseDateTime("13/3/2026", german), At(2026, 3, 13));
  EXPECT_FALSE(ParseDateTime("15.03.2026", us_no_dots).has_value());
  EXPECT_EQ(ParseDateTime("8:05:09.25 PM", us_no_dots), At(1899, 12, 30, 20, 5, 9));
}

}  // namespace
}  // namespace corvane
