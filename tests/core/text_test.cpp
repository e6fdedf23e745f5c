#include "core/text.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TextTest, LeadingNumberAndIsNumeric) {
  // Reads like the classic parse: blanks inside are skipped, "1e999" is not finite.
  const std::pair<const char*, double> leading[] = {
      {"90", 90}, {"  -12.5abc", -12.5}, {"1 2 3", 123}, {"50%", 50},  {"1e3x", 1000},
      {"2e", 2},  {"&HFF", 255},         {"&HFFFF", -1}, {"&O17", 15}, {"yes", 0},
      {"", 0},    {"\"1\"", 0},          {"1e999", 0}};
  for (const auto& [text, value] : leading) EXPECT_EQ(LeadingNumber(text), value) << text;
  // IsNumeric wants the whole text.
  for (const char* text : {"90", " -1.5 ", "1E5", "&H1f"}) EXPECT_TRUE(IsNumeric(text)) << text;
  for (const char* text : {"", "90s", ".", "1e"}) EXPECT_FALSE(IsNumeric(text)) << text;
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

TEST(TextTest, NumberTextAndHex) {
  const std::pair<double, const char*> numbers[] = {{40, "40"},      {-3, "-3"},
                                                    {0.5, "0.5"},    {1.0 / 3, "0.333333333333333"},
                                                    {1e16, "1E+16"}, {-2.5e-7, "-2.5E-07"}};
  for (const auto& [value, text] : numbers) EXPECT_EQ(NumberText(value), text) << text;
  // printf may write three exponent digits; the program writes two at least.
  const std::pair<const char*, const char*> exponents[] = {
      {"1E+016", "1E+16"}, {"1.5E-005", "1.5E-05"}, {"1E+308", "1E+308"}, {"12.5", "12.5"}};
  for (const auto& [in, out] : exponents) EXPECT_EQ(TrimExponent(in), out) << in;
  for (const auto& [value, hex] :
       {std::pair<long, const char*>{0, "00"}, {60, "3C"}, {255, "FF"}, {256, "00"}, {-1, "00"}}) {
    EXPECT_EQ(ToHex(value), hex) << value;
  }
  for (const auto& [hex, value] : {std::pair<const char*, int>{"3c", 60},
                                   {"FFFF", 65535},
                                   {"", -1},
                                   {"12345", -1},
                                   {"0G", -1},
                                   {"7", 7}}) {
    EXPECT_EQ(HexValue(hex), value) << hex;
  }
}

}  // namespace
}  // namespace corvane
