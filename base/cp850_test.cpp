#include "base/cp850.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(Cp850, LiteralsBecomeCodePageBytesAtCompileTime) {
  constexpr std::string_view page = "PÀGINA "_cp;
  static_assert(page.size() == 7);
  EXPECT_EQ(page, std::string_view("P\xB7GINA ", 7));
  EXPECT_EQ("€"_cp, std::string_view("\xD5", 1));
  EXPECT_EQ("┌─┐"_cp, std::string_view("\xDA\xC4\xBF", 3));
  EXPECT_EQ("çñ"_cp, std::string_view("\x87\xA4", 2));
}

TEST(Cp850, RoundTripsEveryByte) {
  for (int b = 1; b < 256; ++b) {
    if (b == 20 || b == 21) continue;  // their glyphs are bytes 244 and 245
    std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp850(Cp850ToUtf8(one, true)), one) << b;
  }
  EXPECT_EQ(Utf8ToCp850("¶§"), "\xF4\xF5");
}

TEST(Cp850, ControlBytesShowAsPcGlyphsOnlyWhenAsked) {
  EXPECT_EQ(Cp850ToUtf8("\x01", true), "☺");
  EXPECT_EQ(Cp850ToUtf8("\x7F", true), "⌂");
  EXPECT_EQ(Cp850ToUtf8("\x01", false), "\x01");
  EXPECT_EQ(Utf8ToCp850("a✓b"), "a?b");
}

TEST(Cp850, ControlBytesBlankedAsTheListingsPrintThem) {
  EXPECT_EQ(BlankControlBytes(std::string("A\0\x1B[31m\x07\x7F\xFF\xB7", 11)), "A  [31m   \xB7");
  EXPECT_EQ(BlankControlBytes(""), "");
}

}  // namespace
}  // namespace base
