// Whether the terminal the programs run on can show their screens.
#pragma once

#include <string>

namespace platform {

// True when a terminal of type `termType` can show full screens: its
// description is known and can put the cursor on any cell. False, with
// `error` naming the reason, when not ("dumb", a printing terminal, a type
// without a description, TERM unset); nothing is written to the terminal.
bool CanShowScreens(const std::string& termType, std::string& error);

}  // namespace platform
