// The shared text helpers: trimming, splitting into fields, strict number parsing.
#include "text_fields.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using zelvane::text::parseNumber;
using zelvane::text::split;
using zelvane::text::trim;
using Fields = std::vector<std::string>;

TEST(TextFields, TrimRemovesBlanksAtBothEndsOnly) {
  EXPECT_EQ(trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(trim(" \t\r\n"), "");
  EXPECT_EQ(trim(""), "");
  EXPECT_EQ(trim("\va\f"), "\va\f");  // not among the blanks
}

TEST(TextFields, SplitGivesOneFieldMoreThanSeparators) {
  EXPECT_EQ(split("", ','), Fields{});
  EXPECT_EQ(split("a", ','), Fields{"a"});
  EXPECT_EQ(split(" a , b", ','), (Fields{" a ", " b"}));
  EXPECT_EQ(split("a,,b,", ','), (Fields{"a", "", "b", ""}));
  EXPECT_EQ(split(",", ','), (Fields{"", ""}));
}

TEST(TextFields, NumbersMustBeWholeFieldsAndFinite) {
  float f = -1.0f;
  double d = -1.0;
  long l = -1;
  EXPECT_TRUE(parseNumber(" 2.5\r", f) && f == 2.5f);
  EXPECT_TRUE(parseNumber("0x1p-2", d) && d == 0.25);
  EXPECT_TRUE(parseNumber(" -42 ", l) && l == -42);
  for (const std::string bad : {"", " ", "1.5abc", "1 2", "nan", "inf", "-inf", "1e39"}) {
    EXPECT_FALSE(parseNumber(bad, f)) << bad;
  }
  EXPECT_TRUE(parseNumber("1e39", d) && d == 1e39);
  EXPECT_FALSE(parseNumber("1e309", d));
  for (const std::string bad : {"", "1.5", "0x10", "12abc", "9223372036854775808"}) {
    EXPECT_FALSE(parseNumber(bad, l)) << bad;
  }
  EXPECT_EQ(f, 2.5f);  // refused parses leave the value alone
  EXPECT_EQ(l, -42);
}

}  // namespace
