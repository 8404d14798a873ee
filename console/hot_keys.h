// The field editor's pop-up hot keys: Alt+X opens the calculator, Alt+C the
// calendar. The pop-ups live elsewhere and install themselves here; the
// editor only calls the hook and types the text it returns into the field,
// one key per byte, as if the operator had typed it.
#pragma once

#include <functional>
#include <string>

namespace console {

struct HotKeys {
  // Return the text to type into the field (code page 850), or "" for none.
  std::function<std::string()> Calculator;  // Alt+X (0x2d00)
  std::function<std::string()> Calendar;    // Alt+C (0x2e00)
};

// The hooks in use; empty ones make the keys do nothing.
HotKeys& Hot();

}  // namespace console
