// What the operator did, as the screens see it: a key, with its modifiers
// already folded into the PC key code (Shift+F1 is kShiftF1), or a mouse
// click on a screen cell.
#pragma once

#include <optional>

#include "platform/key_codes.h"

namespace console {

using platform::KeyCode;
namespace keys = platform::keys;

// A mouse button pressed on a screen cell (rows and columns from 1, counted
// on the whole screen, not in a window).
struct Click {
  int row = 0;
  int column = 0;
  int buttons = 1;  // bit 0 left, bit 1 right, bit 2 middle
  bool operator==(const Click&) const = default;
};

struct Input {
  KeyCode key = 0;            // 0 with a click, or when nothing happened
  std::optional<Click> click;

  Input() = default;
  // A key is an input: screens that only know keys can hand one on as it is.
  Input(KeyCode pressed) : key(pressed) {}  // NOLINT(google-explicit-constructor)
  static Input ClickAt(int row, int column, int buttons = 1) {
    Input in;
    in.click = Click{row, column, buttons};
    return in;
  }

  bool Empty() const { return key == 0 && !click; }
  bool IsClick() const { return click.has_value(); }
  bool operator==(const Input&) const = default;
};

}  // namespace console
