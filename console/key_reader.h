// The key reader every interactive screen uses: type-ahead first, Alt +
// keypad composition, modified function keys normalised to the PC codes,
// mouse clicks, and the calculator and calendar hot keys.
#pragma once

#include <cstdint>
#include <string>

namespace console {

struct KeyReaderState {
  std::string TypeAhead;  // delivered as keys before the keyboard is read
  // 0 not probed, 1 mouse input on, 2 present but off, 3 no mouse.
  int mouseState = 0;
  bool calculatorOpen = false;
  bool calendarOpen = false;
};

KeyReaderState& KeyReader();
void ResetKeyReader();

// Polls once without waiting; all four are 0 when nothing happened.
void ReadKey(std::int16_t& key, std::int16_t& button, std::int16_t& mouseRow, std::int16_t& mouseColumn);

// Waits for a key or a click; a click comes back as the low 16 bits of
// 256 x column + 64 x button + row.
void WaitKey(std::int16_t& key);
std::int16_t WaitKey();

namespace detail {
// Waits like WaitKey but keeps the click's button and cell apart.
void WaitKeyDetailed(std::int16_t& key, std::int16_t& button, std::int16_t& row, std::int16_t& column);
}  // namespace detail

}  // namespace console
