// The number helpers behind the input box, the I/O panel and the memory and register views.
#include "number_text.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberText, DigitsOfEachBase) {
  EXPECT_TRUE(IsNumberText("09afAF", 16));
  EXPECT_FALSE(IsNumberText("0G", 16));
  EXPECT_TRUE(IsNumberText("0123456789", 10));
  EXPECT_FALSE(IsNumberText("1A", 10));
  EXPECT_TRUE(IsNumberText("0110", 2));
  EXPECT_FALSE(IsNumberText("012", 2));
  // No sign and no prefix in any base.
  for (int base : {16, 10, 2}) {
    EXPECT_FALSE(IsNumberText("-5", base)) << base;
    EXPECT_FALSE(IsNumberText("+1", base)) << base;
    EXPECT_FALSE(IsNumberText("", base)) << base;
    EXPECT_FALSE(IsNumberText(" \t ", base)) << base;
    EXPECT_FALSE(IsNumberText("1 0", base)) << base;  // inner blanks are not blanks at the ends
  }
  EXPECT_FALSE(IsNumberText("0x10", 16));
  EXPECT_FALSE(IsNumberText("10h", 16));
  // Blanks at both ends are allowed.
  EXPECT_TRUE(IsNumberText("  7F\t", 16));
  EXPECT_TRUE(IsNumberText("\r\n101 ", 2));
  // Any other base takes every character.
  EXPECT_TRUE(IsNumberText("-x?", 8));
  EXPECT_FALSE(IsNumberText("  ", 8));
}

TEST(NumberText, BitsText) {
  EXPECT_EQ(BitsText(0b1011, 4), "1011");
  EXPECT_EQ(BitsText(0b1011, 6), "001011");
  EXPECT_EQ(BitsText(0xFF, 3), "111");  // bits above n-1 are not shown
  EXPECT_EQ(BitsText(0x80000001u, 32), "10000000000000000000000000000001");
  EXPECT_EQ(BitsText(0xFFFFFFFFu, 34), "00" + std::string(32, '1'));
  EXPECT_EQ(BitsText(5, 0), "");
  EXPECT_EQ(BitsText(5, -3), "");
}

TEST(NumberText, BinaryTextToInt) {
  EXPECT_EQ(BinaryTextToInt("101"), 5u);
  EXPECT_EQ(BinaryTextToInt(""), 0u);
  EXPECT_EQ(BinaryTextToInt("1x1"), 5u);  // any other character is a 0 bit
  EXPECT_EQ(BinaryTextToInt("1" + std::string(31, '0')), 0x80000000u);
  // Only the last 32 characters count.
  EXPECT_EQ(BinaryTextToInt("01" + std::string(30, '0') + "1"), 0x80000001u);
  for (uint32_t v : {0u, 1u, 0x12345678u, 0xFFFFFFFFu, 0x80000000u})
    EXPECT_EQ(BinaryTextToInt(BitsText(v, 32)), v);
}

TEST(NumberText, ParseNumberText) {
  EXPECT_EQ(ParseNumberText("101", 2), 5u);
  EXPECT_EQ(ParseNumberText("101", 10), 101u);
  EXPECT_EQ(ParseNumberText("101", 16), 0x101u);
  EXPECT_EQ(ParseNumberText(" ffFF\t", 16), 0xFFFFu);
  EXPECT_EQ(ParseNumberText("  42 ", 10), 42u);
  EXPECT_EQ(ParseNumberText("FFFFFFFFFFFFFFFF", 16), UINT64_MAX);
  EXPECT_EQ(ParseNumberText("00000000000000000001", 16), 1u);  // leading zeros do not overflow
  EXPECT_EQ(ParseNumberText("18446744073709551615", 10), UINT64_MAX);
  EXPECT_EQ(ParseNumberText("18446744073709551616", 10), std::nullopt);
  EXPECT_EQ(ParseNumberText("10000000000000000", 16), std::nullopt);
  EXPECT_EQ(ParseNumberText("1A", 10), std::nullopt);
  EXPECT_EQ(ParseNumberText("-5", 16), std::nullopt);
  EXPECT_EQ(ParseNumberText("", 2), std::nullopt);
  EXPECT_EQ(ParseNumberText("17", 8), std::nullopt);
}

}  // namespace
