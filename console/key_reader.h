// The key reader every interactive screen uses: type-ahead first, Alt +
// keypad composition, modified function keys normalised to the PC codes,
// mouse clicks, and the calculator and calendar hot keys.
#pragma once

#include <string>

#include "console/input.h"

namespace console {

// Mouse input is switched on while the reader waits for input, and off
// again once a key or click arrives.
enum class MouseState { kNotProbed, kOn, kOff, kNoMouse };

struct KeyReaderState {
  std::string TypeAhead;  // delivered as keys before the keyboard is read
  MouseState mouseState = MouseState::kNotProbed;
  bool calculatorOpen = false;
  bool calendarOpen = false;
};

KeyReaderState& KeyReader();
void ResetKeyReader();

// Polls once without waiting: a key, a click, or nothing (Empty()).
Input ReadInput();

// Waits for a key or a click.
Input WaitInput();

// For a wait that reads no keys: looks at the terminal once, so that the
// screen follows a resize; a key or click typed meanwhile is kept, and the
// next read returns it. Later ones stay with the terminal until then.
void FollowTerminal();
// Forgets what FollowTerminal kept (keys typed ahead are being dropped).
void ForgetKeptInput();

}  // namespace console
