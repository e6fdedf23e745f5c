#include "core/fast_string.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(FastStringTest, BuildsPiecesInOrderAndGrowsInSteps) {
  FastString s;
  EXPECT_EQ(s.Value(), "");
  s.Add("a");
  s.Add(std::string("b"));
  s.Add('c');
  EXPECT_EQ(s.Value(), "abc");
  EXPECT_EQ(s.Value(), "abc");  // reading changes nothing
  s.Add(42);
  s.Add(2.5);
  EXPECT_EQ(s.Value(), "abc422.5");

  FastString many;
  std::string expected;
  for (int i = 0; i < 250; ++i) {
    many.Add(i);
    expected += std::to_string(i);
  }
  EXPECT_EQ(many.Value(), expected);
  EXPECT_EQ(many.Capacity(), 300);
  EXPECT_EQ(many.NextIndex(), 251);

  many.Reset();
  EXPECT_EQ(many.Value(), "");
  EXPECT_EQ(many.NextIndex(), 1);
  EXPECT_EQ(many.Capacity(), 100);
}

}  // namespace
}  // namespace corvane
