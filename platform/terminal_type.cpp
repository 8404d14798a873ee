#include "platform/terminal_type.h"

#include <curses.h>
#include <term.h>

namespace platform {

bool CanShowScreens(const std::string& termType, std::string& error) {
  if (termType.empty()) {
    error = "TERM is not set: the terminal type is unknown";
    return false;
  }
  // Read the description without opening a screen: a terminal that cannot
  // be used must be left exactly as it was.
  TERMINAL* previous = cur_term;
  int status = 0;
  if (setupterm(termType.c_str(), -1, &status) != OK) {
    set_curterm(previous);
    error = status == -1 ? "the terminal database cannot be found, so the terminal type \"" + termType +
                               "\" cannot be used"
                         : "the terminal type \"" + termType + "\" is not known";
    return false;
  }
  TERMINAL* probe = cur_term;
  const char* cup = tigetstr(const_cast<char*>("cup"));
  const bool placesCursor = cup != nullptr && cup != reinterpret_cast<char*>(-1);
  const bool hardcopy = tigetflag(const_cast<char*>("hc")) > 0;
  const bool generic = tigetflag(const_cast<char*>("gn")) > 0;
  set_curterm(previous);
  del_curterm(probe);
  if (hardcopy || generic || !placesCursor) {
    error = "the terminal type \"" + termType + "\" cannot show full screens" +
            (hardcopy ? " (it is a printing terminal)"
                      : generic ? " (it is a generic type)" : " (it cannot place the cursor)");
    return false;
  }
  return true;
}

}  // namespace platform
