#include "platform/terminal_type.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CanShowScreens, TakesTypesThatPlaceTheCursorAndNamesWhyOthersCannot) {
  struct Case {
    const char* type;
    const char* error;  // "" when the type can show screens
  } cases[] = {
      {"xterm-256color", ""},
      {"tmux-256color", ""},
      {"linux", ""},
      {"vt100", ""},
      {"dumb", "the terminal type \"dumb\" cannot show full screens (it cannot place the cursor)"},
      {"no-such-terminal", "the terminal type \"no-such-terminal\" is not known"},
      {"", "TERM is not set: the terminal type is unknown"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(CanShowScreens(c.type, error), *c.error == '\0') << c.type;
    EXPECT_EQ(error, c.error) << c.type;
  }
}

}  // namespace
}  // namespace platform
