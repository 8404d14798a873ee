#include "base/strings.h"

#include <gtest/gtest.h>

#include "base/cp850.h"

namespace base {
namespace {

TEST(Trim, BlanksAtTheEndsOnly) {
  struct Case {
    std::string_view text, left, right, both;
  } cases[] = {
      {"  ab c  ", "ab c  ", "  ab c", "ab c"},
      {"abc", "abc", "abc", "abc"},
      {"    ", "", "", ""},
      {"", "", "", ""},
      {"\tab\t", "\tab\t", "\tab\t", "\tab\t"},  // only blanks unless told
      {std::string_view("\0 a\0", 4), std::string_view("\0 a\0", 4), std::string_view("\0 a\0", 4),
       std::string_view("\0 a\0", 4)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrimLeft(c.text), c.left) << "'" << c.text << "'";
    EXPECT_EQ(TrimRight(c.text), c.right) << "'" << c.text << "'";
    EXPECT_EQ(Trim(c.text), c.both) << "'" << c.text << "'";
  }
  EXPECT_EQ(Trim(" \t a b\t ", " \t"), "a b");
  static_assert(Trim("  x ") == "x");
}

TEST(AsciiUpper, PlainLettersOnly) {
  EXPECT_EQ(AsciiUpper("abz AZ 09 {}`@"), "ABZ AZ 09 {}`@");
  // Accented letters (code page 850) are not ASCII: unchanged.
  EXPECT_EQ(AsciiUpper("àéñç"_cp), "àéñç"_cp);
  EXPECT_EQ(AsciiUpper('q'), 'Q');
  EXPECT_EQ(AsciiUpper('\xA0'), '\xA0');
}

}  // namespace
}  // namespace base
