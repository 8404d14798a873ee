#include "console/size_notice.h"

#include <gtest/gtest.h>

#include "base/cp850.h"
#include "config/session.h"

namespace console {
namespace {

TEST(TerminalTooSmallNotice, SaysBothSizesFirstInTheSessionsLanguage) {
  struct Case {
    const char* language;
    std::string_view text;
  } cases[] = {
      {"CAT", "TERMINAL MASSA PETIT (70 x 20): CAL 80 x 24 COM A MÍNIM"_cp},
      {"   ", "TERMINAL MASSA PETIT (70 x 20): CAL 80 x 24 COM A MÍNIM"_cp},
      {"SPA", "TERMINAL DEMASIADO PEQUEÑO (70 x 20): SE NECESITA 80 x 24 COMO MÍNIMO"_cp},
      {"GLG", "TERMINAL DEMASIADO PEQUENO (70 x 20): PRECÍSASE 80 x 24 COMO MÍNIMO"_cp},
      {"OCI", "TERMINAU MASSA PETIT (70 x 20): CAU 80 x 24 AU MENS"},
  };
  for (const Case& c : cases) {
    config::ResetSession();
    config::Session().Language = c.language;
    EXPECT_EQ(TerminalTooSmallNotice(24, 80, 20, 70), c.text) << c.language;
  }
  config::ResetSession();
}

}  // namespace
}  // namespace console
