#include "core/text.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TextTest, LeadingNumberReadsLikeTheClassicParse) {
  EXPECT_EQ(LeadingNumber("90"), 90);
  EXPECT_EQ(LeadingNumber("  -12.5abc"), -12.5);
  EXPECT_EQ(LeadingNumber("1 2 3"), 123);  // blanks inside are skipped
  EXPECT_EQ(LeadingNumber("50%"), 50);
  EXPECT_EQ(LeadingNumber("1e3x"), 1000);
  EXPECT_EQ(LeadingNumber("2e"), 2);
  EXPECT_EQ(LeadingNumber("&HFF"), 255);
  EXPECT_EQ(LeadingNumber("&HFFFF"), -1);
  EXPECT_EQ(LeadingNumber("&O17"), 15);
  EXPECT_EQ(LeadingNumber("yes"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("\"1\""), 0);
  EXPECT_EQ(LeadingNumber("1e999"), 0);  // not a finite number
}

TEST(TextTest, IsNumericWantsTheWholeText) {
  EXPECT_TRUE(IsNumeric("90"));
  EXPECT_TRUE(IsNumeric(" -1.5 "));
  EXPECT_TRUE(IsNumeric("1E5"));
  EXPECT_TRUE(IsNumeric("&H1f"));
  EXPECT_FALSE(IsNumeric(""));
  EXPECT_FALSE(IsNumeric("90s"));
  EXPECT_FALSE(IsNumeric("."));
  EXPECT_FALSE(IsNumeric("1e"));
}

TEST(TextTest, RoundingAndSixteenBitConversion) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(ToInt16(32767.4).value(), 32767);
  EXPECT_FALSE(ToInt16(32767.5).has_value());
  EXPECT_FALSE(ToInt16(-40000).has_value());
}

TEST(TextTest, CaseAndSplitHelpers) {
  EXPECT_TRUE(EqualsIgnoreCase("Vaux_Aris", "vAUX_aRIS"));
  EXPECT_EQ(FindIgnoreCase("abcXAP-header", "xap-HEADER"), 3u);
  EXPECT_EQ(Split("", ','), (std::vector<std::string>{""}));
  EXPECT_EQ(Split("a,,b", ','), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Split("a\r\nb", "\r\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(TrimSpaces("  a b\t "), "a b\t");
  EXPECT_LT(CompareIgnoreCase("apple", "Banana"), 0);
}

TEST(TextTest, NumberText) {
  EXPECT_EQ(NumberText(40), "40");
  EXPECT_EQ(NumberText(-3), "-3");
  EXPECT_EQ(NumberText(0.5), "0.5");
  EXPECT_EQ(NumberText(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(NumberText(1e16), "1E+16");
  EXPECT_EQ(NumberText(-2.5e-7), "-2.5E-07");
  // printf may write three exponent digits; the program writes two at least.
  EXPECT_EQ(TrimExponent("1E+016"), "1E+16");
  EXPECT_EQ(TrimExponent("1.5E-005"), "1.5E-05");
  EXPECT_EQ(TrimExponent("1E+308"), "1E+308");
  EXPECT_EQ(TrimExponent("12.5"), "12.5");
}

}  // namespace
}  // namespace corvane
