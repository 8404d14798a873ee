#include "base/windows1252.h"

#include <gtest/gtest.h>

namespace base {
namespace {

TEST(Windows1252, LiteralsBecomeLatinOneBytesAtCompileTime) {
  constexpr std::string_view text = "NON SE PÒT ACCEDIR ATH FICHÈR "_cp1252;
  static_assert(text.size() == 30);
  EXPECT_EQ(text, std::string_view("NON SE P\xD2T ACCEDIR ATH FICH\xC8R "));
  EXPECT_EQ("ENTÀ"_cp1252, std::string_view("ENT\xC0"));
  EXPECT_EQ("ÿ"_cp1252, std::string_view("\xFF"));
}

}  // namespace
}  // namespace base
